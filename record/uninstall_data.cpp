#include "record/uninstall_data.h"

#include <string.h>

#include "archive/format.h"
#include "base/path_list.h"
#include "base/path_strings.h"

namespace {

struct Reader {
  const uint8_t* p;
  size_t left;
  bool u8(uint8_t* v) {
    if (left < 1) return false;
    *v = *p++;
    --left;
    return true;
  }
  bool u16(uint16_t* v) {
    if (left < 2) return false;
    *v = get_u16(p);
    p += 2;
    left -= 2;
    return true;
  }
  bool u32(uint32_t* v) {
    if (left < 4) return false;
    *v = get_u32(p);
    p += 4;
    left -= 4;
    return true;
  }
  // The setup writes texts without their terminator, so none holds a NUL:
  // one would cut the path or key acted on short of what the record says.
  bool counted(RecordText* t) {
    uint16_t n = 0;
    if (!u16(&n) || left < n || memchr(p, 0, n)) return false;
    t->text = reinterpret_cast<const char*>(p);
    t->length = n;
    p += n;
    left -= n;
    return true;
  }
};

bool read_remove_record(Reader* r) {
  RecordText folder, name;
  uint8_t flags = 0;
  return r->counted(&folder) && r->counted(&name) && r->u8(&flags);
}

// A shared file's record counts the installations that raised its count:
// at least one, or it would not be listed.
bool read_earlier_removal(Reader* r) {
  RecordText folder, name;
  uint8_t flags = 0;
  uint32_t uses = 1;
  if (!r->counted(&folder) || !r->counted(&name) || !r->u8(&flags)) return false;
  return !(flags & kRemoveShared) || (r->u32(&uses) && uses != 0);
}

bool read_shortcut_record(Reader* r) {
  RecordText folder, file;
  return r->counted(&folder) && r->counted(&file);
}

bool read_setting(Reader* r, SettingRecord* s) {
  *s = SettingRecord();
  if (!r->u8(&s->kind)) return false;
  if (s->kind == kSettingRegistryValue)
    return r->u32(&s->root) && r->counted(&s->path) && r->counted(&s->name) && r->u8(&s->flags) &&
           r->u8(&s->created_keys);
  if (s->kind == kSettingIniEntry)
    return r->counted(&s->path) && r->counted(&s->section) && r->counted(&s->name) && r->u8(&s->flags);
  return false;
}

// An entry with a scope that names no search path, an empty one, one too
// long for a folder or one that holds a separator is not what the setup
// wrote: acted on, it could take out another entry.
bool read_path_record(Reader* r) {
  uint8_t scope = 0;
  RecordText entry;
  return r->u8(&scope) && scope < kPathScopeCount && r->counted(&entry) && entry.length > 0 &&
         entry.length < kPathEntryCapacity && !memchr(entry.text, ';', entry.length);
}

bool read_folder_record(Reader* r) {
  RecordText folder;
  return r->counted(&folder);
}

bool read_setting_record(Reader* r) {
  SettingRecord setting;
  return read_setting(r, &setting);
}

// The records follow their count; each is checked to lie whole inside the
// block, which must hold nothing else. Each record takes at least
// shortest bytes: a larger count cannot be real.
bool check_list(Reader r, uint32_t shortest, bool (*read_record)(Reader*), const uint8_t** list, uint32_t* count) {
  if (!r.u32(count) || *count > r.left / shortest) return false;
  *list = r.p;
  for (uint32_t i = 0; i < *count; ++i)
    if (!read_record(&r)) return false;
  return r.left == 0;
}

UninstallDataStatus parse_chain(const uint8_t* data, size_t length, UninstallData* out, bool earlier);

// An earlier installation is a whole record of its own, which holds no
// earlier ones itself: the setup lists them side by side.
bool check_earlier(Reader payload) {
  UninstallData earlier = UninstallData();
  return parse_chain(payload.p, payload.left, &earlier, true) == UninstallDataStatus::kOk;
}

UninstallDataStatus parse_chain(const uint8_t* data, size_t length, UninstallData* out, bool earlier) {
  if (length == 0) return UninstallDataStatus::kMissing;
  Reader r{data, length};
  bool first = true;
  // Each block but an earlier installation may occur once; a repeated one
  // means the chain is not what the setup wrote.
  bool seen_shortcuts = false, seen_settings = false, seen_paths = false;
  for (;;) {
    const uint8_t* header = r.p;
    uint16_t id = 0, flags = 0;
    uint32_t size = 0;
    if (!r.u16(&id) || !r.u16(&flags) || !r.u32(&size)) {
      return first ? UninstallDataStatus::kMissing : UninstallDataStatus::kDamaged;
    }
    // The chain must open with the RemoveList; without it this is no record.
    if (first && id == kUsedRemoveListId && !earlier) return UninstallDataStatus::kUsed;
    if (first && id != kRemoveListId) return earlier ? UninstallDataStatus::kDamaged : UninstallDataStatus::kMissing;
    bool opening = first;
    first = false;
    if (flags != 0 || size > r.left) return UninstallDataStatus::kDamaged;
    Reader payload{r.p, size};
    r.p += size;
    r.left -= size;
    switch (id) {
      case kRemoveListId:
        if (!opening || !check_list(payload, 5, read_remove_record, &out->remove_list, &out->remove_count))
          return UninstallDataStatus::kDamaged;
        break;
      case kShortcutListId:
        if (seen_shortcuts ||
            !check_list(payload, 4, read_shortcut_record, &out->shortcut_list, &out->shortcut_count))
          return UninstallDataStatus::kDamaged;
        seen_shortcuts = true;
        break;
      case kUninstallKeyBlockId:
        if (out->has_uninstall_key || !payload.u32(&out->uninstall_root) ||
            !payload.counted(&out->uninstall_key) || payload.left != 0)
          return UninstallDataStatus::kDamaged;
        out->has_uninstall_key = true;
        break;
      case kInstallFolderId:
        if (out->has_install_folder || !payload.counted(&out->install_folder) || payload.left != 0)
          return UninstallDataStatus::kDamaged;
        out->has_install_folder = true;
        break;
      case kSettingsListId:
        if (seen_settings ||
            !check_list(payload, 8, read_setting_record, &out->setting_list, &out->setting_count))
          return UninstallDataStatus::kDamaged;
        seen_settings = true;
        break;
      case kPathEntriesId:
        if (seen_paths || !check_list(payload, 4, read_path_record, &out->path_list, &out->path_count))
          return UninstallDataStatus::kDamaged;
        seen_paths = true;
        break;
      case kNativeModeId:
        // Removed from the wrong view and folders, the installation would stay.
        if (out->architecture != kArchitectureX86 || !payload.u32(&out->architecture) || payload.left != 0 ||
            out->architecture < kArchitectureX64 || out->architecture > kArchitectureX64Compatible)
          return UninstallDataStatus::kDamaged;
        break;
      case kEarlierInstallationId:
        if (earlier || !check_earlier(payload)) return UninstallDataStatus::kDamaged;
        if (out->earlier_count++ == 0) out->earlier = header;
        break;
      case kEarlierRemovalsId:
        // Only the newest installation carries the merged list, once.
        if (earlier || out->earlier_removals ||
            !check_list(payload, 5, read_earlier_removal, &out->earlier_removals, &out->earlier_removal_count))
          return UninstallDataStatus::kDamaged;
        break;
      case kUninstallerTextsId: {
        // Only texts: a block that does not read whole leaves the uninstaller its own.
        RecordText texts[kUninstallerTextCount] = {};
        bool whole = true;
        for (RecordText& text : texts) whole = whole && payload.counted(&text);
        if (whole && payload.left == 0) memcpy(out->texts, texts, sizeof texts);
        break;
      }
      case kLanguageTextsId: {
        RecordText code = {}, texts[kUninstallerAllTextCount] = {};
        bool whole = payload.counted(&code);
        for (RecordText& text : texts) whole = whole && payload.counted(&text);
        if (whole && payload.left == 0) {
          memcpy(out->language_texts, texts, sizeof texts);
          out->has_language = true;
        }
        break;
      }
      case kMadeFoldersId:
        // Passed over when it does not read whole: the folders then stay.
        if (out->made_folders ||
            !check_list(payload, 2, read_folder_record, &out->made_folders, &out->made_folder_count)) {
          out->made_folders = nullptr;
          out->made_folder_count = 0;
        }
        break;
      case kUninstallEndId:
        return size == 0 ? UninstallDataStatus::kOk : UninstallDataStatus::kDamaged;
      default:
        // What a reader may pass over; what it must understand, it does not.
        if (id <= kLastRequiredExtensionId || id > kLastExtensionId) return UninstallDataStatus::kDamaged;
        break;
    }
  }
}

RecordText next_text(const uint8_t** cursor) {
  RecordText t{reinterpret_cast<const char*>(*cursor + 2), get_u16(*cursor)};
  *cursor += 2 + t.length;
  return t;
}

}  // namespace

UninstallDataStatus parse_uninstall_data(const uint8_t* data, size_t length, UninstallData* out) {
  *out = UninstallData();
  UninstallDataStatus status = parse_chain(data, length, out, false);
  // A damaged record yields nothing, so no caller can act on half of it.
  if (status != UninstallDataStatus::kOk) *out = UninstallData();
  return status;
}

RemoveRecord next_remove_record(const uint8_t** cursor) {
  RemoveRecord record;
  record.folder = next_text(cursor);
  record.name = next_text(cursor);
  record.flags = **cursor;
  ++*cursor;
  return record;
}

EarlierRemoval next_earlier_removal(const uint8_t** cursor) {
  EarlierRemoval removal{next_remove_record(cursor), 1};
  if (removal.record.flags & kRemoveShared) {
    removal.uses = get_u32(*cursor);
    *cursor += 4;
  }
  return removal;
}

ShortcutRecord next_shortcut_record(const uint8_t** cursor) {
  ShortcutRecord record;
  record.folder = next_text(cursor);
  record.file = next_text(cursor);
  return record;
}

SettingRecord next_setting_record(const uint8_t** cursor) {
  // The list was checked whole; its end lies beyond every record.
  Reader r{*cursor, SIZE_MAX};
  SettingRecord setting;
  read_setting(&r, &setting);
  *cursor = r.p;
  return setting;
}

PathEntryRecord next_path_record(const uint8_t** cursor) {
  PathEntryRecord record;
  record.scope = **cursor;
  ++*cursor;
  record.entry = next_text(cursor);
  return record;
}

RecordText next_made_folder(const uint8_t** cursor) { return next_text(cursor); }

UninstallData next_earlier_installation(const uint8_t** cursor) {
  UninstallData earlier = UninstallData();
  for (;;) {
    uint16_t id = get_u16(*cursor);
    uint32_t size = get_u32(*cursor + 4);
    const uint8_t* payload = *cursor + 8;
    *cursor = payload + size;
    if (id == kEarlierInstallationId) {
      parse_chain(payload, size, &earlier, true);
      return earlier;
    }
  }
}

bool side_record_path(const char* uninstaller, char* out, size_t capacity) {
  return copy_string(out, uninstaller, capacity) && set_extension(out, capacity, kSideRecordExtension) &&
         !same_folded(out, uninstaller, strlen(uninstaller) + 1);
}
