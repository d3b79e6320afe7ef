// Opening a document or address after installing, through the shell or,
// where the shell cannot, through the open command of a file type.
#pragma once
#include <windows.h>

#include <cstdint>

// Opens a document or address; the fallback extension (".txt") names the
// file type whose open command is used when the shell cannot open it.
// Above 32 on success.
uint32_t open_document(const char* target, const char* fallback_extension);
// The key's default value, up to 260 bytes; 0 or the registry error.
long read_default_value(HKEY root, const char* key, char* buffer);
