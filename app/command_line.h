// The setup's two switches: /S path (read the archive from that file) and
// /DEL (this is a relaunched copy). Either prefix, any case.
#pragma once

// Fills SourcePath from /S and sets IsRelaunchCopy for /DEL.
void parse_command_line(const char* text);
