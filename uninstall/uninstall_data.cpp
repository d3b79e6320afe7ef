#include "uninstall/uninstall_data.h"

#include <string.h>

#include "archive/format.h"

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

// The records follow their count; each is checked to lie whole inside the
// block, which must hold nothing else.
bool check_remove_list(Reader r, UninstallData* out) {
  uint32_t count = 0;
  if (!r.u32(&count)) return false;
  // Each record takes at least 5 bytes; a larger count cannot be real.
  if (count > r.left / 5) return false;
  out->remove_list = r.p;
  out->remove_count = count;
  for (uint32_t i = 0; i < count; ++i) {
    RecordText folder, name;
    uint8_t flags = 0;
    if (!r.counted(&folder) || !r.counted(&name) || !r.u8(&flags)) return false;
  }
  return r.left == 0;
}

bool check_shortcut_list(Reader r, UninstallData* out) {
  uint32_t count = 0;
  if (!r.u32(&count)) return false;
  // Two counted strings take at least 4 bytes.
  if (count > r.left / 4) return false;
  out->shortcut_list = r.p;
  out->shortcut_count = count;
  for (uint32_t i = 0; i < count; ++i) {
    RecordText folder, file;
    if (!r.counted(&folder) || !r.counted(&file)) return false;
  }
  return r.left == 0;
}

UninstallDataStatus parse_chain(const uint8_t* data, size_t length, UninstallData* out) {
  if (length == 0) return UninstallDataStatus::kMissing;
  Reader r{data, length};
  bool first = true;
  // Each block may occur once; a repeated one means the chain is not what
  // the setup wrote.
  bool seen_shortcuts = false;
  for (;;) {
    uint16_t id = 0, flags = 0;
    uint32_t size = 0;
    if (!r.u16(&id) || !r.u16(&flags) || !r.u32(&size)) {
      return first ? UninstallDataStatus::kMissing : UninstallDataStatus::kDamaged;
    }
    // The chain must open with the RemoveList; without it this is no record.
    if (first && id != kRemoveListId) return UninstallDataStatus::kMissing;
    bool opening = first;
    first = false;
    if (flags != 0 || size > r.left) return UninstallDataStatus::kDamaged;
    Reader payload{r.p, size};
    r.p += size;
    r.left -= size;
    switch (id) {
      case kRemoveListId:
        if (!opening || !check_remove_list(payload, out)) return UninstallDataStatus::kDamaged;
        break;
      case kShortcutListId:
        if (seen_shortcuts || !check_shortcut_list(payload, out)) return UninstallDataStatus::kDamaged;
        seen_shortcuts = true;
        break;
      case kUninstallKeyBlockId:
        if (out->has_uninstall_key || !payload.u32(&out->uninstall_root) ||
            !payload.counted(&out->uninstall_key) || payload.left != 0)
          return UninstallDataStatus::kDamaged;
        out->has_uninstall_key = true;
        break;
      case kUninstallEndId:
        return size == 0 ? UninstallDataStatus::kOk : UninstallDataStatus::kDamaged;
      default:
        return UninstallDataStatus::kDamaged;
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
  UninstallDataStatus status = parse_chain(data, length, out);
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

ShortcutRecord next_shortcut_record(const uint8_t** cursor) {
  ShortcutRecord record;
  record.folder = next_text(cursor);
  record.file = next_text(cursor);
  return record;
}
