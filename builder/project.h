// A setup project as written in its TOML file, resolved against the
// project's folder: every source file found, every option checked
// (builder/project_reader.h reads it). Texts are still UTF-8; the build
// converts them to the code page.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "builder/record_writer.h"
#include "builder/text_catalogue.h"

// One item of a setup type. Ordinary items have a source file; folder
// items and items that already lie beside the setup file may have none.
struct ProjectItem {
  std::string source;   // host path of the file, "" for a folder item
  std::string name;     // destination relative to its folder, backslashes
  uint8_t folder_code = kFolderInstallDir;
  uint8_t kind = kKindFile;
  uint8_t registration = kRegisterNone;
  uint8_t finish_role = kRoleNone;
  bool shared = false;
  bool compare_version = false;
  bool compare_language = false;
  bool store_times = false;
  bool from_source = false;  // copied from beside the setup file at install
  bool sign = true;          // with [signing] payload: signed before it is stored, if a program without a signature
  std::string patch_base;    // source path of the item it patches, "" none
  uint16_t icon_index = 0;
  std::string menu_locations;  // ";"-separated start-menu folders
  std::string menu_name;
  std::string menu_arguments;
  std::string desktop_name;
  std::string desktop_arguments;
  std::string program_arguments;  // of the program the finish page runs, "" none
  std::string where;  // "file:line" of its table, for messages
  std::string key;    // "type[0].files[2]", its table's key, for messages
};

// A folder the setup adds to a search path ([[type.path]]).
struct ProjectPathEntry {
  std::string folder;     // with macros, backslashes
  std::optional<uint8_t> scope;  // kPathScope...; none: the installation's
};

// A setup type's texts in one of the setup's languages, UTF-8.
struct LanguageTexts {
  TextLists lists;                       // of the default language: the record's own
  std::vector<std::string> uninstaller;  // u/0 to u/11, with the project's in place
};

struct ProjectType {
  SetupTypeRecordFields record;  // texts in UTF-8; text lists filled in
  std::vector<ProjectItem> items;
  std::vector<IniEntryFields> ini_entries;
  std::vector<RegistryEntryFields> registry_entries;
  std::vector<StringPatchFields> string_patches;
  std::vector<ProjectPathEntry> path_entries;
  // The product-details texts (by kDetail..., trailing empty ones left
  // out): none when the project gives none, so that the setup carries no
  // block for them.
  std::vector<std::string> details;
  // By Project::languages; empty in a setup of one language.
  std::vector<LanguageTexts> languages;
};

struct Project {
  std::string path;  // of the project file
  unsigned code_page = 1252;
  uint32_t setup_flags = 0;
  std::string uninstaller_name = "Uninstall.exe";  // "" = no uninstaller item
  std::string wizard_picture;      // host paths of BMP files, "" none
  std::string background_picture;
  std::optional<std::string> background_title;
  std::optional<BackgroundStyleFields> background_style;
  std::optional<StartPageFields> start_page;
  std::string dialog_resources;  // host path of a .res file, "" none
  bool per_user = false;         // privileges = "user": no administrator rights asked for
  bool scope_choice = false;     // privileges = "choice": for all users or one, chosen when the setup runs
  bool machine_only = false;     // a "choice" setup whose items need the machine: for all users only
  uint32_t architecture = 0;     // kArchitecture... (archive/format.h): setup.architecture
  // compression = "lzma": each setup type's items as one solid LZMA stream,
  // with this dictionary (bytes); else Kestrel's own stream per item.
  bool lzma = false;
  uint32_t lzma_dictionary = 8u << 20;
  std::string sign_command;      // [signing] command, run in the project's folder; "" none
  bool sign_payload = false;     // [signing] payload: programs and libraries among the items are signed too
  // The stub's version resource and icon (builder/setup_resources.h): made
  // when a version or a setup icon is given, else the stub stays as built.
  std::optional<std::string> title;  // UTF-8, as given
  std::string version, publisher, copyright;
  std::string setup_icon;        // host path of an .ico file, "" none
  // [setup] product_id: names the Uninstall key of every version; "" none,
  // and no block 0x124b. With it, the downgrade rule (kDowngrade...,
  // archive/format.h) and whether unattended runs close the programs that
  // hold the folder's files.
  std::string product_id;
  uint8_t downgrade = 0;
  bool close_applications = false;
  std::vector<ProjectType> types;
  // [setup] languages: codes of shipped translations, the default first;
  // empty for a setup of one language, which carries no language block.
  std::vector<std::string> languages;
  std::vector<std::string> warnings;  // what the build says about the texts
};

// Whose search path an entry joins: the one it names, else the one of the
// installation, which follows its privileges (an administrator's
// installation is the machine's).
uint8_t path_entry_scope(const Project& project, const ProjectPathEntry& entry);
