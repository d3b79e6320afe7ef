// Where Windows lists the installed fonts, one value a font: Windows NT
// reads a key of its own, the 95 family the shell's. A font listed under
// the other family's key is gone after the next logon.
#pragma once
#include "base/globals.h"

// Below HKEY_LOCAL_MACHINE.
constexpr const char* kNtFontsKey = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";
constexpr const char* k95FontsKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Fonts";

// The key of this Windows (IsNtFamily must be set).
inline const char* fonts_key() { return IsNtFamily ? kNtFontsKey : k95FontsKey; }
