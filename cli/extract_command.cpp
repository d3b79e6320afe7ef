// kestrel extract SETUP -d DIR [--type N]: writes the items of one setup
// type under DIR by their names relative to the destination folder. Names
// come from the archive and are not trusted: nothing may land outside DIR.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "archive/config.h"
#include "archive/file_entry.h"
#include "builder/item_name.h"
#include "cli/cli_support.h"
#include "cli/setup_reader.h"

namespace {

// Opens (making them as needed) the first `count` folders of `parts` under
// `root`. A component that is a symbolic link or not a folder is refused:
// following it could lead anywhere.
int open_folders(int root, const std::vector<std::string>& parts, size_t count, std::string* why) {
  int fd = dup(root);
  for (size_t i = 0; fd >= 0 && i < count; ++i) {
    if (mkdirat(fd, parts[i].c_str(), 0755) != 0 && errno != EEXIST) {
      *why = "cannot make the folder " + printable(parts[i].c_str()) + ": " + std::strerror(errno);
      close(fd);
      return -1;
    }
    int next = openat(fd, parts[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    int e = errno;
    close(fd);
    if (next < 0) {
      *why = (e == ELOOP || e == ENOTDIR) ? "refused: " + printable(parts[i].c_str()) +
                                                " is a symbolic link or not a folder"
                                          : "cannot open the folder " + printable(parts[i].c_str()) + ": " +
                                                std::strerror(e);
      return -1;
    }
    fd = next;
  }
  return fd;
}

bool extract_item(int root, const std::string& work, int type, uint32_t index, std::string* error) {
  const uint8_t* entry = file_entry_at(type, index);
  ItemContent content = item_content(entry);
  bool folder = entry[kEntryKind] == kKindFolder;
  if (content == ItemContent::kNothing && !folder) {
    printf("skipped, lies beside the setup file: %s\n", setup_text(entry_string(entry, 0)).c_str());
    return true;
  }
  if (content == ItemContent::kBesideSetup) {
    printf("skipped, taken from beside the setup file: %s\n", setup_text(entry_string(entry, 0)).c_str());
    return true;
  }
  std::vector<std::string> parts;
  bool trailing = false;
  std::string name;
  host_name(entry_string(entry, 0), &name);
  split_item_name(name.c_str(), &parts, &trailing, error);  // checked before anything was written
  // A folder item named Data\ makes Data; one named Data only the folders above it.
  size_t folders = folder ? (trailing ? parts.size() : parts.size() - 1) : parts.size() - 1;
  int parent = open_folders(root, parts, folders, error);
  if (parent < 0) return false;
  bool ok = true;
  if (!folder) {
    std::string temporary = work + "/item";
    ok = write_item_content(entry, temporary, error);
    if (ok && renameat(AT_FDCWD, temporary.c_str(), parent, parts.back().c_str()) != 0) {
      *error = "cannot put it in place: " + std::string(std::strerror(errno));
      ::unlink(temporary.c_str());
      ok = false;
    }
  }
  close(parent);
  if (ok) printf("%s %s\n", folder ? "folder" : "extracted", printable(name.c_str()).c_str());
  return ok;
}

// Every name is checked before the first file is written, so a hostile
// archive leaves nothing behind; so is the uninstaller program. Without it
// the installer writes the uninstaller as an empty file, which is not the
// item its entry describes.
bool check_items(int type, std::string* error) {
  for (uint32_t i = 0; i < file_entry_count(type); ++i) {
    const uint8_t* entry = file_entry_at(type, i);
    ItemContent content = item_content(entry);
    bool folder = entry[kEntryKind] == kKindFolder;
    if ((content == ItemContent::kNothing && !folder) || content == ItemContent::kBesideSetup) continue;
    if (content == ItemContent::kUninstaller && !carries_uninstaller_program()) {
      *error = describe_item(type, i) + ": the archive carries no uninstaller program (block 0x123f), so the " +
               "uninstaller cannot be extracted";
      return false;
    }
    std::vector<std::string> parts;
    bool trailing = false;
    std::string why, name;
    // Written under its name in UTF-8, as the host's names are.
    if (!host_name(entry_string(entry, 0), &name)) {
      *error =
          describe_item(type, i) + ": refused: its name is not text of code page " + std::to_string(setup_code_page());
      return false;
    }
    if (!split_item_name(name.c_str(), &parts, &trailing, &why) || (!folder && trailing)) {
      *error = describe_item(type, i) + ": refused: " + (why.empty() ? "the name ends in a folder separator" : why);
      return false;
    }
  }
  return true;
}

int extract(const char* setup, const char* dir, int type) {
  std::string error;
  if (type < 0) type = CurrentSetupType;
  if (type >= SetupTypeCount)
    return fail("extract", std::string(setup) + ": there is no setup type " + std::to_string(type) + " (it has " +
                               std::to_string(SetupTypeCount) + ")");
  if (!check_items(type, &error)) return fail("extract", error);
  if (mkdir(dir, 0755) != 0 && errno != EEXIST) return fail("extract", std::string(dir) + ": " + std::strerror(errno));
  int root = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (root < 0) return fail("extract", std::string(dir) + ": " + std::strerror(errno));
  std::string work = make_work_folder(dir, &error);
  bool ok = !work.empty();
  for (uint32_t i = 0; ok && i < file_entry_count(type); ++i)
    if (!extract_item(root, work, type, i, &error)) {
      error = describe_item(type, i) + ": " + error;
      ok = false;
    }
  if (!work.empty()) ::rmdir(work.c_str());
  close(root);
  return ok ? kExitOk : fail("extract", error);
}

}  // namespace

int run_extract(int argc, char** argv) {
  if (wants_help(argc, argv)) {
    printf(
        "Usage: kestrel extract SETUP -d DIR [--type N]\n"
        "  write the items of setup type N (default: the archive's current one) under DIR\n"
        "  by their names; names that would reach outside DIR are refused\n");
    return kExitOk;
  }
  const char* setup = nullptr;
  const char* dir = nullptr;
  int type = -1;
  for (int i = 1; i < argc; ++i) {
    if (!strcmp(argv[i], "-d")) {
      if (i + 1 >= argc) return usage_error("extract", "-d needs DIR");
      dir = argv[++i];
    } else if (!strcmp(argv[i], "--type")) {
      if (i + 1 >= argc || !parse_setup_type(argv[i + 1], &type)) return usage_error("extract", "--type takes 0 to 5");
      ++i;
    } else if (argv[i][0] == '-' && argv[i][1]) {
      return usage_error("extract", std::string("unknown option ") + argv[i]);
    } else if (setup) {
      return usage_error("extract", "takes one SETUP");
    } else {
      setup = argv[i];
    }
  }
  if (!setup || !dir) return usage_error("extract", "needs SETUP and -d DIR");
  std::string error;
  if (!open_setup(setup, &error)) return fail("extract", error);
  int result = extract(setup, dir, type);
  close_setup();
  return result;
}
