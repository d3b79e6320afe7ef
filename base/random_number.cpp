#include "base/random_number.h"

#include <windows.h>

#include "base/system_libraries.h"

typedef BOOLEAN(WINAPI* GenerateRandom)(void* buffer, ULONG length);

// Looked up once: every file an installation writes takes a number.
static GenerateRandom system_generator() {
  static bool looked_up;
  static GenerateRandom generate;
  if (!looked_up) {
    generate = as_call<GenerateRandom>(loaded_library_call("advapi32.dll", "SystemFunction036"));
    looked_up = true;
  }
  return generate;
}

unsigned long random_number() {
  GenerateRandom generate = system_generator();
  unsigned long value = 0;
  if (generate && generate(&value, sizeof value)) return value;
  LARGE_INTEGER counter = {};
  QueryPerformanceCounter(&counter);
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  value = counter.LowPart ^ now.dwLowDateTime ^ (GetCurrentProcessId() << 16) ^ GetCurrentThreadId();
  return value * 2654435761ul ^ GetTickCount();
}
