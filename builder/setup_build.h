// Turns a project into a setup file: stub, configuration and data area,
// with volume files beside it when a volume size is given.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "builder/project.h"
#include "builder/sign_command.h"

struct BuildOptions {
  std::string output;                   // the setup file
  int level = 12;                       // kStreamLevelDefault
  uint64_t volume_size = 0;             // 0: one file
  std::vector<uint8_t> stub;            // the stamped stub
  std::vector<uint8_t> uninstaller;     // the stamped uninstaller; empty = none
  std::vector<uint8_t> default_dialogs; // compiled resource file of the default templates
  bool show_progress = false;           // one updating line on stderr
  // Seconds since 1970 that no stored file time may exceed (the
  // SOURCE_DATE_EPOCH of reproducible builds); none: times as they are.
  std::optional<uint64_t> newest_time;
  SignCommand sign;                     // run on the setup file once complete
};

struct BuildReport {
  uint32_t items = 0;          // entries over all setup types
  uint32_t stored_items = 0;   // distinct data blocks in the data area
  uint64_t input_bytes = 0;    // of the distinct contents
  uint64_t stored_bytes = 0;   // the data area's data
  uint64_t setup_size = 0;     // of the setup file
  uint32_t volumes = 0;        // volume files beside it
  std::vector<std::string> warnings;  // what the setup will do otherwise than the project may expect
  bool signed_setup = false;   // the sign command signed it
};

// Writes the setup under a temporary name, signs it when a sign command is
// given, and renames it (and its volumes) only when all is done: a failed
// build or signer leaves nothing behind.
bool build_setup(const Project& project, const BuildOptions& options, BuildReport* report, std::string* error);
