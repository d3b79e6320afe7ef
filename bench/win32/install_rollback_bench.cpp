// The cost of the rollback on an installation of many small files (make
// bench, run under Wine by scripts/bench-install-rollback): 5,000 files of
// 1 to 8 KB in 50 folders, installed through the engine's one-item step as
// the progress page drives it, without the page and its timer.
//
// Built twice from this file: with the journal, and with the journal's
// noting replaced by nothing (KESTREL_BENCH_UNNOTED), so that one run gives
// both figures of a fresh installation side by side. With --all the first
// also times an installation over the same files (every file replaced, its
// old one kept as a backup), keeping it (the backups deleted), and taking a
// fresh installation back.
//   install_rollback_bench FOLDER [--all]
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "install/engine_reports.h"
#include "install/journal.h"
#include "install/rollback.h"
#include "tests/win32/install_fixture.h"

// The page is not there: what it would show costs nothing here.
void set_progress(unsigned) {}
void show_current_file(const char*) {}
void show_status(const char*) {}
void announce_file(const char*, bool) {}
void show_waiting_file() {}
void show_rollback_texts() {}

#ifdef KESTREL_BENCH_UNNOTED
bool note_created_file(const char*) { return true; }
bool note_replaced_file(const char*, const char*, uint32_t) { return true; }
bool note_created_folder(const char*) { return true; }
bool note_registry_value(HKEY, const char*, const char*) { return true; }
#endif

namespace {

enum : int { kFiles = 5000, kFolders = 50 };

double seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

LARGE_INTEGER now() {
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return t;
}

// The same sizes and bytes in every run.
std::vector<std::string> contents() {
  std::vector<std::string> files;
  uint32_t state = 12345;
  for (int i = 0; i < kFiles; ++i) {
    state = state * 1103515245u + 12345u;
    size_t size = 1024 + (state >> 8) % (7 * 1024);
    std::string bytes(size, '\0');
    for (char& c : bytes) {
      state = state * 1103515245u + 12345u;
      c = static_cast<char>(state >> 24);
    }
    files.push_back(bytes);
  }
  return files;
}

// Installs every item into `folder`; the seconds it took.
double install(const std::string& folder, std::vector<uint8_t>& list, const std::string& setup) {
  copy_string(InstallDir, folder.c_str(), kPathSize);
  CreateDirectoryA(folder.c_str(), nullptr);
  if (!open_data_area(setup, 0)) return -1;
  use_file_list(list, nullptr);
  LARGE_INTEGER start = now();
  while (install_next_item()) {
  }
  LARGE_INTEGER end = now();
  close_data_area();
  return ErrorState == 0 ? seconds(start, end) : -1;
}

#ifndef KESTREL_BENCH_UNNOTED
// Whether the run's journal went to the disk: the value that names its
// file stands while the run goes on.
bool journal_on_disk() {
  for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
    HKEY key;
    if (RegOpenKeyExA(root, "Software\\Kestrel\\Interrupted", 0, KEY_READ, &key) != ERROR_SUCCESS) continue;
    DWORD values = 0;
    bool found = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr,
                                  nullptr, nullptr, nullptr) == ERROR_SUCCESS && values > 0;
    RegCloseKey(key);
    if (found) return true;
  }
  return false;
}
#endif

}  // namespace

int main(int argc, char** argv) {
  bool all = argc == 3 && std::string(argv[2]) == "--all";
  if (argc != 2 && !all) {
    std::printf("usage: install_rollback_bench FOLDER [--all]\n");
    return 2;
  }
  std::string root = argv[1];
  CreateDirectoryA(root.c_str(), nullptr);
  std::vector<std::string> files = contents();
  std::vector<std::vector<uint8_t>> streams;
  uint64_t bytes = 0;
  for (const std::string& f : files) {
    streams.push_back(stored_stream(bytes_of(f)));
    bytes += f.size();
  }
  std::string setup = root + "\\setup.bin";
  std::vector<std::pair<uint32_t, uint32_t>> placed;
  if (!write_setup_file(setup, 0, streams, &placed)) {
    std::printf("cannot write %s\n", setup.c_str());
    return 1;
  }
  std::vector<EntryFields> entries;
  for (int i = 0; i < kFiles; ++i) {
    EntryFields e;
    char name[64];
    std::snprintf(name, sizeof name, "folder-%02d\\file-%04d.bin", i % kFolders, i);
    e.strings[0] = name;
    e.data_position = placed[i].first;
    e.data_length = placed[i].second;
    e.size = static_cast<uint32_t>(files[i].size());
    e.checksum = checksum_of(bytes_of(files[i]));
    entries.push_back(e);
  }
  std::vector<uint8_t> list = encode_file_list(entries);
  std::printf("files %d bytes %llu\n", kFiles, static_cast<unsigned long long>(bytes));

  double fresh = install(root + "\\fresh", list, setup);
  std::printf("fresh %.3f\n", fresh);
#ifndef KESTREL_BENCH_UNNOTED
  std::printf("journal-records %u journal-bytes %u journal-file %s\n", journal_count(), journal_size(),
              journal_on_disk() ? "disk" : "memory");
  if (!all) return fresh < 0 ? 1 : 0;
  // The journal alone: noting as many made files as the installation has,
  // without touching the disk.
  LARGE_INTEGER noting = now();
  for (int i = 0; i < kFiles; ++i) {
    char path[96];
    std::snprintf(path, sizeof path, "%s\\fresh\\folder-%02d\\file-%04d.bin", root.c_str(), i % kFolders, i);
    note_created_file(path);
  }
  std::printf("noting %.6f\n", seconds(noting, now()));
  LARGE_INTEGER start = now();
  keep_changes();
  std::printf("keep-fresh %.3f\n", seconds(start, now()));
  std::printf("over %.3f\n", install(root + "\\fresh", list, setup));
  start = now();
  keep_changes();
  std::printf("keep-over %.3f\n", seconds(start, now()));
  install(root + "\\taken-back", list, setup);
  start = now();
  roll_back_changes();
  std::printf("rollback %.3f\n", seconds(start, now()));
#endif
  return fresh < 0 ? 1 : 0;
}
