// The journal's records as bytes, and the journal file that holds them on
// disk while an installation runs, so that a run ended by force (killed,
// crashed, the power gone) can be taken back by the next one. Portable:
// the reader is what the next run trusts, and the native tests and the
// fuzz target run it on damaged files.
//
// A record: u32 size of the whole record, u8 kind, u8 existed, u16 path
// length, u16 other length, u16 flags, u32 number; then the path and the
// other text, each with its terminator, then the data. A registry value's
// data begins with its u32 type; an INI key's is the key and, when it
// existed, its earlier value, each with its terminator.
//
// The file: u32 kJournalMagic, u16 kJournalFormat, u16 name length, the
// product's name (the one its journal is found by), u32 checksum of what
// comes before it; then each record followed by the u32 checksum of its
// bytes (its flags counted as 0), seeded with the checksum before it.
// Records are only added, but for their flags: a change taken back is
// flagged in place, one byte written, so that a run ended while it took
// changes back does not take them back twice (a shared count would fall
// twice). A mark record says that the installation is complete and only
// its backups remain to go.
#pragma once
#include <cstddef>
#include <cstdint>

enum : uint32_t {
  kJournalMagic = 0x4C4E4A4B,  // "KJNL"
  kJournalFormat = 1,
  kRecordHeaderSize = 16,
  // A record cannot be larger: registry values and INI values are bounded
  // far below this where they are noted.
  kRecordLimit = 0x01000000,
  kJournalNameLimit = 512,
};

// The changes a record may note, by its kind.
enum class ChangeKind : uint8_t {
  kCreatedFile,        // path: a file that was not there
  kReplacedFile,       // path, backup, number = its attributes: the old file waits as backup
  kCreatedFolder,      // path
  kRegistryValue,      // number = root, path = key, name, earlier data (type, bytes) or none
  kCreatedKey,         // number = root, path = key
  kAddedFont,          // path: AddFontResourceA
  kRegisteredLibrary,  // path: DllRegisterServer was called
  kPathEntry,          // number = scope, path = the entry added to that search path
  kRestartRename,      // path = source, other = target: a pair added to PendingFileRenameOperations
  kIniKey,             // path = file, other = section, data = key, then its earlier value when it existed;
                       // number = kIniFileMade | kIniSectionMade
  kSharedCount,        // path = library, number = how much this run raised its count; existed: it was counted
  kRecordWritten,      // path = the uninstaller whose record now holds this run: nothing to take back
};

// What a kIniKey record's key made besides itself.
enum : uint32_t { kIniFileMade = 1, kIniSectionMade = 2 };

struct Change {
  ChangeKind kind;
  bool existed;     // kRegistryValue, kIniKey, kSharedCount: the value was there (with type and data)
  bool taken_back;  // a journal of an ended run: this change is undone already
  uint32_t number;  // attributes or root key
  uint32_t type;    // kRegistryValue: the earlier value's type
  const char* path;
  const char* other;  // backup or value name; "" when unused
  const uint8_t* data;
  uint32_t data_length;
};

// The record at *position of [0, used) decoded, and the position moved to
// the next one; false at the end. Its texts and data point into the bytes,
// which are sound ones (written by this run, or passed by read_journal).
bool decode_change(const uint8_t* bytes, uint32_t used, uint32_t* position, Change* change);

enum : uint8_t {
  kLastChangeKind = static_cast<uint8_t>(ChangeKind::kRecordWritten),
  kMarkComplete = 0x40,  // the installation stands; its backups go
};

// A change's flags: taken back already.
enum : uint16_t { kChangeTakenBack = 1 };
enum : uint32_t { kFlagsOffset = 10 };

// Where the change at `position` of the journal's records, the index-th,
// lies in the file whose head is head_size bytes: each record before it
// is followed by its checksum.
inline uint32_t change_file_offset(uint32_t head_size, uint32_t position, uint32_t index) {
  return head_size + position + 4 * index;
}

// The registry roots a record may name, as their handle values.
enum : uint32_t { kFirstRoot = 0x80000000u, kLastRoot = 0x80000003u };

// A record into out, which has room for its size: kRecordHeaderSize, the
// two texts with their terminators and the data. The lengths are the
// caller's to bound (u16 texts, a size below kRecordLimit).
void write_record(uint8_t* out, uint32_t size, uint8_t kind, bool existed, uint32_t number, const char* path,
                  uint32_t path_length, const char* other, uint32_t other_length, const void* data,
                  uint32_t data_length);

// The checksum of a record of `size` bytes that follows `seed`.
uint32_t record_checksum(const uint8_t* record, uint32_t size, uint32_t seed);

// The head of the file for the product `name` into out (room for
// journal_head_size(name) bytes); answers its size.
uint32_t journal_head_size(const char* name);
uint32_t write_journal_head(const char* name, uint8_t* out);

enum class JournalReading : uint8_t {
  kWhole,         // every byte read: all records sound
  kCutShort,      // the last record was being written: the ones before it stand
  kDamaged,       // a record in the middle is wrong: the ones before it stand
  kNotAJournal,   // the head is wrong: nothing stands
  kOtherProduct,  // a sound journal of another product: nothing stands
};

struct JournalContents {
  uint32_t records_end;  // the changes' bytes: [0, records_end) of the output
  uint32_t count;        // changes
  uint32_t bad_offset;   // where the file stopped being read (kCutShort, kDamaged)
  bool complete;         // a kMarkComplete was read
};

// Reads the journal file's bytes (size of them) for the product `name`.
// The sound changes go into out, in the order of the file, each as a
// record without its checksum, with its flags; out has room for `size` bytes (the changes are never more than the
// file). Every length and offset is checked against the bytes read, every
// text ends where its length says, every kind and root is known.
JournalReading read_journal(const uint8_t* bytes, size_t size, const char* name, uint8_t* out,
                            JournalContents* contents);
