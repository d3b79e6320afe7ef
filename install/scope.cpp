#include "install/scope.h"

#include <string.h>

namespace {

// The level the build writes into the manifest of a per-user setup.
const char kInvokerLevel[] = "level=\"asInvoker\"";

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
  static int scope = -1;
  if (scope < 0) scope = manifest_asks_no_rights() ? 1 : 0;
  return scope == 1;
}

HKEY product_root() { return per_user_scope() ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE; }

uint32_t product_root_code() { return per_user_scope() ? 0x80000001u : 0x80000002u; }
