// The Authenticode certificate table of a signed setup file. Signing
// appends it behind everything else, at a file offset that is a multiple
// of 8 (zero bytes fill the gap), and records its offset and size in the
// stub's PE optional header, data directory entry 4. The setup program
// never reads it; it is the one thing that may follow the data area.
#pragma once
#include <cstdint>
#include <string>

struct CertificateTable {
  bool present = false;
  uint64_t offset = 0;  // file offset of the table
  uint32_t size = 0;    // its size in bytes, as the PE header records it
  uint32_t entries = 0; // WIN_CERTIFICATE records in it
};

// Checks what follows `data_end`, the end of the setup's data area, in the
// file at `path` of `file_size` bytes: nothing, or exactly the certificate
// table that the PE header at the start of the file records (at most 7 zero
// bytes, then the table, whose WIN_CERTIFICATE records fill it, up to the
// end of the file). False, with *error saying what is there instead and
// *at its file offset, otherwise.
bool check_setup_trailer(const std::string& path, uint64_t file_size, uint64_t data_end, CertificateTable* table,
                         uint64_t* at, std::string* error);
