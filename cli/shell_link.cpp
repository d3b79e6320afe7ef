#include "cli/shell_link.h"

#include <cstring>

#include "archive/format.h"
#include "cli/cli_support.h"
#include "cli/windows_text.h"

namespace {

constexpr uint32_t kHeaderSize = 0x4C;
const uint8_t kLinkClassId[16] = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                  0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

enum : uint32_t {
  kHasIdList = 0x01,
  kHasLinkInfo = 0x02,
  kHasName = 0x04,
  kHasRelativePath = 0x08,
  kHasWorkingFolder = 0x10,
  kHasArguments = 0x20,
  kHasIconLocation = 0x40,
  kIsUnicode = 0x80,
};
enum : uint32_t { kLocalPath = 0x01, kNetworkPath = 0x02 };

// A NUL-terminated ANSI string at `offset` inside [base, base + size).
bool ansi_at(const uint8_t* base, uint32_t size, uint32_t offset, std::string* out) {
  if (offset >= size) return false;
  const uint8_t* start = base + offset;
  const void* nul = memchr(start, 0, size - offset);
  if (!nul) return false;
  *out = cp1252_to_utf8(start, static_cast<size_t>(static_cast<const uint8_t*>(nul) - start));
  return true;
}

// The same in UTF-16 (two NUL bytes on an even position end it).
bool unicode_at(const uint8_t* base, uint32_t size, uint32_t offset, std::string* out) {
  if (offset >= size) return false;
  for (uint32_t i = offset; i + 1 < size; i += 2)
    if (base[i] == 0 && base[i + 1] == 0) {
      *out = utf16le_bytes_to_utf8(base + offset, i - offset);
      return true;
    }
  return false;
}

std::string join_path(const std::string& base, const std::string& suffix) {
  if (suffix.empty()) return base;
  if (!base.empty() && base.back() == '\\') return base + suffix;
  return base + "\\" + suffix;
}

// The LinkInfo structure: the target's path on a local volume or a share.
bool read_link_info(const uint8_t* info, uint32_t size, std::string* target, std::string* why) {
  if (size < 0x1C) return fail(why, "the link information is too short");
  uint32_t header_size = get_u32(info + 4);
  uint32_t flags = get_u32(info + 8);
  uint32_t local_offset = get_u32(info + 16);
  uint32_t network_offset = get_u32(info + 20);
  uint32_t suffix_offset = get_u32(info + 24);
  if (header_size < 0x1C || header_size > size) return fail(why, "the link information's header does not fit");
  bool unicode = header_size >= 0x24 && size >= 0x24;
  std::string base, suffix;
  if (unicode && get_u32(info + 32) != 0 && !unicode_at(info, size, get_u32(info + 32), &suffix))
    return fail(why, "the path suffix does not fit");
  if (!(unicode && get_u32(info + 32) != 0) && suffix_offset != 0 && !ansi_at(info, size, suffix_offset, &suffix))
    return fail(why, "the path suffix does not fit");
  if (flags & kLocalPath) {
    uint32_t wide_offset = unicode ? get_u32(info + 28) : 0;
    bool ok = wide_offset ? unicode_at(info, size, wide_offset, &base) : ansi_at(info, size, local_offset, &base);
    if (!ok) return fail(why, "the local path does not fit");
  } else if (flags & kNetworkPath) {
    // CommonNetworkRelativeLink: size, flags, then the offset of the share's name.
    if (network_offset >= size || size - network_offset < 12) return fail(why, "the network path does not fit");
    const uint8_t* link = info + network_offset;
    uint32_t link_size = get_u32(link);
    if (link_size < 12 || link_size > size - network_offset || !ansi_at(link, link_size, get_u32(link + 8), &base))
      return fail(why, "the network path does not fit");
  }
  *target = join_path(base, suffix);
  return true;
}

// One counted string of the StringData part.
bool read_counted(const uint8_t* data, size_t size, size_t* pos, bool unicode, std::string* out) {
  if (size - *pos < 2) return false;
  size_t count = get_u16(data + *pos);
  *pos += 2;
  size_t bytes = unicode ? count * 2 : count;
  if (size - *pos < bytes) return false;
  *out = unicode ? utf16le_bytes_to_utf8(data + *pos, bytes) : cp1252_to_utf8(data + *pos, bytes);
  *pos += bytes;
  return true;
}

}  // namespace

bool parse_shell_link(const uint8_t* data, size_t size, ShellLink* out, std::string* why) {
  *out = ShellLink();
  if (size < kHeaderSize || get_u32(data) != kHeaderSize || memcmp(data + 4, kLinkClassId, 16) != 0)
    return fail(why, "not a shortcut file");
  uint32_t flags = get_u32(data + 0x14);
  out->icon_index = static_cast<int32_t>(get_u32(data + 0x38));
  size_t pos = kHeaderSize;
  if (flags & kHasIdList) {
    if (size - pos < 2) return fail(why, "the item list does not fit");
    size_t list_size = get_u16(data + pos);
    pos += 2;
    if (size - pos < list_size) return fail(why, "the item list does not fit");
    pos += list_size;
  }
  if (flags & kHasLinkInfo) {
    if (size - pos < 4) return fail(why, "the link information does not fit");
    uint32_t info_size = get_u32(data + pos);
    if (info_size < 4 || info_size > size - pos) return fail(why, "the link information does not fit");
    if (!read_link_info(data + pos, info_size, &out->target, why)) return false;
    pos += info_size;
  }
  bool unicode = flags & kIsUnicode;
  std::string name;
  struct {
    uint32_t flag;
    std::string* field;
    const char* what;
  } strings[] = {{kHasName, &name, "description"},
                 {kHasRelativePath, &out->relative_path, "relative path"},
                 {kHasWorkingFolder, &out->working_folder, "working folder"},
                 {kHasArguments, &out->arguments, "arguments"},
                 {kHasIconLocation, &out->icon, "icon location"}};
  for (const auto& s : strings)
    if ((flags & s.flag) && !read_counted(data, size, &pos, unicode, s.field))
      return fail(why, std::string("the ") + s.what + " does not fit");
  return true;
}
