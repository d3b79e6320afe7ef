// The file layout of a freshly linked Windows program, tightened after the
// link (kestrel-stamp): the loader fills every section beyond its bytes in
// the file with zeros up to its size in memory, so zeros at the end of a
// section need not be in the file. The linker writes them: the zeroed
// variables share the writable section with the initialised ones, which
// saves a section header, and the headers then fit in 512 bytes.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

enum class LayoutResult {
  kDone,
  kNotAProgram,       // no PE headers, or a section table beyond them
  kBadAlignment,      // file alignment not a power of two of at least 512
  kSectionOutside,    // a section's bytes outside the file or before the headers' end
  kSectionsOverlap,   // sections not one after the other in the file
  kNoSizeInMemory,    // a section without its size in memory
  kTrailingData,      // bytes after the last section (a certificate table, a debugger's data)
  kFileOffsetsInside, // a debug directory, which holds file offsets
};

// Drops the zero bytes at the end of each section from the file, in whole
// file-alignment units, and moves the following sections' bytes down; the
// image in memory stays byte for byte what it was. Bytes of the file before
// `keep_end` stay in their section even when zero (a field the build fills
// in afterwards). On any result but kDone the image is unchanged.
LayoutResult drop_zero_section_tails(std::vector<uint8_t>& image, size_t keep_end);

// Fills in the header checksum of a PE image (the 16-bit one's-complement
// sum of the file without the field, plus the file's length). False when the
// bytes are not a PE image.
bool write_pe_checksum(std::vector<uint8_t>& image);

// One line for the user.
const char* layout_result_text(LayoutResult result);
