#include "uninstall/own_record.h"

#include <windows.h>

#include <string.h>

#include "archive/format.h"
#include "archive/stub_size.h"

namespace {

UninstallDataStatus read_tail(HANDLE file, DWORD image_size, DWORD tail, OwnRecord* record) {
  record->length = tail;
  if (tail > kMaxRecordLength) return UninstallDataStatus::kDamaged;
  if (SetFilePointer(file, static_cast<LONG>(image_size), nullptr, FILE_BEGIN) != image_size)
    return UninstallDataStatus::kDamaged;
  record->bytes = static_cast<uint8_t*>(HeapAlloc(GetProcessHeap(), 0, tail));
  if (!record->bytes) return UninstallDataStatus::kDamaged;
  DWORD done = 0;
  DWORD got = 0;
  while (done < tail && ReadFile(file, record->bytes + done, tail - done, &got, nullptr) && got != 0) done += got;
  // A record we could not read whole is not one we may act on.
  return done == tail ? parse_uninstall_data(record->bytes, tail, &record->data) : UninstallDataStatus::kDamaged;
}

// The whole file into a block of the process heap; null when it cannot be
// read or is far larger than an uninstaller with its record.
uint8_t* read_whole(HANDLE file, DWORD* size) {
  DWORD high = 0;
  *size = GetFileSize(file, &high);
  if (*size == INVALID_FILE_SIZE || high != 0 || *size > kMaxUninstallerLength) return nullptr;
  uint8_t* bytes = static_cast<uint8_t*>(HeapAlloc(GetProcessHeap(), 0, *size ? *size : 1));
  DWORD done = 0, got = 0;
  while (bytes && done < *size && ReadFile(file, bytes + done, *size - done, &got, nullptr) && got != 0) done += got;
  if (bytes && done != *size) {
    HeapFree(GetProcessHeap(), 0, bytes);
    bytes = nullptr;
  }
  return bytes;
}

// A signed image carries no record of its own: its certificate table
// ends the file. The loader has checked the headers it maps.
bool own_image_signed() {
  const uint8_t* base = reinterpret_cast<const uint8_t*>(GetModuleHandleA(nullptr));
  const IMAGE_NT_HEADERS* headers =
      reinterpret_cast<const IMAGE_NT_HEADERS*>(base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const IMAGE_OPTIONAL_HEADER& optional = headers->OptionalHeader;
  return optional.NumberOfRvaAndSizes > IMAGE_DIRECTORY_ENTRY_SECURITY &&
         optional.DataDirectory[IMAGE_DIRECTORY_ENTRY_SECURITY].Size != 0;
}

// Opened for reading, or for reading and writing by this program alone.
HANDLE open_existing(const char* path, bool to_write) {
  return CreateFileA(path, to_write ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ, to_write ? 0 : FILE_SHARE_READ,
                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Turns the RemoveList's id at `at` into the mark of a record carried out.
bool write_used_id(HANDLE file, DWORD at) {
  uint8_t id[2];
  put_u16(id, kUsedRemoveListId);
  DWORD written = 0;
  return SetFilePointer(file, static_cast<LONG>(at), nullptr, FILE_BEGIN) == at &&
         WriteFile(file, id, sizeof id, &written, nullptr) && written == sizeof id;
}

// The side file of a signed uninstaller marked, when it still holds the
// record as read.
bool mark_side_file(const OwnRecord& record) {
  HANDLE file = open_existing(record.side_path, true);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD size = 0;
  uint8_t* bytes = read_whole(file, &size);
  bool marked = bytes && size == record.length && memcmp(bytes, record.bytes, size) == 0 &&
                get_u16(bytes) == kRemoveListId && write_used_id(file, 0);
  if (bytes) HeapFree(GetProcessHeap(), 0, bytes);
  CloseHandle(file);
  return marked;
}

}  // namespace

UninstallDataStatus read_own_record(const char* own_path, const char* installed, OwnRecord* record) {
  *record = OwnRecord();
  uint32_t image_size = stamped_stub_size();
  if (image_size == 0) return UninstallDataStatus::kMissing;
  record->side = own_image_signed();
  if (record->side && !side_record_path(installed, record->side_path, sizeof record->side_path))
    return UninstallDataStatus::kDamaged;
  HANDLE file = open_existing(record->side ? record->side_path : own_path, false);
  // Without its side file a signed uninstaller's record is lost, not absent.
  if (file == INVALID_HANDLE_VALUE) return record->side ? UninstallDataStatus::kDamaged : UninstallDataStatus::kMissing;
  DWORD high = 0;
  DWORD size = GetFileSize(file, &high);
  DWORD start = record->side ? 0 : image_size;
  UninstallDataStatus status = record->side ? UninstallDataStatus::kDamaged : UninstallDataStatus::kMissing;
  if (size != INVALID_FILE_SIZE && high == 0 && size > start) status = read_tail(file, start, size - start, record);
  CloseHandle(file);
  return status;
}

void free_own_record(OwnRecord* record) {
  if (record->bytes) HeapFree(GetProcessHeap(), 0, record->bytes);
  *record = OwnRecord();
}

bool mark_record_used(const char* path, const char* own_path, const OwnRecord& record) {
  uint32_t image_size = stamped_stub_size();
  HANDLE own = open_existing(own_path, false);
  if (image_size == 0 || own == INVALID_HANDLE_VALUE) return false;
  DWORD own_size = 0;
  uint8_t* own_bytes = read_whole(own, &own_size);
  CloseHandle(own);
  // Nobody else may open the file between the comparison and the mark. A
  // scanner may still hold it for a moment after the program ended: a
  // lost mark would let a second run remove everything again, so wait for
  // it, up to ten seconds.
  HANDLE file = INVALID_HANDLE_VALUE;
  for (int tries = 0; tries < 50; ++tries) {
    file = open_existing(path, true);
    if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_SHARING_VIOLATION) break;
    Sleep(200);
  }
  bool marked = false;
  if (own_bytes && file != INVALID_HANDLE_VALUE && (record.side || own_size > image_size + kBlockHeaderSize)) {
    DWORD size = 0;
    uint8_t* bytes = read_whole(file, &size);
    // The uninstaller stays open meanwhile: no setup puts another there
    // between its comparison and the side file's mark.
    if (bytes && size == own_size && memcmp(bytes, own_bytes, size) == 0)
      marked = record.side ? mark_side_file(record)
                           : get_u16(bytes + image_size) == kRemoveListId && write_used_id(file, image_size);
    if (bytes) HeapFree(GetProcessHeap(), 0, bytes);
  }
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  if (own_bytes) HeapFree(GetProcessHeap(), 0, own_bytes);
  return marked;
}
