// What a project's texts must respect beyond their TOML types: mistakes
// that would pass the build and show only on the user's machine, where a
// macro vanishes, a file lands outside its folder or a text is never shown.
// The checks of single texts answer "" when the text keeps the rule, else
// what is wrong, for the reader's "file:line: key: ..." message.
#pragma once
#include <string>

#include "builder/project.h"

// A text of the project in a one-line message: control bytes as \xNN, so
// that it cannot break the line or drive the terminal.
std::string visible(const std::string& text);

// A text the setup expands (folders, INI files and values, registry
// values, patches): every token between two '#' must be a macro, or the
// setup drops it and the text between.
std::string unknown_macro(const std::string& text);

// A setup type's default folder: the setup uses it as a whole path, so it
// must begin with a drive ("C:\\"), a network share ("\\\\server\\share")
// or a macro that names a folder of the machine; anything else would be
// taken relative to the setup's current folder.
std::string default_folder_problem(const std::string& folder);

// A path the setup uses as written (remembered places, registry keys): a
// macro in it would stay as typed.
std::string macro_left_as_written(const std::string& text);

// A path the setup uses (folders, INI files, registry keys): a control
// character there is a TOML escape ("C:\new" holds a line break) written
// by mistake.
std::string escape_in_path(const std::string& text);

// A registry key the uninstaller deletes from: steps, none of them empty (a
// backslash at either end or two together), "." or "..". Its plan refuses
// a record with any other, and would then remove nothing at all.
std::string removable_key_problem(const std::string& key);
// A registry value that is the Environment's Path of the user (HKCU, or a
// user of HKU) or of the machine: written whole it replaces the search path
// and deleted it takes it away, so it is refused in every spelling of its
// key; [[type.path]] adds a folder instead. root by the project's codes
// (0 HKCR to 3 HKU).
std::string search_path_value_problem(uint32_t root, const std::string& key, const std::string& name);
// A folder of [[type.path]]: one entry of the search path, so no ';' (which
// would split it) and no quotes, and a path's length.
std::string search_path_folder_problem(const std::string& folder);
// An INI file the uninstaller deletes from, as the setup records it: a
// name alone (the Windows folder's), a whole path, or a macro and a plain
// path below it.
std::string removable_ini_file_problem(const std::string& file);

// An item's name relative to its folder; `folder` for a folder item,
// whose name may end in a separator.
std::string item_name_problem(const std::string& name, bool folder);

// One start-menu location: a folder under Programs (empty: Programs
// itself), or "#Start Menu#" or "#Startup#" alone.
std::string menu_location_problem(const std::string& location);

// Text number L/N: a text the program reads.
std::string text_number_problem(unsigned list, unsigned index);

// Every item of every setup type: a name the setup can place, in the code
// page, and no destination installed twice in one type (the second copy
// would replace the first unasked). On failure *error names file, line and
// item.
bool check_item_names(const Project& project, std::string* error);

// The product's web address ([setup] url): the setup opens it and lists it
// in Add/Remove Programs, so only an http:// or https:// address.
std::string web_address_problem(const std::string& url);

// The Add/Remove Programs icon ([setup] icon): a path, with macros,
// optionally followed by ",index".
std::string display_icon_problem(const std::string& icon);

// An uninstaller text: "%s" stands for the product's name, "%%" for "%";
// no other directive, and "%s" at most once.
std::string uninstaller_text_problem(const std::string& text);
