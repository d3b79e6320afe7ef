#include "install/scope.h"

#include <string.h>

#include "archive/config.h"
#include "archive/platform.h"
#include "base/globals.h"
#include "base/path_strings.h"

namespace {

// The level the build writes into the manifest of a per-user setup, and
// the length of the administrator level it replaces, blanks making it up.
const char kInvokerLevel[] = "level=\"asInvoker\"";
enum : uint32_t { kLevelLength = sizeof "level=\"requireAdministrator\"" - 1 };

int Scope = -1;  // 1 per user, 0 per machine, -1 not yet known

bool manifest_asks_no_rights() {
  HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));  // RT_MANIFEST
  HGLOBAL loaded = found ? LoadResource(nullptr, found) : nullptr;
  const char* text = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
  if (!text) return false;
  DWORD size = SizeofResource(nullptr, found);
  const size_t n = sizeof kInvokerLevel - 1;
  for (DWORD i = 0; i + n <= size; ++i)
    if (memcmp(text + i, kInvokerLevel, n) == 0) return true;
  return false;
}

}  // namespace

bool per_user_scope() {
  // One that lets its user choose is per machine until chosen (block 0x1248
  // comes before the setup types): loading makes nothing of the user's.
  if (Scope < 0) Scope = manifest_asks_no_rights() && !HasScopeChoice ? 1 : 0;
  return Scope == 1;
}

void choose_scope(bool per_user) {
  Scope = per_user;
  uint32_t at = get_u32(ScopeChoice + 4);
  if (per_user && at && ItemPrefixBlobLength >= kLevelLength && at <= ItemPrefixBlobLength - kLevelLength) {
    memcpy(ItemPrefixBlob + at, kInvokerLevel, sizeof kInvokerLevel - 1);
    memset(ItemPrefixBlob + at + sizeof kInvokerLevel - 1, ' ', kLevelLength - (sizeof kInvokerLevel - 1));
  }
  for (int i = 0; i < SetupTypeCount; ++i) {
    default_install_dir(&SetupTypeTable[i].record);
    copy_string(SetupTypeTable[i].folder, InstallDir, kPathSize);
  }
  copy_string(InstallDir, SetupTypeTable[CurrentSetupType].folder, kPathSize);
}

HKEY product_root() { return per_user_scope() ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE; }

uint32_t product_root_code() { return per_user_scope() ? 0x80000001u : 0x80000002u; }
