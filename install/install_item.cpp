#include "install/install_item.h"

#include <shlobj.h>
#include <string.h>
#include <windows.h>

#include "archive/checksum.h"
#include "archive/config.h"
#include "archive/data_area.h"
#include "archive/decompressor.h"
#include "archive/file_entry.h"
#include "archive/format.h"
#include "archive/lzma_decoder.h"
#include "archive/messages.h"
#include "archive/output_sink.h"
#include "archive/patch.h"
#include "base/command_line.h"
#include "base/globals.h"
#include "base/memory.h"
#include "base/native_mode.h"
#include "base/path_strings.h"
#include "base/platform.h"
#include "base/replace.h"
#include "base/scaled.h"
#include "base/setup_log.h"
#include "base/shared_count.h"
#include "base/system_libraries.h"
#include "base/unguessable_files.h"
#include "install/destination.h"
#include "install/engine_reports.h"
#include "install/engine_state.h"
#include "install/folders.h"
#include "install/journal.h"
#include "install/product_identity.h"
#include "install/preparation.h"
#include "install/registrations.h"
#include "install/safe_replace.h"
#include "install/shortcuts.h"
#include "install/uninstall_record.h"

namespace {

enum : int { kTextInUse = 22, kTextNewerVersion = 29, kTextOtherLanguage = 30 };
enum : uint32_t { kVersionMessageCapacity = 2048, kVersionLanguage = 16 };
// Unattended, a file in use is tried this many more times, so far apart.
enum : unsigned { kInUseRetries = 3, kInUseRetryMs = 1000 };
unsigned InUseRetries;  // of the file being placed
// Larger items take a noticeable time to decode and write.
enum : uint32_t { kQuickItemSize = 256 * 1024 };

void set_status(uint8_t* entry, uint16_t status) { put_u16(entry + kEntryStatus, status); }
uint16_t item_status(const uint8_t* entry) { return get_u16(entry + kEntryStatus); }

// The existing file at `path` is the entry's file already: same length and
// checksum.
bool same_as_entry(const char* path, const uint8_t* entry) {
  FileHandle file = open_file(path, 0);
  if (file == INVALID_FILE_HANDLE) return false;
  bool same = file_length(file) == get_u32(entry + kEntrySize) &&
              checksum_file(file) == get_u32(entry + kEntryChecksum);
  close_file(file);
  return same;
}

// An item whose name is shown at once: it may keep the engine a while
// (a large file, a patch, a copy from the source folder).
bool takes_a_while(const uint8_t* entry) {
  return get_u32(entry + kEntrySize) >= kQuickItemSize || (entry[kEntryFlags] & (kItemPatch | kItemFromSource));
}

void discard_temp_file() {
  if (TempPath[0] != '\0') delete_file(TempPath);
}

// Asks a yes/no question about DestPath; a text from the archive is never
// handed to a printf-style formatter.
bool user_agrees(char* message, int text) {
  copy_string(MessageArgument, DestPath, kPathSize);
  format_message(message, text);
  return message_box(message, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
}

void close_temp(FileHandle* file) {
  if (*file != INVALID_FILE_HANDLE) close_file(*file);
  *file = INVALID_FILE_HANDLE;
}

// The entry whose data a patch starts from; null when the archive names
// none that exists.
const uint8_t* base_entry(const uint8_t* entry) {
  uint16_t type = get_u16(entry + kEntrySetupType);
  int32_t index = static_cast<int32_t>(get_u32(entry + kEntryIndex));
  if (type >= SetupTypeCount || index < 0) return nullptr;
  const uint8_t* list = SetupTypeTable[type].file_list;
  if (!list || static_cast<uint32_t>(index) >= get_u32(list)) return nullptr;
  const uint8_t* base = list + 4;
  while (index-- > 0) base = next_entry(base);
  return base;
}

// The item's outcome: its status, and the log's line about DestPath.
void settle_item(uint8_t* entry, uint16_t status, const char* event, const char* detail) {
  set_status(entry, status);
  log_event(event, DestPath, detail);
}

// DestPath replaced by the file at `source` at the next start of Windows.
bool schedule_item(const char* source) {
  if (!schedule_replacement(DestPath, source)) return false;
  RestartNeeded = true;
  log_event("scheduled", DestPath);
  return true;
}

// CopyFileA of the entry's file from the setup file's folder into TempPath,
// over the temporary file *out, which keeps the name for us.
bool copy_from_source(const uint8_t* entry, FileHandle* out) {
  close_temp(out);
  const char* name = entry_string(entry, 0);
  char source[2 * kPathSize];
  bool fits = beside_setup_file(source, sizeof source, name);
  if (!fits || !CopyFileA(source, TempPath, FALSE)) {
    SavedSystemError = fits ? GetLastError() : ERROR_FILENAME_EXCED_RANGE;
    return fail_install(kErrorSystem, name);
  }
  // A read-only source makes a read-only copy, which could not be written.
  DWORD attributes = GetFileAttributesA(TempPath);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
    SetFileAttributesA(TempPath, attributes & ~FILE_ATTRIBUTE_READONLY);
  return true;
}

// A long item gives the wizard its turn between slices of its data: the
// clock is read after each piece (32 KiB, decoded and written in well
// under a millisecond today), and every kSliceMs the bar moves within the
// item's share and the waiting messages go through. A Cancel confirmed
// there stops the stream as a give-up at the disk prompt does.
enum : DWORD { kSliceMs = 50 };
struct ItemShare {
  uint32_t from, to;  // percent before and after the item
  uint32_t size;      // its bytes, 0 for a bar that stays (a patch reports its own)
};
ItemShare Share;

// Writes decoded bytes into the temporary file and sums them as they go.
// Every write is checked, so the sum is that of the file as written and
// need not be read back; a failed or short write (a full disk) stops the
// stream. The pieces come whole, multiples of 4 but the last, so the sum
// joins up as over the whole file.
class SummingFileSink : public OutputSink {
 public:
  explicit SummingFileSink(FileHandle file) : file_(file), slice_start_(GetTickCount()) {}
  bool ready() override { return true; }
  bool write(const uint8_t* data, uint32_t count) override {
    failure = write_all(file_, data, count);
    if (failure != 0) return false;
    sum = checksum_block(data, count, sum);
    written_ += count;
    return next_slice();
  }
  uint32_t sum = 0;
  int failure = 0;  // of write_all: 2 failed, 3 short (a full disk)

 private:
  bool next_slice() {
    DWORD now = GetTickCount();
    if (now - slice_start_ < kSliceMs) return true;
    slice_start_ = now;
    uint32_t percent = Share.from;
    if (Share.size != 0 && Share.to > Share.from) percent += scaled(written_, Share.to - Share.from, Share.size);
    return item_slice(percent);
  }
  FileHandle file_;
  uint32_t written_ = 0;
  DWORD slice_start_;
};

// An item of the setup type's solid stream: the next data-length bytes of
// the stream (the uninstaller's are fewer than its size), into `sink` or,
// without one, passed over (a file that is kept). The stream starts at the
// type's first such item.
bool read_solid(SummingFileSink* sink, const uint8_t* entry) {
  if (!SolidStream) {
    const SetupTypeSlot& slot = SetupTypeTable[CurrentSetupType];
    const uint8_t* s = slot.solid;
    if (!s || slot.solid_length < kSolidBlockSize || s[kSolidMethod] != kSolidLzma)
      return fail_install(kErrorDataUnreadable, ArchivePath);
    ErrorState = static_cast<int32_t>(seek_data(get_u32(s + kSolidPosition)));
    if (ErrorState != 0) return false;
    int begun = lzma_begin(&SolidStream, s[kSolidProperties], get_u32(s + kSolidDictionary), data_file,
                           get_u32(s + kSolidLength));
    if (begun != 0) return fail_install(begun == kStreamNoMemory ? kErrorNoMemory : kErrorDataUnreadable, ArchivePath);
  }
  // A failed write is the sink's to report, a give-up at the disk prompt
  // has ended the installation already; anything else is damaged data.
  if (!lzma_read(SolidStream, sink, get_u32(entry + kEntryDataLength)) && !(sink && sink->failure) &&
      PageResult != kPageToClosing)
    return fail_install(kErrorDataUnreadable, ArchivePath);
  return PageResult != kPageToClosing;
}

// Decodes the entry's data into `sink`. False when the data cannot be
// reached (ErrorState) or the user cancelled.
bool decode_item(SummingFileSink& sink, const uint8_t* entry) {
  if (entry[kEntryFlags] & kItemSolid) return read_solid(&sink, entry);
  ErrorState = static_cast<int32_t>(seek_data(get_u32(entry + kEntryDataPosition)));
  if (ErrorState != 0) return false;
  uint32_t length = get_u32(entry + kEntryDataLength);
  // A length of 0 would let the decoder read on unbounded: no data means
  // an empty file, which the checksum then judges.
  if (length != 0) decode_to_sink(sink, data_file, length);
  return PageResult != kPageToClosing;
}

// A damaged file: its data, a write of it, or what was written is not the
// entry's.
bool report_damaged() { return fail_install(kErrorChecksum, DestPath); }

bool written_as_stored(const SummingFileSink& sink, uint32_t checksum) {
  return sink.failure == 0 && sink.sum == checksum ? true : report_damaged();
}

bool verify_temp_file(uint32_t checksum) {
  FileHandle file = open_file(TempPath, 0);
  if (file == INVALID_FILE_HANDLE) return fail_install(kErrorOpen, TempPath);
  uint32_t sum = checksum_file(file);
  close_file(file);
  return sum == checksum ? true : report_damaged();
}

bool write_patched(const uint8_t* entry, FileHandle* out, uint32_t before, uint32_t after) {
  const uint8_t* base = base_entry(entry);
  if (!base) return fail_install(kErrorDataUnreadable, ArchivePath);
  uint32_t checksum = get_u32(base + kEntryChecksum);
  if (base[kEntryFlags] & kItemFromSource) {
    if (!copy_from_source(entry, out) || !verify_temp_file(checksum)) return false;
  } else {
    SummingFileSink sink(*out);
    if (!decode_item(sink, base)) return false;
    close_temp(out);
    if (!written_as_stored(sink, checksum)) return false;
  }
  ErrorState = static_cast<int32_t>(apply_patch(entry, TempPath, before, after));
  return ErrorState == 0;
}

// A failed write of the uninstaller, its image or its data: a full disk
// (a short write) is error 20 naming the uninstaller, any other error 19
// naming the file written, `path`.
bool report_uninstaller_write(int result, const char* path) {
  if (result == 0) return true;
  return result == 3 ? fail_install(kErrorDiskFull, DestPath) : fail_install(kErrorWrite, path);
}

// The uninstaller: the program image the archive carries once, followed by
// this item's data, into `out`, the file at `path`. It is not verified:
// its checksum covers the data only.
bool write_uninstaller(const uint8_t* entry, FileHandle out, const char* path) {
  if (!ItemPrefixBlob || ItemPrefixBlobLength == 0) return true;
  if (!report_uninstaller_write(write_all(out, ItemPrefixBlob, ItemPrefixBlobLength), path)) return false;
  SummingFileSink sink(out);
  if (!decode_item(sink, entry)) return false;
  return report_uninstaller_write(sink.failure, path);
}

bool write_plain(const uint8_t* entry, FileHandle* out) {
  SummingFileSink sink(*out);
  if (!decode_item(sink, entry)) return false;
  uint8_t flags = entry[kEntryFlags];
  // The times stand right before the strings.
  if (flags & kItemHasTimes) set_file_times(*out, entry_file_times(entry));
  close_temp(out);
  return written_as_stored(sink, get_u32(entry + kEntryChecksum));
}

// The item's own data into *out, the file at `path`.
bool write_decoded(const uint8_t* entry, FileHandle* out, const char* path) {
  return (entry[kEntryFlags] & kItemUninstaller) ? write_uninstaller(entry, *out, path) : write_plain(entry, out);
}

// Writes the item into TempPath, a new file beside DestPath; false when it
// failed or was cancelled.
bool write_item(const uint8_t* entry, uint32_t before, uint32_t after) {
  // Noted as made before it is made, as every file of the run; its name
  // is unguessable, so the note never names a file of someone else's.
  static const NameClaim kNoted = {note_created_file, withdraw_newest_note};
  char head[2 * kPathSize];
  TempPath[0] = '\0';
  FileHandle out = temp_name_head(DestPath, "$", head, sizeof head)
                       ? create_unguessable_file("", head, "", TempPath, kPathSize, &kNoted)
                       : INVALID_FILE_HANDLE;
  if (out == INVALID_FILE_HANDLE) {
    fail_install(kErrorCreate, TempPath[0] ? TempPath : DestPath);
    TempPath[0] = '\0';  // names no file of ours
    return false;
  }
  uint8_t flags = entry[kEntryFlags];
  bool ok;
  if (flags & kItemFromSource) {
    ok = copy_from_source(entry, &out);
  } else if (flags & kItemPatch) {
    ok = write_patched(entry, &out, before, after);
  } else {
    ok = write_decoded(entry, &out, TempPath);
  }
  close_temp(&out);
  return ok;
}

// How writing a file that was not there went.
enum class NewFile { kWritten, kFailed, kNotTried };

// A file that is not there yet is written under its own name, saving the
// temporary name and the move. It is noted as made before it is made, so
// that a run ended at any point leaves no file that its journal does not
// name; only a name that is free is noted, and the name is taken with
// CREATE_NEW, so the file is ours and nobody else's (a name taken in
// between withdraws the note). A failed or cancelled write deletes it at
// once, leaving nothing half written. Patches and copies from the source
// folder, and whatever finds a file (or anything else) of that name, go
// the usual way through a temporary file.
NewFile write_new_file(uint8_t* entry) {
  uint8_t flags = entry[kEntryFlags];
  if ((flags & (kItemPatch | kItemFromSource)) || GetFileAttributesA(DestPath) != INVALID_FILE_ATTRIBUTES)
    return NewFile::kNotTried;
  if (!note_created_file(DestPath)) {
    // As when a temporary file could not be put in place.
    fail_install(kErrorNotReplaced, DestPath);
    return NewFile::kFailed;
  }
  FileHandle out = CreateFileA(DestPath, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_FILE_HANDLE) {
    withdraw_newest_note();
    return NewFile::kNotTried;
  }
  bool ok = write_decoded(entry, &out, DestPath);
  close_temp(&out);
  if (!ok) {
    delete_file(DestPath);
    return NewFile::kFailed;
  }
  settle_item(entry, kStatusCreated, "placed", "created");
  return NewFile::kWritten;
}

// One more user of a shared library, under SharedDLLs (which is not
// created when Windows has none). A library that was there before without
// a count has a user nobody counted: it starts at 2, as Windows setups
// conventionally do, so that this installation's uninstaller never takes
// it away from that user.
void count_shared_use(const char* path, bool existed) {
  HKEY key;
  if (open_key(HKEY_LOCAL_MACHINE, kSharedDllsKey, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
  DWORD type = REG_DWORD;
  DWORD count = 0;
  DWORD size = sizeof count;
  LONG found = RegQueryValueExA(key, path, nullptr, &type, reinterpret_cast<BYTE*>(&count), &size);
  DWORD start = existed ? 2 : 1;
  // A count that could not be taken back is not raised. Others may count
  // the library too before a rollback: what this run adds is noted, and
  // only that comes off. A value that is no count comes back whole.
  bool noted = found == ERROR_SUCCESS && size == 4 ? note_shared_count(path, 1, true)
               : found == ERROR_FILE_NOT_FOUND     ? note_shared_count(path, start, false)
                                                   : note_registry_value(HKEY_LOCAL_MACHINE, kSharedDllsKey, path);
  if (!noted) {
    RegCloseKey(key);
    return;
  }
  if (found == ERROR_SUCCESS) {
    ++count;
  } else {
    type = REG_DWORD;
    count = start;
    size = sizeof count;
  }
  RegSetValueExA(key, path, 0, type, reinterpret_cast<const BYTE*>(&count), size);
  RegCloseKey(key);
  char number[12];
  format_decimal(number, sizeof number, count, 1);
  log_event("count", path, number);
}

void register_item(uint8_t* entry) {
  if (entry[kEntryFlags] & kItemUninstaller) set_status(entry, 0);  // never listed for removal
  uint8_t folder = entry[kEntryFolderCode];
  if (folder != kFolderInstallDir && entry[kEntryShared] == 1)
    count_shared_use(DestPath, item_status(entry) != kStatusCreated);
  if (folder == kFolderFonts) register_font(DestPath);
  if (entry[kEntryRegistration] == kRegisterScreenSaver) ScreenSaverItem = entry;
}

// Writes the item into a temporary file and puts that in DestPath's place
// (or has it wait for the next start when the file there is in use).
bool write_and_place(uint8_t* entry, int in_use, uint32_t before, uint32_t after) {
  if (!write_item(entry, before, after)) {
    discard_temp_file();
    return false;
  }
  // A file in use that cannot be scheduled is handled like any other
  // file that cannot be replaced.
  if (!(in_use && schedule_item(TempPath))) place_file(entry, TempPath);
  if (item_status(entry) == kStatusNotPlaced) {
    // place_file may have said why already.
    if (ErrorState == 0) fail_install(kErrorNotReplaced, DestPath);
    discard_temp_file();
    return false;
  }
  return true;
}

// Decides, writes, places and registers a file item. False ends the
// installation: ErrorState tells why (0 after a cancel).
bool install_file(uint8_t* entry, int in_use, uint32_t before, uint32_t after) {
  const char* kept = nullptr;
  if (in_use && same_as_entry(DestPath, entry))
    kept = "same";
  // Over an installed version of the product its folder's files are
  // replaced without a question, whatever their versions.
  else if ((entry[kEntryFlags] & (kItemCompareVersion | kItemCompareLanguage)) &&
           (InstalledCase == ProductCase::kFirst || entry[kEntryFolderCode] != kFolderInstallDir) &&
           !check_versions(entry))
    kept = "version";
  ErrorState = 0;
  Share = {before, after, (entry[kEntryFlags] & kItemPatch) ? 0 : get_u32(entry + kEntrySize)};
  if (kept) {
    // A kept file's bytes in the solid stream are passed over.
    if ((entry[kEntryFlags] & kItemSolid) && !read_solid(nullptr, entry)) return false;
    log_event("kept", DestPath, kept);
  } else {
    create_folder_chain(DestPath);
    NewFile made = in_use ? NewFile::kNotTried : write_new_file(entry);
    if (made == NewFile::kFailed) return false;
    if (made == NewFile::kNotTried && !write_and_place(entry, in_use, before, after)) return false;
  }
  register_item(entry);
  return true;
}

void make_desktop_shortcut(const uint8_t* entry) {
  const char* name = entry_string(entry, 4);
  if (name[0] == '\0') return;
  char link[2 * kPathSize];
  if (!desktop_shortcut_path(link, sizeof link, name)) return;
  // A shortcut of the same name that was there is kept to be put back.
  if (note_file_change(link)) create_shortcut(DestPath, link, entry_string(entry, 5), 0);
}

}  // namespace

int check_versions(const uint8_t* entry) {
  char* message = nullptr;
  if (!alloc_block(kVersionMessageCapacity, &message)) return 1;
  int result = 1;
  uint8_t* info = nullptr;
  DWORD handle = 0;
  DWORD size = version_info_size(DestPath, &handle);
  if (size != 0 && alloc_zeroed(size, &info) && version_info(DestPath, 0, size, info)) {
    const uint8_t* version = entry + kEntryFixedSize;
    uint8_t flags = entry[kEntryFlags];
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if ((flags & kItemCompareVersion) && version_query(info, "\\", reinterpret_cast<void**>(&fixed), &length) &&
        fixed && length >= sizeof *fixed) {
      uint32_t ms = get_u32(version);
      uint32_t ls = get_u32(version + 4);
      bool newer = fixed->dwFileVersionMS > ms || (fixed->dwFileVersionMS == ms && fixed->dwFileVersionLS > ls);
      if (newer && (get_text(6, kTextNewerVersion)[0] == '\0' || !user_agrees(message, kTextNewerVersion))) result = 0;
    }
    uint8_t* languages = nullptr;
    if (result && (flags & kItemCompareLanguage) &&
        version_query(info, "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&languages), &length) &&
        languages && length >= 4) {
      if (get_u16(languages) != get_u32(version + kVersionLanguage) && !user_agrees(message, kTextOtherLanguage))
        result = 0;
    }
  }
  free_block(&info);
  free_block(&message);
  return result;
}

void place_file(uint8_t* entry, const char* temp_path) {
  set_status(entry, kStatusNotPlaced);
  DWORD attributes = GetFileAttributesA(DestPath);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    if (!note_created_file(DestPath)) return;
    if (rename_file(temp_path, DestPath))
      settle_item(entry, kStatusCreated, "placed", "created");
    else
      withdraw_newest_note();
    return;
  }
  InUseRetries = 0;
  for (;;) {
    Replacement result = replace_with_backup(temp_path, DestPath, attributes);
    if (result == Replacement::kPlaced) {
      settle_item(entry, kStatusReplaced, "placed", "replaced");
      return;
    }
    // A full disk or a refusal that is not the file's users' ends the
    // installation with its own error; anything but a file in use leaves
    // the item not placed.
    if (result == Replacement::kDiskFull || result == Replacement::kDenied) {
      fail_install(result == Replacement::kDiskFull ? kErrorDiskFull : kErrorCreate, DestPath);
      return;
    }
    if (result == Replacement::kFailed || ask_replace(entry, temp_path) != IDRETRY) return;
  }
}

int ask_replace(uint8_t* entry, const char* temp_path) {
  // Waiting for the file in use: its name stays on the page meanwhile.
  show_waiting_file();
  uint8_t folder = entry[kEntryFolderCode];
  // A system file waits for the next start; one that cannot be scheduled
  // is left to the user like any other.
  if ((folder == kFolderWindows || folder == kFolderShared) && schedule_item(temp_path)) {
    set_status(entry, kStatusReplaced);
    return IDIGNORE;
  }
  if (same_as_entry(DestPath, entry)) {
    delete_file(temp_path);
    settle_item(entry, kStatusReplaced, "kept", "same");
    return IDIGNORE;
  }
  // Unattended, nobody can close the program that holds the file: it gets
  // a few seconds before the question is answered with Abort.
  if (Switches.mode != RunMode::kWizard && InUseRetries < kInUseRetries) {
    ++InUseRetries;
    Sleep(kInUseRetryMs);
    return IDRETRY;
  }
  // The font in use stays, as does a file we cannot even ask about: the
  // existing file is kept, and it is not the setup's to remove later.
  char* message = nullptr;
  int answer = IDIGNORE;
  if (folder != kFolderFonts && alloc_block(kMessageCapacity, &message)) {
    copy_string(MessageArgument, DestPath, kPathSize);
    format_message(message, kTextInUse);
    answer = message_box(message, MB_ABORTRETRYIGNORE);
    free_block(&message);
    if (answer == IDRETRY) return answer;
  }
  delete_file(temp_path);
  if (answer == IDIGNORE) settle_item(entry, kStatusKept, "kept", "in-use");
  return answer;
}

int install_next_item() {
  // The other setup types' installations go before the first item.
  if (removing_other_types()) return remove_other_types_step();
  if (ItemCount == 0 || static_cast<int64_t>(ItemIndex) + 1 >= ItemCount || !CurrentEntry) return 0;
  uint32_t before = scaled(static_cast<uint32_t>(ItemIndex) + 1, 100, ItemCount);
  ++ItemIndex;
  uint32_t after = scaled(static_cast<uint32_t>(ItemIndex) + 1, 100, ItemCount);

  uint8_t* entry = CurrentEntry;
  CurrentEntry = next_entry(entry);
  set_status(entry, 0);
  TempPath[0] = '\0';
  // The item's own file operations reach the native folders (64-bit mode).
  native_files(true);
  int in_use = item_destination(entry);
  announce_file(DestPath, takes_a_while(entry));
  bool uninstaller = (entry[kEntryFlags] & kItemUninstaller) != 0;
  if (uninstaller) {
    copy_string(UninstallerPath, DestPath, kPathSize);
    if (!keep_earlier_record()) return 0;
  }

  uint8_t kind = entry[kEntryKind];
  if (kind == kKindFolder) {
    create_folder_chain(DestPath);
    log_event("made", DestPath);
  } else if (kind != kKindInSource) {
    if (!install_file(entry, in_use, before, after)) {
      native_files(false);
      return 0;
    }
    // Its image as placed, before the final step appends the record.
    // Read from its folder entry, which needs no handle on the file (the
    // Windows 95 family has no GetFileAttributesExA).
    WIN32_FIND_DATAA placed;
    HANDLE found = uninstaller ? FindFirstFileA(DestPath, &placed) : INVALID_HANDLE_VALUE;
    if (found != INVALID_HANDLE_VALUE) {
      UninstallerImageSize = placed.nFileSizeLow;
      FindClose(found);
      carry_earlier_record();
    }
  }
  native_files(false);

  uint8_t role = entry[kEntryFinishRole];
  if (role == kRoleDocument) DocumentItem = entry;
  if (role == kRoleProgram) ProgramItem = entry;
  make_desktop_shortcut(entry);
  set_progress(after);
  return 1;
}
