// The engine's own running state, shared by its steps (preparation, items,
// final step) and by nothing outside install/.
#pragma once
#include <cstdint>
#include "install/engine.h"

extern int32_t ItemIndex;            // item being handled; -1 before the first
extern uint8_t* CurrentEntry;        // next FileEntry to handle
extern uint32_t ItemCount;           // entries of the current FileList
extern uint32_t UninstallerImageSize;  // the uninstaller's length as placed, before its record
