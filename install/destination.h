// Where each item of the installation goes.
#pragma once
#include <cstddef>
#include <cstdint>

// `name` in the setup file's folder, into `out` (`capacity` bytes); false
// when it was cut to fit.
bool beside_setup_file(char* out, size_t capacity, const char* name);
// Writes the destination of `entry` (a FileEntry) into DestPath. Answers 1
// only for a shared system file whose existing copy is in use, else 0.
int item_destination(const uint8_t* entry);
// DestPath for a file that an INI entry or a string patch names: the
// destination of the item of that name, else the name with its macros
// expanded. False when the expanded name does not fit a path.
bool resolve_target_file(const char* name);
