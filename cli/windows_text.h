// Windows texts read on the host for display: UTF-16 (the registry, Unicode
// shortcuts and INI files) and the ANSI code page 1252 (older shortcut
// fields and INI files), both into UTF-8.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

void append_utf8(std::string* out, uint32_t code_point);
// Little-endian UTF-16 code units; a lone surrogate becomes U+FFFD.
std::string utf16_to_utf8(const uint16_t* units, size_t count);
std::string utf16le_bytes_to_utf8(const uint8_t* bytes, size_t count);  // count / 2 units
std::string cp1252_to_utf8(const uint8_t* bytes, size_t count);
// ASCII letters in lower case: Windows compares names without letter case.
std::string fold_case(const std::string& text);
