// Undoing the self-registration of a library before its file is deleted.
#pragma once

// Calls DllUnregisterServer of the library at path, when it has one.
void unregister_library(const char* path);
