#include "builder/record_writer.h"

#include "builder/block_writer.h"

namespace {

bool fail(std::string* error, const std::string& what) {
  if (error) *error = what;
  return false;
}

// A text as the archive stores it: its bytes and a NUL.
bool append_text(std::vector<uint8_t>* out, const std::string& text, const std::string& what, std::string* error) {
  if (text.find('\0') != std::string::npos) return fail(error, what + " holds a NUL character");
  out->insert(out->end(), text.begin(), text.end());
  out->push_back(0);
  return true;
}

bool fits_u32(size_t size) { return size <= 0xFFFFFFFFu; }

const char* const kRecordFieldNames[] = {"uninstall name", "caption",     "default folder", "registry key",
                                         "registry value", "INI file",    "INI section",    "INI key"};

}  // namespace

bool encode_setup_type_record(const SetupTypeRecordFields& values, std::vector<uint8_t>* out, std::string* error) {
  std::vector<uint8_t> record(kRecordFixedSize, 0);
  put_u16(&record[kRecordFlags], values.flags);
  put_u32(&record[kRecordRootKey], values.root_key);
  const std::optional<std::string>* texts[] = {&values.uninstall_name, &values.caption,
                                                &values.default_folder, &values.registry_key,
                                                &values.registry_value, &values.ini_file,
                                                &values.ini_section,    &values.ini_key};
  const uint32_t fields[] = {kRecordUninstallName, kRecordCaption,  kRecordDefaultFolder, kRecordRegistryKey,
                             kRecordRegistryValue, kRecordIniFile, kRecordIniSection,    kRecordIniKey};
  // Offsets are taken before each append, so they always point at what was
  // written; the length check at the end covers them all.
  for (int i = 0; i < 8; ++i) {
    if (!*texts[i]) continue;
    uint32_t at = static_cast<uint32_t>(record.size());
    if (!append_text(&record, **texts[i], std::string("setup type ") + kRecordFieldNames[i], error)) return false;
    put_u32(&record[fields[i]], at);
  }
  for (int list = 0; list < kTextListCount; ++list) {
    const auto& strings = values.text_lists[list];
    if (!strings) continue;
    uint32_t at = static_cast<uint32_t>(record.size());
    if (!encode_text_list(*strings, "text " + std::to_string(list), &record, error)) return false;
    put_u32(&record[kRecordTextLists + 4 * list], at);
  }
  if (!fits_u32(record.size())) return fail(error, "setup type record is larger than 4 GiB");
  out->insert(out->end(), record.begin(), record.end());
  return true;
}

bool encode_text_list(const std::vector<std::string>& texts, const std::string& what, std::vector<uint8_t>* out,
                      std::string* error) {
  if (texts.size() > 0xFFFF) return fail(error, what + " list holds more than 65535 texts");
  append_u16(out, static_cast<uint16_t>(texts.size()));
  for (size_t n = 0; n < texts.size(); ++n)
    if (!append_text(out, texts[n], what + "/" + std::to_string(n), error)) return false;
  return true;
}

bool encode_file_entry(const FileEntryFields& values, std::vector<uint8_t>* out, std::string* error) {
  std::vector<uint8_t> entry(kEntryFixedSize, 0);
  put_u16(&entry[kEntryStatus], values.status);
  put_u16(&entry[kEntryIconIndex], values.icon_index);
  entry[kEntryFolderCode] = values.folder_code;
  entry[kEntryFinishRole] = values.finish_role;
  entry[kEntryShared] = values.shared;
  entry[kEntryKind] = values.kind;
  entry[kEntryRegistration] = values.registration;
  entry[kEntryFlags] = values.flags;
  put_u32(&entry[kEntryChecksum], values.checksum);
  put_u32(&entry[kEntrySize], values.size);
  put_u32(&entry[kEntryDataPosition], values.data_position);
  put_u32(&entry[kEntryDataLength], values.data_length);
  put_u32(&entry[kEntryIndex], static_cast<uint32_t>(values.entry_index));
  put_u16(&entry[kEntrySetupType], values.setup_type);
  if (values.flags & (kItemCompareVersion | kItemCompareLanguage)) {
    append_u32(&entry, values.version.version_ms);
    append_u32(&entry, values.version.version_ls);
    entry.insert(entry.end(), 8, 0);  // not read by the installer
    append_u32(&entry, values.version.language);
  }
  if (values.flags & kItemHasTimes) {
    for (uint64_t time : {values.times.creation, values.times.last_access, values.times.last_write}) {
      append_u32(&entry, static_cast<uint32_t>(time));  // FILETIME: low word first
      append_u32(&entry, static_cast<uint32_t>(time >> 32));
    }
  }
  const std::string* strings[kEntryStringCount] = {&values.name,         &values.menu_locations,
                                                   &values.menu_name,    &values.menu_arguments,
                                                   &values.desktop_name, &values.desktop_arguments};
  for (const std::string* s : strings)
    if (!append_text(&entry, *s, "file entry \"" + values.name.substr(0, values.name.find('\0')) + "\"", error))
      return false;
  if (!fits_u32(entry.size())) return fail(error, "file entry is larger than 4 GiB");
  put_u32(&entry[kEntryLength], static_cast<uint32_t>(entry.size()));
  out->insert(out->end(), entry.begin(), entry.end());
  return true;
}

bool encode_file_list(const std::vector<FileEntryFields>& entries, std::vector<uint8_t>* out, std::string* error) {
  std::vector<uint8_t> list;
  if (!fits_u32(entries.size())) return fail(error, "too many file entries");
  append_u32(&list, static_cast<uint32_t>(entries.size()));
  for (const FileEntryFields& entry : entries)
    if (!encode_file_entry(entry, &list, error)) return false;
  if (!fits_u32(list.size())) return fail(error, "file list is larger than 4 GiB");
  out->insert(out->end(), list.begin(), list.end());
  return true;
}

namespace {

// The u16 count in front of a settings list.
bool append_list_count(std::vector<uint8_t>* out, size_t count, const char* what, std::string* error) {
  if (count > 0xFFFF) return fail(error, std::string("more than 65535 ") + what);
  append_u16(out, static_cast<uint16_t>(count));
  return true;
}

bool finish_list(std::vector<uint8_t>* out, const std::vector<uint8_t>& list, const char* what,
                 std::string* error) {
  if (!fits_u32(list.size())) return fail(error, std::string(what) + " are larger than 4 GiB");
  out->insert(out->end(), list.begin(), list.end());
  return true;
}

// The installer searches for a pattern in windows of 32 KiB moved by half
// their size; a longer pattern could never be found.
const size_t kMaxPattern = 16384;

}  // namespace

bool encode_ini_list(const std::vector<IniEntryFields>& entries, std::vector<uint8_t>* out, std::string* error) {
  std::vector<uint8_t> list;
  if (!append_list_count(&list, entries.size(), "INI entries", error)) return false;
  for (const IniEntryFields& e : entries) {
    list.push_back(e.flags);
    std::string what = "INI entry " + e.section.substr(0, e.section.find('\0')) + "/" +
                       e.key.substr(0, e.key.find('\0'));
    if (!append_text(&list, e.file, what, error) || !append_text(&list, e.section, what, error) ||
        !append_text(&list, e.key, what, error) || !append_text(&list, e.value, what, error))
      return false;
  }
  return finish_list(out, list, "INI entries", error);
}

bool encode_registry_list(const std::vector<RegistryEntryFields>& entries, std::vector<uint8_t>* out,
                          std::string* error) {
  std::vector<uint8_t> list;
  if (!append_list_count(&list, entries.size(), "registry entries", error)) return false;
  for (const RegistryEntryFields& e : entries) {
    append_u32(&list, e.root_key);
    list.push_back(e.flags);
    std::string what = "registry entry " + e.key.substr(0, e.key.find('\0'));
    if (!append_text(&list, e.key, what, error) || !append_text(&list, e.value_name, what, error) ||
        !append_text(&list, e.value, what, error))
      return false;
  }
  return finish_list(out, list, "registry entries", error);
}

bool encode_path_list(const std::vector<PathEntryFields>& entries, std::vector<uint8_t>* out, std::string* error) {
  std::vector<uint8_t> list;
  if (!append_list_count(&list, entries.size(), "search path entries", error)) return false;
  for (const PathEntryFields& e : entries) {
    if (e.scope >= kPathScopeCount) return fail(error, "search path entry with scope " + std::to_string(e.scope));
    list.push_back(e.scope);
    if (!append_text(&list, e.folder, "search path entry " + e.folder.substr(0, e.folder.find('\0')), error))
      return false;
  }
  return finish_list(out, list, "search path entries", error);
}

bool encode_string_patch_list(const std::vector<StringPatchFields>& entries, std::vector<uint8_t>* out,
                              std::string* error) {
  std::vector<uint8_t> list;
  if (!append_list_count(&list, entries.size(), "string patches", error)) return false;
  for (const StringPatchFields& e : entries) {
    std::string what = "string patch of " + e.file.substr(0, e.file.find('\0'));
    if (e.offset < -1) return fail(error, what + ": negative offset " + std::to_string(e.offset));
    if (e.offset == -1 && e.pattern.empty()) return fail(error, what + ": no offset and no pattern");
    if (e.offset == -1 && e.pattern.size() > kMaxPattern)
      return fail(error, what + ": a pattern of more than 16384 bytes cannot be found");
    if (!fits_u32(e.pattern.size())) return fail(error, what + ": pattern larger than 4 GiB");
    append_u32(&list, static_cast<uint32_t>(e.offset));
    append_u32(&list, static_cast<uint32_t>(e.pattern.size()));
    list.insert(list.end(), 5, 0);  // not read by the installer
    if (!append_text(&list, e.file, what, error) || !append_text(&list, e.text, what, error)) return false;
    list.insert(list.end(), e.pattern.begin(), e.pattern.end());
  }
  return finish_list(out, list, "string patches", error);
}

bool encode_template_store(const std::vector<std::vector<uint8_t>>& templates, std::vector<uint8_t>* out,
                           std::string* error) {
  if (templates.empty() || templates[0].empty())
    return fail(error, "dialog template 0 is missing: the store's size is read from its offset");
  if (templates.size() > 0xFFFFFFFFu / 4) return fail(error, "too many dialog templates");
  std::vector<uint8_t> store(4 * templates.size(), 0);
  for (size_t k = 0; k < templates.size(); ++k) {
    if (templates[k].empty()) continue;
    if (!fits_u32(store.size())) return fail(error, "dialog templates are larger than 4 GiB");
    put_u32(&store[4 * k], static_cast<uint32_t>(store.size()));
    store.insert(store.end(), templates[k].begin(), templates[k].end());
  }
  if (!fits_u32(store.size())) return fail(error, "dialog templates are larger than 4 GiB");
  out->insert(out->end(), store.begin(), store.end());
  return true;
}

void encode_start_page(const StartPageFields& values, std::vector<uint8_t>* out) {
  append_u16(out, values.start_page);
  append_u16(out, values.setup_type);
}

bool encode_background_style(const BackgroundStyleFields& values, std::vector<uint8_t>* out, std::string* error) {
  const LogFontFields& f = values.font;
  if (f.face_name.size() > 31 || f.face_name.find('\0') != std::string::npos)
    return fail(error, "font face name \"" + f.face_name.substr(0, f.face_name.find('\0')) +
                           "\" is longer than 31 bytes or holds a NUL");
  std::vector<uint8_t> style;
  append_u32(&style, values.shadow_color);
  append_u32(&style, values.text_color);
  for (int32_t v : {f.height, f.width, f.escapement, f.orientation, f.weight}) append_u32(&style, static_cast<uint32_t>(v));
  style.insert(style.end(), {f.italic, f.underline, f.strike_out, f.char_set, f.out_precision, f.clip_precision,
                             f.quality, f.pitch_and_family});
  style.insert(style.end(), f.face_name.begin(), f.face_name.end());
  style.resize(kBackgroundStyleSize, 0);
  out->insert(out->end(), style.begin(), style.end());
  return true;
}

bool encode_background_title(const std::string& title, std::vector<uint8_t>* out, std::string* error) {
  return append_text(out, title, "background title", error);
}

bool check_bitmap_file(const std::vector<uint8_t>& bitmap, std::string* error) {
  if (bitmap.size() < kBitmapHeadersSize || bitmap[0] != 'B' || bitmap[1] != 'M')
    return fail(error, "not a bitmap file (\"BM\" with its 14-byte file header and 40-byte information header)");
  // The painter takes the colour table and the pixels to start right after
  // a BITMAPINFOHEADER; the larger V4 and V5 headers would shift them.
  if (get_u32(&bitmap[14]) != 40)
    return fail(error, "the bitmap's information header is " + std::to_string(get_u32(&bitmap[14])) +
                           " bytes long; only the 40-byte BITMAPINFOHEADER can be shown");
  if (!fits_u32(bitmap.size())) return fail(error, "bitmap larger than 4 GiB");
  return true;
}
