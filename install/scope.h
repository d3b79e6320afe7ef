// The scope of an installation: for every user of the machine (the setup
// asks for administrator rights) or for the user who runs it (built with
// privileges = "user", whose manifest asks for none). A setup built with
// privileges = "choice" asks for none either and carries block 0x1248: its
// user or its switches choose (app/scope_choice.h), and choose_scope says.
#pragma once
#include <stdint.h>
#include <windows.h>

// Whether this installation is per user: as chosen, else as the stub's own
// manifest asks for no administrator rights.
bool per_user_scope();

// The scope chosen after loading: the default folders of every setup type
// are worked out again in it, and a per-user installation's uninstaller
// gets a manifest that asks for no rights either.
void choose_scope(bool per_user);

// The root of the product's Uninstall key: HKEY_CURRENT_USER per user,
// HKEY_LOCAL_MACHINE per machine; and that root as the record stores it.
HKEY product_root();
uint32_t product_root_code();
