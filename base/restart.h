// Restarting Windows, for replacements and deletions that wait for its
// next start; the setup and the uninstaller both offer it.
#pragma once

// Asks Windows to restart, with the shutdown privilege on the NT family
// (IsNtFamily must be set).
void restart_windows();
