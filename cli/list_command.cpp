// kestrel list SETUP: the setup types of a setup file with their items and
// settings lists, as the installer would read them.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "archive/config.h"
#include "archive/entry_lists.h"
#include "archive/file_entry.h"
#include "archive/format.h"
#include "archive/languages.h"
#include "archive/platform_host.h"
#include "base/path_list.h"
#include "builder/setup_signature.h"
#include "cli/cli_support.h"
#include "cli/setup_reader.h"
#include "cli/setup_scan.h"

namespace {

std::string quoted(const char* text) { return text ? "\"" + setup_text(text) + "\"" : std::string("(none)"); }

const char* root_key_name(uint32_t code) {
  switch (code) {
    case 0: return "HKEY_CLASSES_ROOT";
    case 2: return "HKEY_LOCAL_MACHINE";
    case 3: return "HKEY_USERS";
    case kRootOfScope: return "HKA (HKEY_LOCAL_MACHINE for all users, HKEY_CURRENT_USER for one)";
  }
  return "HKEY_CURRENT_USER";
}

std::string item_flags(const uint8_t* entry) {
  std::string text;
  auto add = [&](const std::string& word) { text += (text.empty() ? "" : ", ") + word; };
  uint8_t flags = entry[kEntryFlags];
  switch (entry[kEntryKind]) {
    case kKindRemovable: add("removed by the uninstaller"); break;
    case kKindInSource: add("lies beside the setup file"); break;
    case kKindFolder: add("folder"); break;
  }
  if (flags & kItemUninstaller) add("uninstaller");
  if (flags & kItemPatch)
    add("patch of setup type " + std::to_string(get_u16(entry + kEntrySetupType)) + " item " +
        std::to_string(static_cast<int32_t>(get_u32(entry + kEntryIndex))));
  if (flags & kItemFromSource) add("copied from beside the setup file");
  if (flags & kItemSolid) add("in the solid stream");
  if (flags & kItemCompareVersion) add("compare versions");
  if (flags & kItemCompareLanguage) add("compare languages");
  if (flags & kItemHasTimes) add("file times");
  if (entry[kEntryShared] == 1 && entry[kEntryFolderCode] != kFolderInstallDir) add("shared");
  if (entry[kEntryRegistration] == kRegisterScreenSaver)
    add(HasStartPageBlock ? "screen saver, never installed (start-page block)" : "screen saver");
  if (entry[kEntryRegistration] == kRegisterLibrary) add("self-registering");
  if (entry[kEntryFinishRole] == kRoleDocument) add("document shown at the end");
  if (entry[kEntryFinishRole] == kRoleProgram)
    add(HasStartPageBlock ? "program offered at the end, never run (start-page block)" : "program run at the end");
  return text.empty() ? "-" : text;
}

// An item's signature state, from its content decoded into `work`; the
// items beside the setup file are not in it.
std::string item_signature_line(const uint8_t* entry, const std::string& work) {
  ItemContent content = item_content(entry);
  if (content == ItemContent::kNothing || content == ItemContent::kBesideSetup || work.empty()) return "";
  std::string error, file = work + "/item";
  if (!write_item_content(entry, file, &error)) return "unreadable: " + error;
  std::string state = decoded_item_signature(file);
  ::unlink(file.c_str());
  return state;
}

void print_items(int type, const std::string& work) {
  const SetupTypeSlot& slot = SetupTypeTable[type];
  if (slot.solid && slot.solid_length >= kSolidBlockSize) {
    const uint8_t* s = slot.solid;
    printf("  solid stream: method %u (%s), %u bytes at %u, LZMA properties lc %u lp %u pb %u, dictionary %u bytes\n",
           s[kSolidMethod], s[kSolidMethod] == kSolidLzma ? "LZMA" : "unknown", get_u32(s + kSolidLength),
           get_u32(s + kSolidPosition), s[kSolidProperties] % 9, s[kSolidProperties] / 9 % 5, s[kSolidProperties] / 45,
           get_u32(s + kSolidDictionary));
  }
  uint32_t count = file_entry_count(type);
  printf("  items: %u\n", count);
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* entry = file_entry_at(type, i);
    printf("    %u: %s%s\n", i, item_destination(entry).c_str(),
           entry[kEntryKind] != kKindInSource && entry[kEntryFolderCode] == kFolderShared ? " (shared system file)" : "");
    printf("       size %u, stored %u at %u, checksum %08X; %s\n", get_u32(entry + kEntrySize),
           get_u32(entry + kEntryDataLength), get_u32(entry + kEntryDataPosition), get_u32(entry + kEntryChecksum),
           item_flags(entry).c_str());
    std::string signature = item_signature_line(entry, work);
    if (!signature.empty()) printf("       signature: %s\n", signature.c_str());
    if (entry_string(entry, 2)[0])
      printf("       start menu shortcut %s in %s, arguments %s, icon %u\n", quoted(entry_string(entry, 2)).c_str(),
             quoted(entry_string(entry, 1)).c_str(), quoted(entry_string(entry, 3)).c_str(),
             get_u16(entry + kEntryIconIndex));
    if (entry_string(entry, 4)[0])
      printf("       desktop shortcut %s, arguments %s\n", quoted(entry_string(entry, 4)).c_str(),
             quoted(entry_string(entry, 5)).c_str());
  }
}

// What the setup and its uninstaller do with a setting, after its value.
std::string setting_notes(uint8_t flags) {
  std::string notes;
  if (flags & kEntryKeepExisting) notes += " (keep existing)";
  if (flags & kEntryDeleteKeyIfEmpty) notes += " (deleted at uninstall, with its key when empty)";
  else if (flags & kEntryDeleteAtUninstall) notes += " (deleted at uninstall)";
  return notes;
}

std::string remembered_notes(uint16_t flags, uint16_t written) {
  std::string notes = flags & written ? " (written" : "";
  if (flags & written && flags & kTypeForgetFolderKey) notes += ", deleted at uninstall with its key when empty";
  else if (flags & written && flags & kTypeForgetFolder) notes += ", deleted at uninstall";
  return notes.empty() ? notes : notes + ")";
}

// The loader has checked every record of the three lists.
// The product details a project gave: the Add/Remove values, the
// uninstaller's texts and the arguments of the program run at the end.
void print_details(const SetupTypeSlot& slot) {
  static const char* const kLabels[] = {"version",          "publisher",         "web address",
                                        "icon",             "uninstaller caption", "uninstaller question",
                                        "uninstaller removed", "uninstaller removed, files left",
                                        "uninstaller removed, files at restart", "program arguments"};
  for (int i = 0; i <= kDetailProgramArguments; ++i) {
    const char* text = list_text(slot.details, i);
    if (*text) printf("  %s %s\n", kLabels[i], quoted(text).c_str());
  }
}

void print_settings(const SetupTypeSlot& slot) {
  const char* titles[] = {"INI entries", "registry values", "string patches", "search path entries"};
  for (int k = 0; k < kEntryListCount; ++k) {
    const uint8_t* list = slot.entry_lists[k];
    uint16_t count = list ? get_u16(list) : 0;
    // A setup without search path entries lists what it always did.
    if (k == kPathList && !list) continue;
    printf("  %s: %u\n", titles[k], count);
    if (!list) continue;
    const uint8_t* p = list + 2;
    const uint8_t* end = list + slot.entry_list_lengths[k];
    for (uint16_t n = 0; n < count && p; ++n) {
      if (k == kIniList) {
        IniEntry e;
        p = parse_ini_entry(p, end, &e);
        printf("    %s [%s] %s = %s%s\n", quoted(e.file).c_str(), setup_text(e.section).c_str(),
               setup_text(e.key).c_str(), quoted(e.value).c_str(), setting_notes(e.flags).c_str());
      } else if (k == kRegistryList) {
        RegistryEntry e;
        p = parse_registry_entry(p, end, &e);
        printf("    %s\\%s, value %s = %s%s\n", root_key_name(e.root_key), setup_text(e.key).c_str(),
               e.value_name[0] ? quoted(e.value_name).c_str() : "(default)", quoted(e.value).c_str(),
               setting_notes(e.flags).c_str());
      } else if (k == kPathList) {
        PathEntry e;
        p = parse_path_entry(p, end, &e);
        printf("    %s, in the search path of the %s\n", quoted(e.folder).c_str(), path_scope_word(e.scope));
      } else {
        StringPatchEntry e;
        p = parse_string_patch(p, end, &e);
        std::string where = e.offset == -1 ? "after a pattern of " + std::to_string(e.pattern_length) + " bytes"
                                           : "at offset " + std::to_string(e.offset);
        printf("    %s %s: %s\n", quoted(e.file).c_str(), where.c_str(), quoted(e.text).c_str());
      }
    }
  }
}

void print_setup(const char* path) {
  const SetupFacts& facts = setup_facts();
  printf("%s: stub %u bytes, %d setup type%s, current %d\n", printable(path).c_str(), facts.stub_size,
         SetupTypeCount, SetupTypeCount == 1 ? "" : "s", CurrentSetupType);
  std::string flags;
  if (SetupFlags & kSetupFullScreen) flags += ", full screen";
  if (SetupFlags & kSetupRemoveOthers) flags += ", removes the other setup types first";
  printf("flags %08X%s\n", SetupFlags, flags.c_str());
  if (setup_code_page() != kDefaultCodePage) printf("texts in code page %u\n", setup_code_page());
  if (language_count() > 0) {
    printf("languages:");
    for (int i = 0; i < language_count(); ++i)
      printf(" %s (code page %u)", setup_text(reinterpret_cast<const char*>(language_entry(i) + kLanguageCode)).c_str(),
             get_u16(language_entry(i) + kLanguageCodePage));
    uint32_t names = get_u32(LanguageBlock + kLanguagesNamesCodePage);
    printf(names ? "; names in code page %u\n" : "; names in ASCII\n", names);
  }
  if (LoadedArchitecture != kArchitectureX86)
    printf("architecture %s: the native folders and registry view of 64-bit Windows\n",
           architecture_name(static_cast<uint32_t>(LoadedArchitecture)));
  if (HasScopeChoice)
    printf("privileges choice: for all users or for the user who runs it, chosen when the setup runs%s\n",
           (get_u32(ScopeChoice) & kScopeMachineOnly) ? "; its items need the machine: for all users only" : "");
  if (ProductIdentity) {
    static const char* const kRules[] = {"ask", "refuse", "allow"};
    printf("product id: %s (downgrade %s%s)\n", reinterpret_cast<const char*>(ProductIdentity + kProductIdOffset),
           kRules[ProductIdentity[0] <= kDowngradeAllow ? ProductIdentity[0] : kDowngradeRefuse],
           (ProductIdentity[1] & kCloseApplications) ? "; unattended runs close the programs that hold its files" : "");
  }
  if (single_page_mode()) printf("single page: %u\n", StartPageNumber);
  // The block that names the first setup type also turns the finishing
  // actions off.
  if (HasStartPageBlock)
    printf("start-page block: setup type %d first; no screen saver, restart or program start at the end\n",
           CurrentSetupType);
  if (!facts.has_data_area) printf("data area: none\n");
  else
    printf("data area: %u bytes at offset %llu in the setup file%s\n", facts.data_length,
           static_cast<unsigned long long>(facts.data_offset), facts.data_area_complete ? "" : " (truncated)");
  SetupSignature signature;
  std::string why;
  if (read_setup_signature(path, archive_end(), &signature, &why))
    printf("signature: %s\n", describe_signature(signature).c_str());
  else
    printf("signature: not sound: %s\n", why.c_str());
  SetupResourceSummary resources;
  std::vector<uint8_t> stub(facts.stub_size);
  FILE* f = std::fopen(path, "rb");
  bool read = f && std::fread(stub.data(), 1, stub.size(), f) == stub.size();
  if (f) std::fclose(f);
  if (read && describe_setup_resources(stub.data(), stub.size(), &resources, &why)) print_stub_resources(resources);
  else printf("resources: not sound: %s\n", read ? why.c_str() : "the stub cannot be read");
  std::string work = make_work_folder(scratch_parent(), &why);
  for (int t = 0; t < SetupTypeCount; ++t) {
    const SetupTypeSlot& slot = SetupTypeTable[t];
    const SetupTypeRecord& r = slot.record;
    printf("\nsetup type %d: %s\n", t, quoted(r.caption).c_str());
    printf("  uninstall name %s, folder %s%s\n", quoted(r.uninstall_name).c_str(), quoted(r.default_folder).c_str(),
           r.flags & kTypeFolderEditable ? " (may be changed)" : "");
    if (r.registry_key)
      printf("  remembered in %s\\%s, value %s%s\n", root_key_name(r.root_key), setup_text(r.registry_key).c_str(),
             quoted(r.registry_value).c_str(), remembered_notes(r.flags, kTypeRememberInRegistry).c_str());
    if (r.ini_file)
      printf("  remembered in %s [%s] %s%s\n", quoted(r.ini_file).c_str(),
             r.ini_section ? setup_text(r.ini_section).c_str() : "", r.ini_key ? setup_text(r.ini_key).c_str() : "",
             remembered_notes(r.flags, kTypeRememberInIni).c_str());
    print_details(slot);
    print_items(t, work);
    print_settings(slot);
  }
  if (!work.empty()) ::rmdir(work.c_str());
}

// Every text of each setup type in the language the setup speaks now, and
// the uninstaller's texts it hands on in that language.
void print_texts() {
  for (int t = 0; t < SetupTypeCount; ++t) {
    const SetupTypeSlot& slot = SetupTypeTable[t];
    printf("setup type %d: %s\n", t, quoted(slot.record.caption).c_str());
    for (int l = 0; l < kTextListCount; ++l) {
      const uint8_t* list = slot.record.text_lists[l];
      for (int i = 0; list && i < get_u16(list); ++i)
        if (*list_text(list, i)) printf("  %d/%d %s\n", l, i, quoted(list_text(list, i)).c_str());
    }
    for (int i = 0; slot.uninstaller_texts && i < kUninstallerAllTextCount; ++i)
      if (*list_text(slot.uninstaller_texts, i))
        printf("  u/%d %s\n", i, quoted(list_text(slot.uninstaller_texts, i)).c_str());
  }
}

}  // namespace

int run_list(int argc, char** argv) {
  if (wants_help(argc, argv)) {
    printf("Usage: kestrel list SETUP [--lang CODE]\n  show the setup types of SETUP with their items and settings;\n"
           "  with --lang, every text of its setup types in that language (\"en\", \"de\", ...)\n");
    return kExitOk;
  }
  const bool texts = argc == 4 && std::strcmp(argv[2], "--lang") == 0;
  if (argc != 2 && !texts) return usage_error("list", "needs SETUP, and --lang CODE for a language's texts");
  std::string error;
  if (!open_setup(argv[1], &error)) return fail("list", error);
  if (texts && !use_setup_language(argv[3])) {
    std::string why = std::string(argv[1]) + ": the setup offers no language \"" + printable(argv[3]) + "\"" +
                      (language_count() == 0 ? " (it was built without languages)" : "");
    close_setup();
    return fail("list", why);
  }
  if (texts) print_texts();
  else print_setup(argv[1]);
  close_setup();
  return kExitOk;
}
