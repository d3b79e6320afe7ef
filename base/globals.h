// Buffers and flags that every subsystem shares. They are fixed arrays rather
// than start-up allocations, so no routine ever meets a missing buffer.
#pragma once

enum : unsigned { kPathSize = 260 };

extern char SourcePath[kPathSize];       // file that holds the archive
extern char ArchivePath[kPathSize];      // working copy opened by the archive readers
extern char InstallDir[kPathSize];       // destination folder of the current setup type
extern char DestPath[2 * kPathSize];     // destination of the item being handled
extern char TempPath[kPathSize];         // temporary name, scratch text
extern char MessageArgument[kPathSize];  // the %s of formatted messages
extern char UninstallerPath[kPathSize];  // destination of the uninstaller file

extern bool IsNtFamily;      // GetVersionExA reported VER_PLATFORM_WIN32_NT
extern bool IsRelaunchCopy;  // started with /DEL from the temporary folder
// KEY_WOW64_64KEY in the 64-bit mode (base/native_mode.h), else 0: part of
// the access of every key the programs open.
extern unsigned long RegistryView;
