// An item's name in the archive: a path relative to its destination
// folder. One rule for the build, which refuses to write a name that could
// land outside that folder, and for extract, which refuses to follow one.
#pragma once
#include <string>
#include <vector>

// Splits a name into its folders and file name; both slashes separate, as
// on Windows. False with *why when the name is empty, absolute, holds a
// drive letter or stream name, or climbs out with "..".
bool split_item_name(const char* name, std::vector<std::string>* parts, bool* ends_in_separator, std::string* why);
