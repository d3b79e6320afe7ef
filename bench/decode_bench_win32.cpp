// kestrel-decode-bench DIR: decodes the stream set that kestrel-bench
// --write-streams wrote into DIR (a Windows path) with the setup program's
// own decoder, as built for it (i686, -Os), and prints its speed: from a
// file as configuration blocks are read, and from a data area as installed
// files are. Every output is checked first; then the best of five passes in
// CPU time, and in wall-clock time.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "archive/decompressor.h"
#include "bench/stream_set.h"

namespace {

const int kPasses = 5;

double cpu_seconds() {
  FILETIME created, exited, kernel, user;
  GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
  auto seconds = [](const FILETIME& t) {
    return (static_cast<uint64_t>(t.dwHighDateTime) << 32 | t.dwLowDateTime) * 1e-7;
  };
  return seconds(kernel) + seconds(user);
}

double wall_seconds() {
  LARGE_INTEGER frequency, now;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

struct Run {
  const char* name;
  // Decodes stream i into out; false when it failed.
  bool (*decode)(size_t i, uint8_t* out);
};

std::vector<StreamSizes> Sizes;
std::vector<uint32_t> Offsets;
FileHandle Streams = INVALID_FILE_HANDLE;

bool from_file(size_t i, uint8_t* out) {
  if (i == 0) seek_to(Streams, 0);
  uint32_t produced = 0;
  return decode_to_memory(out, Sizes[i].original, Streams, 0, &produced) && produced == Sizes[i].original;
}

bool from_data_area(size_t i, uint8_t* out) {
  uint32_t produced = 0;
  return seek_data(Offsets[i]) == 0 &&
         decode_to_memory(out, Sizes[i].original, data_file, Sizes[i].ours, &produced) &&
         produced == Sizes[i].original;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    printf("usage: kestrel-decode-bench DIR\n");
    return 2;
  }
  std::string dir = argv[1];
  std::vector<uint8_t> raw, ours;
  if (!read_stream_sizes(dir, &Sizes) || !read_file_bytes(dir + "/raw.bin", &raw) ||
      !read_file_bytes(dir + "/ours.bin", &ours)) {
    printf("no stream set in %s\n", dir.c_str());
    return 1;
  }
  // The data area: the same streams behind a block header and length word.
  std::string area = dir + "/area.bin";
  {
    FileHandle file = create_file(area.c_str());
    std::vector<uint8_t> prefix = data_area_prefix(static_cast<uint32_t>(ours.size()));
    bool ok = file != INVALID_FILE_HANDLE && write_all(file, prefix.data(), static_cast<uint32_t>(prefix.size())) == 0 &&
              write_all(file, ours.data(), static_cast<uint32_t>(ours.size())) == 0;
    if (file != INVALID_FILE_HANDLE) close_file(file);
    if (!ok) {
      printf("cannot write %s\n", area.c_str());
      return 1;
    }
  }
  uint32_t offset = 0;
  for (const StreamSizes& s : Sizes) {
    Offsets.push_back(offset);
    offset += s.ours;
  }
  Streams = open_file((dir + "/ours.bin").c_str(), 0);
  if (Streams == INVALID_FILE_HANDLE || !open_bench_data_area(area.c_str())) {
    printf("cannot open the streams\n");
    return 1;
  }
  std::vector<uint8_t> out;
  const Run runs[] = {{"file (configuration blocks)", from_file}, {"data area (installed files)", from_data_area}};
  printf("i686 decoder under Wine, %zu streams, %.2f MB, MB/s (best of %d):\n", Sizes.size(), raw.size() / 1e6,
         kPasses);
  for (const Run& run : runs) {
    double best_cpu = 1e30, best_wall = 1e30;
    for (int pass = -1; pass < kPasses; ++pass) {
      double cpu = 0, wall = 0;
      size_t at = 0;
      for (size_t i = 0; i < Sizes.size(); ++i) {
        out.resize(Sizes[i].original + 1);
        double c0 = cpu_seconds(), w0 = wall_seconds();
        bool ok = run.decode(i, out.data());
        cpu += cpu_seconds() - c0;
        wall += wall_seconds() - w0;
        // The first pass checks every output and is not counted.
        if (pass < 0 && (!ok || std::memcmp(out.data(), raw.data() + at, Sizes[i].original) != 0)) {
          printf("stream %u decoded wrongly\n", static_cast<unsigned>(i));
          return 1;
        }
        at += Sizes[i].original;
      }
      if (pass < 0) continue;
      if (cpu < best_cpu) best_cpu = cpu;
      if (wall < best_wall) best_wall = wall;
    }
    printf("  %-30s %8.1f (CPU time) %8.1f (wall clock)\n", run.name, raw.size() / 1e6 / best_cpu,
           raw.size() / 1e6 / best_wall);
  }
  close_file(Streams);
  close_file(data_file);
  DeleteFileA(area.c_str());
  return 0;
}
