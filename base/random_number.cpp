#include "base/random_number.h"

#include <windows.h>

#include "base/system_libraries.h"

unsigned long random_number() {
  typedef BOOLEAN(WINAPI * GenerateRandom)(void* buffer, ULONG length);
  GenerateRandom generate = as_call<GenerateRandom>(loaded_library_call("advapi32.dll", "SystemFunction036"));
  unsigned long value = 0;
  if (generate && generate(&value, sizeof value)) return value;
  LARGE_INTEGER counter = {};
  QueryPerformanceCounter(&counter);
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  value = counter.LowPart ^ now.dwLowDateTime ^ (GetCurrentProcessId() << 16) ^ GetCurrentThreadId();
  return value * 2654435761ul ^ GetTickCount();
}
