#include "base/uninstall_turn.h"

#include <string.h>

#include "base/path_strings.h"

namespace {

const char kTurnPrefix[] = "KestrelUninstall:";

}  // namespace

HANDLE wait_for_turn(const char* installed_path) {
  // A mutex name may hold no backslash; letter case must not matter.
  char name[sizeof kTurnPrefix + MAX_PATH];
  copy_string(name, kTurnPrefix, sizeof name);
  size_t n = strlen(name);
  for (const char* p = installed_path; *p && n + 1 < sizeof name; ++p)
    name[n++] = *p == '\\' ? '/' : fold_letter(*p);
  name[n] = '\0';
  HANDLE turn = CreateMutexA(nullptr, FALSE, name);
  if (!turn) return nullptr;
  // Whoever holds it is a working copy between its removal and its mark,
  // or a setup reading the record: going on without it would act on a
  // record that is being carried out.
  DWORD waited = WaitForSingleObject(turn, INFINITE);
  if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) return turn;
  CloseHandle(turn);
  return nullptr;
}

void release_turn(HANDLE turn) {
  if (!turn) return;
  ReleaseMutex(turn);
  CloseHandle(turn);
}
