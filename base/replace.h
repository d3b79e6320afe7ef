// Replacing or deleting a file at the next start of Windows, for files that
// are in use now.
#pragma once

// With a target: target is replaced by source at the next start. With a
// null target: source is deleted then. False when it could not be
// scheduled.
bool replace_at_restart(const char* target, const char* source);
