// The registry of a Wine prefix, read on the host from the text files that
// Wine saves it in (system.reg for HKEY_LOCAL_MACHINE, user.reg for
// HKEY_CURRENT_USER) once its server has ended.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum : uint32_t { kRegSz = 1, kRegExpandSz = 2, kRegBinary = 3, kRegDword = 4, kRegMultiSz = 7 };

struct RegistryValue {
  std::string key;   // the key's path below the file's root, UTF-8, letter case as written
  std::string name;  // UTF-8; empty for the key's default value
  uint32_t type;
  std::vector<uint8_t> data;  // as the registry holds it: strings in UTF-16LE
};

struct RegistryText {
  std::vector<std::string> keys;  // every key the file lists, with values or without
  std::vector<RegistryValue> values;
};

// Reads a whole registry file. False, with *why naming the line, when the
// text is not a Wine registry file or a line of it cannot be read; lines
// of kinds it does not know (a later Wine's) are passed over.
bool parse_registry_text(const uint8_t* data, size_t size, RegistryText* out, std::string* why);

// The text of a string value (REG_SZ, REG_EXPAND_SZ) without its one
// terminating zero; further zeros stay in the text. *terminated, when
// given, tells whether the value had that terminator. False for a value
// of another type.
bool registry_string(const RegistryValue& value, std::string* text, bool* terminated = nullptr);

// A value as people read it: "text", dword 0x0000002a (42), hex 01 02 ...
// (long binary data cut short); control characters escaped, and a string
// stored without its terminator marked so.
std::string describe_registry_value(const RegistryValue& value);
