#include "uninstall/own_record.h"

#include <windows.h>

#include <vector>

#include "app/stub_size.h"

namespace {

// Far more than any installation writes (a record takes at least 5 bytes
// plus its path); a larger tail is not a record of ours.
constexpr DWORD kMaxRecordLength = 4u << 20;

}  // namespace

UninstallDataStatus read_own_record(const char* own_path, UninstallData* data) {
  *data = UninstallData();
  uint32_t image_size = stamped_stub_size();
  if (image_size == 0) return UninstallDataStatus::kMissing;
  HANDLE file = CreateFileA(own_path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return UninstallDataStatus::kMissing;
  DWORD high = 0;
  DWORD size = GetFileSize(file, &high);
  UninstallDataStatus status = UninstallDataStatus::kMissing;
  if (size != INVALID_FILE_SIZE && high == 0 && size > image_size) {
    DWORD tail = size - image_size;
    std::vector<uint8_t> bytes;
    if (tail > kMaxRecordLength) {
      status = UninstallDataStatus::kDamaged;
    } else if (SetFilePointer(file, static_cast<LONG>(image_size), nullptr, FILE_BEGIN) == image_size) {
      bytes.resize(tail);
      DWORD done = 0;
      DWORD got = 0;
      while (done < tail && ReadFile(file, bytes.data() + done, tail - done, &got, nullptr) && got != 0)
        done += got;
      // A record we could not read whole is not one we may act on.
      status = done == tail ? parse_uninstall_data(bytes.data(), tail, data) : UninstallDataStatus::kDamaged;
    } else {
      status = UninstallDataStatus::kDamaged;
    }
  }
  CloseHandle(file);
  return status;
}
