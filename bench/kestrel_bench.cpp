// Compression benchmark: our stream encoder's levels against zlib level 9
// and libdeflate level 12 raw deflate, and our decoder against zlib's inflate
// and libdeflate, on one corpus gathered from this machine (Windows PE files
// from Wine, text and HTML documents, a few thousand small files). Each file
// is compressed as a stream of its own, as the archive stores them.
//
//   kestrel-bench [--no-max] [--pe-mb N] [--doc-mb N] [--small N] [--write-corpus DIR]
//                 [--write-install-payloads DIR]
//
// --write-corpus copies the corpus into DIR and ends, so that the setup
// build benchmark (scripts/bench-build) runs on the same files;
// --write-install-payloads writes the generated payloads of the install
// benchmark (scripts/bench-install) and ends.
#include <libdeflate.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "archive/decompressor.h"
#include "base/platform.h"
#include "bench/stream_set.h"
#include "builder/stream_encoder.h"

namespace fs = std::filesystem;

namespace {

enum Kind { kPe, kDocument, kSmall, kKinds };
const char* const kKindNames[kKinds] = {"PE files", "documents", "small files"};

struct CorpusFile {
  std::string path;
  std::vector<uint8_t> bytes;
  Kind kind;
};

struct Corpus {
  std::vector<CorpusFile> files;
  size_t count[kKinds] = {0, 0, 0};
  size_t bytes[kKinds] = {0, 0, 0};
  size_t total() const { return bytes[kPe] + bytes[kDocument] + bytes[kSmall]; }
};

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// CPU time of the calling thread: on a shared machine it does not count the
// time others hold the cores.
double cpu_seconds() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec + t.tv_nsec * 1e-9;
}

double mb_per_s(size_t bytes, double seconds) { return seconds > 0 ? bytes / 1e6 / seconds : 0; }

std::vector<std::string> list_files(const std::vector<std::string>& roots, bool (*wanted)(const fs::path&, uintmax_t)) {
  std::vector<std::string> out;
  for (const std::string& root : roots) {
    std::error_code ec;
    if (!fs::is_directory(root, ec)) continue;
    for (auto it = fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied, ec);
         it != fs::recursive_directory_iterator(); it.increment(ec)) {
      if (ec) break;
      std::error_code e2;
      if (!it->is_regular_file(e2) || it->is_symlink(e2)) continue;
      uintmax_t size = it->file_size(e2);
      if (!e2 && wanted(it->path(), size)) out.push_back(it->path().string());
    }
  }
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

// Takes files spread evenly over the sorted list until `budget` bytes (or
// `max_count` files) are reached.
void take_spread(const std::vector<std::string>& paths, size_t budget, size_t max_count, Kind kind, Corpus* corpus) {
  size_t* files = &corpus->count[kind];
  size_t* bytes = &corpus->bytes[kind];
  if (paths.empty()) return;
  size_t step = 1;
  if (budget != SIZE_MAX) {
    uintmax_t all = 0;
    for (const std::string& p : paths) {
      std::error_code ec;
      all += fs::file_size(p, ec);
    }
    step = std::max<size_t>(1, static_cast<size_t>(all / budget));
  }
  if (max_count != SIZE_MAX) step = std::max<size_t>(step, paths.size() / max_count);
  for (size_t start = 0; start < step && *bytes < budget && *files < max_count; ++start) {
    for (size_t i = start; i < paths.size() && *bytes < budget && *files < max_count; i += step) {
      CorpusFile f{paths[i], {}, kind};
      if (!read_file_bytes(f.path, &f.bytes)) continue;
      *bytes += f.bytes.size();
      ++*files;
      corpus->files.push_back(std::move(f));
    }
  }
}

bool is_pe(const fs::path& p, uintmax_t size) {
  std::string ext = p.extension().string();
  return (ext == ".dll" || ext == ".exe" || ext == ".drv" || ext == ".ocx" || ext == ".cpl" || ext == ".sys") &&
         size >= 4096 && size <= (3u << 19);
}

bool is_document(const fs::path& p, uintmax_t size) {
  std::string ext = p.extension().string(), name = p.filename().string();
  return (ext == ".html" || ext == ".htm" || ext == ".txt" || ext == ".md" || name.rfind("README", 0) == 0 ||
          name.rfind("NEWS", 0) == 0) &&
         size > 16384 && size <= (1u << 20);
}

bool is_small(const fs::path& p, uintmax_t size) {
  std::string ext = p.extension().string(), name = p.filename().string();
  return (ext == ".h" || name == "copyright") && size > 0 && size <= 8192;
}

Corpus gather(size_t pe_budget, size_t doc_budget, size_t small_count) {
  Corpus c;
  take_spread(list_files({"/usr/lib/i386-linux-gnu/wine/i386-windows", "/usr/lib/wine/i386-windows"}, is_pe),
              pe_budget, SIZE_MAX, kPe, &c);
  take_spread(list_files({"/usr/share/doc"}, is_document), doc_budget, SIZE_MAX, kDocument, &c);
  take_spread(list_files({"/usr/include", "/usr/share/doc"}, is_small), SIZE_MAX, small_count, kSmall, &c);
  return c;
}

struct Encoded {
  std::string name;
  std::vector<std::vector<uint8_t>> streams;
  size_t bytes = 0;
  double seconds = 0;      // wall clock
  double cpu_seconds = 0;  // CPU time, summed over the threads
};

// With threads > 1 the files are shared out over that many threads, as
// kestrel build does.
Encoded encode_ours(const Corpus& corpus, int level, unsigned threads = 1) {
  Encoded e;
  e.name = level == kStreamLevelMax ? "kestrel max" : "kestrel " + std::to_string(level);
  if (threads > 1) e.name += ", " + std::to_string(threads) + " cores";
  e.streams.resize(corpus.files.size());
  auto start = std::chrono::steady_clock::now();
  std::atomic<size_t> next{0};
  std::mutex sum;
  auto work = [&] {
    double cpu_start = cpu_seconds();
    for (size_t i; (i = next++) < corpus.files.size();) {
      const CorpusFile& f = corpus.files[i];
      if (encode_stream(f.bytes.data(), f.bytes.size(), level, &e.streams[i]) != kEncodeOk) {
        fprintf(stderr, "kestrel-bench: encoding %s failed\n", f.path.c_str());
        exit(1);
      }
    }
    std::lock_guard<std::mutex> lock(sum);
    e.cpu_seconds += cpu_seconds() - cpu_start;
  };
  std::vector<std::thread> helpers;
  for (unsigned t = 1; t < threads; ++t) helpers.emplace_back(work);
  work();
  for (std::thread& h : helpers) h.join();
  e.seconds = seconds_since(start);
  for (const auto& s : e.streams) e.bytes += s.size();
  return e;
}

Encoded encode_zlib(const Corpus& corpus, int level) {
  Encoded e;
  e.name = "zlib " + std::to_string(level);
  auto start = std::chrono::steady_clock::now();
  double cpu_start = cpu_seconds();
  for (const CorpusFile& f : corpus.files) {
    z_stream z{};
    deflateInit2(&z, level, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
    std::vector<uint8_t> out(deflateBound(&z, f.bytes.size()));
    z.next_in = const_cast<Bytef*>(f.bytes.data());
    z.avail_in = static_cast<uInt>(f.bytes.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    if (deflate(&z, Z_FINISH) != Z_STREAM_END) {
      fprintf(stderr, "kestrel-bench: zlib failed on %s\n", f.path.c_str());
      exit(1);
    }
    out.resize(z.total_out);
    deflateEnd(&z);
    e.bytes += out.size();
    e.streams.push_back(std::move(out));
  }
  e.seconds = seconds_since(start);
  e.cpu_seconds = cpu_seconds() - cpu_start;
  return e;
}

Encoded encode_libdeflate(const Corpus& corpus, int level) {
  Encoded e;
  e.name = "libdeflate " + std::to_string(level);
  auto start = std::chrono::steady_clock::now();
  double cpu_start = cpu_seconds();
  libdeflate_compressor* c = libdeflate_alloc_compressor(level);
  for (const CorpusFile& f : corpus.files) {
    std::vector<uint8_t> out(libdeflate_deflate_compress_bound(c, f.bytes.size()));
    out.resize(libdeflate_deflate_compress(c, f.bytes.data(), f.bytes.size(), out.data(), out.size()));
    e.bytes += out.size();
    e.streams.push_back(std::move(out));
  }
  libdeflate_free_compressor(c);
  e.seconds = seconds_since(start);
  e.cpu_seconds = cpu_seconds() - cpu_start;
  return e;
}

// Decoding: per kind of file, the best of a few passes over the corpus in
// CPU time; every output is checked outside the timed part.
const int kPasses = 5;

struct DecodeTimes {
  double seconds[kKinds];
  double total() const { return seconds[kPe] + seconds[kDocument] + seconds[kSmall]; }
};

// decode_one(i, out) decodes file i into out, which has room for the file
// and one byte more, and answers the number of bytes produced, or -1. Each
// kind is timed as one run of its files (the corpus holds them grouped by
// kind): reading the clock costs a microsecond or more on some machines,
// as much as decoding a small file takes.
template <class Decode>
DecodeTimes time_decoding(const Corpus& corpus, const char* who, Decode decode_one) {
  DecodeTimes best;
  for (double& t : best.seconds) t = 1e30;
  const size_t n = corpus.files.size();
  std::vector<std::vector<uint8_t>> out(n);
  std::vector<long> produced(n);
  for (int pass = 0; pass < kPasses; ++pass) {
    for (size_t i = 0; i < n; ++i) out[i].assign(corpus.files[i].bytes.size() + 1, 0);
    size_t i = 0;
    for (int k = 0; k < kKinds; ++k) {
      double start = cpu_seconds();
      for (; i < n && corpus.files[i].kind == k; ++i) produced[i] = decode_one(i, out[i].data());
      best.seconds[k] = std::min(best.seconds[k], cpu_seconds() - start);
    }
    if (i != n) {
      fprintf(stderr, "kestrel-bench: the corpus is not grouped by kind\n");
      exit(1);
    }
    for (i = 0; i < n; ++i) {
      const CorpusFile& f = corpus.files[i];
      if (produced[i] != static_cast<long>(f.bytes.size()) || memcmp(out[i].data(), f.bytes.data(), f.bytes.size()) != 0) {
        fprintf(stderr, "kestrel-bench: %s decoded %s wrongly\n", who, f.path.c_str());
        exit(1);
      }
    }
  }
  return best;
}

// A temporary file holding `prefix` and then every stream of `e`.
std::string temporary_stream_file(const std::vector<uint8_t>& prefix, const Encoded& e) {
  char path[] = "/tmp/kestrel-bench-XXXXXX";
  int fd = mkstemp(path);
  if (fd < 0) {
    perror("kestrel-bench: mkstemp");
    exit(1);
  }
  close(fd);
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(prefix.data()), static_cast<std::streamsize>(prefix.size()));
  for (const auto& s : e.streams) out.write(reinterpret_cast<const char*>(s.data()), static_cast<std::streamsize>(s.size()));
  if (!out) {
    fprintf(stderr, "kestrel-bench: cannot write %s\n", path);
    exit(1);
  }
  return path;
}

// Our decoder reads from a file, as the setup program does: all streams are
// written one after the other into one file and decoded in order, each
// decode leaving the file on the first byte of the next stream.
DecodeTimes decode_ours(const Corpus& corpus, const Encoded& e) {
  std::string path = temporary_stream_file({}, e);
  FileHandle input = open_file(path.c_str(), 0);
  DecodeTimes t = time_decoding(corpus, "our decoder", [&](size_t i, uint8_t* out) -> long {
    if (i == 0) seek_to(input, 0);
    uint32_t produced = 0;
    uint32_t capacity = static_cast<uint32_t>(corpus.files[i].bytes.size());
    return decode_to_memory(out, capacity, input, 0, &produced) ? static_cast<long>(produced) : -1;
  });
  close_file(input);
  unlink(path.c_str());
  return t;
}

// The decoder alone, from memory: the same footing as the other decoders.
DecodeTimes decode_ours_memory(const Corpus& corpus, const Encoded& e) {
  return time_decoding(corpus, "our decoder (memory)", [&](size_t i, uint8_t* out) -> long {
    uint32_t produced = 0;
    uint32_t capacity = static_cast<uint32_t>(corpus.files[i].bytes.size());
    const std::vector<uint8_t>& s = e.streams[i];
    return decode_from_memory(s.data(), static_cast<uint32_t>(s.size()), out, capacity, &produced)
               ? static_cast<long>(produced)
               : -1;
  });
}

// The same streams in a data area, each read up to its known length, as
// the setup program reads installed files.
DecodeTimes decode_ours_data_area(const Corpus& corpus, const Encoded& e) {
  std::vector<uint32_t> offsets;
  uint32_t total = 0;
  for (const auto& s : e.streams) {
    offsets.push_back(total);
    total += static_cast<uint32_t>(s.size());
  }
  std::string path = temporary_stream_file(data_area_prefix(total), e);
  if (!open_bench_data_area(path.c_str())) {
    fprintf(stderr, "kestrel-bench: cannot open the data area in %s\n", path.c_str());
    exit(1);
  }
  DecodeTimes t = time_decoding(corpus, "our decoder (data area)", [&](size_t i, uint8_t* out) -> long {
    uint32_t produced = 0;
    uint32_t capacity = static_cast<uint32_t>(corpus.files[i].bytes.size());
    if (seek_data(offsets[i]) != 0) return -1;
    uint32_t length = static_cast<uint32_t>(e.streams[i].size());
    return decode_to_memory(out, capacity, data_file, length, &produced) ? static_cast<long>(produced) : -1;
  });
  close_file(data_file);
  data_file = INVALID_FILE_HANDLE;
  unlink(path.c_str());
  return t;
}

DecodeTimes decode_zlib(const Corpus& corpus, const Encoded& e) {
  z_stream z{};
  inflateInit2(&z, -15);
  DecodeTimes t = time_decoding(corpus, "inflate", [&](size_t i, uint8_t* out) -> long {
    inflateReset(&z);
    z.next_in = const_cast<Bytef*>(e.streams[i].data());
    z.avail_in = static_cast<uInt>(e.streams[i].size());
    z.next_out = out;
    z.avail_out = static_cast<uInt>(corpus.files[i].bytes.size() + 1);
    return inflate(&z, Z_FINISH) == Z_STREAM_END ? static_cast<long>(z.total_out) : -1;
  });
  inflateEnd(&z);
  return t;
}

DecodeTimes decode_libdeflate(const Corpus& corpus, const Encoded& e) {
  libdeflate_decompressor* d = libdeflate_alloc_decompressor();
  DecodeTimes t = time_decoding(corpus, "libdeflate", [&](size_t i, uint8_t* out) -> long {
    size_t produced = 0;
    libdeflate_result r = libdeflate_deflate_decompress(d, e.streams[i].data(), e.streams[i].size(), out,
                                                        corpus.files[i].bytes.size() + 1, &produced);
    return r == LIBDEFLATE_SUCCESS ? static_cast<long>(produced) : -1;
  });
  libdeflate_free_decompressor(d);
  return t;
}

// The payloads of the install benchmark, the same on every machine: small/
// holds 5,000 files of 1-8 KB in 50 folders, big/ one file of 100 MiB of
// which about half compresses.
struct Random {
  uint64_t state;
  uint32_t next() {  // splitmix64, upper half
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return static_cast<uint32_t>((z ^ (z >> 31)) >> 32);
  }
};

// Words of a small vocabulary: text that compresses about five to one.
void append_text(Random& random, size_t size, std::vector<uint8_t>* out) {
  static const char* const kWords[] = {"install", "setup",  "the",    "file",  "folder", "program", "windows",
                                       "kestrel", "of",     "and",    "to",    "data",   "version", "registry",
                                       "value",   "a",      "shortcut", "user", "system", "library", "\n"};
  size_t end = out->size() + size;
  while (out->size() < end) {
    const char* word = kWords[random.next() % (sizeof kWords / sizeof *kWords)];
    for (const char* c = word; *c && out->size() < end; ++c) out->push_back(static_cast<uint8_t>(*c));
    if (out->size() < end) out->push_back(' ');
  }
}

void append_noise(Random& random, size_t size, std::vector<uint8_t>* out) {
  for (size_t i = 0; i < size; ++i) out->push_back(static_cast<uint8_t>(random.next()));
}

bool write_file(const fs::path& path, const std::vector<uint8_t>& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (out) return true;
  fprintf(stderr, "kestrel-bench: cannot write %s\n", path.c_str());
  return false;
}

int write_install_payloads(const fs::path& dir) {
  Random random{20240601};
  std::vector<uint8_t> bytes;
  for (int folder = 0; folder < 50; ++folder) {
    for (int file = 0; file < 100; ++file) {
      bytes.clear();
      size_t size = 1024 + random.next() % (7 * 1024 + 1);
      // Text with a little noise, as program files and documents mix.
      append_text(random, size * 3 / 4, &bytes);
      append_noise(random, size - bytes.size(), &bytes);
      char name[64];
      snprintf(name, sizeof name, "folder%02d/file%03d.dat", folder, file);
      if (!write_file(dir / "small" / name, bytes)) return 1;
    }
  }
  // Half of each 4 KiB noise, half text: the file compresses to about 60 %.
  bytes.clear();
  bytes.reserve(100u << 20);
  while (bytes.size() < (100u << 20)) {
    append_noise(random, 2048, &bytes);
    append_text(random, 2048, &bytes);
  }
  if (!write_file(dir / "big" / "big.dat", bytes)) return 1;
  printf("Install payloads: 5000 files in 50 folders and one file of %zu bytes, written to %s\n", bytes.size(),
         dir.c_str());
  return 0;
}

// The corpus as a stream set (bench/stream_set.h): our level-12 streams
// and libdeflate 12's raw deflate.
int write_streams(const Corpus& corpus, const fs::path& dir) {
  fs::create_directories(dir);
  std::ofstream index(dir / "idx.bin", std::ios::binary), ours(dir / "ours.bin", std::ios::binary),
      deflate(dir / "deflate.bin", std::ios::binary), raw(dir / "raw.bin", std::ios::binary);
  libdeflate_compressor* c = libdeflate_alloc_compressor(12);
  for (const CorpusFile& f : corpus.files) {
    std::vector<uint8_t> stream;
    if (encode_stream(f.bytes.data(), f.bytes.size(), kStreamLevelDefault, &stream) != kEncodeOk) return 1;
    std::vector<uint8_t> d(libdeflate_deflate_compress_bound(c, f.bytes.size()));
    d.resize(libdeflate_deflate_compress(c, f.bytes.data(), f.bytes.size(), d.data(), d.size()));
    uint8_t sizes[12];
    put_u32(sizes, static_cast<uint32_t>(f.bytes.size()));
    put_u32(sizes + 4, static_cast<uint32_t>(stream.size()));
    put_u32(sizes + 8, static_cast<uint32_t>(d.size()));
    index.write(reinterpret_cast<const char*>(sizes), 12);
    ours.write(reinterpret_cast<const char*>(stream.data()), stream.size());
    deflate.write(reinterpret_cast<const char*>(d.data()), d.size());
    raw.write(reinterpret_cast<const char*>(f.bytes.data()), f.bytes.size());
  }
  libdeflate_free_compressor(c);
  if (!index || !ours || !deflate || !raw) {
    fprintf(stderr, "kestrel-bench: cannot write the streams to %s\n", dir.c_str());
    return 1;
  }
  printf("Streams of %zu files written to %s\n", corpus.files.size(), dir.c_str());
  return 0;
}

// Decodes a stream set once with one decoder ("none" only reads the set),
// for instruction counts under callgrind; the output is checked.
int decode_streams_once(const fs::path& dir, const std::string& who) {
  std::vector<StreamSizes> sizes;
  std::vector<uint8_t> raw, deflate, ours_bytes;
  if (!read_stream_sizes(dir, &sizes) || !read_file_bytes(dir / "raw.bin", &raw) ||
      !read_file_bytes(dir / "deflate.bin", &deflate) || !read_file_bytes(dir / "ours.bin", &ours_bytes)) {
    fprintf(stderr, "kestrel-bench: no stream set in %s\n", dir.c_str());
    return 1;
  }
  FileHandle ours = open_file((dir / "ours.bin").c_str(), 0);
  libdeflate_decompressor* d = libdeflate_alloc_decompressor();
  z_stream z{};
  inflateInit2(&z, -15);
  std::vector<uint8_t> out;
  size_t at_raw = 0, at_deflate = 0, at_ours = 0;
  for (const StreamSizes& s : sizes) {
    out.assign(s.original + 1, 0);
    size_t produced = 0;
    bool ok = true;
    if (who == "ours") {
      uint32_t n = 0;
      ok = decode_to_memory(out.data(), s.original, ours, 0, &n);
      produced = n;
    } else if (who == "ours-memory") {
      uint32_t n = 0;
      ok = decode_from_memory(ours_bytes.data() + at_ours, s.ours, out.data(), s.original, &n);
      produced = n;
    } else if (who == "libdeflate") {
      ok = libdeflate_deflate_decompress(d, deflate.data() + at_deflate, s.deflate, out.data(), s.original,
                                         &produced) == LIBDEFLATE_SUCCESS;
    } else if (who == "zlib") {
      inflateReset(&z);
      z.next_in = deflate.data() + at_deflate;
      z.avail_in = s.deflate;
      z.next_out = out.data();
      z.avail_out = s.original;
      ok = inflate(&z, Z_FINISH) == Z_STREAM_END;
      produced = z.total_out;
    } else {
      produced = s.original;
      std::copy(raw.begin() + at_raw, raw.begin() + at_raw + s.original, out.begin());
    }
    if (!ok || produced != s.original || !std::equal(out.begin(), out.begin() + s.original, raw.begin() + at_raw)) {
      fprintf(stderr, "kestrel-bench: %s decoded a stream wrongly\n", who.c_str());
      return 1;
    }
    at_raw += s.original;
    at_deflate += s.deflate;
    at_ours += s.ours;
  }
  inflateEnd(&z);
  libdeflate_free_decompressor(d);
  close_file(ours);
  return 0;
}

// One folder per kind; names keep their extension and stay unique.
int write_corpus(const Corpus& corpus, const fs::path& dir) {
  const char* const folders[kKinds] = {"pe", "documents", "small"};
  for (size_t i = 0; i < corpus.files.size(); ++i) {
    const CorpusFile& f = corpus.files[i];
    fs::path to = dir / folders[f.kind] / (std::to_string(i) + "_" + fs::path(f.path).filename().string());
    fs::create_directories(to.parent_path());
    std::ofstream out(to, std::ios::binary);
    out.write(reinterpret_cast<const char*>(f.bytes.data()), static_cast<std::streamsize>(f.bytes.size()));
    if (!out) {
      fprintf(stderr, "kestrel-bench: cannot write %s\n", to.c_str());
      return 1;
    }
  }
  printf("Corpus: %zu files, %.2f MB, written to %s\n", corpus.files.size(), corpus.total() / 1e6, dir.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  bool with_max = true;
  size_t pe_mb = 10, doc_mb = 5, small = 3000;
  const char* corpus_dir = nullptr;
  const char* payload_dir = nullptr;
  const char* streams_dir = nullptr;
  const char* decode_dir = nullptr;
  std::string decode_who;
  for (int i = 1; i < argc; ++i) {
    if (!strcmp(argv[i], "--no-max")) {
      with_max = false;
    } else if (!strcmp(argv[i], "--pe-mb") && i + 1 < argc) {
      pe_mb = strtoul(argv[++i], nullptr, 10);
    } else if (!strcmp(argv[i], "--doc-mb") && i + 1 < argc) {
      doc_mb = strtoul(argv[++i], nullptr, 10);
    } else if (!strcmp(argv[i], "--small") && i + 1 < argc) {
      small = strtoul(argv[++i], nullptr, 10);
    } else if (!strcmp(argv[i], "--write-corpus") && i + 1 < argc) {
      corpus_dir = argv[++i];
    } else if (!strcmp(argv[i], "--write-install-payloads") && i + 1 < argc) {
      payload_dir = argv[++i];
    } else if (!strcmp(argv[i], "--write-streams") && i + 1 < argc) {
      streams_dir = argv[++i];
    } else if (!strcmp(argv[i], "--decode-streams") && i + 2 < argc) {
      decode_dir = argv[++i];
      decode_who = argv[++i];
    } else {
      fprintf(stderr,
              "usage: kestrel-bench [--no-max] [--pe-mb N] [--doc-mb N] [--small N] [--write-corpus DIR]\n"
              "                     [--write-install-payloads DIR] [--write-streams DIR]\n"
              "                     [--decode-streams DIR ours|ours-memory|libdeflate|zlib|none]\n");
      return 2;
    }
  }
  if (payload_dir) return write_install_payloads(payload_dir);
  if (decode_dir) return decode_streams_once(decode_dir, decode_who);
  Corpus corpus = gather(pe_mb << 20, doc_mb << 20, small);
  if (corpus.files.empty()) {
    fprintf(stderr, "kestrel-bench: no corpus files found on this machine\n");
    return 1;
  }
  if (corpus_dir) return write_corpus(corpus, corpus_dir);
  if (streams_dir) return write_streams(corpus, streams_dir);
  double load[3] = {0, 0, 0};
  getloadavg(load, 3);
  unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  printf("Machine: %u cores, load average %.2f %.2f %.2f at the start\n", cores, load[0], load[1], load[2]);
  printf("Corpus: %zu files, %.2f MB:", corpus.files.size(), corpus.total() / 1e6);
  for (int k = 0; k < kKinds; ++k)
    printf("%s %zu %s %.2f MB", k ? "," : "", corpus.count[k], kKindNames[k], corpus.bytes[k] / 1e6);
  printf("\n\n");
  fflush(stdout);

  Encoded zlib9 = encode_zlib(corpus, 9);
  Encoded libdeflate12 = encode_libdeflate(corpus, 12);
  std::vector<Encoded> ours;
  std::vector<int> levels = {1, 6, 9, kStreamLevelDefault};
  if (with_max) levels.push_back(kStreamLevelMax);

  printf("Compression (MB/s and seconds in wall clock, CPU seconds summed over threads; the maximum level on\n"
         "every core, as kestrel build runs it)\n");
  printf("                         size (bytes)   ratio   vs libdeflate 12   MB/s   seconds  CPU seconds\n");
  auto row = [&](const Encoded& e) {
    printf("  %-20s %14zu  %6.2f%%  %+15.3f%%  %7.2f  %8.2f  %11.2f\n", e.name.c_str(), e.bytes,
           100.0 * e.bytes / corpus.total(), 100.0 * (double(e.bytes) / libdeflate12.bytes - 1),
           mb_per_s(corpus.total(), e.seconds), e.seconds, e.cpu_seconds);
    fflush(stdout);
  };
  row(zlib9);
  row(libdeflate12);
  for (int level : levels) {
    ours.push_back(encode_ours(corpus, level, level == kStreamLevelMax ? cores : 1));
    row(ours.back());
  }

  // The same parse for everyone: libdeflate 12's deflate for zlib and
  // libdeflate, its rewrite (our level 12) for our decoder.
  const Encoded& ours12 = ours[3];
  struct Run {
    const char* name;
    const char* short_name;
    DecodeTimes t;
  };
  const Run ours_runs[] = {
      {"kestrel, memory (decoder alone)", "memory", decode_ours_memory(corpus, ours12)},
      {"kestrel, file (configuration blocks)", "file", decode_ours(corpus, ours12)},
      {"kestrel, data area (installed files)", "data area", decode_ours_data_area(corpus, ours12)},
  };
  const Run rivals[] = {
      {"zlib inflate (memory)", "inflate", decode_zlib(corpus, libdeflate12)},
      {"libdeflate (memory)", "libdeflate", decode_libdeflate(corpus, libdeflate12)},
      {"zlib inflate, zlib-9 streams", "inflate of zlib-9 streams", decode_zlib(corpus, zlib9)},
  };
  printf("\nDecompression of the level-12 streams, MB/s in CPU time (best of %d)\n", kPasses);
  printf("  %-38s %8s", "", "all");
  for (int k = 0; k < kKinds; ++k) printf(" %12s", kKindNames[k]);
  printf("\n");
  auto speed_row = [&](const Run& r) {
    printf("  %-38s %8.1f", r.name, mb_per_s(corpus.total(), r.t.total()));
    for (int k = 0; k < kKinds; ++k) printf(" %12.1f", mb_per_s(corpus.bytes[k], r.t.seconds[k]));
    printf("\n");
  };
  for (const Run& r : ours_runs) speed_row(r);
  for (const Run& r : rivals) speed_row(r);
  // Ours from a file pays for its reads, a system call per chunk and a seek
  // per stream, which the others, fed from memory, do not.
  printf("\nOurs against theirs in speed (above 1: ours is faster)\n");
  for (const Run& r : rivals) {
    for (const Run& o : ours_runs) {
      printf("  %-38s %7.2fx", (std::string(o.short_name) + " / " + r.short_name).c_str(), r.t.total() / o.t.total());
      for (int k = 0; k < kKinds; ++k) printf(" %11.2fx", r.t.seconds[k] / o.t.seconds[k]);
      printf("\n");
    }
  }
  const DecodeTimes& memory_t = ours_runs[0].t;
  const DecodeTimes& file_t = ours_runs[1].t;
  const DecodeTimes& area_t = ours_runs[2].t;
  double t_zlib = rivals[0].t.total(), t_libdeflate = rivals[1].t.total();

  double size_gap = 100.0 * (double(ours12.bytes) / libdeflate12.bytes - 1);
  auto verdict = [](bool met) { return met ? "met" : "MISSED"; };
  printf("\nGoals: default level within 0.5%% of libdeflate 12: %+.3f%% %s\n", size_gap, verdict(size_gap <= 0.5));
  printf("       decoder at least as fast as inflate, reads included: %.2fx (file) %.2fx (data area) %s\n",
         t_zlib / file_t.total(), t_zlib / area_t.total(),
         verdict(t_zlib / file_t.total() >= 1.0 && t_zlib / area_t.total() >= 1.0));
  printf("       decoder at least 0.8x libdeflate, both from memory: %.2fx %s (reads included: %.2fx file, "
         "%.2fx data area)\n",
         t_libdeflate / memory_t.total(), verdict(t_libdeflate / memory_t.total() >= 0.8),
         t_libdeflate / file_t.total(), t_libdeflate / area_t.total());
  return 0;
}
