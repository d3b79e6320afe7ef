// A setup file's Authenticode signature: the certificate table that a
// signer appends behind the archive and announces in the stub's PE header
// (data directory 4). The stub never reads it: its data area ends where its
// data length says. Here the table is found and checked, so that the tool
// can tell a signed setup from one with stray bytes behind its archive.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

struct SetupSignature {
  bool present = false;       // the header announces a certificate table
  uint64_t table_offset = 0;  // where it begins in the file
  uint64_t table_size = 0;
  uint32_t certificates = 0;  // WIN_CERTIFICATE entries in the table
  bool authenticode = false;  // one of them holds PKCS #7 signed data
};

// Reads the certificate table entry of the setup file at `path` and checks
// what follows its archive, which ends at `archive_end` (unknown for an
// archive without a data area): either nothing, or exactly the announced
// table, after at most 7 zero bytes that bring it to a multiple of 8, and
// running to the end of the file. False with *error saying what is wrong
// when other bytes follow the archive or the table is malformed.
bool read_setup_signature(const std::string& path, std::optional<uint64_t> archive_end, SetupSignature* signature,
                          std::string* error);

// One line for kestrel list and verify: "none" or what the table holds.
std::string describe_signature(const SetupSignature& signature);

// CRC-32 of the first `length` bytes of the file, with the header checksum
// and the certificate table entry counted as zeros: everything that signing
// must leave as it was.
bool signed_content_crc(const std::string& path, uint64_t length, uint32_t* crc, std::string* error);

// An item's signature state, from its bytes: a program or library (PE
// headers) whose header announces a certificate table that ends the file
// and holds Authenticode signed data counts as signed. The signature's
// cryptography is not checked here; osslsigncode verify does that.
enum class ItemSignature { kNotAProgram, kUnsigned, kSigned };
ItemSignature item_signature(const uint8_t* data, size_t size);
const char* item_signature_text(ItemSignature state);
