// A setup built with privileges = "choice" installs for all users or for
// the user who runs it. It starts without administrator rights; /ALLUSERS
// or /CURRENTUSER choose, else the user is asked (text 6/53), and
// unattended it installs per user unless it already has the rights. One
// whose items need the machine installs for all users only and says so
// (text 6/54). For all users without the rights it starts itself again
// with them, passing on its switches, and ends as that run ends.
#pragma once

// False to go on (the scope chosen); true when this run ends with *code:
// cancelled, or the run with administrator rights has ended.
bool settle_scope(const char* command_line, int* code);
