// The strict reading of a setup file's structure for kestrel verify: the
// block chain behind the stub, every configuration record and list, the
// data area's end and its volume files. It reads the bytes on its own,
// beside the loader the stub runs, so that it can name the byte that
// breaks a rule even where the loader gives up.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "builder/setup_resources.h"
#include "builder/setup_signature.h"
#include "cli/format_rules.h"

struct SetupScan {
  std::vector<Finding> findings;
  std::vector<std::string> notes;  // how the file uses what the format leaves open
  SetupSignature signature;  // a signed setup's certificate table behind the data area
  SetupResourceSummary resources;  // the stub's version strings and icon sizes
};

// Scans the setup file at `path` whose archive begins at `stub_size`.
void scan_setup(const std::string& path, uint32_t stub_size, SetupScan* scan);

// The word a project file uses for an architecture (kArchitecture...,
// archive/format.h); "unknown" for a value no builder writes.
const char* architecture_name(uint32_t code);
