#include "install/uninstall_record.h"

#include <string.h>
#include <windows.h>

#include "archive/config.h"
#include "archive/error_codes.h"
#include "archive/file_entry.h"
#include "archive/format.h"
#include "archive/pe_header.h"
#include "archive/stub_size.h"
#include "base/globals.h"
#include "base/memory.h"
#include "base/native_mode.h"
#include "base/path_strings.h"
#include "base/setup_log.h"
#include "base/uninstall_turn.h"
#include "install/default_folder.h"
#include "install/destination.h"
#include "install/engine.h"
#include "install/engine_state.h"
#include "install/folders.h"
#include "install/journal.h"
#include "install/path_entries.h"
#include "install/safe_replace.h"
#include "install/product_entry.h"
#include "install/scope.h"
#include "install/settings_lists.h"
#include "install/shortcuts.h"
#include "record/earlier_installations.h"
#include "record/removal_plan.h"
#include "record/uninstall_data.h"
#include "record/uninstall_data_writer.h"

namespace {


// The record of the uninstaller that the new one replaced, accepted whole.
uint8_t* EarlierRecord = nullptr;
uint32_t EarlierRecordLength = 0;
// It was read from the side file of a signed uninstaller.
bool EarlierInSideFile = false;

// Whether the item's file is listed for the uninstaller to remove. Only what
// this installation wrote goes: not a file kept in its place (up to date,
// newer, or in use and kept with Ignore), and outside the installation
// folder not one that was there before (a font, a system file of someone
// else's). A shared file is listed whenever its count was raised: the
// uninstaller lowers it and deletes the file only at zero.
bool listed_for_removal(const uint8_t* entry) {
  if (entry[kEntryKind] != kKindRemovable) return false;
  uint8_t folder = entry[kEntryFolderCode];
  if (folder != kFolderInstallDir && entry[kEntryShared] == 1) return true;
  uint16_t status = get_u16(entry + kEntryStatus);
  if (status == kStatusCreated) return true;
  return status == kStatusReplaced && folder == kFolderInstallDir;
}

// The RemoveList flags of an installed file.
uint8_t remove_flags(const uint8_t* entry) {
  uint8_t flags = 0;
  if (entry[kEntryFolderCode] != kFolderInstallDir && entry[kEntryShared] == 1) flags |= kRemoveShared;
  if (entry[kEntryFolderCode] == kFolderFonts) flags |= kRemoveFont;
  if (entry[kEntryRegistration] == kRegisterLibrary) flags |= kRemoveSelfRegistering;
  return flags;
}

// The RemoveList of the current FileList at the log's end, written over the
// 8 bytes that the installed uninstaller keeps for its header.
void write_remove_list(RecordFile* log, uint32_t start) {
  write_record_u32(log, 0);
  uint32_t count = 0;
  const uint8_t* entry = CurrentFirstEntry;
  for (uint32_t i = 0; entry && i < CurrentFileCount; ++i, entry = next_entry(entry)) {
    item_destination(entry);
    if (entry[kEntryKind] == kKindFolder) {
      write_log_record(log, 0);
      ++count;
    } else if (listed_for_removal(entry)) {
      write_log_record(log, remove_flags(entry));
      ++count;
    }
    const char* desktop_name = entry_string(entry, 4);
    if (*desktop_name && desktop_shortcut_path(DestPath, sizeof DestPath, desktop_name)) {
      write_log_record(log, 0);
      ++count;
    }
  }
  close_block(log, start - kBlockHeaderSize, kRemoveListId, &count);
}

// The InstallFolder block, only for an uninstaller that does not lie
// directly in InstallDir (which ends in a backslash here): records of other
// setups stay as they were.
void write_install_folder_if_elsewhere(RecordFile* log) {
  const char* slash = strrchr(UninstallerPath, '\\');
  size_t n = strlen(InstallDir);
  if (slash && static_cast<size_t>(slash - UninstallerPath) + 1 == n && same_folded(UninstallerPath, InstallDir, n))
    return;
  char folder[kPathSize];
  copy_string(folder, InstallDir, sizeof folder);
  strip_backslash(folder);
  write_install_folder(log, folder);
}

// Whether `folder` lies above InstallDir (which ends in a backslash here).
bool above_install_dir(const char* folder) {
  size_t n = strlen(folder);
  return n + 1 < strlen(InstallDir) && same_folded(folder, InstallDir, n) && InstallDir[n] == '\\';
}

// The MadeFolders block, only when this run made folders above InstallDir
// (on the destination page, or for the first item): the uninstaller
// removes them when they are left empty, as it removes InstallDir.
void write_made_folders(RecordFile* log) {
  uint32_t count = 0, header = 0, position = 0;
  Change change;
  while (journal_next(&position, &change)) {
    if (change.kind != ChangeKind::kCreatedFolder || !above_install_dir(change.path)) continue;
    if (count++ == 0) {
      header = open_block(log, kMadeFoldersId);
      write_record_u32(log, 0);
    }
    write_counted_string(log, change.path);
  }
  if (count) close_block(log, header, kMadeFoldersId, &count);
}

// The Uninstall key's values, under the product's root (the user's own
// for a product installed per user, so that it is listed as installed
// for that user): the name, the uninstaller's path quoted, as
// Windows runs it, and the rest of the entry. The final step notes what
// they replace, so that a rollback takes them back; a rollback's own
// registration is not noted.
void register_uninstaller(const char* key_path, const char* name, bool undoable) {
  HKEY key, root = product_root();
  bool noted = !undoable || (note_registry_key(root, key_path) && note_entry_values(key_path));
  if (!noted || create_key(root, key_path, &key) != ERROR_SUCCESS) return;
  char command[kPathSize + 2];
  command[0] = '"';
  copy_string(command + 1, UninstallerPath, kPathSize);  // always whole: one byte is left for the quote
  append_string(command, "\"", sizeof command);
  RegSetValueExA(key, "DisplayName", 0, REG_SZ, reinterpret_cast<const BYTE*>(name),
                 static_cast<DWORD>(strlen(name)));
  RegSetValueExA(key, "UninstallString", 0, REG_SZ, reinterpret_cast<const BYTE*>(command),
                 static_cast<DWORD>(strlen(command)));
  log_registry_value(root, key_path, "DisplayName", name);
  log_registry_value(root, key_path, "UninstallString", command);
  set_product_values(key, key_path, command);
  RegCloseKey(key);
}

const char* current_uninstall_name() { return CurrentRecord ? CurrentRecord->uninstall_name : nullptr; }

// The UninstallKeyBlock of the current setup type, when it has an uninstall
// name; its key path in key_path. False when it has none.
bool write_uninstall_key_block(RecordFile* log, char* key_path) {
  const char* name = current_uninstall_name();
  if (!name || !*name) return false;
  uninstall_key_path(key_path, name);
  write_block_header(log, kUninstallKeyBlockId, static_cast<uint32_t>(strlen(key_path) + 6));
  write_record_u32(log, product_root_code());
  write_counted_string(log, key_path);
  return true;
}

// The folder of the uninstaller, into kPathSize bytes; false when its
// path has none.
bool uninstaller_folder(char* folder) {
  copy_string(folder, UninstallerPath, kPathSize);
  char* slash = strrchr(folder, '\\');
  if (!slash) return false;
  *slash = '\0';
  return true;
}

// The earlier installations of the record kept by keep_earlier_record,
// merged with the RemoveList just written at [list_at, list_end). False
// when the merge cannot be made.
bool take_over_earlier_record(RecordFile* log, uint32_t list_at, uint32_t list_end) {
  char folder[kPathSize];
  uint8_t* list = nullptr;
  uint32_t length = list_end - list_at;
  if (!finish_record(log)) return true;  // the write's failure is reported with the record's
  if (!uninstaller_folder(folder) || !alloc_block(length, &list)) return false;
  uint32_t end = tell_file(log->file);
  if (seek_to(log->file, list_at) != list_at || read_exact(log->file, list, length) != 0 ||
      seek_to(log->file, end) != end)
    log->result = 2;
  bool merged = log->result != 0 ||
                write_earlier_installations(log, EarlierRecord, EarlierRecordLength, folder, list, length);
  free_block(&list);
  return merged;
}

// A failed write of the record is the installation's failure: a full disk
// (a short write) is error 20, any other error 19, both naming the
// file the record goes into, the uninstaller or its side file.
void fail_with(int result, const char* target) {
  fail_install(result == 3 ? kErrorDiskFull : kErrorWrite, target);
}

// The file open in `file` read whole into *bytes, of *length bytes; false,
// with nothing to free, when it cannot be read or is longer than an
// uninstaller with its record.
bool read_whole_file(FileHandle file, uint8_t** bytes, uint32_t* length) {
  *bytes = nullptr;
  *length = file_length(file);
  if (*length != INVALID_SET_FILE_POINTER && *length <= kMaxUninstallerLength && alloc_block(*length, bytes) &&
      read_exact(file, *bytes, *length) == 0)
    return true;
  free_block(bytes);
  return false;
}

// The uninstaller file open in `file` read whole into *bytes, with its
// length and that of its image, where its record begins; false, with
// nothing to free, when it cannot be read or is no uninstaller of ours.
bool read_uninstaller_file(FileHandle file, uint8_t** bytes, uint32_t* length, uint32_t* image) {
  size_t field = 0;
  if (read_whole_file(file, bytes, length) &&
      find_stub_size_field(*bytes, *length, stub_size_marker(), &field) == StubFieldSearch::kFound) {
    *image = get_u32(*bytes + field);
    if (*image > field && *image < *length) return true;
  }
  free_block(bytes);
  return false;
}

// The file that holds the record of the uninstaller at `path`, opened in
// `mode` and read whole into *bytes, the record from *image on: the
// uninstaller itself or, for a signed one, its side file, whose path goes
// into `side` (kPathSize bytes; "" for the uninstaller) and whose record
// begins at 0. INVALID_FILE_HANDLE, with nothing to free, when it cannot
// be read.
FileHandle open_record_file(const char* path, int mode, uint8_t** bytes, uint32_t* length, uint32_t* image,
                            char* side) {
  side[0] = '\0';
  FileHandle file = open_file(path, mode);
  if (file == INVALID_FILE_HANDLE) return file;
  bool read = read_uninstaller_file(file, bytes, length, image);
  if (read && certificate_entry_beyond(*bytes, *image)) {
    close_file(file);
    free_block(bytes);
    *image = 0;
    file = side_record_path(path, side, kPathSize) ? open_file(side, mode) : INVALID_FILE_HANDLE;
    if (file == INVALID_FILE_HANDLE) return file;
    read = read_whole_file(file, bytes, length);
  }
  if (read) return file;
  close_file(file);
  return INVALID_FILE_HANDLE;
}

// A new file beside the side file `side`, into `temp` (kPathSize bytes),
// that takes the record whole before place_side_file puts it in place: a
// half-written record never stands under the side file's name. It holds
// the 8 bytes that the RemoveList header takes.
FileHandle create_side_record(const char* side, char* temp) {
  static const uint8_t kHeaderRoom[kBlockHeaderSize] = {};
  FileHandle file = create_temp_file(side, "$", temp, kPathSize);
  if (file != INVALID_FILE_HANDLE && write_all(file, kHeaderRoom, sizeof kHeaderRoom) != 0) {
    close_file(file);
    delete_file(temp);
    return INVALID_FILE_HANDLE;
  }
  return file;
}

// The record written whole under `temp` put in the side file's place; a
// rollback (`undoable`) puts back what was there. The temporary file goes
// when it cannot be placed.
bool place_side_file(const char* temp, const char* side, bool undoable) {
  DWORD attributes = GetFileAttributesA(side);
  bool placed = !undoable ? replace_file(temp, side)
                : attributes == INVALID_FILE_ATTRIBUTES
                    ? note_created_file(side) && rename_file(temp, side)
                    : replace_with_backup(temp, side, attributes) == Replacement::kPlaced;
  if (!placed) delete_file(temp);
  return placed;
}

}  // namespace

bool record_beside(const char* uninstaller, char* side) {
  uint8_t* bytes = nullptr;
  uint32_t length = 0, image = 0;
  FileHandle file = open_file(uninstaller, 0);
  bool signed_image = file != INVALID_FILE_HANDLE && read_uninstaller_file(file, &bytes, &length, &image) &&
                      certificate_entry_beyond(bytes, image) && side_record_path(uninstaller, side, kPathSize);
  free_block(&bytes);
  if (file != INVALID_FILE_HANDLE) close_file(file);
  return signed_image;
}

void forget_earlier_record() {
  free_block(&EarlierRecord);
  EarlierRecordLength = 0;
  EarlierInSideFile = false;
}

// The placed uninstaller, open for its record. A scanner may hold a new
// file for a moment, and the uninstaller of an earlier installation may
// still be ending: it gets ten seconds, as the uninstaller's own mark does.
static FileHandle open_uninstaller_for_record() {
  for (int tries = 0; tries < 50; ++tries) {
    FileHandle file = open_file(UninstallerPath, 2);
    if (file != INVALID_FILE_HANDLE || GetLastError() != ERROR_SHARING_VIOLATION) return file;
    Sleep(200);
  }
  return INVALID_FILE_HANDLE;
}

bool write_uninstall_data() {
  // Made by this run, normally; otherwise kept as it was for a rollback.
  // One that is there but cannot be kept (no room for its copy on a full
  // disk) must not be changed: the installation fails. A signed one stays
  // as it is: its record goes into its side file.
  FileHandle file = INVALID_FILE_HANDLE;
  char side[kPathSize], temp[kPathSize];
  bool in_side_file = record_beside(UninstallerPath, side);
  const char* target = in_side_file ? side : UninstallerPath;
  if (in_side_file) {
    file = create_side_record(side, temp);
    if (file == INVALID_FILE_HANDLE) return fail_install(kErrorCreate, side);
  } else if (GetFileAttributesA(UninstallerPath) != INVALID_FILE_ATTRIBUTES) {
    if (!note_file_change(UninstallerPath)) {
      fail_with(GetLastError() == ERROR_DISK_FULL ? 3 : 2, target);
      return false;
    }
    file = open_uninstaller_for_record();
    if (file == INVALID_FILE_HANDLE) {
      // Without its record the uninstaller could remove nothing, and the
      // product would have no entry to be removed from.
      fail_install(kErrorOpen, UninstallerPath);
      return false;
    }
  }
  // The record goes right behind the image as placed, over the earlier
  // record that it carried meanwhile (carry_earlier_record).
  uint32_t start = file == INVALID_FILE_HANDLE ? 0 : seek_from_end(file, 0);
  if (file != INVALID_FILE_HANDLE && !in_side_file && UninstallerImageSize >= kBlockHeaderSize &&
      UninstallerImageSize < start) {
    if (seek_to(file, UninstallerImageSize) != UninstallerImageSize || !SetEndOfFile(file)) {
      close_file(file);
      fail_with(2, target);
      return false;
    }
    start = UninstallerImageSize;
  }
  if (file == INVALID_FILE_HANDLE || start < kBlockHeaderSize || start == INVALID_SET_FILE_POINTER) {
    if (file != INVALID_FILE_HANDLE) close_file(file);
    make_menu_shortcuts(nullptr);
    return true;
  }
  RecordFile log{file, 0};
  add_backslash(InstallDir, kPathSize);
  write_remove_list(&log, start);
  uint32_t list_end = tell_file(file);  // the block is closed: nothing waits in the buffer
  make_menu_shortcuts(&log);
  char key_path[kUninstallKeySize];
  bool named = write_uninstall_key_block(&log, key_path);
  write_install_folder_if_elsewhere(&log);
  record_settings_to_delete(&log);
  if (EarlierRecord && !take_over_earlier_record(&log, start - kBlockHeaderSize, list_end))
    fail_install(kErrorNoMemory, UninstallerPath);
  record_path_entries(&log);
  if (ActiveArchitecture) write_native_mode(&log, ActiveArchitecture);
  write_uninstaller_texts(&log);
  write_made_folders(&log);
  write_block_header(&log, kUninstallEndId, 0);
  if (!finish_record(&log)) fail_with(log.result, target);
  // One the uninstaller would refuse is not written: the installation
  // fails, and its rollback puts back the uninstaller that was there.
  uint32_t end = tell_file(file);
  if (ErrorState == 0 && log.result == 0 && end - (start - kBlockHeaderSize) > kMaxRecordLength) {
    SavedSystemError = ERROR_FILE_TOO_LARGE;
    fail_install(kErrorSystem, target);
  }
  // The side file is on the disk whole before it takes the place of the
  // one there.
  if (in_side_file && ErrorState == 0 && !FlushFileBuffers(file)) fail_with(2, target);
  if (!close_file(file) && log.result == 0) fail_with(2, target);
  if (in_side_file) {
    if (ErrorState != 0) delete_file(temp);
    else if (!place_side_file(temp, side, true)) fail_install(kErrorCreate, side);
  } else if (EarlierInSideFile && ErrorState == 0 && side_record_path(UninstallerPath, side, kPathSize) &&
             note_file_change(side)) {
    // The earlier record is in this one now: its side file would be left
    // behind by an uninstaller that does not read it.
    delete_file(side);
  }
  if (ErrorState == 0 && !note_record_written(UninstallerPath)) fail_install(kErrorNoMemory, UninstallerPath);
  if (ErrorState != 0) return false;
  log_event("uninstaller", UninstallerPath);
  if (named) register_uninstaller(key_path, current_uninstall_name(), true);
  return true;
}

void uninstall_key_path(char* out, const char* uninstall_name) {
  // A product id names the key of every version and every setup type.
  if (ProductIdentity) uninstall_name = reinterpret_cast<const char*>(ProductIdentity + kProductIdOffset);
  copy_string(out, kUninstallKeyPrefix, kUninstallKeySize);
  size_t n = strlen(out);
  copy_string(out + n, uninstall_name, kUninstallKeySize - n);
}

// Only a record the uninstaller can carry out is taken over: one it would
// refuse would void every later installation's record in this folder.
static bool earlier_record_plans(const UninstallData& data) {
  char folder[kPathSize];
  return uninstaller_folder(folder) && record_plans(data, folder);
}

// The record of the uninstaller at UninstallerPath, as open_record_file
// opens it, where it parses into *data.
static FileHandle open_uninstaller_record(int mode, uint8_t** bytes, uint32_t* length, uint32_t* image, char* side,
                                          UninstallData* data) {
  FileHandle file = open_record_file(UninstallerPath, mode, bytes, length, image, side);
  if (file == INVALID_FILE_HANDLE ||
      parse_uninstall_data(*bytes + *image, *length - *image, data) == UninstallDataStatus::kOk)
    return file;
  free_block(bytes);
  close_file(file);
  return INVALID_FILE_HANDLE;
}

// Whether the record is of the product this setup installs: its Uninstall
// key is that of one of the setup's types (the types of one setup are
// versions of one product, which one uninstaller removes together), or
// neither it nor this setup type has one. The one judgement of it.
static bool same_product(const UninstallData& data) {
  const char* name = current_uninstall_name();
  if (!data.has_uninstall_key) return !name || !*name;
  for (int t = 0; t < SetupTypeCount; ++t) {
    const char* type_name = SetupTypeTable[t].record.uninstall_name;
    if (!type_name || !*type_name) continue;
    char key[kUninstallKeySize];
    uninstall_key_path(key, type_name);
    if (data.uninstall_key.length == strlen(key) && same_folded(data.uninstall_key.text, key, data.uninstall_key.length))
      return true;
  }
  return false;
}

// The registry value (a command) of the other product's key that begins
// with the uninstaller's path, quoted or not, made to begin with `aside`.
static bool repoint_value(HKEY key, const char* key_path, const char* name, const char* aside) {
  char value[kPathSize + 64], command[kPathSize + 64];
  DWORD type = 0, size = sizeof value - 1;
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS ||
      type != REG_SZ)
    return true;
  value[size] = '\0';
  size_t quote = value[0] == '"', n = strlen(UninstallerPath);
  if (!same_folded(value + quote, UninstallerPath, n) || (value[quote + n] && value[quote + n] != (quote ? '"' : ' ')))
    return true;
  copy_string(command, quote ? "\"" : "", sizeof command);
  append_string(command, aside, sizeof command);
  if (!append_string(command, value + quote + n, sizeof command) ||
      !note_registry_value(HKEY_LOCAL_MACHINE, key_path, name))
    return false;
  return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(command),
                        static_cast<DWORD>(strlen(command) + 1)) == ERROR_SUCCESS;
}

// Another product's uninstaller at the path would be written over, and
// that product could no longer be removed: it goes on beside ours, with
// its record (appended, or its side file `side` when that is not ""),
// under a free name ("Uninstall-1.exe", "Uninstall-1.dat"), and its
// Uninstall key names it there. A rollback takes both back. False when
// that cannot be done: the installation must not go on.
static bool copy_aside(const char* from, const char* to) {
  if (!note_created_file(to) || !CopyFileA(from, to, TRUE))
    return fail_install(GetLastError() == ERROR_DISK_FULL ? kErrorDiskFull : kErrorCreate, to);
  log_event("made", to);
  return true;
}

static bool set_aside(const UninstallData& data, const char* side) {
  char aside[kPathSize], aside_side[kPathSize];
  bool free_name = false;
  for (unsigned n = 1; n < 100 && !free_name; ++n) {
    copy_string(aside, UninstallerPath, sizeof aside);
    char* dot = strrchr(aside, '.');
    char* slash = strrchr(aside, '\\');
    char tail[kPathSize] = "";
    if (dot && dot > slash) {
      copy_string(tail, dot, sizeof tail);
      *dot = '\0';
    }
    char number[12] = "-";
    format_decimal(number + 1, sizeof number - 1, n, 1);
    if (!append_string(aside, number, sizeof aside) || !append_string(aside, tail, sizeof aside)) break;
    free_name = GetFileAttributesA(aside) == INVALID_FILE_ATTRIBUTES &&
                (!side[0] || (side_record_path(aside, aside_side, kPathSize) &&
                              GetFileAttributesA(aside_side) == INVALID_FILE_ATTRIBUTES));
  }
  if (!free_name) return fail_install(kErrorCreate, UninstallerPath);
  if (!copy_aside(UninstallerPath, aside) || (side[0] && !copy_aside(side, aside_side))) return false;
  // Its plan took the key: below the Uninstall key, and shorter than this.
  char key_path[kUninstallKeyCapacity];
  HKEY key;
  if (!data.has_uninstall_key) return true;
  memcpy(key_path, data.uninstall_key.text, data.uninstall_key.length);
  key_path[data.uninstall_key.length] = '\0';
  if (open_key(HKEY_LOCAL_MACHINE, key_path, KEY_QUERY_VALUE | KEY_SET_VALUE, &key) != ERROR_SUCCESS) return true;
  bool repointed = repoint_value(key, key_path, "UninstallString", aside) &&
                   repoint_value(key, key_path, "QuietUninstallString", aside);
  RegCloseKey(key);
  return repointed || fail_install(kErrorWrite, aside);
}

bool keep_earlier_record() {
  forget_earlier_record();
  // A working copy of that uninstaller may have removed its installation
  // and not yet marked the record (it can only once the installed program
  // has ended): the record is read once it is done. Without the turn the
  // record cannot be told apart from one carried out, and nothing is kept.
  HANDLE turn = wait_for_turn(UninstallerPath);
  uint8_t* bytes = nullptr;
  uint32_t length = 0, image = 0;
  UninstallData data;
  char side[kPathSize];
  FileHandle file = turn ? open_uninstaller_record(0, &bytes, &length, &image, side, &data) : INVALID_FILE_HANDLE;
  bool kept = true;
  if (file != INVALID_FILE_HANDLE) {
    close_file(file);  // copied aside, it must not be open
    if (earlier_record_plans(data)) {
      if (!same_product(data)) {
        kept = set_aside(data, side);
      } else if (alloc_block(length - image, &EarlierRecord)) {
        memcpy(EarlierRecord, bytes + image, length - image);
        EarlierRecordLength = length - image;
        EarlierInSideFile = side[0] != '\0';
      }
    }
    free_block(&bytes);
  }
  release_turn(turn);
  return kept;
}

void carry_earlier_record() {
  // A signed one keeps its record beside it, where the earlier one stays.
  char side[kPathSize];
  if (!EarlierRecord || EarlierInSideFile || UninstallerImageSize < kBlockHeaderSize ||
      record_beside(UninstallerPath, side) || uninstaller_record_status(UninstallerPath) != UninstallDataStatus::kMissing)
    return;
  FileHandle file = open_file(UninstallerPath, 2);
  if (file == INVALID_FILE_HANDLE) return;
  // Only the image as placed by this run, with nothing behind it; the
  // record begins over the room its first block's header is given.
  // Without it the uninstaller removes nothing until the final step, as
  // before: the run goes on either way.
  uint32_t record = UninstallerImageSize - kBlockHeaderSize;
  if (seek_from_end(file, 0) == UninstallerImageSize && seek_to(file, record) == record)
    write_all(file, EarlierRecord, EarlierRecordLength);
  close_file(file);
}

// RemoveList records for these files, made and kept by this run.
static void write_paths(RecordFile* log, const char* const* paths, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    copy_string(DestPath, paths[i], sizeof DestPath);
    write_log_record(log, 0);
  }
}

bool append_remaining_files(const char* const* paths, uint32_t count) {
  if (!UninstallerPath[0]) return false;
  uint8_t* bytes = nullptr;
  uint32_t length = 0, image = 0;
  UninstallData data;
  char side[kPathSize];
  FileHandle file = open_uninstaller_record(2, &bytes, &length, &image, side, &data);
  if (file == INVALID_FILE_HANDLE) return false;
  // The files go at the end of its RemoveList, named as that record names
  // its own: "." is its installation folder, the uninstaller's own folder
  // unless the record says another.
  char saved_dir[kPathSize], saved_dest[sizeof DestPath];
  copy_string(saved_dir, InstallDir, sizeof saved_dir);
  copy_string(saved_dest, DestPath, sizeof saved_dest);
  if (data.has_install_folder && data.install_folder.length < kPathSize) {
    memcpy(InstallDir, data.install_folder.text, data.install_folder.length);
    InstallDir[data.install_folder.length] = '\0';
  } else {
    copy_string(InstallDir, UninstallerPath, kPathSize);
    *(strrchr(InstallDir, '\\') + 1) = '\0';  // UninstallerPath is a whole path
  }
  add_backslash(InstallDir, kPathSize);
  // The files' records go behind the record first: a drive too full for
  // them leaves it as it was. Then the blocks behind the RemoveList move up
  // by as much, within the file's length.
  RecordFile tail{file, 0};
  if (seek_to(file, length) != length) tail.result = 2;
  write_paths(&tail, paths, count);
  bool room = finish_record(&tail);
  RecordFile log{file, 0};
  if (!room) {
    if (seek_to(file, length) != length || !SetEndOfFile(file)) log.result = 2;
  } else {
    uint32_t list_size = get_u32(bytes + image + 4);  // checked by the parse
    uint32_t rest = image + kBlockHeaderSize + list_size;
    uint32_t total = data.remove_count + count;
    if (seek_to(file, image) != image) log.result = 2;
    uint32_t header = open_block(&log, kRemoveListId);
    write_record_bytes(&log, bytes + image + kBlockHeaderSize, list_size);
    write_paths(&log, paths, count);
    close_block(&log, header, kRemoveListId, &total);
    write_record_bytes(&log, bytes + rest, length - rest);
  }
  copy_string(InstallDir, saved_dir, kPathSize);
  copy_string(DestPath, saved_dest, sizeof DestPath);
  free_block(&bytes);
  bool written = finish_record(&log) && room;
  return close_file(file) && written;
}

UninstallDataStatus uninstaller_record_status(const char* uninstaller) {
  uint8_t* bytes = nullptr;
  uint32_t length = 0, image = 0;
  UninstallData data;
  char side[kPathSize];
  FileHandle file = open_record_file(uninstaller, 0, &bytes, &length, &image, side);
  if (file == INVALID_FILE_HANDLE) return UninstallDataStatus::kMissing;
  UninstallDataStatus status = parse_uninstall_data(bytes + image, length - image, &data);
  free_block(&bytes);
  close_file(file);
  return status;
}

bool record_remaining_files(const char* const* paths, uint32_t count, uint32_t image_size) {
  if (!UninstallerPath[0] || image_size < kBlockHeaderSize) return false;
  // A signed one gets a side file of its own, as the final step makes it.
  char side[kPathSize], temp[kPathSize];
  bool in_side_file = record_beside(UninstallerPath, side);
  if (in_side_file) image_size = kBlockHeaderSize;
  FileHandle file = in_side_file ? create_side_record(side, temp) : open_file(UninstallerPath, 2);
  if (file == INVALID_FILE_HANDLE) return false;
  // Back to the image as placed: a record the final step wrote lists what
  // the rollback has taken away.
  if (!in_side_file &&
      (file_length(file) < image_size || seek_to(file, image_size) != image_size || !SetEndOfFile(file))) {
    close_file(file);
    return false;
  }
  char saved[sizeof DestPath];
  copy_string(saved, DestPath, sizeof saved);
  add_backslash(InstallDir, kPathSize);
  RecordFile log{file, 0};
  write_record_u32(&log, 0);
  write_paths(&log, paths, count);
  close_block(&log, image_size - kBlockHeaderSize, kRemoveListId, &count);
  char key_path[kUninstallKeySize];
  bool named = write_uninstall_key_block(&log, key_path);
  write_install_folder_if_elsewhere(&log);
  if (ActiveArchitecture) write_native_mode(&log, ActiveArchitecture);
  write_block_header(&log, kUninstallEndId, 0);
  copy_string(DestPath, saved, sizeof DestPath);
  bool written = finish_record(&log) && (!in_side_file || FlushFileBuffers(file));
  bool whole = close_file(file) && written;
  if (in_side_file && !whole) delete_file(temp);
  if (in_side_file && whole) whole = place_side_file(temp, side, false);
  if (whole && named) register_uninstaller(key_path, current_uninstall_name(), false);
  return whole;
}
