#include "cli/file_hash.h"

#include <nettle/sha1.h>
#include <nettle/sha2.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

std::string hex(const uint8_t* bytes, size_t count) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (size_t i = 0; i < count; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 15];
  }
  return text;
}

struct Digester {
  sha1_ctx sha1;
  sha256_ctx sha256;
  Digester() {
    sha1_init(&sha1);
    sha256_init(&sha256);
  }
  void add(const uint8_t* bytes, size_t size) {
    sha1_update(&sha1, size, bytes);
    sha256_update(&sha256, size, bytes);
  }
  FileDigests finish() {
    uint8_t digest[SHA256_DIGEST_SIZE];
    FileDigests digests;
    sha1_digest(&sha1, SHA1_DIGEST_SIZE, digest);
    digests.sha1 = hex(digest, SHA1_DIGEST_SIZE);
    sha256_digest(&sha256, SHA256_DIGEST_SIZE, digest);
    digests.sha256 = hex(digest, SHA256_DIGEST_SIZE);
    return digests;
  }
};

}  // namespace

FileDigests digest_bytes(const uint8_t* bytes, size_t size) {
  Digester digester;
  digester.add(bytes, size);
  return digester.finish();
}

bool digest_file(const std::string& path, FileDigests* digests, std::string* error) {
  FILE* file = fopen(path.c_str(), "rb");
  if (!file) {
    *error = path + ": " + strerror(errno);
    return false;
  }
  Digester digester;
  uint8_t buffer[1 << 16];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, file)) > 0) digester.add(buffer, got);
  bool failed = ferror(file) != 0;
  fclose(file);
  if (failed) {
    *error = path + ": cannot be read";
    return false;
  }
  *digests = digester.finish();
  return true;
}
