// Building a file from an older version of it and a patch in the data area.
#pragma once
#include <cstdint>

// Header bits of a patch block: content compressed, size field u32 (else
// u16), compressed-size field u32 (else u16).
enum : uint8_t { kPatchCompressed = 0x01, kPatchLongSize = 0x02, kPatchLongCompressedSize = 0x04 };

// Receives the progress (percent) while a patched file grows: the progress
// page points it at its set_progress while it is open; null reports nothing.
typedef void (*PatchProgress)(uint32_t percent);
extern PatchProgress PatchProgressReport;

// Builds the file of `entry` (a FileEntry) from the old version in
// old_path and the entry's patch data, checks it against the entry's
// checksum and leaves it under old_path. Progress runs from progress_from
// to progress_to. Returns 0, or the error code for the installation's
// ErrorState (12, 15 to 22; MessageArgument as the code wants it); on an
// error old_path is unchanged and the new temporary file is gone.
uint32_t apply_patch(const uint8_t* entry, const char* old_path, uint32_t progress_from, uint32_t progress_to);

// Reads one patch block at the current data-area position into a new
// buffer in *slot (left null for an empty block). *data_left: the bytes of
// the item's stored data not read yet; the block must lie within them, and
// its bytes are counted off. Returns 0, 12 (no memory) or 18 (the data
// cannot be read or does not hold the block; MessageArgument names the
// archive).
uint32_t read_patch_block(uint8_t** slot, uint32_t* size, uint32_t* data_left);
