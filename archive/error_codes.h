// The installation's error codes: the first failure is kept in ErrorState
// and shown as text 6/N with MessageArgument in its "%s".
#pragma once
#include <cstdint>

enum : int32_t {
  kErrorNoMemory = 12,
  kErrorDiskGivenUp = 15,     // the user gave up at the disk prompt, or cancelled
  kErrorOpen = 16,
  kErrorCreate = 17,
  kErrorDataUnreadable = 18,  // archive data, or a volume, cannot be read
  kErrorWrite = 19,
  kErrorDiskFull = 20,
  kErrorChecksum = 21,
  kErrorNotReplaced = 22,
  kErrorOtherTypeKept = 35,   // another setup type's uninstaller did not succeed; nothing was installed
  kErrorOtherTypeHung = 41,   // another setup type's uninstaller did not end in time; nothing was installed
  kErrorSystem = 1000,        // a system call failed; its GetLastError is kept
};
