// The scope of an installation: for every user of the machine (the setup
// asks for administrator rights) or for the user who runs it (built with
// privileges = "user", whose manifest asks for none). The manifest is the
// only mark the setup carries, so the archive is the same either way.
#pragma once
#include <stdint.h>
#include <windows.h>

// Whether the stub's own manifest asks for no administrator rights.
bool per_user_scope();

// The root of the product's Uninstall key: HKEY_CURRENT_USER per user,
// HKEY_LOCAL_MACHINE per machine; and that root as the record stores it.
HKEY product_root();
uint32_t product_root_code();
