// SHA-1 and SHA-256 digests of files and of bytes in memory, in lower-case
// hexadecimal, for the manifests and the SBOM that name a setup's files.
// Computed with GNU Nettle.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

struct FileDigests {
  std::string sha1;
  std::string sha256;
};

// The digests of the file at `path`; false with *error saying why.
bool digest_file(const std::string& path, FileDigests* digests, std::string* error);
// The digests of `size` bytes.
FileDigests digest_bytes(const uint8_t* bytes, size_t size);
