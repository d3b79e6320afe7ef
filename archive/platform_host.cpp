// Host side of the seam: POSIX files, message boxes through a handler, and
// the default folder taken as the archive states it.
#include "archive/platform_host.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "archive/config.h"
#include "archive/platform.h"
#include "base/globals.h"
#include "base/path_strings.h"

static int fd_of(FileHandle file) { return static_cast<int>(reinterpret_cast<intptr_t>(file)); }
static FileHandle handle_of(int fd) {
  return fd < 0 ? INVALID_FILE_HANDLE : reinterpret_cast<FileHandle>(static_cast<intptr_t>(fd));
}

FileHandle open_file(const char* path, int mode) {
  int flags = mode == 0 ? O_RDONLY : mode == 1 ? O_WRONLY : O_RDWR;
  return handle_of(::open(path, flags | O_CLOEXEC));
}

FileHandle create_file(const char* path) {
  return handle_of(::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
}

FileHandle create_shared_file(const char* path) { return create_file(path); }

FileHandle create_temp_file(const char* beside, const char* tag, char* path, size_t capacity) {
  char extension[8] = ".";
  char head[2 * kPathSize];
  bool fits = append_string(extension, tag, sizeof extension) && copy_string(head, beside, sizeof head) &&
              set_extension(head, sizeof head, extension);
  path[0] = '\0';
  for (int tries = 0; fits && tries < 100; ++tries) {
    uint32_t random = 0;
    char digits[12];
    if (::getrandom(&random, sizeof random, 0) != sizeof random) break;
    std::snprintf(digits, sizeof digits, "%08x", random);
    if (!copy_string(path, head, capacity) || !append_string(path, digits, capacity)) break;
    int fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0) return handle_of(fd);
    if (errno != EEXIST) break;
  }
  return INVALID_FILE_HANDLE;
}

uint32_t read_some(FileHandle file, void* buffer, uint32_t count) {
  uint8_t* p = static_cast<uint8_t*>(buffer);
  uint32_t done = 0;
  while (done < count) {
    ssize_t n = ::read(fd_of(file), p + done, count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<uint32_t>(n);
  }
  return done;
}

int read_exact(FileHandle file, void* buffer, uint32_t count) {
  return read_some(file, buffer, count) == count ? 0 : 1;
}

int write_all(FileHandle file, const void* buffer, uint32_t count) {
  const uint8_t* p = static_cast<const uint8_t*>(buffer);
  uint32_t done = 0;
  while (done < count) {
    ssize_t n = ::write(fd_of(file), p + done, count - done);
    if (n < 0 && errno == EINTR) continue;
    // A full disk is a short write, however much of it went through.
    if (n < 0) return done == 0 && errno != ENOSPC ? 2 : 3;
    if (n == 0) return 3;
    done += static_cast<uint32_t>(n);
  }
  return 0;
}

static uint32_t seek(FileHandle file, int64_t offset, int whence) {
  off_t r = ::lseek(fd_of(file), static_cast<off_t>(offset), whence);
  return r < 0 ? 0xFFFFFFFFu : static_cast<uint32_t>(r);
}

uint32_t tell_file(FileHandle file) { return seek(file, 0, SEEK_CUR); }
uint32_t seek_to(FileHandle file, uint32_t offset) { return seek(file, offset, SEEK_SET); }
uint32_t skip_file(FileHandle file, int32_t distance) { return seek(file, distance, SEEK_CUR); }
uint32_t seek_from_end(FileHandle file, int32_t distance) { return seek(file, distance, SEEK_END); }

uint32_t file_length(FileHandle file) {
  struct stat st;
  if (::fstat(fd_of(file), &st) != 0) return 0;
  return static_cast<uint32_t>(st.st_size);
}

int close_file(FileHandle file) { return ::close(fd_of(file)) == 0 ? 1 : 0; }

bool delete_file(const char* path) { return ::unlink(path) == 0; }

bool rename_file(const char* from, const char* to) {
  // MoveFileA refuses to replace; so does this, to behave alike.
  if (::access(to, F_OK) == 0) return false;
  return ::rename(from, to) == 0;
}

bool replace_file(const char* from, const char* to) { return ::rename(from, to) == 0; }

// FILETIMEs count 100 ns from 1601; the host has no creation time to set.
bool set_file_times(FileHandle file, const uint8_t* times) {
  struct timespec ts[2];
  for (int i = 0; i < 2; ++i) {
    const uint8_t* t = times + 8 * (i + 1);
    uint64_t ft = 0;
    for (int b = 7; b >= 0; --b) ft = (ft << 8) | t[b];
    const uint64_t kUnixEpoch = 116444736000000000ull;
    if (ft < kUnixEpoch) ft = kUnixEpoch;
    ts[i].tv_sec = static_cast<time_t>((ft - kUnixEpoch) / 10000000u);
    ts[i].tv_nsec = static_cast<long>((ft - kUnixEpoch) % 10000000u * 100);
  }
  return ::futimens(fd_of(file), ts) == 0;
}

static int print_message(const char* text, unsigned style) {
  std::fprintf(stderr, "%s\n", text);
  unsigned buttons = style & 0x0F;
  if (buttons == kMbYesNo) return kIdNo;
  if (buttons == kMbOkCancel || buttons == kMbRetryCancel) return kIdCancel;
  return kIdOk;
}

static MessageBoxHandler message_box_handler = print_message;

void set_message_box_handler(MessageBoxHandler handler) {
  message_box_handler = handler ? handler : print_message;
}

int message_box(const char* text, unsigned style) { return message_box_handler(text, style); }

void compact_heap() {}

void local_time_text(char* out) {
  time_t now = ::time(nullptr);
  struct tm t;
  ::localtime_r(&now, &t);
  if (::strftime(out, kLocalTimeSize, "%Y-%m-%d %H:%M:%S", &t) == 0) out[0] = '\0';
}

// The host has no registry or INI files to consult: the default folder is
// the archive's own text, macros unexpanded.
// The host reads every setup as written, its folders the archive's own;
// it notes the architecture for the tool to show.
bool ArchitectureRefused;
unsigned long LoadedArchitecture;
void take_architecture(uint32_t code) { LoadedArchitecture = code; }

void default_install_dir(const SetupTypeRecord* record) {
  InstallDir[0] = '\0';
  if (record->default_folder) copy_string(InstallDir, record->default_folder, kPathSize);
}
