// Copies of the archive's dialog templates in movable global memory, as
// the dialog functions are handed them.
#pragma once
#include <windows.h>

enum : unsigned { kTemplateBlockSize = 0x4000 };

// A locked, zero-filled 16 KiB block holding template `number` (at most
// 16 KiB of it, never read past the store), or null when the store has no
// such template or the block cannot be had.
DLGTEMPLATE* load_template(int number);
// Unlocks and frees a block of load_template; null is ignored.
void free_template(DLGTEMPLATE* pointer);
