// The SPDX 2.3 document (JSON) of a built setup file: the setup and its
// digests, the Kestrel programs inside it, and every item as the setup
// installs it, read back from the setup itself, so that each digest is the
// installed file's.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

// Writes the document of the setup file at `setup_path` to `sbom_path`.
// `created` (seconds since 1970) is the document's time, SOURCE_DATE_EPOCH
// when the build has one: the same setup then gives the same bytes. False
// with *error saying why, and no file left.
bool write_sbom(const std::string& setup_path, const std::string& sbom_path, std::optional<uint64_t> created,
                std::string* error);
