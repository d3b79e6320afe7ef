#include "builder/setup_signature.h"

#include <libdeflate.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "archive/format.h"
#include "archive/pe_header.h"

namespace {

// The stub's headers lie in its first bytes; this many are read for them.
const size_t kHeaderBytes = 64 * 1024;
enum : uint16_t { kCertificateRevision1 = 0x0100, kCertificateRevision2 = 0x0200, kCertificatePkcsSignedData = 2 };
enum : uint32_t { kCertificateHeaderSize = 8, kCertificateAlignment = 8 };

bool fail(std::string* error, const std::string& message) {
  *error = message;
  return false;
}

uint64_t align8(uint64_t n) { return (n + kCertificateAlignment - 1) & ~uint64_t{kCertificateAlignment - 1}; }

class File {
 public:
  explicit File(const std::string& path) : f_(std::fopen(path.c_str(), "rb")) {}
  ~File() {
    if (f_) std::fclose(f_);
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  bool open() const { return f_ != nullptr; }
  uint64_t size() const {
    struct stat st {};
    return fstat(fileno(f_), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
  }
  bool read_at(uint64_t offset, void* buffer, size_t length) {
    return fseeko(f_, static_cast<off_t>(offset), SEEK_SET) == 0 && std::fread(buffer, 1, length, f_) == length;
  }
  FILE* stream() { return f_; }

 private:
  FILE* f_;
};

// The headers of the file's PE image and the offset of its certificate
// table entry; false when the file does not begin with a PE image.
bool read_header(File& file, uint64_t size, std::vector<uint8_t>* head, PeHeader* header, uint32_t* entry) {
  head->resize(size < kHeaderBytes ? static_cast<size_t>(size) : kHeaderBytes);
  if (!file.read_at(0, head->data(), head->size())) return false;
  return read_pe_header(head->data(), head->size(), header) &&
         pe_directory_entry(*header, kPeDirectoryCertificates, entry);
}

// The WIN_CERTIFICATE entries of the table, each at a multiple of 8;
// `file` reads bytes at an offset (a File, or bytes in memory).
template <typename Source>
bool read_certificates(Source& file, SetupSignature* s, std::string* error) {
  uint64_t at = s->table_offset, end = s->table_offset + s->table_size;
  while (at < end) {
    uint8_t raw[kCertificateHeaderSize];
    if (end - at < kCertificateHeaderSize || !file.read_at(at, raw, sizeof raw))
      return fail(error, "the certificate table ends inside an entry's header");
    uint32_t length = get_u32(raw);
    uint16_t revision = get_u16(raw + 4), type = get_u16(raw + 6);
    if (length < kCertificateHeaderSize || length > end - at)
      return fail(error, "a certificate entry of " + std::to_string(length) + " bytes does not fit its table");
    if (revision != kCertificateRevision1 && revision != kCertificateRevision2)
      return fail(error, "a certificate entry has the unknown revision " + std::to_string(revision));
    ++s->certificates;
    if (type == kCertificatePkcsSignedData) s->authenticode = true;
    at += align8(length);
  }
  return true;
}

}  // namespace

bool read_setup_signature(const std::string& path, std::optional<uint64_t> archive_end, SetupSignature* signature,
                          std::string* error) {
  *signature = SetupSignature{};
  File file(path);
  if (!file.open()) return fail(error, path + ": " + std::strerror(errno));
  uint64_t size = file.size();
  std::vector<uint8_t> head;
  PeHeader header;
  uint32_t entry = 0;
  uint32_t at = 0, length = 0;
  if (read_header(file, size, &head, &header, &entry)) {
    at = get_u32(&head[entry]);
    length = get_u32(&head[entry + 4]);
  }
  uint64_t end = archive_end ? *archive_end : size;
  if (at == 0 && length == 0) {
    if (end < size)
      return fail(error, std::to_string(size - end) +
                             " bytes follow the data area, and the stub's header announces no certificate table");
    return true;
  }
  SetupSignature& s = *signature;
  s.present = true;
  s.table_offset = at;
  s.table_size = length;
  if (uint64_t{at} + length != size)
    return fail(error, "the certificate table that the stub's header announces (" + std::to_string(length) +
                           " bytes at offset " + std::to_string(at) + ") does not end at the end of the file");
  if (archive_end) {
    if (at < end) return fail(error, "the certificate table that the stub's header announces overlaps the archive");
    if (at != align8(end))
      return fail(error, "the certificate table begins " + std::to_string(at - end) +
                             " bytes behind the data area, not at the next multiple of 8");
    uint8_t padding[kCertificateAlignment] = {};
    uint8_t zero[kCertificateAlignment] = {};
    size_t gap = static_cast<size_t>(at - end);
    if (gap && (!file.read_at(end, padding, gap) || std::memcmp(padding, zero, gap) != 0))
      return fail(error, "the bytes between the data area and the certificate table are not zeros");
  }
  if (!read_certificates(file, &s, error)) return false;
  if (s.certificates == 0) return fail(error, "the certificate table is empty");
  return true;
}

ItemSignature item_signature(const uint8_t* data, size_t size) {
  PeHeader header;
  uint32_t entry = 0;
  if (!read_pe_header(data, size, &header)) return ItemSignature::kNotAProgram;
  if (!pe_directory_entry(header, kPeDirectoryCertificates, &entry)) return ItemSignature::kUnsigned;
  uint32_t at = get_u32(data + entry), length = get_u32(data + entry + 4);
  if (at == 0 || uint64_t{at} + length != size) return ItemSignature::kUnsigned;
  struct Bytes {
    const uint8_t* data;
    size_t size;
    bool read_at(uint64_t offset, void* buffer, size_t n) {
      if (offset > size || n > size - offset) return false;
      std::memcpy(buffer, data + offset, n);
      return true;
    }
  } bytes{data, size};
  SetupSignature s;
  s.table_offset = at;
  s.table_size = length;
  std::string why;
  return read_certificates(bytes, &s, &why) && s.authenticode ? ItemSignature::kSigned : ItemSignature::kUnsigned;
}

const char* item_signature_text(ItemSignature state) {
  switch (state) {
    case ItemSignature::kSigned: return "signed";
    case ItemSignature::kUnsigned: return "unsigned";
    case ItemSignature::kNotAProgram: return "not a program";
  }
  return "unknown";
}

std::string describe_signature(const SetupSignature& s) {
  if (!s.present) return "none";
  std::string text = s.authenticode ? "Authenticode" : "certificate table without Authenticode signed data";
  text += " (" + std::to_string(s.table_size) + " bytes at offset " + std::to_string(s.table_offset);
  if (s.certificates > 1) text += ", " + std::to_string(s.certificates) + " entries";
  return text + ")";
}

bool signed_content_crc(const std::string& path, uint64_t length, uint32_t* crc, std::string* error) {
  File file(path);
  if (!file.open()) return fail(error, path + ": " + std::strerror(errno));
  std::vector<uint8_t> head;
  PeHeader header;
  uint32_t entry = 0;
  if (!read_header(file, file.size(), &head, &header, &entry))
    return fail(error, path + ": the stub is not a PE image that can be signed");
  std::rewind(file.stream());
  uint32_t sum = 0;
  std::vector<uint8_t> buffer(1 << 16);
  for (uint64_t done = 0; done < length;) {
    size_t n = static_cast<size_t>(std::min<uint64_t>(buffer.size(), length - done));
    if (std::fread(buffer.data(), 1, n, file.stream()) != n) return fail(error, path + ": read failed");
    // The two fields a signer rewrites in place.
    for (uint64_t field : {uint64_t{header.checksum_field}, uint64_t{entry}})
      for (uint64_t k = field; k < field + (field == entry ? kPeDirectoryEntrySize : 4u); ++k)
        if (k >= done && k < done + n) buffer[static_cast<size_t>(k - done)] = 0;
    sum = libdeflate_crc32(sum, buffer.data(), n);
    done += n;
  }
  *crc = sum;
  return true;
}
