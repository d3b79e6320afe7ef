// The programs that hold files of the installation folder (a running
// version of the product), found before the first item and, where the
// user or the switches say so, closed, so that their files can be
// replaced now rather than at the next start of Windows.
#pragma once

// Only in a setup with a product id (whose texts 6/57 and 6/58 it
// carries); a setup without one handles files in use as it always did.
// Finds them: the Restart Manager (rstrtmgr.dll, Vista and later) for the
// items' files that are there, else, and where it answers nothing (Wine),
// the processes with a module in the folder (Toolhelp, Windows 95 and
// 2000 on); both looked up at run time. Never this setup's process, nor
// one whose module there is this setup's file; the uninstaller's file is
// not asked about, so that its working copy is not among them. Each goes
// into the log ("program": its name, running). Text 6/57 names them and
// asks whether to close them; unattended the answer is Yes with
// /CLOSEAPPLICATIONS or close_applications = "yes", else No (today's
// handling of files in use follows). Closing sends each one's top-level
// windows WM_CLOSE and waits for them, ten seconds in all; text 6/58 names
// those that did not end ("program": closed or still-running).
void close_running_programs();
// With /RESTARTAPPLICATIONS, starts again, from their program files, the
// programs that close_running_programs closed ("program": restarted or
// not-restarted), once; at the end of the setup, whatever its outcome (a
// cancelled upgrade has put the old files back).
void restart_closed_programs();
