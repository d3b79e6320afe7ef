// Item names from an archive, which are paths relative to a destination
// folder and are not trusted.
#pragma once
#include <string>
#include <vector>

// Splits an item name into its folders and file name; both slashes
// separate, as on Windows. False with *why when the name could reach
// outside the folder it is relative to, or is empty.
bool split_item_name(const char* name, std::vector<std::string>* parts, bool* ends_in_separator, std::string* why);
