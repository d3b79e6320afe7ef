// Taking an installed font out of the system before its file is deleted.
#pragma once

// Removes the font resource of the file at path and every value under the
// Fonts key that names this file.
void remove_font(const char* path);
