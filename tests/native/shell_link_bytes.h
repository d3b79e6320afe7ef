// Shortcut files built byte by byte for the tests of the host's shortcut
// reader.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

inline void put32(Bytes* b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b->push_back(static_cast<uint8_t>(v >> (8 * i)));
}
inline void put16(Bytes* b, uint16_t v) {
  b->push_back(static_cast<uint8_t>(v));
  b->push_back(static_cast<uint8_t>(v >> 8));
}
inline void set32(Bytes* b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*b)[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void put_ansi(Bytes* b, const std::string& s) {
  b->insert(b->end(), s.begin(), s.end());
  b->push_back(0);
}
inline void put_counted(Bytes* b, const std::string& ascii, bool unicode) {
  put16(b, static_cast<uint16_t>(ascii.size()));
  for (char c : ascii) {
    b->push_back(static_cast<uint8_t>(c));
    if (unicode) b->push_back(0);
  }
}

enum : uint32_t {
  kLinkHasIdList = 1,
  kLinkHasInfo = 2,
  kLinkHasRelative = 8,
  kLinkHasWorkDir = 0x10,
  kLinkHasArgs = 0x20,
  kLinkHasIcon = 0x40,
  kLinkIsUnicode = 0x80
};

inline Bytes shortcut_header(uint32_t flags, int32_t icon_index) {
  Bytes b;
  put32(&b, 0x4C);
  const uint8_t clsid[16] = {0x01, 0x14, 0x02, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
  b.insert(b.end(), clsid, clsid + 16);
  put32(&b, flags);
  b.resize(0x38, 0);
  put32(&b, static_cast<uint32_t>(icon_index));
  b.resize(0x4C, 0);
  return b;
}

// LinkInfo with a local path (ANSI), as Wine writes it.
inline Bytes local_link_info(const std::string& path, const std::string& suffix) {
  Bytes info;
  put32(&info, 0);  // size, set below
  put32(&info, 0x1C);
  put32(&info, 1);     // VolumeIDAndLocalBasePath
  put32(&info, 0x1C);  // volume id
  put32(&info, 0);     // local path, set below
  put32(&info, 0);
  put32(&info, 0);     // suffix, set below
  put32(&info, 0x10);  // volume id: size 16, drive type, serial, label offset
  put32(&info, 3);
  put32(&info, 0x1234);
  put32(&info, 0x10);
  set32(&info, 16, static_cast<uint32_t>(info.size()));
  put_ansi(&info, path);
  set32(&info, 24, static_cast<uint32_t>(info.size()));
  put_ansi(&info, suffix);
  set32(&info, 0, static_cast<uint32_t>(info.size()));
  return info;
}

// The shortcut a setup makes, as Wine saves it: item list, link
// information, then the working folder (the target's), the arguments and
// the icon (the target, index 2) in Unicode.
inline Bytes shortcut_bytes(const std::string& target, const std::string& arguments) {
  Bytes b = shortcut_header(
      kLinkHasIdList | kLinkHasInfo | kLinkHasWorkDir | kLinkHasArgs | kLinkHasIcon | kLinkIsUnicode, 2);
  put16(&b, 6);
  b.insert(b.end(), {4, 0, 0x2F, 0x43, 0, 0});
  Bytes info = local_link_info(target, "");
  b.insert(b.end(), info.begin(), info.end());
  put_counted(&b, target.substr(0, target.rfind('\\')), true);
  put_counted(&b, arguments, true);
  put_counted(&b, target, true);
  put32(&b, 0);  // no extra data
  return b;
}
