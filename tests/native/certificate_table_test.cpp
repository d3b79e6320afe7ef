// The one thing that may follow a setup's data area: the Authenticode
// certificate table that signing appends and records in the stub's PE
// header. Anything else behind the data, or a table other than recorded,
// breaks the data-area-end rule.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "archive/format.h"
#include "cli/cli_support.h"
#include "tests/native/data_area_fixture.h"
#include "tests/native/setup_builder.h"

namespace {

const uint32_t kPe = 0xC0, kOptional = kPe + 24, kSecurity = kOptional + 96 + 32;

// A stand-in stub with the PE header fields a signer fills in.
std::vector<uint8_t> pe_stub() {
  std::vector<uint8_t> stub(400, 0);
  const uint8_t marker[kStubSizeMarkerLength] = KESTREL_STUB_SIZE_MARKER;
  std::memcpy(&stub[100], marker, sizeof marker);
  stub[0] = 'M', stub[1] = 'Z';
  put_u32(&stub[0x3C], kPe);
  std::memcpy(&stub[kPe], "PE\0\0", 4);
  put_u16(&stub[kPe + 4 + 16], 136);  // SizeOfOptionalHeader: up to the security entry
  put_u16(&stub[kOptional], 0x10B);
  put_u32(&stub[kOptional + 92], 16);  // NumberOfRvaAndSizes
  EXPECT_EQ(StampResult::kStamped, stamp_stub_size(stub));
  return stub;
}

// Signs as a signer does: zero bytes up to a multiple of 8, then the
// records (each padded to 8), recorded in the PE header.
void sign(std::vector<uint8_t>& f, const std::vector<uint32_t>& records) {
  while (f.size() % 8) f.push_back(0);
  uint32_t offset = static_cast<uint32_t>(f.size());
  for (uint32_t length : records) {
    std::vector<uint8_t> r((length + 7) / 8 * 8, 0x5A);
    put_u32(&r[0], length);
    put_u16(&r[4], 0x0200);
    put_u16(&r[6], 0x0002);
    f.insert(f.end(), r.begin(), r.end());
  }
  put_u32(&f[kSecurity], offset);
  put_u32(&f[kSecurity + 4], static_cast<uint32_t>(f.size()) - offset);
}

class CertificateTable : public ::testing::Test {
 protected:
  TempDir dir;
  std::string setup = dir.file("setup.exe");
  std::vector<uint8_t> unsigned_setup;

  void SetUp() override {
    SetupBuilder b;
    b.add_file(0, "a.txt", text_bytes(999, 3));  // an odd length: the table needs padding
    b.write(setup, 0, nullptr, false, pe_stub());
    unsigned_setup = read_bytes(setup);
    ASSERT_NE(0u, unsigned_setup.size() % 8);
  }

  int verify(std::string* messages) { return run_quietly(run_verify, {"verify", setup}, messages); }
};

TEST_F(CertificateTable, ASignedSetupIsSound) {
  std::vector<uint8_t> f = unsigned_setup;
  sign(f, {1450, 20});
  write_bytes(setup, f);
  std::string messages;
  EXPECT_EQ(0, run_quietly(run_verify, {"verify", "--quiet", setup}, &messages)) << messages;
  EXPECT_EQ("", messages);
}

TEST_F(CertificateTable, AnythingElseBehindTheDataIsRefused) {
  struct Case {
    const char* what;
    std::function<void(std::vector<uint8_t>&)> damage;
    const char* message;
  } cases[] = {
      {"a byte, unsigned", [](std::vector<uint8_t>& f) { f.push_back(0); }, "announces no certificate table"},
      {"a byte behind the table", [](std::vector<uint8_t>& f) { sign(f, {100}); f.push_back(0); },
       "does not end at the end of the file"},
      {"padding that is not zero",
       [&](std::vector<uint8_t>& f) { sign(f, {100}); f[unsigned_setup.size()] = 1; }, "are not zeros"},
      {"a table 8 bytes further on",
       [&](std::vector<uint8_t>& f) {
         sign(f, {100});
         size_t table = get_u32(&f[kSecurity]);
         f.insert(f.begin() + static_cast<std::ptrdiff_t>(table), 8, 0);
         put_u32(&f[kSecurity], static_cast<uint32_t>(table + 8));
       },
       "not at the next multiple of 8"},
      {"a record longer than the table",
       [&](std::vector<uint8_t>& f) { sign(f, {100}); put_u32(&f[(unsigned_setup.size() + 7) / 8 * 8], 5000); },
       "does not fit its table"},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> f = unsigned_setup;
    c.damage(f);
    write_bytes(setup, f);
    std::string messages;
    EXPECT_EQ(1, verify(&messages)) << c.what;
    EXPECT_NE(std::string::npos, messages.find("rule data-area-end: ")) << c.what << ": " << messages;
    EXPECT_NE(std::string::npos, messages.find(c.message)) << c.what << ": " << messages;
  }
}

}  // namespace
