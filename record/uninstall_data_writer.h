// Writing the record of an installation behind the installed uninstaller
// (the layout is in uninstall_data.h), through the file seam, so that it
// is checked on the host as well. Every write and seek is checked; the
// first failure sticks and nothing is written after it, so a caller asks
// once, at the end (finish_record), whether the record is whole.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "base/platform.h"

// The small pieces of a record go out in blocks: a record lists every file
// installed, several pieces each.
enum : uint32_t { kRecordBufferSize = 4096 };

struct RecordFile {
  FileHandle file;
  int result;  // 0, or as the file routines answer: 2 a write (or seek) failed, 3 a write came out short
  uint32_t buffered = 0;  // bytes in `buffer` not written yet
  uint8_t buffer[kRecordBufferSize] = {};
};

// Writes what waits in the buffer; true when the whole record so far is
// written. Called before the file is closed.
bool finish_record(RecordFile* log);

void write_record_bytes(RecordFile* log, const void* bytes, uint32_t count);
void write_record_u8(RecordFile* log, uint8_t value);
void write_record_u32(RecordFile* log, uint32_t value);
void write_block_header(RecordFile* log, uint16_t id, uint32_t size);
// u16 length, then the text's bytes without terminator.
void write_counted_string(RecordFile* log, const char* text);
// One RemoveList record for DestPath: its folder (".", ".\sub" inside
// InstallDir, which ends in a backslash; else absolute), its name, the flags.
void write_log_record(RecordFile* log, uint8_t flags);

// A block whose size is known only once its payload is written: its header
// goes at header_at (the log's end for open_block), and close_block writes
// the size, and the payload's leading count when count is not null, then
// returns to the end.
uint32_t open_block(RecordFile* log, uint16_t id);
void close_block(RecordFile* log, uint32_t header_at, uint16_t id, const uint32_t* count);

// The InstallFolder block.
void write_install_folder(RecordFile* log, const char* folder);
// The NativeMode block of an installation in the 64-bit mode.
void write_native_mode(RecordFile* log, uint32_t architecture);
// SettingsList records (inside a block the caller opens).
void write_registry_setting(RecordFile* log, uint32_t root, const char* key, const char* name, uint8_t flags,
                            uint8_t created_keys);
void write_ini_setting(RecordFile* log, const char* file, const char* section, const char* key, uint8_t flags);
// A PathEntries record (inside a block the caller opens).
void write_path_entry(RecordFile* log, uint8_t scope, const char* entry);
