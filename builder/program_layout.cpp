#include "builder/program_layout.h"

#include <algorithm>

#include "archive/format.h"
#include "archive/pe_header.h"

namespace {

// Offsets in the optional header, the same in PE32 and PE32+.
enum : uint32_t { kFileAlignment = 36, kSizeOfHeaders = 60 };
// Offsets in a section table entry.
enum : uint32_t { kVirtualSize = 8, kRawSize = 16, kRawAt = 20 };
enum : uint32_t { kDebugDirectory = 6 };

bool directory_used(const std::vector<uint8_t>& image, const PeHeader& header, uint32_t index) {
  uint32_t entry = 0;
  return pe_directory_entry(header, index, &entry) &&
         (get_u32(image.data() + entry) != 0 || get_u32(image.data() + entry + 4) != 0);
}

uint64_t round_up(uint64_t n, uint32_t unit) { return (n + unit - 1) / unit * unit; }

}  // namespace

LayoutResult drop_zero_section_tails(std::vector<uint8_t>& image, size_t keep_end) {
  PeHeader header;
  if (!read_pe_header(image.data(), image.size(), &header)) return LayoutResult::kNotAProgram;
  // read_pe_header checked the optional header up to its directory count,
  // beyond both fields read here.
  const uint32_t optional = header.checksum_field - 64;
  const uint32_t unit = get_u32(image.data() + optional + kFileAlignment);
  const uint32_t headers_size = get_u32(image.data() + optional + kSizeOfHeaders);
  if (unit < 512 || unit > 65536 || (unit & (unit - 1)) != 0) return LayoutResult::kBadAlignment;
  const uint64_t table_end = uint64_t{header.sections} + uint64_t{kPeSectionEntrySize} * header.section_count;
  if (headers_size < table_end || headers_size > image.size()) return LayoutResult::kNotAProgram;
  if (directory_used(image, header, kDebugDirectory)) return LayoutResult::kFileOffsetsInside;
  if (directory_used(image, header, kPeDirectoryCertificates)) return LayoutResult::kTrailingData;

  // Checked in full before anything moves, so that a refused image stays
  // as it was.
  const uint64_t data_start = round_up(headers_size, unit);
  uint64_t end = data_start;
  for (uint32_t i = 0; i < header.section_count; ++i) {
    const uint8_t* entry = image.data() + header.sections + kPeSectionEntrySize * i;
    uint32_t raw_size = get_u32(entry + kRawSize), raw_at = get_u32(entry + kRawAt);
    if (raw_size == 0) continue;
    if (get_u32(entry + kVirtualSize) == 0) return LayoutResult::kNoSizeInMemory;
    if (raw_at % unit != 0 || raw_at < data_start || uint64_t{raw_at} + raw_size > image.size())
      return LayoutResult::kSectionOutside;
    if (raw_at < end) return LayoutResult::kSectionsOverlap;
    end = uint64_t{raw_at} + raw_size;
  }
  if (end != image.size()) return LayoutResult::kTrailingData;

  std::vector<uint8_t> out(image.begin(), image.begin() + static_cast<ptrdiff_t>(data_start));
  for (uint32_t i = 0; i < header.section_count; ++i) {
    uint8_t* entry = out.data() + header.sections + kPeSectionEntrySize * i;
    uint32_t raw_size = get_u32(entry + kRawSize), raw_at = get_u32(entry + kRawAt);
    if (raw_size == 0) continue;
    const uint8_t* bytes = image.data() + raw_at;
    size_t needed = raw_size;
    while (needed > 0 && bytes[needed - 1] == 0) --needed;
    if (keep_end > raw_at) needed = std::max<size_t>(needed, std::min<size_t>(keep_end - raw_at, raw_size));
    uint32_t kept = static_cast<uint32_t>(std::min<uint64_t>(round_up(needed, unit), raw_size));
    put_u32(entry + kRawSize, kept);
    // A section left with no bytes in the file has no place in it either.
    put_u32(entry + kRawAt, kept == 0 ? 0 : static_cast<uint32_t>(out.size()));
    out.insert(out.end(), bytes, bytes + kept);
  }
  image.swap(out);
  return LayoutResult::kDone;
}

bool write_pe_checksum(std::vector<uint8_t>& image) {
  PeHeader header;
  if (!read_pe_header(image.data(), image.size(), &header)) return false;
  // The field counts as zero, wherever it lies.
  put_u32(image.data() + header.checksum_field, 0);
  uint32_t sum = 0;
  for (size_t i = 0; i < image.size(); i += 2) {
    uint32_t word = image[i];
    if (i + 1 < image.size()) word |= uint32_t{image[i + 1]} << 8;
    sum += word;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  put_u32(image.data() + header.checksum_field, sum + static_cast<uint32_t>(image.size()));
  return true;
}

const char* layout_result_text(LayoutResult result) {
  switch (result) {
    case LayoutResult::kDone: return "laid out";
    case LayoutResult::kNotAProgram: return "not a Windows program (no complete PE headers)";
    case LayoutResult::kBadAlignment: return "the program's file alignment is not a power of two from 512 to 65536";
    case LayoutResult::kSectionOutside: return "a section's bytes lie outside the file or among the headers";
    case LayoutResult::kSectionsOverlap: return "the sections do not follow one another in the file";
    case LayoutResult::kNoSizeInMemory: return "a section has no size in memory";
    case LayoutResult::kTrailingData: return "the program carries data after its sections";
    case LayoutResult::kFileOffsetsInside: return "the program carries a debug directory, whose file offsets would go stale";
  }
  return "unknown result";
}
