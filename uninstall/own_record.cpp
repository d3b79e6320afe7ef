#include "uninstall/own_record.h"

#include <windows.h>

#include <string.h>

#include "archive/format.h"
#include "archive/stub_size.h"

namespace {

UninstallDataStatus read_tail(HANDLE file, DWORD image_size, DWORD tail, OwnRecord* record) {
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

}  // namespace

UninstallDataStatus read_own_record(const char* own_path, OwnRecord* record) {
  *record = OwnRecord();
  uint32_t image_size = stamped_stub_size();
  if (image_size == 0) return UninstallDataStatus::kMissing;
  HANDLE file = CreateFileA(own_path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return UninstallDataStatus::kMissing;
  DWORD high = 0;
  DWORD size = GetFileSize(file, &high);
  UninstallDataStatus status = UninstallDataStatus::kMissing;
  if (size != INVALID_FILE_SIZE && high == 0 && size > image_size)
    status = read_tail(file, image_size, size - image_size, record);
  CloseHandle(file);
  return status;
}

void free_own_record(OwnRecord* record) {
  if (record->bytes) HeapFree(GetProcessHeap(), 0, record->bytes);
  *record = OwnRecord();
}

bool mark_record_used(const char* path, const char* own_path) {
  uint32_t image_size = stamped_stub_size();
  HANDLE own = CreateFileA(own_path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
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
    file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_SHARING_VIOLATION) break;
    Sleep(200);
  }
  bool marked = false;
  if (own_bytes && file != INVALID_HANDLE_VALUE && own_size > image_size + kBlockHeaderSize) {
    DWORD size = 0;
    uint8_t* bytes = read_whole(file, &size);
    if (bytes && size == own_size && memcmp(bytes, own_bytes, size) == 0 &&
        get_u16(bytes + image_size) == kRemoveListId) {
      uint8_t id[2];
      put_u16(id, kUsedRemoveListId);
      DWORD written = 0;
      marked = SetFilePointer(file, static_cast<LONG>(image_size), nullptr, FILE_BEGIN) == image_size &&
               WriteFile(file, id, sizeof id, &written, nullptr) && written == sizeof id;
    }
    if (bytes) HeapFree(GetProcessHeap(), 0, bytes);
  }
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  if (own_bytes) HeapFree(GetProcessHeap(), 0, own_bytes);
  return marked;
}
