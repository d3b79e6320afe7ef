// The default dialog templates of the wizard, compiled from
// ui/dialogs/default_dialogs.rc into a resource file and built into the tool.
#pragma once
#include <cstddef>
#include <cstdint>

extern const uint8_t kDefaultDialogs[];
extern const size_t kDefaultDialogsSize;
