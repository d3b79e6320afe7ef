// The start-up code of the stub and the uninstaller (base/startup.cpp), in
// place of the C runtime's.
#pragma once

// Runs the constructors of static objects, calls WinMain with the command
// tail and show state, and ends the process with WinMain's result: it
// never returns.
extern "C" int WinMainCRTStartup();

// The program's entry: restricts the library search, then hands over to
// WinMainCRTStartup (base/entry.cpp).
extern "C" int kestrel_entry();
