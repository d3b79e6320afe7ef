// kestrel-record UNINSTALLER|SIDE-FILE: lists the installation record that
// a setup appended to an installed uninstaller, or wrote into the side
// file of a signed one (a file without an image: the record from its
// first byte), one line per record, so that a scenario can compare it
// with what it installed:
//   remove FOLDER|NAME|FLAGS     (FLAGS in hex)
//   shortcut FOLDER|FILE
//   key ROOT|PATH                (ROOT in hex)
//   folder PATH                  (the installation folder, when recorded)
//   registry ROOT|KEY|NAME|FLAGS|CREATED
//   ini FILE|SECTION|KEY|FLAGS
//   earlier                      (the lines of an earlier installation follow)
// A record already carried out lists as the one line "used".
// Exit 0 listed, 1 no record or a damaged one, 2 the file cannot be read.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "builder/stub_image.h"
#include "record/uninstall_data.h"

namespace {

std::string text(const RecordText& t) { return std::string(t.text, t.length); }

void list(const UninstallData& data) {
  const uint8_t* cursor = data.remove_list;
  for (uint32_t i = 0; i < data.remove_count; ++i) {
    RemoveRecord r = next_remove_record(&cursor);
    printf("remove %s|%s|%X\n", text(r.folder).c_str(), text(r.name).c_str(), r.flags);
  }
  cursor = data.shortcut_list;
  for (uint32_t i = 0; i < data.shortcut_count; ++i) {
    ShortcutRecord r = next_shortcut_record(&cursor);
    printf("shortcut %s|%s\n", text(r.folder).c_str(), text(r.file).c_str());
  }
  if (data.has_uninstall_key) printf("key %X|%s\n", data.uninstall_root, text(data.uninstall_key).c_str());
  if (data.has_install_folder) printf("folder %s\n", text(data.install_folder).c_str());
  cursor = data.setting_list;
  for (uint32_t i = 0; i < data.setting_count; ++i) {
    SettingRecord s = next_setting_record(&cursor);
    if (s.kind == kSettingRegistryValue)
      printf("registry %X|%s|%s|%X|%u\n", s.root, text(s.path).c_str(), text(s.name).c_str(), s.flags,
             s.created_keys);
    else
      printf("ini %s|%s|%s|%X\n", text(s.path).c_str(), text(s.section).c_str(), text(s.name).c_str(), s.flags);
  }
  cursor = data.path_list;
  for (uint32_t i = 0; i < data.path_count; ++i) {
    PathEntryRecord p = next_path_record(&cursor);
    printf("path %u|%s\n", p.scope, text(p.entry).c_str());
  }
  cursor = data.earlier;
  for (uint32_t i = 0; i < data.earlier_count; ++i) {
    printf("earlier\n");
    list(next_earlier_installation(&cursor));
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: kestrel-record UNINSTALLER|SIDE-FILE\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  std::vector<uint8_t> file;
  if (in) file.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (file.empty()) {
    fprintf(stderr, "kestrel-record: cannot read %s\n", argv[1]);
    return 2;
  }
  uint32_t image_size = 0;
  bool side_file = file.size() >= 2 && file[0] != 'M';
  if (!side_file && (!read_stub_size(file, &image_size) || image_size == 0 || image_size >= file.size())) {
    fprintf(stderr, "kestrel-record: %s carries no record behind its image\n", argv[1]);
    return 1;
  }
  UninstallData data;
  UninstallDataStatus status = parse_uninstall_data(file.data() + image_size, file.size() - image_size, &data);
  if (status == UninstallDataStatus::kUsed) {
    printf("used\n");
    return 0;
  }
  if (status != UninstallDataStatus::kOk) {
    fprintf(stderr, "kestrel-record: the record of %s is damaged\n", argv[1]);
    return 1;
  }
  list(data);
  return 0;
}
