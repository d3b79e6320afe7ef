#include "builder/setup_resources.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "archive/format.h"
#include "archive/pe_header.h"
#include "builder/pe_resources.h"
#include "builder/pe_version.h"
#include "builder/program_layout.h"
#include "builder/stub_image.h"

namespace {

enum : uint32_t { kMaxIconImages = 64, kIconEntrySize = 16, kGroupEntrySize = 14, kBitmapHeaderSize = 40 };
enum : uint16_t { kEnglishUs = 0x0409, kUnicode = 0x04B0 };

bool fail(std::string* error, const std::string& message) {
  *error = message;
  return false;
}

// UTF-8 as the project reader leaves it (valid); anything else comes out
// as U+FFFD rather than as a wrong character.
std::u16string utf16(const std::string& text) {
  std::u16string out;
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > text.size()) {
      out.push_back(u'\uFFFD');
      ++i;
      continue;
    }
    uint32_t code = n == 1 ? c : c & (0x7F >> n);
    for (size_t k = 1; k < n; ++k) code = code << 6 | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    i += n;
    if (code >= 0x10000) {
      code -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(code));
    }
  }
  return out;
}

std::string utf8(const std::u16string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000)
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    else if (c >= 0xD800 && c < 0xE000)
      c = 0xFFFD;
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | c >> 6));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | c >> 12));
      out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | c >> 18));
      out.push_back(static_cast<char>(0x80 | (c >> 12 & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

void pad4(std::vector<uint8_t>& out) {
  while (out.size() % 4) out.push_back(0);
}

void append_u16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

void append_u32(std::vector<uint8_t>& out, uint32_t v) {
  append_u16(out, static_cast<uint16_t>(v));
  append_u16(out, static_cast<uint16_t>(v >> 16));
}

// One node of a version block: length, value length (characters for a
// text), type, key, padding, value, then the children each on a 4-byte
// boundary. The length leaves out the padding behind the last byte.
std::vector<uint8_t> node(const std::u16string& key, const std::vector<uint8_t>& value, uint16_t value_length,
                          bool text, const std::vector<std::vector<uint8_t>>& children) {
  std::vector<uint8_t> out(6, 0);
  for (char16_t c : key) append_u16(out, c);
  append_u16(out, 0);
  pad4(out);
  out.insert(out.end(), value.begin(), value.end());
  for (const auto& child : children) {
    pad4(out);
    out.insert(out.end(), child.begin(), child.end());
  }
  put_u16(out.data(), static_cast<uint16_t>(out.size()));
  put_u16(out.data() + 2, value_length);
  put_u16(out.data() + 4, text ? 1 : 0);
  return out;
}

std::vector<uint8_t> text_node(const std::u16string& key, const std::string& value) {
  std::vector<uint8_t> bytes;
  std::u16string units = utf16(value);
  for (char16_t c : units) append_u16(bytes, c);
  append_u16(bytes, 0);
  return node(key, bytes, static_cast<uint16_t>(units.size() + 1), true, {});
}

std::string size_text(const IconImage& image) {
  unsigned w = image.width ? image.width : 256, h = image.height ? image.height : 256;
  std::string text = std::to_string(w) + "x" + std::to_string(h);
  if (image.bits) text += ", " + std::to_string(image.bits) + " bits";
  if (image.data.size() >= 4 && std::memcmp(image.data.data(), "\x89PNG", 4) == 0) text += ", PNG";
  return text;
}

// An .ico file's directory entry and a group's entry begin alike: size,
// colours, then planes and bits at 4 and 6.
IconImage directory_entry(const uint8_t* e) {
  IconImage image;
  image.width = e[0];
  image.height = e[1];
  image.colors = e[2];
  image.planes = get_u16(e + 4);
  image.bits = get_u16(e + 6);
  return image;
}

// The icon ids of a group: the last u16 of each 14-byte entry.
bool group_entries(const std::vector<uint8_t>& group, std::vector<IconImage>* entries, std::vector<uint16_t>* ids) {
  if (group.size() < 6 || get_u16(group.data() + 2) != 1) return false;
  uint32_t count = get_u16(group.data() + 4);
  if ((group.size() - 6) / kGroupEntrySize < count) return false;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* e = group.data() + 6 + kGroupEntrySize * i;
    IconImage image = directory_entry(e);
    if (entries) entries->push_back(image);
    if (ids) ids->push_back(get_u16(e + 12));
  }
  return true;
}

const Resource* first_of(const std::vector<Resource>& list, uint16_t type) {
  for (const Resource& r : list)
    if (!r.type.named && r.type.number == type) return &r;
  return nullptr;
}

}  // namespace

bool read_icon_file(const uint8_t* data, size_t size, std::vector<IconImage>* images, std::string* error) {
  images->clear();
  if (size < 6 || get_u16(data) != 0 || get_u16(data + 2) != 1) return fail(error, "not an icon file (.ico)");
  uint32_t count = get_u16(data + 4);
  if (count == 0) return fail(error, "the icon file holds no image");
  if (count > kMaxIconImages) return fail(error, "the icon file holds more than 64 images");
  if ((size - 6) / kIconEntrySize < count) return fail(error, "the icon file's directory runs past its end");
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* e = data + 6 + kIconEntrySize * i;
    uint32_t length = get_u32(e + 8), at = get_u32(e + 12);
    const std::string which = "image " + std::to_string(i + 1);
    if (at > size || length > size - at || length < 8)
      return fail(error, "the icon file's " + which + " lies outside the file");
    const uint8_t* bytes = data + at;
    bool png = std::memcmp(bytes, "\x89PNG\r\n\x1A\n", 8) == 0;
    if (!png && (length < kBitmapHeaderSize || get_u32(bytes) != kBitmapHeaderSize))
      return fail(error, "the icon file's " + which + " is neither a PNG nor a bitmap");
    IconImage image = directory_entry(e);
    // Some editors leave the bit depth out of the directory; the bitmap
    // itself has it.
    if (!png && image.bits == 0) image.bits = get_u16(bytes + 14);
    if (!png && image.planes == 0) image.planes = 1;
    image.data.assign(bytes, bytes + length);
    images->push_back(std::move(image));
  }
  return true;
}

bool version_numbers(const std::string& version, uint16_t numbers[4]) {
  std::fill(numbers, numbers + 4, 0);
  size_t part = 0, digits = 0;
  uint32_t value = 0;
  for (size_t i = 0; i <= version.size(); ++i) {
    if (i < version.size() && version[i] >= '0' && version[i] <= '9') {
      value = value * 10 + static_cast<uint32_t>(version[i] - '0');
      if (++digits > 5 || value > 0xFFFF) return false;
      continue;
    }
    if (digits == 0 || part == 4 || (i < version.size() && version[i] != '.')) return false;
    numbers[part++] = static_cast<uint16_t>(value);
    value = 0;
    digits = 0;
  }
  return true;
}

std::vector<uint8_t> version_block(const SetupVersionTexts& texts) {
  uint16_t n[4];
  if (!version_numbers(texts.version, n)) std::fill(n, n + 4, 0);
  std::vector<uint8_t> fixed;
  append_u32(fixed, 0xFEEF04BD);     // signature
  append_u32(fixed, 0x00010000);     // structure version
  for (int twice = 0; twice < 2; ++twice) {  // file, then product version
    append_u32(fixed, uint32_t{n[0]} << 16 | n[1]);
    append_u32(fixed, uint32_t{n[2]} << 16 | n[3]);
  }
  append_u32(fixed, 0x3F);           // flags mask
  append_u32(fixed, 0);              // flags
  append_u32(fixed, 0x00040004);     // VOS_NT_WINDOWS32
  append_u32(fixed, 1);              // VFT_APP
  append_u32(fixed, 0);              // subtype
  append_u32(fixed, 0);              // date
  append_u32(fixed, 0);
  const std::string title = texts.title.empty() ? "Setup" : texts.title;
  const std::pair<const char16_t*, std::string> strings[] = {
      {u"CompanyName", texts.publisher},
      {u"FileDescription", texts.title.empty() ? "Setup" : texts.title + " Setup"},
      {u"FileVersion", texts.version},
      {u"LegalCopyright", texts.copyright},
      {u"OriginalFilename", texts.file_name},
      {u"ProductName", title},
      {u"ProductVersion", texts.version},
  };
  std::vector<std::vector<uint8_t>> table;
  for (const auto& [key, value] : strings)
    if (!value.empty()) table.push_back(text_node(key, value));
  std::vector<uint8_t> translation;
  append_u16(translation, kEnglishUs);
  append_u16(translation, kUnicode);
  return node(u"VS_VERSION_INFO", fixed, static_cast<uint16_t>(fixed.size()), false,
              {node(u"StringFileInfo", {}, 0, true, {node(u"040904B0", {}, 0, true, table)}),
               node(u"VarFileInfo", {}, 0, true, {node(u"Translation", translation, 4, false, {})})});
}

bool apply_setup_resources(std::vector<uint8_t>& stub, const SetupVersionTexts& texts,
                           const std::vector<IconImage>& icon, std::string* error) {
  std::vector<Resource> list;
  if (!read_pe_resources(stub.data(), stub.size(), &list, error)) return fail(error, "the stub's resources: " + *error);
  list.erase(std::remove_if(list.begin(), list.end(),
                            [](const Resource& r) { return !r.type.named && r.type.number == kResourceVersion; }),
             list.end());
  Resource version;
  version.type.number = kResourceVersion;
  version.name.number = 1;
  version.language = kEnglishUs;
  version.data = version_block(texts);
  list.push_back(version);
  if (!icon.empty()) {
    const Resource* found = first_of(list, kResourceGroupIcon);
    std::vector<uint16_t> old_ids;
    if (!found || !group_entries(found->data, nullptr, &old_ids)) return fail(error, "the stub has no icon group to replace");
    Resource group = *found;
    std::set<uint16_t> old(old_ids.begin(), old_ids.end()), taken;
    list.erase(std::remove_if(list.begin(), list.end(),
                              [&](const Resource& r) {
                                bool icon_of_group = !r.type.named && r.type.number == kResourceIcon && !r.name.named &&
                                                     old.count(r.name.number);
                                return icon_of_group || (r.type == group.type && r.name == group.name);
                              }),
               list.end());
    for (const Resource& r : list)
      if (!r.type.named && r.type.number == kResourceIcon && !r.name.named) taken.insert(r.name.number);
    group.data.clear();
    append_u16(group.data, 0);
    append_u16(group.data, 1);
    append_u16(group.data, static_cast<uint16_t>(icon.size()));
    uint16_t id = 1;
    for (const IconImage& image : icon) {
      while (taken.count(id)) ++id;
      taken.insert(id);
      group.data.insert(group.data.end(), {image.width, image.height, image.colors, 0});
      append_u16(group.data, image.planes);
      append_u16(group.data, image.bits);
      append_u32(group.data, static_cast<uint32_t>(image.data.size()));
      append_u16(group.data, id);
      Resource r;
      r.type.number = kResourceIcon;
      r.name.number = id;
      r.language = group.language;
      r.data = image.data;
      list.push_back(std::move(r));
    }
    list.push_back(std::move(group));
  }
  if (!write_pe_resources(stub, std::move(list), error)) return fail(error, "the stub's resources: " + *error);
  StampResult stamped = stamp_stub_size(stub);
  if (stamped != StampResult::kStamped) return fail(error, std::string("the stub: ") + stamp_result_text(stamped));
  PeHeader header;
  if (read_pe_header(stub.data(), stub.size(), &header) && get_u32(stub.data() + header.checksum_field) != 0)
    write_pe_checksum(stub);
  return true;
}

bool describe_setup_resources(const uint8_t* image, size_t size, SetupResourceSummary* summary, std::string* error) {
  *summary = SetupResourceSummary{};
  std::vector<Resource> list;
  if (!read_pe_resources(image, size, &list, error)) return false;
  if (const Resource* version = first_of(list, kResourceVersion)) {
    PeVersion fixed;
    VersionStrings strings;
    if (!read_version_block(version->data.data(), version->data.size(), &fixed, &strings))
      return fail(error, "the version resource is no VS_VERSIONINFO block");
    summary->has_version = true;
    for (const auto& [key, value] : strings) summary->strings.push_back({utf8(key), utf8(value)});
  }
  if (const Resource* group = first_of(list, kResourceGroupIcon)) {
    std::vector<IconImage> entries;
    std::vector<uint16_t> ids;
    if (!group_entries(group->data, &entries, &ids)) return fail(error, "the icon group is malformed");
    for (size_t i = 0; i < entries.size(); ++i) {
      auto it = std::find_if(list.begin(), list.end(), [&](const Resource& r) {
        return !r.type.named && r.type.number == kResourceIcon && !r.name.named && r.name.number == ids[i];
      });
      if (it == list.end()) return fail(error, "the icon group names icon " + std::to_string(ids[i]) + ", which is missing");
      entries[i].data = it->data;
      summary->icon_sizes.push_back(size_text(entries[i]));
    }
  }
  return true;
}
