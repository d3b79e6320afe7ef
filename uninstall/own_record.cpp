#include "uninstall/own_record.h"

#include <windows.h>

#include "app/stub_size.h"

namespace {

// Far more than any installation writes (a record takes at least 5 bytes
// plus its path); a larger tail is not a record of ours.
constexpr DWORD kMaxRecordLength = 4u << 20;

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
