// fuzz-seeds SOURCE_DIR WINDOWS_BIN OUT_DIR: the seed corpus of every fuzz
// target, made from the example product and the scenario projects: their
// project files, the setups built from them (in one file and in volumes),
// streams and patches of their files, the installation records they would
// leave, and the Windows programs and dialog resources of the build.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/checksum.h"
#include "archive/format.h"
#include "builder/block_writer.h"
#include "builder/data_area_writer.h"
#include "builder/lzma_encoder.h"
#include "builder/patch_generator.h"
#include "builder/project_reader.h"
#include "builder/setup_build.h"
#include "builder/stream_encoder.h"
#include "builder/stub_image.h"
#include "cli/default_dialogs.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/journal_bytes.h"
#include "tests/native/record_bytes.h"
#include "tests/native/test_files.h"

namespace fs = std::filesystem;

namespace {

// Seeds stay small: mutations of a big input mostly miss what matters.
const size_t kSeedContentLimit = 16384;

std::string OutDir, WindowsBin;

void seed(const std::string& target, const std::string& name, const std::vector<uint8_t>& bytes) {
  fs::create_directories(OutDir + "/" + target);
  write_bytes(OutDir + "/" + target + "/" + name, bytes);
}

std::vector<uint8_t> head(const std::string& path) {
  std::vector<uint8_t> bytes = read_bytes(path);
  if (bytes.size() > kSeedContentLimit) bytes.resize(kSeedContentLimit);
  return bytes;
}

void append(std::vector<uint8_t>* out, const std::vector<uint8_t>& bytes) {
  out->insert(out->end(), bytes.begin(), bytes.end());
}

// The stub and the uninstaller the seeds are built with: the smallest
// stamped image, asking for administrator rights as the real programs'
// manifests do, so that per-user projects build as well.
std::vector<uint8_t> stand_in_program() {
  std::vector<uint8_t> image = minimal_stub();
  const char kLevel[] = "level=\"requireAdministrator\"";
  image.insert(image.end(), kLevel, kLevel + sizeof kLevel - 1);
  stamp_stub_size(image);
  return image;
}

// The scenarios make some of their files when they run (programs of the
// build, random data): a file that a project or its build finds missing is
// made here, small, from its name. False when `error` names no such file.
bool make_missing_file(const std::string& error) {
  struct Cause {
    const char* text;
    bool folder;       // a folder is missing: it gets one file
    bool cut_at_colon; // the system's reason follows the path
  };
  const Cause kCauses[] = {{"no such file: ", false, false},
                           {"matches no file: ", false, false},
                           {"no such folder: ", true, false},
                           {"cannot open ", false, true}};
  std::string missing;
  for (const Cause& cause : kCauses) {
    size_t at = error.find(cause.text);
    if (at == std::string::npos) continue;
    missing = error.substr(at + std::strlen(cause.text));
    if (cause.cut_at_colon) missing = missing.substr(0, missing.find(": "));
    if (cause.folder) missing += "/item.bin";
    break;
  }
  if (missing.empty() || fs::exists(missing)) return false;
  for (char& c : missing)
    if (c == '*' || c == '?' || c == '[' || c == ']') c = 'x';
  fs::create_directories(fs::path(missing).parent_path());
  std::string extension = fs::path(missing).extension().string();
  if (extension == ".exe" || extension == ".dll") {
    // A program with a version resource, for the version comparison.
    fs::copy_file(WindowsBin + "/demo-viewer.exe", missing);
    return true;
  }
  std::vector<uint8_t> filler(3000);
  for (size_t i = 0; i < filler.size(); ++i) filler[i] = static_cast<uint8_t>(missing[i % missing.size()] + i / 7);
  write_bytes(missing, filler);
  return true;
}

Project read_staged_project(const std::string& path) {
  for (;;) {
    Project project;
    std::string error;
    if (read_project(path, &project, &error)) return project;
    if (!make_missing_file(error)) throw std::runtime_error(error);
  }
}

// The loader's and the commands' input: the archive behind the stub, then
// each volume after a separator.
void setup_seeds(const std::string& name, const Project& project, uint64_t volume_size) {
  BuildOptions options;
  options.output = OutDir + "/.stage/" + name + ".exe";
  options.level = 6;
  options.volume_size = volume_size;
  options.stub = options.uninstaller = stand_in_program();
  options.default_dialogs.assign(kDefaultDialogs, kDefaultDialogs + kDefaultDialogsSize);
  BuildReport report;
  std::string error;
  // Volumes as small as the configuration allows, so that items span them.
  while (!build_setup(project, options, &report, &error)) {
    if (make_missing_file(error)) continue;
    if (volume_size == 0 || options.volume_size >= (1u << 20)) throw std::runtime_error(name + ": " + error);
    options.volume_size *= 2;
  }
  std::vector<uint8_t> whole = read_bytes(options.output);
  std::vector<uint8_t> input(whole.begin() + options.stub.size(), whole.end());
  for (uint32_t k = 1; k <= report.volumes; ++k) {
    input.insert(input.end(), kVolumeSeparator, kVolumeSeparator + sizeof kVolumeSeparator);
    append(&input, read_bytes(volume_path(options.output, k)));
  }
  seed("loader", name, input);
  // Extract the archive's own setup type, from a setup at a short path.
  input.insert(input.begin(), {0xFF, 0x00});
  seed("setup_commands", name, input);
}

// A stream of each file, and the file itself for a round trip.
void decoder_seeds(const std::string& name, const std::vector<uint8_t>& content) {
  for (int level : {1, 12}) {
    std::vector<uint8_t> input = {0};
    append_u32(&input, static_cast<uint32_t>(content.size()));
    encode_stream(content.data(), content.size(), level, &input);
    seed("decoder", name + "-" + std::to_string(level), input);
  }
  std::vector<uint8_t> input = {static_cast<uint8_t>(1 | (5 << 1))};
  append_u32(&input, 0);
  append(&input, content);
  seed("decoder", name + "-round-trip", input);
}

// A solid LZMA stream of each file (the builder's settings, a 64 KiB
// dictionary), read whole and in pieces, and the file for a round trip.
// Journals as runs write them: whole, with a change taken back, complete.
void journal_seeds() {
  auto records = sample_journal_records();
  seed("journal", "whole", journal_file(records, "Kestrel Fuzz"));
  put_u16(records[2].data() + kFlagsOffset, kChangeTakenBack);
  seed("journal", "taken-back", journal_file(records, "Kestrel Fuzz"));
  records.push_back(journal_complete_mark());
  seed("journal", "complete", journal_file(records, "Kestrel Fuzz"));
}

void lzma_seeds(const std::string& name, const std::vector<uint8_t>& content) {
  std::vector<uint8_t> stream;
  if (!lzma_encode(content.data(), content.size(), 16 * kLzmaMinDictionary, &stream)) return;
  std::vector<uint8_t> input = {0, kLzmaProperties};
  append_u16(&input, 15);
  append_u32(&input, static_cast<uint32_t>(content.size()));
  append_u32(&input, 0x9E3779B9u);
  append(&input, stream);
  seed("lzma", name, input);
  input = {1, kLzmaProperties};
  append_u16(&input, 15);
  append_u32(&input, 0);
  append_u32(&input, 12345);
  append(&input, content);
  seed("lzma", name + "-round-trip", input);
}

// One file as a patch of another: the made patch, and the pair for a
// round trip.
void patch_seeds(const std::string& name, const std::vector<uint8_t>& old, const std::vector<uint8_t>& now) {
  std::vector<uint8_t> patch;
  encode_patch(make_patch(old.data(), old.size(), now.data(), now.size()), 12, &patch);
  std::vector<uint8_t> input = {0};
  append_u32(&input, static_cast<uint32_t>(now.size()));
  append_u32(&input, checksum_block(now.data(), static_cast<uint32_t>(now.size()), 0));
  append_u16(&input, static_cast<uint16_t>(old.size()));
  append(&input, old);
  append(&input, patch);
  seed("patch", name, input);
  input = {static_cast<uint8_t>(1 | (12 << 1))};
  append_u16(&input, static_cast<uint16_t>(old.size()));
  append(&input, old);
  append(&input, now);
  seed("patch", name + "-round-trip", input);
}

// The record a setup type would leave: its items in the installation
// folder, its start-menu shortcuts and its Uninstall key.
void uninstall_seed(const std::string& name, const ProjectType& type) {
  std::vector<Removed> files;
  std::vector<Shortcut> shortcuts;
  for (const ProjectItem& item : type.items) {
    size_t slash = item.name.find_last_of('\\', item.name.size() - 2);
    std::string folder = slash == std::string::npos ? "." : ".\\" + item.name.substr(0, slash);
    std::string leaf = slash == std::string::npos ? item.name : item.name.substr(slash + 1);
    if (item.kind == kKindFolder) files.push_back({".\\" + item.name.substr(0, item.name.size() - 1), "", 0});
    else files.push_back({folder, leaf, static_cast<uint8_t>(item.shared ? kRemoveShared : 0)});
    if (!item.menu_name.empty()) {
      std::string location = item.menu_locations.substr(0, item.menu_locations.find(';'));
      shortcuts.push_back({"C:\\WINDOWS\\Start Menu\\Programs" + (location.empty() ? "" : "\\" + location),
                           item.menu_name + ".lnk"});
    }
    if (!item.desktop_name.empty()) files.push_back({"C:\\WINDOWS\\Desktop", item.desktop_name + ".lnk", 0});
  }
  std::string key = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" +
                    type.record.uninstall_name.value_or("Kestrel");
  std::vector<uint8_t> plain = record_bytes(files, shortcuts, type.record.uninstall_name ? 0x80000002u : 0, key);
  // Input: the uninstaller's folder (the first), then the record.
  auto seed_record = [&](const std::string& seed_name, const std::vector<uint8_t>& record) {
    std::vector<uint8_t> input = {0};
    append(&input, record);
    seed("uninstall_data", seed_name, input);
  };
  seed_record(name, plain);

  // The same with the extension blocks: its folder, its settings,
  // itself once more as an earlier installation, and merged earlier files.
  RecordWriter w;
  w.bytes.assign(plain.begin(), plain.end() - kBlockHeaderSize);  // the end block comes last again
  RecordWriter folder;
  folder.text("C:\\Apps\\" + name);
  w.block(kInstallFolderId, folder.bytes);
  RecordWriter settings;
  settings.u32(static_cast<uint32_t>(type.registry_entries.size() + type.ini_entries.size()));
  for (const RegistryEntryFields& e : type.registry_entries) {
    settings.u8(kSettingRegistryValue);
    settings.u32(0x80000000u + e.root_key);
    settings.text(e.key);
    settings.text(e.value_name);
    settings.u8(kSettingDeleteKeyIfEmpty);
    settings.u8(1);
  }
  for (const IniEntryFields& e : type.ini_entries) {
    settings.u8(kSettingIniEntry);
    settings.text(e.file);
    settings.text(e.section);
    settings.text(e.key);
    settings.u8(0);
  }
  w.block(kSettingsListId, settings.bytes);
  w.block(kEarlierInstallationId, plain);
  RecordWriter merged;  // earlier files, merged: a plain one and a shared one counted twice
  merged.u32(2);
  merged.text(".");
  merged.text("old.txt");
  merged.u8(0);
  merged.text("C:\\Windows\\System");
  merged.text("shared.dll");
  merged.u8(kRemoveShared);
  merged.u32(2);
  w.block(kEarlierRemovalsId, merged.bytes);
  w.block(kUninstallEndId, {});
  seed_record(name + "-extended", w.bytes);
}

void project_seeds(const std::string& name, const std::string& path) {
  seed("project", name + ".toml", read_bytes(path));
  Project project = read_staged_project(path);
  setup_seeds(name, project, 0);
  setup_seeds(name + "-volumes", project, 2048);
  std::vector<uint8_t> previous;
  int n = 0;
  for (size_t t = 0; t < project.types.size(); ++t) {
    uninstall_seed(name + "-" + std::to_string(t), project.types[t]);
    for (const ProjectItem& item : project.types[t].items) {
      if (item.source.empty() || !fs::is_regular_file(item.source)) continue;
      std::vector<uint8_t> content = head(item.source);
      std::string item_name = name + "-" + std::to_string(n++);
      decoder_seeds(item_name, content);
      lzma_seeds(item_name, content);
      if (!previous.empty()) patch_seeds(item_name, previous, content);
      if (content.size() >= 2 && content[0] == 'M' && content[1] == 'Z')
        seed("pe_version", item_name, read_bytes(item.source));
      previous = content;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: fuzz-seeds SOURCE_DIR WINDOWS_BIN OUT_DIR\n");
    return 2;
  }
  std::string source = argv[1];
  WindowsBin = argv[2];
  OutDir = argv[3];
  try {
    fs::remove_all(OutDir);
    // The example product, staged as make demo stages it.
    std::string demo = OutDir + "/.stage/demo";
    fs::create_directories(demo);
    fs::copy(source + "/examples/demo", demo, fs::copy_options::recursive);
    fs::create_directories(demo + "/bin");
    fs::copy_file(WindowsBin + "/demo-viewer.exe", demo + "/bin/Viewer.exe");
    project_seeds("demo", demo + "/demo.toml");
    std::string scenarios = OutDir + "/.stage/scenarios";
    fs::copy(source + "/tests/scenarios/projects", scenarios, fs::copy_options::recursive);
    for (const fs::directory_entry& e : fs::directory_iterator(scenarios))
      if (e.path().extension() == ".toml") project_seeds(e.path().stem().string(), e.path().string());

    for (const char* program : {"kestrel-stub.exe", "kestrel-uninstall.exe", "demo-viewer.exe"})
      seed("pe_version", program, read_bytes(WindowsBin + "/" + program));
    journal_seeds();
    seed("res_file", "default_dialogs.res",
         std::vector<uint8_t>(kDefaultDialogs, kDefaultDialogs + kDefaultDialogsSize));
    fs::remove_all(OutDir + "/.stage");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "fuzz-seeds: %s\n", e.what());
    return 1;
  }
  return 0;
}
