// A search path as the Environment's Path value holds it: folders
// separated by ';'. One folder is an entry; two entries are the same when
// they differ only in the case of ASCII letters or in a trailing
// backslash, as Windows finds files through either. Portable.
#pragma once
#include <cstddef>
#include <cstdint>

// Whose search path an entry joins: the user's (HKCU\Environment) or the
// machine's (the Session Manager's Environment of HKLM). The setup file and
// the installation record store these numbers.
enum : uint8_t { kPathScopeUser = 0, kPathScopeMachine = 1, kPathScopeCount = 2 };
// "user" or "machine", as the logs name a scope below kPathScopeCount.
const char* path_scope_word(uint8_t scope);

// True when the first `length` bytes of `list` hold `entry`.
bool path_list_holds(const char* list, size_t length, const char* entry);
// Appends ";" and `entry` to the terminated list in `list` (no ";" when
// the list is empty or already ends in one); false when it would not fit
// in `capacity` bytes, and the list stays as it was.
bool path_list_append(char* list, size_t capacity, const char* entry);
// Removes the last entry that is `entry`, with the ';' that joined it to
// its neighbours, from the terminated list; every other byte stays. False
// when the list does not hold it.
bool path_list_remove(char* list, const char* entry);
