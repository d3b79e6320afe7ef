#include "builder/certificate_table.h"

#include <cstdio>
#include <vector>

#include "archive/format.h"

namespace {

enum : uint32_t {
  kDosNewHeader = 0x3C,     // e_lfanew
  kCoffSize = 20,
  kOptionalMagicPe32 = 0x10B,
  kOptionalMagicPe32Plus = 0x20B,
  kSecurityDirectory = 4,   // IMAGE_DIRECTORY_ENTRY_SECURITY
  kCertificateHeader = 8,   // dwLength, wRevision, wCertificateType
};

bool fail(std::string* error, uint64_t* at, uint64_t where, const std::string& what) {
  *error = what;
  *at = where;
  return false;
}

bool read_at(FILE* f, uint64_t offset, void* buffer, size_t count) {
  return std::fseek(f, static_cast<long>(offset), SEEK_SET) == 0 && std::fread(buffer, 1, count, f) == count;
}

// Data directory entry 4 of the PE header at the start of the file.
bool security_directory(FILE* f, uint64_t file_size, uint32_t* offset, uint32_t* size) {
  uint8_t word[4];
  if (file_size < 0x40 || !read_at(f, kDosNewHeader, word, 4)) return false;
  uint64_t pe = get_u32(word);
  uint8_t header[4 + kCoffSize];
  if (pe + sizeof header > file_size || !read_at(f, pe, header, sizeof header)) return false;
  if (header[0] != 'P' || header[1] != 'E' || header[2] != 0 || header[3] != 0) return false;
  uint64_t optional = pe + sizeof header;
  uint32_t optional_size = get_u16(header + 4 + 16);
  std::vector<uint8_t> opt(optional_size);
  if (optional_size < 2 || optional + optional_size > file_size || !read_at(f, optional, opt.data(), opt.size()))
    return false;
  uint32_t count_at, directories;
  switch (get_u16(opt.data())) {
    case kOptionalMagicPe32: count_at = 92, directories = 96; break;
    case kOptionalMagicPe32Plus: count_at = 108, directories = 112; break;
    default: return false;
  }
  uint32_t entry = directories + 8 * kSecurityDirectory;
  if (optional_size < entry + 8 || get_u32(&opt[count_at]) <= kSecurityDirectory) return false;
  *offset = get_u32(&opt[entry]);
  *size = get_u32(&opt[entry + 4]);
  return true;
}

}  // namespace

bool check_setup_trailer(const std::string& path, uint64_t file_size, uint64_t data_end, CertificateTable* table,
                         uint64_t* at, std::string* error) {
  *table = CertificateTable{};
  if (file_size <= data_end) return true;
  uint64_t extra = file_size - data_end;
  std::string bytes = std::to_string(extra) + " byte" + (extra == 1 ? "" : "s");
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return fail(error, at, data_end, "cannot read it");
  uint32_t offset = 0, size = 0;
  bool recorded = security_directory(f, file_size, &offset, &size) && size != 0;
  bool ok = false;
  if (!recorded) {
    fail(error, at, data_end, bytes + " follow the data area, and the stub's PE header records no certificate table");
  } else if (offset % 8 != 0 || offset < data_end || offset - data_end >= 8) {
    fail(error, at, data_end,
         bytes + " follow the data area, but the certificate table the PE header records lies at byte " +
             std::to_string(offset) + " instead of the first multiple of 8 behind it");
  } else if (static_cast<uint64_t>(offset) + size != file_size) {
    fail(error, at, static_cast<uint64_t>(offset) + size,
         "the certificate table of " + std::to_string(size) + " bytes at byte " + std::to_string(offset) +
             (static_cast<uint64_t>(offset) + size > file_size ? " runs past the end of the file"
                                                                : " does not end where the file does"));
  } else {
    std::vector<uint8_t> rest(static_cast<size_t>(extra));
    if (!read_at(f, data_end, rest.data(), rest.size())) {
      fail(error, at, data_end, "cannot read it");
    } else {
      ok = true;
      for (uint64_t k = 0; ok && k < offset - data_end; ++k)
        if (rest[k] != 0) ok = fail(error, at, data_end + k, "the bytes before the certificate table are not zero");
      // The WIN_CERTIFICATE records, each at a multiple of 8, fill the table.
      uint64_t p = offset - data_end;
      while (ok && p < rest.size()) {
        uint64_t left = rest.size() - p;
        uint32_t length = left >= kCertificateHeader ? get_u32(&rest[p]) : 0;
        if (length < kCertificateHeader || length > left) {
          ok = fail(error, at, data_end + p, "a certificate record of the table does not fit it");
          break;
        }
        ++table->entries;
        p += (static_cast<uint64_t>(length) + 7) / 8 * 8;
      }
      if (ok && p != rest.size()) ok = fail(error, at, file_size, "the certificate records do not fill the table");
    }
  }
  std::fclose(f);
  if (!ok) return false;
  table->present = true;
  table->offset = offset;
  table->size = size;
  return true;
}
