// The archive's seam to the system: the shared one (base/platform.h) and
// the default-folder lookup, whose Win32 side lives in install/ and whose
// host side in archive/platform_host.cpp. The archive reaches the system
// through this header only.
#pragma once
#include "base/platform.h"

// Sets InstallDir to the default destination folder of one setup type.
struct SetupTypeRecord;
void default_install_dir(const SetupTypeRecord* record);

// The architecture block (kArchitecture..., archive/format.h), read before
// any setup type: on a machine that takes the mode, the folders and keys
// of everything read afterwards are the native ones; on one that does not,
// nothing is changed and ArchitectureRefused is set.
void take_architecture(uint32_t code);
extern bool ArchitectureRefused;
