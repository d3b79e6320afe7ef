// Shared by the installation engine's Win32 tests: FileEntry records and a
// FileList made in memory, a setup file whose data area holds stored
// streams, text list 6, and the engine set to the start of a list.
#pragma once
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "archive/checksum.h"
#include "archive/config.h"
#include "archive/data_area.h"
#include "archive/file_entry.h"
#include "archive/format.h"
#include "base/globals.h"
#include "base/path_strings.h"
#include "install/engine_state.h"
#include "tests/data_area_reader.h"
#include "ui/sequencer.h"

struct EntryFields {
  uint8_t folder_code = kFolderInstallDir;
  uint8_t finish_role = kRoleNone;
  uint8_t shared = 0;
  uint8_t kind = kKindFile;
  uint8_t registration = kRegisterNone;
  uint8_t flags = 0;
  uint16_t icon_index = 0;
  uint32_t checksum = 0;
  uint32_t size = 0;
  uint32_t data_position = 0;
  uint32_t data_length = 0;
  int32_t entry_index = 0;
  uint16_t setup_type = 0;
  uint32_t version_ms = 0, version_ls = 0, language = 0;
  uint8_t times[24] = {};
  std::string strings[6];  // name, menu locations, menu name, menu arguments, desktop name, desktop arguments
};

inline void append_u16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
inline void append_u32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

inline void encode_entry(const EntryFields& s, std::vector<uint8_t>& out) {
  size_t start = out.size();
  append_u32(out, 0);
  append_u16(out, 0);
  append_u16(out, s.icon_index);
  for (uint8_t b : {s.folder_code, s.finish_role, s.shared, s.kind, s.registration, uint8_t(0), s.flags, uint8_t(0)})
    out.push_back(b);
  for (uint32_t v : {s.checksum, s.size, s.data_position, s.data_length, static_cast<uint32_t>(s.entry_index)})
    append_u32(out, v);
  append_u16(out, s.setup_type);
  if (s.flags & (kItemCompareVersion | kItemCompareLanguage)) {
    append_u32(out, s.version_ms);
    append_u32(out, s.version_ls);
    append_u32(out, 0);
    append_u32(out, 0);
    append_u32(out, s.language);
  }
  if (s.flags & kItemHasTimes) out.insert(out.end(), s.times, s.times + 24);
  for (const auto& text : s.strings) out.insert(out.end(), text.c_str(), text.c_str() + text.size() + 1);
  put_u32(out.data() + start, static_cast<uint32_t>(out.size() - start));
}

// u32 count and the entries.
inline std::vector<uint8_t> encode_file_list(const std::vector<EntryFields>& entries) {
  std::vector<uint8_t> out;
  append_u32(out, static_cast<uint32_t>(entries.size()));
  for (const auto& e : entries) encode_entry(e, out);
  return out;
}

// One stream of stored blocks (header nibble 7, bit 3 on the last one; then
// a u16 length at the next byte and the bytes).
inline std::vector<uint8_t> stored_stream(const std::vector<uint8_t>& data) {
  std::vector<uint8_t> out;
  size_t at = 0;
  do {
    size_t n = data.size() - at < 65535 ? data.size() - at : 65535;
    bool last = at + n == data.size();
    out.push_back(last ? 0x0F : 0x07);
    append_u16(out, static_cast<uint16_t>(n));
    out.insert(out.end(), data.begin() + at, data.begin() + at + n);
    at += n;
  } while (at < data.size());
  return out;
}

inline std::vector<uint8_t> bytes_of(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

inline uint32_t checksum_of(const std::vector<uint8_t>& data) {
  return checksum_block(data.data(), static_cast<uint32_t>(data.size()), 0);
}

inline bool write_whole_file(const std::string& path, const std::vector<uint8_t>& data) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD put = 0;
  bool ok = data.empty() || (WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &put, nullptr) && put == data.size());
  CloseHandle(h);
  return ok;
}

inline std::string read_whole_file(const std::string& path) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) return "<missing>";
  std::string text(GetFileSize(h, nullptr), '\0');
  DWORD got = 0;
  if (!text.empty()) ReadFile(h, &text[0], static_cast<DWORD>(text.size()), &got, nullptr);
  CloseHandle(h);
  return text;
}

inline bool file_exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// A setup file: `prefix` stand-in bytes, the DataArea block header, its
// length word and the streams back to back. *positions receives each
// stream's data position and length.
inline bool write_setup_file(const std::string& path, uint32_t prefix, const std::vector<std::vector<uint8_t>>& streams,
                             std::vector<std::pair<uint32_t, uint32_t>>* positions) {
  std::vector<uint8_t> file(prefix, 0xAB);
  std::vector<uint8_t> data;
  for (const auto& s : streams) {
    positions->push_back({static_cast<uint32_t>(data.size()), static_cast<uint32_t>(s.size())});
    data.insert(data.end(), s.begin(), s.end());
  }
  append_u16(file, kBlockDataArea);
  append_u16(file, 0);
  append_u32(file, static_cast<uint32_t>(data.size() + 4));
  append_u32(file, static_cast<uint32_t>(data.size()));
  file.insert(file.end(), data.begin(), data.end());
  return write_whole_file(path, file);
}

// Text list 6 of setup type 0: u16 count, then the strings.
inline std::vector<uint8_t> encode_text_list(const std::vector<std::string>& texts) {
  std::vector<uint8_t> out;
  append_u16(out, static_cast<uint16_t>(texts.size()));
  for (const auto& t : texts) out.insert(out.end(), t.c_str(), t.c_str() + t.size() + 1);
  return out;
}

// Makes `list` the FileList of setup type 0 and the engine's current list.
inline void use_file_list(std::vector<uint8_t>& list, const std::vector<uint8_t>* messages) {
  SetupTypeSlot& slot = SetupTypeTable[0];
  slot.file_list = list.data();
  slot.file_list_length = static_cast<uint32_t>(list.size());
  slot.record = SetupTypeRecord{};
  if (messages) slot.record.text_lists[6] = messages->data();
  SetupTypeCount = 1;
  CurrentRecord = &slot.record;
  CurrentFileCount = get_u32(list.data());
  CurrentFirstEntry = list.data() + 4;
  ItemCount = CurrentFileCount;
  ItemIndex = -1;
  CurrentEntry = CurrentFirstEntry;
  ErrorState = 0;
  PageResult = 0;
  RestartNeeded = false;
}

inline uint8_t* entry_at(std::vector<uint8_t>& list, int n) {
  uint8_t* e = list.data() + 4;
  while (n-- > 0) e = next_entry(e);
  return e;
}

// The Windows 95 family's list of replacements at the next start.
inline std::string wininit_path() {
  char windows[MAX_PATH];
  GetWindowsDirectoryA(windows, MAX_PATH);
  return std::string(windows) + "\\WININIT.INI";
}

// Removes a folder with everything in it, read-only files too.
inline void remove_tree(const std::string& folder) {
  WIN32_FIND_DATAA found;
  HANDLE h = FindFirstFileA((folder + "\\*").c_str(), &found);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      std::string name = found.cFileName;
      if (name == "." || name == "..") continue;
      std::string path = folder + "\\" + name;
      SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        remove_tree(path);
      else
        DeleteFileA(path.c_str());
    } while (FindNextFileA(h, &found));
    FindClose(h);
  }
  RemoveDirectoryA(folder.c_str());
}

// A setup file with one stored stream per content, the data area opened on
// it; items refer to the streams by number.
struct ItemSource {
  std::vector<std::pair<uint32_t, uint32_t>> placements;
  std::vector<std::string> contents;

  bool make(const std::string& setup_path, uint32_t prefix, const std::vector<std::string>& texts) {
    std::vector<std::vector<uint8_t>> streams;
    for (const auto& c : texts) streams.push_back(stored_stream(bytes_of(c)));
    placements.clear();
    contents = texts;
    return write_setup_file(setup_path, prefix, streams, &placements) && open_data_area(setup_path, prefix);
  }
  // An item of that name whose data is stream `stream`.
  EntryFields item(const std::string& name, int stream) const {
    EntryFields e;
    e.strings[0] = name;
    e.data_position = placements[stream].first;
    e.data_length = placements[stream].second;
    e.size = static_cast<uint32_t>(contents[stream].size());
    e.checksum = checksum_of(bytes_of(contents[stream]));
    return e;
  }
};
