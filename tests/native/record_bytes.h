// Installation records as the setup appends them to the uninstaller, and
// their parsed form read back into plain values for comparing.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "record/uninstall_data.h"

struct Removed {
  std::string folder;
  std::string name;
  uint8_t flags;
};

struct Shortcut {
  std::string folder;
  std::string file;
};

struct RecordWriter {
  std::vector<uint8_t> bytes;
  void u8(uint8_t v) { bytes.push_back(v); }
  void u16(uint16_t v) {
    u8(v & 0xFF);
    u8(v >> 8);
  }
  void u32(uint32_t v) {
    u16(v & 0xFFFF);
    u16(v >> 16);
  }
  void text(const std::string& s) {
    u16(static_cast<uint16_t>(s.size()));
    bytes.insert(bytes.end(), s.begin(), s.end());
  }
  void block(uint16_t id, const std::vector<uint8_t>& payload) {
    u16(id);
    u16(0);
    u32(static_cast<uint32_t>(payload.size()));
    bytes.insert(bytes.end(), payload.begin(), payload.end());
  }
};

inline std::vector<uint8_t> remove_list(const std::vector<Removed>& records) {
  RecordWriter w;
  w.u32(static_cast<uint32_t>(records.size()));
  for (const Removed& r : records) {
    w.text(r.folder);
    w.text(r.name);
    w.u8(r.flags);
  }
  return w.bytes;
}

inline std::vector<uint8_t> shortcut_list(const std::vector<Shortcut>& records) {
  RecordWriter w;
  w.u32(static_cast<uint32_t>(records.size()));
  for (const Shortcut& r : records) {
    w.text(r.folder);
    w.text(r.file);
  }
  return w.bytes;
}

// A whole record: its lists, the key when key_root is not 0, the end.
inline std::vector<uint8_t> record_bytes(const std::vector<Removed>& files, const std::vector<Shortcut>& shortcuts,
                                         uint32_t key_root, const std::string& key) {
  RecordWriter w;
  w.block(kRemoveListId, remove_list(files));
  if (!shortcuts.empty()) w.block(kShortcutListId, shortcut_list(shortcuts));
  if (key_root != 0) {
    RecordWriter k;
    k.u32(key_root);
    k.text(key);
    w.block(kUninstallKeyBlockId, k.bytes);
  }
  w.block(kUninstallEndId, {});
  return w.bytes;
}

inline std::string text_of(RecordText t) { return std::string(t.text, t.length); }

inline std::vector<Removed> removed_records(const UninstallData& data) {
  std::vector<Removed> out;
  const uint8_t* cursor = data.remove_list;
  for (uint32_t i = 0; i < data.remove_count; ++i) {
    RemoveRecord r = next_remove_record(&cursor);
    out.push_back({text_of(r.folder), text_of(r.name), r.flags});
  }
  return out;
}

inline std::vector<Shortcut> shortcut_records(const UninstallData& data) {
  std::vector<Shortcut> out;
  const uint8_t* cursor = data.shortcut_list;
  for (uint32_t i = 0; i < data.shortcut_count; ++i) {
    ShortcutRecord r = next_shortcut_record(&cursor);
    out.push_back({text_of(r.folder), text_of(r.file)});
  }
  return out;
}
