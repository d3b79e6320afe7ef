// kestrel-decode-bench DIR: decodes the stream set that kestrel-bench
// --write-streams wrote into DIR (a Windows path) with the setup program's
// own decoder, as built for it (i686, -Os), and prints its speed: from
// memory (the decoder alone), from a file as configuration blocks are read,
// and from a data area as installed files are. Every pass is checked; the
// best of five after the first, in CPU time and in wall-clock time.
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
std::vector<uint32_t> Offsets;  // of each stream in ours.bin
std::vector<size_t> Starts;     // of each original in raw.bin
std::vector<uint8_t> Ours;
FileHandle Streams = INVALID_FILE_HANDLE;

bool from_memory(size_t i, uint8_t* out) {
  uint32_t produced = 0;
  return decode_from_memory(Ours.data() + Offsets[i], Sizes[i].ours, out, Sizes[i].original, &produced) &&
         produced == Sizes[i].original;
}

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
  std::vector<uint8_t> raw;
  if (!read_stream_sizes(dir, &Sizes) || !read_file_bytes(dir + "/raw.bin", &raw) ||
      !read_file_bytes(dir + "/ours.bin", &Ours)) {
    printf("no stream set in %s\n", dir.c_str());
    return 1;
  }
  // The data area: the same streams behind a block header and length word.
  std::string area = dir + "/area.bin";
  {
    FileHandle file = create_file(area.c_str());
    std::vector<uint8_t> prefix = data_area_prefix(static_cast<uint32_t>(Ours.size()));
    bool ok = file != INVALID_FILE_HANDLE && write_all(file, prefix.data(), static_cast<uint32_t>(prefix.size())) == 0 &&
              write_all(file, Ours.data(), static_cast<uint32_t>(Ours.size())) == 0;
    if (file != INVALID_FILE_HANDLE) close_file(file);
    if (!ok) {
      printf("cannot write %s\n", area.c_str());
      return 1;
    }
  }
  uint32_t offset = 0;
  size_t start = 0;
  for (const StreamSizes& s : Sizes) {
    Offsets.push_back(offset);
    Starts.push_back(start);
    offset += s.ours;
    start += s.original;
  }
  Streams = open_file((dir + "/ours.bin").c_str(), 0);
  if (Streams == INVALID_FILE_HANDLE || !open_bench_data_area(area.c_str())) {
    printf("cannot open the streams\n");
    return 1;
  }
  // Every stream decodes into its own place in one buffer, so that a pass
  // is timed as a whole: reading the clock per stream would cost as much as
  // decoding a small one.
  std::vector<uint8_t> out(raw.size() + 1);
  const Run runs[] = {{"memory (decoder alone)", from_memory},
                      {"file (configuration blocks)", from_file},
                      {"data area (installed files)", from_data_area}};
#ifdef _WIN64
  const char* build = "x86-64";
#else
  const char* build = "i686";
#endif
  printf("%s decoder under Wine, %zu streams, %.2f MB, MB/s (best of %d):\n", build, Sizes.size(), raw.size() / 1e6,
         kPasses);
  for (const Run& run : runs) {
    double best_cpu = 1e30, best_wall = 1e30;
    for (int pass = -1; pass < kPasses; ++pass) {
      std::memset(out.data(), 0, out.size());
      bool ok = true;
      double c0 = cpu_seconds(), w0 = wall_seconds();
      for (size_t i = 0; i < Sizes.size(); ++i) ok = run.decode(i, out.data() + Starts[i]) && ok;
      double cpu = cpu_seconds() - c0, wall = wall_seconds() - w0;
      // Every pass is checked; the first is not counted.
      if (!ok || std::memcmp(out.data(), raw.data(), raw.size()) != 0) {
        printf("%s: a stream decoded wrongly\n", run.name);
        return 1;
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
