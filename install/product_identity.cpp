#include "install/product_identity.h"

#include "archive/config.h"
#include "archive/format.h"
#include "base/globals.h"
#include "base/setup_log.h"
#include "base/version_number.h"
#include "install/registry_values.h"
#include "install/scope.h"
#include "install/uninstall_record.h"

ProductCase InstalledCase;
char InstalledVersion[kPathSize];

ProductCase find_installed_version() {
  if (!ProductIdentity) return ProductCase::kFirst;
  static const char* const kCaseWords[] = {"new", "repair", "upgrade", "downgrade"};
  char key_path[kUninstallKeySize];
  uninstall_key_path(key_path, nullptr);
  const char* version = product_detail(kDetailVersion);
  ProductCase found = ProductCase::kFirst;
  if (read_registry_path(product_root(), key_path, "DisplayVersion", InstalledVersion)) {
    int order = compare_versions(InstalledVersion, version);
    found = order == 0 ? ProductCase::kRepair : order < 0 ? ProductCase::kUpgrade : ProductCase::kDowngrade;
  }
  log_event("product", kCaseWords[static_cast<int>(found)], InstalledVersion, version);
  InstalledCase = found;
  return found;
}
