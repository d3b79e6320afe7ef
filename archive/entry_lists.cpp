#include "archive/entry_lists.h"

#include "archive/format.h"
#include "base/path_list.h"

// Takes a terminated string at p; null when no terminator lies before end.
static const uint8_t* take_string(const uint8_t* p, const uint8_t* end, const char** out) {
  if (!p) return nullptr;
  *out = reinterpret_cast<const char*>(p);
  while (p < end && *p) ++p;
  return p < end ? p + 1 : nullptr;
}

const uint8_t* parse_ini_entry(const uint8_t* p, const uint8_t* end, IniEntry* out) {
  if (end - p < 1) return nullptr;
  out->flags = *p++;
  p = take_string(p, end, &out->file);
  p = take_string(p, end, &out->section);
  p = take_string(p, end, &out->key);
  return take_string(p, end, &out->value);
}

const uint8_t* parse_registry_entry(const uint8_t* p, const uint8_t* end, RegistryEntry* out) {
  if (end - p < 5) return nullptr;
  out->root_key = get_u32(p);
  out->flags = p[4];
  p += 5;
  p = take_string(p, end, &out->key);
  p = take_string(p, end, &out->value_name);
  return take_string(p, end, &out->value);
}

const uint8_t* parse_string_patch(const uint8_t* p, const uint8_t* end, StringPatchEntry* out) {
  if (end - p < 13) return nullptr;
  out->offset = static_cast<int32_t>(get_u32(p));
  out->pattern_length = get_u32(p + 4);
  p += 13;
  p = take_string(p, end, &out->file);
  p = take_string(p, end, &out->text);
  if (!p || static_cast<uint32_t>(end - p) < out->pattern_length) return nullptr;
  out->pattern = p;
  return p + out->pattern_length;
}

const uint8_t* parse_path_entry(const uint8_t* p, const uint8_t* end, PathEntry* out) {
  if (end - p < 1 || *p >= kPathScopeCount) return nullptr;
  out->scope = *p++;
  return take_string(p, end, &out->folder);
}

bool check_entry_list(EntryListKind kind, const uint8_t* list, uint32_t length) {
  if (length < 2) return false;
  const uint8_t* end = list + length;
  const uint8_t* p = list + 2;
  for (uint16_t n = get_u16(list); n > 0; --n) {
    IniEntry ini;
    RegistryEntry registry;
    StringPatchEntry patch;
    PathEntry path;
    switch (kind) {
      case kIniList: p = parse_ini_entry(p, end, &ini); break;
      case kRegistryList: p = parse_registry_entry(p, end, &registry); break;
      case kStringPatchList: p = parse_string_patch(p, end, &patch); break;
      case kPathList: p = parse_path_entry(p, end, &path); break;
      case kEntryListCount: return false;
    }
    if (!p) return false;
  }
  return true;
}
