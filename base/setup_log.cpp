#include "base/setup_log.h"

#include <cstring>

#include "base/memory.h"
#include "base/path_strings.h"
#include "base/platform.h"

namespace {

FileHandle Log = INVALID_FILE_HANDLE;

bool escaped(unsigned char c) { return c < 0x20 || c == 0x7F || c == '%'; }

// Appends `text` escaped at out[*used] while it fits; counts it either way.
void put_field(char* out, size_t capacity, size_t* used, const char* text) {
  static const char kHex[] = "0123456789ABCDEF";
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
    char piece[3] = {static_cast<char>(*p), 0, 0};
    size_t n = 1;
    if (escaped(*p)) {
      piece[0] = '%';
      piece[1] = kHex[*p >> 4];
      piece[2] = kHex[*p & 15];
      n = 3;
    }
    if (*used + n < capacity) std::memcpy(out + *used, piece, n);
    *used += n;
  }
}

}  // namespace

size_t format_log_line(char* out, size_t capacity, const char* time, const char* const* fields, unsigned count) {
  size_t used = 0;
  put_field(out, capacity, &used, time);
  for (unsigned i = 0; i < count; ++i) {
    if (used + 1 < capacity) out[used] = '\t';
    ++used;
    put_field(out, capacity, &used, fields[i]);
  }
  if (used + 2 < capacity) std::memcpy(out + used, "\r\n", 2);
  used += 2;
  if (used < capacity) {
    out[used] = '\0';
    return used;
  }
  if (capacity) out[0] = '\0';
  return used + 1;
}

bool open_log(const char* path) {
  close_log();
  Log = create_shared_file(path);
  return Log != INVALID_FILE_HANDLE;
}

bool open_log_to_append(const char* path) {
  close_log();
  Log = open_file(path, 1);
  if (Log != INVALID_FILE_HANDLE) seek_from_end(Log, 0);
  return Log != INVALID_FILE_HANDLE;
}

void close_log() {
  if (Log != INVALID_FILE_HANDLE) close_file(Log);
  Log = INVALID_FILE_HANDLE;
}

bool log_is_open() { return Log != INVALID_FILE_HANDLE; }

void log_event(const char* event, const char* a, const char* b, const char* c, const char* d) {
  if (Log == INVALID_FILE_HANDLE) return;
  const char* fields[5] = {event, a, b, c, d};
  unsigned count = 1;
  while (count < 5 && fields[count]) ++count;
  char time[kLocalTimeSize];
  local_time_text(time);
  char small[512];
  char* line = small;
  size_t n = format_log_line(small, sizeof small, time, fields, count);
  // A long line (a registry value, a long message) is written whole.
  if (n >= sizeof small) {
    line = nullptr;
    if (!alloc_block(n, &line)) return;
    n = format_log_line(line, n, time, fields, count);
  }
  write_all(Log, line, static_cast<uint32_t>(n));
  if (line != small) free_block(&line);
}

void registry_log_path(char* out, size_t capacity, uint32_t root, const char* key) {
  static const char kRoots[][5] = {"HKCR", "HKCU", "HKLM", "HKU"};
  uint32_t n = root - 0x80000000u;
  copy_string(out, n < 4 ? kRoots[n] : "?", capacity);
  append_string(out, "\\", capacity);
  append_string(out, key, capacity);
}

void log_number(const char* event, long number, const char* b, const char* c) {
  char text[16];
  bool negative = number < 0;
  text[0] = '-';
  format_decimal(text + negative, sizeof text - 1, negative ? 0ul - static_cast<unsigned long>(number)
                                                              : static_cast<unsigned long>(number), 1);
  log_event(event, text, b, c);
}
