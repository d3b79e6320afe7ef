// One product across its versions. A setup with a product id finds the
// installed version of its product by the Uninstall key that the id names
// and the key's DisplayVersion, and what that makes of this run: the
// first installation, a repair, an upgrade or a downgrade.
#pragma once

enum class ProductCase : unsigned char { kFirst, kRepair, kUpgrade, kDowngrade };

// The case of this run (kFirst for a setup without a product id), and the
// installed version ("" for none), settled by find_installed_version.
extern ProductCase InstalledCase;
extern char InstalledVersion[];
// Reads the installed version under the product's root (the scope is
// settled) and compares it with the current setup type's; logs the case
// ("product": new, repair, upgrade or downgrade; the installed version;
// this one). Nothing for a setup without a product id.
ProductCase find_installed_version();
