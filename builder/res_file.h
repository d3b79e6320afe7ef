// Compiled resource files (.res, as windres -O res or rc write them): the
// dialog templates they hold, by numeric resource id.
#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

// Every RT_DIALOG resource with a numeric id, as its template bytes. False
// with *error when the bytes are not a resource file or a record runs past
// the end; resources of other types and named ones are passed over.
bool read_res_dialogs(const uint8_t* data, size_t size, std::map<uint16_t, std::vector<uint8_t>>* dialogs,
                      std::string* error);
