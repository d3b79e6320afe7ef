#include "record/uninstall_data_writer.h"

#include <string.h>

#include "archive/format.h"
#include "base/globals.h"
#include "base/path_strings.h"
#include "record/uninstall_data.h"

namespace {

void seek_exactly(RecordFile* log, uint32_t offset) {
  if (finish_record(log) && seek_to(log->file, offset) != offset) log->result = 2;
}

// Where the next byte goes in the file.
uint32_t record_position(RecordFile* log) { return tell_file(log->file) + log->buffered; }

void write_counted(RecordFile* log, const char* text, size_t n) {
  uint8_t length[2];
  put_u16(length, static_cast<uint16_t>(n));
  write_record_bytes(log, length, sizeof length);
  write_record_bytes(log, text, static_cast<uint16_t>(n));
}

}  // namespace

bool finish_record(RecordFile* log) {
  if (log->result == 0 && log->buffered != 0) log->result = write_all(log->file, log->buffer, log->buffered);
  log->buffered = 0;
  return log->result == 0;
}

void write_record_bytes(RecordFile* log, const void* bytes, uint32_t count) {
  if (log->result != 0 || count == 0) return;
  if (count > kRecordBufferSize - log->buffered && !finish_record(log)) return;
  if (count >= kRecordBufferSize) {
    log->result = write_all(log->file, bytes, count);
    return;
  }
  memcpy(log->buffer + log->buffered, bytes, count);
  log->buffered += count;
}

void write_record_u8(RecordFile* log, uint8_t value) { write_record_bytes(log, &value, 1); }

void write_record_u32(RecordFile* log, uint32_t value) {
  uint8_t bytes[4];
  put_u32(bytes, value);
  write_record_bytes(log, bytes, sizeof bytes);
}

void write_block_header(RecordFile* log, uint16_t id, uint32_t size) {
  uint8_t header[kBlockHeaderSize];
  put_u16(header, id);
  put_u16(header + 2, 0);
  put_u32(header + 4, size);
  write_record_bytes(log, header, sizeof header);
}

void write_counted_string(RecordFile* log, const char* text) { write_counted(log, text, strlen(text)); }

void write_log_record(RecordFile* log, uint8_t flags) {
  char folder[sizeof DestPath + 2];
  char* out = folder;
  const char* rest = DestPath;
  size_t n = strlen(InstallDir);
  // An empty InstallDir would make every path look relative to it.
  bool inside = n > 0 && strlen(DestPath) >= n && same_folded(DestPath, InstallDir, n);
  if (inside) {
    rest += n;
    *out++ = '.';
  }
  const char* slash = strrchr(rest, '\\');
  size_t length = slash ? slash - rest : 0;
  if (inside && slash) *out++ = '\\';
  memcpy(out, rest, length);
  out[length] = '\0';
  write_counted_string(log, folder);
  write_counted_string(log, slash ? slash + 1 : rest);
  write_record_u8(log, flags);
}

uint32_t open_block(RecordFile* log, uint16_t id) {
  uint32_t at = log->result == 0 ? record_position(log) : 0;
  write_block_header(log, id, 0);
  return at;
}

void close_block(RecordFile* log, uint32_t header_at, uint16_t id, const uint32_t* count) {
  if (log->result != 0) return;
  uint32_t end = record_position(log);
  seek_exactly(log, header_at);
  write_block_header(log, id, end - header_at - kBlockHeaderSize);
  if (count) write_record_u32(log, *count);
  seek_exactly(log, end);
}

void write_install_folder(RecordFile* log, const char* folder) {
  size_t n = strlen(folder);
  write_block_header(log, kInstallFolderId, static_cast<uint32_t>(2 + n));
  write_counted(log, folder, n);
}

void write_native_mode(RecordFile* log, uint32_t architecture) {
  write_block_header(log, kNativeModeId, 4);
  write_record_u32(log, architecture);
}

void write_registry_setting(RecordFile* log, uint32_t root, const char* key, const char* name, uint8_t flags,
                            uint8_t created_keys) {
  write_record_u8(log, kSettingRegistryValue);
  write_record_u32(log, root);
  write_counted_string(log, key);
  write_counted_string(log, name);
  write_record_u8(log, flags);
  write_record_u8(log, created_keys);
}

void write_ini_setting(RecordFile* log, const char* file, const char* section, const char* key, uint8_t flags) {
  write_record_u8(log, kSettingIniEntry);
  write_counted_string(log, file);
  write_counted_string(log, section);
  write_counted_string(log, key);
  write_record_u8(log, flags);
}

void write_path_entry(RecordFile* log, uint8_t scope, const char* entry) {
  write_record_u8(log, scope);
  write_counted_string(log, entry);
}
