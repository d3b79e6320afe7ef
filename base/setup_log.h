// The log that /LOG asks for: one line per action, written as it happens,
// so that a log cut short by a crash still tells what was done. Each line
// is tab-separated: the local time ("yyyy-mm-dd hh:mm:ss"), the event and
// its fields, ended by CR LF. Inside a field '%', tab, CR, LF and the other
// control bytes are written as %XX (two upper-case hexadecimal digits), so
// a field never holds a tab or a line end; texts are in the setup's code
// page. docs/unattended-installs.md lists the events. Portable.
#pragma once
#include <cstddef>
#include <cstdint>

// Creates the log (an existing file is emptied); false when it cannot be.
bool open_log(const char* path);
// Opens an existing log to add to it (another program began it).
bool open_log_to_append(const char* path);
void close_log();
bool log_is_open();

// One line with the event and up to four fields (null ends the list).
// Nothing happens while no log is open.
void log_event(const char* event, const char* a = nullptr, const char* b = nullptr, const char* c = nullptr,
               const char* d = nullptr);
// The same with a number as the first field.
void log_number(const char* event, long number, const char* b = nullptr, const char* c = nullptr);

// A registry key as the log names it: its root as regedit abbreviates it
// (HKCR, HKCU, HKLM, HKU from the value of HKEY_CLASSES_ROOT on; "?" for
// another), a backslash and the key, into out (capacity bytes, cut to fit).
void registry_log_path(char* out, size_t capacity, uint32_t root, const char* key);

// The line for `time`, `event` and `fields` into out (capacity bytes, with
// a terminator); answers its length without the terminator, or, when it
// does not fit, the capacity it needs.
size_t format_log_line(char* out, size_t capacity, const char* time, const char* const* fields, unsigned count);
