// Starting a program, a document or a web address with the rights of the
// desktop's user rather than the setup's: a setup with administrator
// rights asks the desktop's shell (Explorer, which runs as that user) to
// start it, through the shell's automation object. Nothing here is needed
// to load the program: the objects are asked for at run time, and where
// the shell has none (Windows 95 without the desktop update, a shell other
// than Explorer) the caller starts it as before.
#pragma once

// Whether this process has administrator rights: IsUserAnAdmin, looked up;
// without it, the Windows 95 family has no rights to ask for and the NT
// family counts as without them.
bool runs_elevated();

// Asks the desktop's shell to open `file` (a program, a document or an
// address) with `arguments` (may be empty) in `folder` (may be empty);
// false where it offers no way, and then nothing was started.
bool start_through_shell(const char* file, const char* arguments, const char* folder);
