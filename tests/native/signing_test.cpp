// Signed setup files: the PE header fields that signing touches, what may
// follow the archive (nothing, or exactly the certificate table that the
// stub announces), the relaunch copy of a signed stub, a signed uninstaller
// refused, and kestrel build with a sign command that works or fails.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/format.h"
#include "archive/pe_header.h"
#include "archive/stub_size.h"
#include "builder/setup_signature.h"
#include "builder/sign_command.h"
#include "builder/stub_image.h"
#include "builder/uninstaller_item.h"
#include "tests/native/test_files.h"

namespace {

namespace fs = std::filesystem;

// A PE32 image of `size` bytes: headers at 64, optional header at 88, its
// checksum at 152, the data directories at 184, the certificate entry at 216.
const size_t kChecksumField = 152, kCertificateEntry = 216;

std::vector<uint8_t> pe_image(size_t size, uint32_t directories = 16) {
  std::vector<uint8_t> f(size, 0x5A);
  std::fill(f.begin(), f.begin() + 312, 0);
  f[0] = 'M', f[1] = 'Z';
  put_u32(&f[60], 64);
  f[64] = 'P', f[65] = 'E';
  put_u16(&f[68], 0x14C);
  put_u16(&f[84], 224);  // optional header size
  put_u16(&f[88], 0x10B);
  put_u32(&f[180], directories);
  return f;
}

// What a signer does: the header checksum rewritten, zeros up to a
// multiple of 8, one WIN_CERTIFICATE entry of `payload` bytes appended and
// announced in the certificate table entry.
void sign_image(std::vector<uint8_t>& f, uint32_t payload = 1500, uint16_t type = 2) {
  put_u32(&f[kChecksumField], 0x1234567);
  while (f.size() % 8) f.push_back(0);
  uint32_t at = static_cast<uint32_t>(f.size());
  uint32_t length = 8 + payload;
  std::vector<uint8_t> entry(8 + payload, 0x30);
  put_u32(&entry[0], length);
  put_u16(&entry[4], 0x0200);
  put_u16(&entry[6], type);
  f.insert(f.end(), entry.begin(), entry.end());
  while (f.size() % 8) f.push_back(0);
  put_u32(&f[kCertificateEntry], at);
  put_u32(&f[kCertificateEntry + 4], static_cast<uint32_t>(f.size()) - at);
}

TEST(PeHeader, FindsTheChecksumAndTheCertificateEntryOfPe32AndPe32Plus) {
  std::vector<uint8_t> f = pe_image(512);
  PeHeader h;
  uint32_t entry = 0;
  ASSERT_TRUE(read_pe_header(f.data(), f.size(), &h));
  EXPECT_EQ(kChecksumField, h.checksum_field);
  EXPECT_EQ(16u, h.directory_count);
  ASSERT_TRUE(pe_directory_entry(h, kPeDirectoryCertificates, &entry));
  EXPECT_EQ(kCertificateEntry, entry);
  // PE32+: wider fields before the directories, the checksum in place.
  put_u16(&f[84], 240);
  put_u16(&f[88], 0x20B);
  put_u32(&f[196], 16);
  ASSERT_TRUE(read_pe_header(f.data(), f.size(), &h));
  EXPECT_EQ(kChecksumField, h.checksum_field);
  ASSERT_TRUE(pe_directory_entry(h, kPeDirectoryCertificates, &entry));
  EXPECT_EQ(200u + 32u, entry);
  // A header with four directories holds no certificate entry; one that
  // claims more than its optional header holds is held to what is there.
  f = pe_image(512, 4);
  ASSERT_TRUE(read_pe_header(f.data(), f.size(), &h));
  EXPECT_FALSE(pe_directory_entry(h, kPeDirectoryCertificates, &entry));
  f = pe_image(512, 0xFFFFFFFF);
  ASSERT_TRUE(read_pe_header(f.data(), f.size(), &h));
  EXPECT_EQ(16u, h.directory_count);
}

TEST(PeHeader, RefusesWhatIsNoPeImageAndNeverReadsPastTheBytes) {
  std::vector<uint8_t> f = pe_image(512);
  PeHeader h;
  for (size_t n = 0; n < 312; ++n) EXPECT_FALSE(read_pe_header(f.data(), n, &h)) << n;
  EXPECT_TRUE(read_pe_header(f.data(), 312, &h));
  std::vector<uint8_t> bad = f;
  put_u32(&bad[60], 0xFFFFFFF0);  // headers far beyond the file
  EXPECT_FALSE(read_pe_header(bad.data(), bad.size(), &h));
  bad = f;
  put_u16(&bad[88], 0x107);  // a ROM image, not a program
  EXPECT_FALSE(read_pe_header(bad.data(), bad.size(), &h));
  bad = f;
  put_u16(&bad[70], 0xFFFF);  // more sections than bytes
  EXPECT_FALSE(read_pe_header(bad.data(), bad.size(), &h));
}

// The relaunch copy is the stub alone: the certificate table at the end of
// the signed setup file is not in it.
TEST(RelaunchCopy, ForgetsOnlyACertificateTableThatItDoesNotHold) {
  std::vector<uint8_t> f = pe_image(1024);
  put_u32(&f[kCertificateEntry], 5000);
  put_u32(&f[kCertificateEntry + 4], 1200);
  std::vector<uint8_t> expected = f;
  std::fill(expected.begin() + kCertificateEntry, expected.begin() + kCertificateEntry + 8, 0);
  EXPECT_TRUE(forget_missing_certificate_table(f.data(), f.size()));
  EXPECT_EQ(expected, f);
  // A table that lies inside the copy, no table, no PE image: unchanged.
  put_u32(&f[kCertificateEntry], 512);
  put_u32(&f[kCertificateEntry + 4], 512);
  std::vector<uint8_t> inside = f;
  EXPECT_FALSE(forget_missing_certificate_table(f.data(), f.size()));
  EXPECT_EQ(inside, f);
  put_u32(&f[kCertificateEntry + 4], 513);  // one byte past the end
  EXPECT_TRUE(forget_missing_certificate_table(f.data(), f.size()));
  EXPECT_FALSE(forget_missing_certificate_table(f.data(), f.size()));
  std::vector<uint8_t> text(1024, 'x');
  EXPECT_FALSE(forget_missing_certificate_table(text.data(), text.size()));
  EXPECT_EQ(std::vector<uint8_t>(1024, 'x'), text);
}

// A setup file as a PE image of 1003 bytes, its archive ending there.
struct SignedFile : ::testing::Test {
  TempDir dir;
  std::string path = dir.file("setup.exe");
  const uint64_t kArchiveEnd = 1003;
  std::vector<uint8_t> image = pe_image(kArchiveEnd);

  bool read(std::optional<uint64_t> end, SetupSignature* s, std::string* error) {
    write_bytes(path, image);
    return read_setup_signature(path, end, s, error);
  }
};

TEST_F(SignedFile, NothingBehindTheArchiveIsAnUnsignedSetup) {
  SetupSignature s;
  std::string error;
  ASSERT_TRUE(read(kArchiveEnd, &s, &error)) << error;
  EXPECT_FALSE(s.present);
  EXPECT_EQ("none", describe_signature(s));
}

TEST_F(SignedFile, TheAnnouncedTableBehindTheArchiveIsAnAuthenticodeSignature) {
  sign_image(image);
  SetupSignature s;
  std::string error;
  ASSERT_TRUE(read(kArchiveEnd, &s, &error)) << error;
  EXPECT_TRUE(s.present);
  EXPECT_TRUE(s.authenticode);
  EXPECT_EQ(1008u, s.table_offset);  // five zeros bring it to a multiple of 8
  EXPECT_EQ(1512u, s.table_size);
  EXPECT_EQ(1u, s.certificates);
  EXPECT_EQ("Authenticode (1512 bytes at offset 1008)", describe_signature(s));
  // Without a data area the archive's end is unknown; the table still counts.
  ASSERT_TRUE(read(std::nullopt, &s, &error)) << error;
  EXPECT_TRUE(s.authenticode);
}

TEST_F(SignedFile, TablesOfOtherKindsAndSeveralEntriesAreTold) {
  sign_image(image, 100, 1);  // an X.509 entry alone
  SetupSignature s;
  std::string error;
  ASSERT_TRUE(read(kArchiveEnd, &s, &error)) << error;
  EXPECT_FALSE(s.authenticode);
  EXPECT_EQ("certificate table without Authenticode signed data (112 bytes at offset 1008)", describe_signature(s));
  // A second entry, PKCS #7 signed data, at the next multiple of 8.
  std::vector<uint8_t> second(16, 0);
  put_u32(&second[0], 16);
  put_u16(&second[4], 0x0200);
  put_u16(&second[6], 2);
  image.insert(image.end(), second.begin(), second.end());
  put_u32(&image[kCertificateEntry + 4], 128);
  ASSERT_TRUE(read(kArchiveEnd, &s, &error)) << error;
  EXPECT_EQ(2u, s.certificates);
  EXPECT_TRUE(s.authenticode);
}

TEST_F(SignedFile, OtherBytesBehindTheArchiveAreRefusedWithTheirReason) {
  SetupSignature s;
  std::string error;
  std::vector<uint8_t> unsigned_image = image;
  // Stray bytes and no table.
  image.insert(image.end(), {1, 2, 3, 4, 5});
  EXPECT_FALSE(read(kArchiveEnd, &s, &error));
  EXPECT_EQ("5 bytes follow the data area, and the stub's header announces no certificate table", error);
  // Bytes appended after signing: the table no longer ends the file.
  image = unsigned_image;
  sign_image(image);
  image.push_back(9);
  EXPECT_FALSE(read(kArchiveEnd, &s, &error));
  EXPECT_NE(std::string::npos, error.find("does not end at the end of the file")) << error;
  // Padding that is not zeros.
  image = unsigned_image;
  sign_image(image);
  image[1005] = 1;
  EXPECT_FALSE(read(kArchiveEnd, &s, &error));
  EXPECT_NE(std::string::npos, error.find("not zeros")) << error;
  // A table that starts later than the next multiple of 8.
  image = unsigned_image;
  image.insert(image.end(), 13, 0);
  sign_image(image);
  EXPECT_FALSE(read(kArchiveEnd, &s, &error));
  EXPECT_NE(std::string::npos, error.find("not at the next multiple of 8")) << error;
  // A table announced inside the archive.
  image = unsigned_image;
  sign_image(image);
  EXPECT_FALSE(read(1100, &s, &error));
  EXPECT_NE(std::string::npos, error.find("overlaps the archive")) << error;
}

TEST_F(SignedFile, DamagedCertificateEntriesAreRefused) {
  sign_image(image);
  std::vector<uint8_t> sound = image;
  SetupSignature s;
  std::string error;
  put_u32(&image[1008], 5000);  // longer than its table
  EXPECT_FALSE(read(kArchiveEnd, &s, &error));
  EXPECT_NE(std::string::npos, error.find("does not fit its table")) << error;
  image = sound;
  put_u32(&image[1008], 4);  // shorter than its own header
  EXPECT_FALSE(read(kArchiveEnd, &s, &error));
  image = sound;
  put_u16(&image[1012], 7);
  EXPECT_FALSE(read(kArchiveEnd, &s, &error));
  EXPECT_NE(std::string::npos, error.find("unknown revision 7")) << error;
  image = sound;
  put_u32(&image[kCertificateEntry + 4], 4);  // a table too short for any entry
  image.resize(1012);
  EXPECT_FALSE(read(kArchiveEnd, &s, &error));
  EXPECT_NE(std::string::npos, error.find("ends inside an entry's header")) << error;
}

TEST_F(SignedFile, TheContentChecksumIgnoresOnlyWhatSigningRewrites) {
  write_bytes(path, image);
  uint32_t before = 0, after = 0;
  std::string error;
  ASSERT_TRUE(signed_content_crc(path, kArchiveEnd, &before, &error)) << error;
  sign_image(image);
  write_bytes(path, image);
  ASSERT_TRUE(signed_content_crc(path, kArchiveEnd, &after, &error)) << error;
  EXPECT_EQ(before, after);
  image[900] ^= 1;
  write_bytes(path, image);
  ASSERT_TRUE(signed_content_crc(path, kArchiveEnd, &after, &error)) << error;
  EXPECT_NE(before, after);
  write_bytes(path, std::vector<uint8_t>(2000, 'x'));
  EXPECT_FALSE(signed_content_crc(path, 1000, &after, &error));
}

TEST(SignedUninstaller, IsStoredAsSignedWithTheTableAsItsData) {
  std::vector<uint8_t> image = pe_image(2000);
  const uint8_t marker[kStubSizeMarkerLength] = KESTREL_STUB_SIZE_MARKER;
  std::copy(marker, marker + kStubSizeMarkerLength, image.begin() + 600);
  put_u32(&image[600 + kStubSizeMarkerLength], 0);
  ASSERT_EQ(StampResult::kStamped, stamp_stub_size(image));
  UninstallerItem item;
  ASSERT_EQ(UninstallerSplitResult::kSplit, split_uninstaller_image(image, &item));
  EXPECT_FALSE(item.signed_image);
  EXPECT_EQ(std::vector<uint8_t>(8, 0), item.item_data);
  sign_image(image);
  ASSERT_EQ(UninstallerSplitResult::kSplit, split_uninstaller_image(image, &item));
  EXPECT_TRUE(item.signed_image);
  // Installed, blob and data are the signed file byte for byte.
  EXPECT_EQ(2000u, item.prefix_blob.size());
  std::vector<uint8_t> whole = item.prefix_blob;
  whole.insert(whole.end(), item.item_data.begin(), item.item_data.end());
  EXPECT_EQ(image, whole);
  // Bytes appended to an unsigned image are no signature.
  image.resize(2000);
  put_u32(&image[kCertificateEntry], 0);
  put_u32(&image[kCertificateEntry + 4], 0);
  image.resize(2008);
  EXPECT_EQ(UninstallerSplitResult::kLengthMismatch, split_uninstaller_image(image, &item));
}

TEST(SignCommand, MustNameTheFile) {
  std::string error;
  EXPECT_TRUE(check_sign_command("signer --in {file}", &error));
  EXPECT_FALSE(check_sign_command("signer", &error));
  EXPECT_EQ("the sign command must name the setup file as {file}", error);
  EXPECT_FALSE(check_sign_command("  ", &error));
  EXPECT_EQ("'it'\\''s'", shell_quoted("it's"));
}

// kestrel build with a sign command, on a small project beside the built
// stub and uninstaller.
struct SignedBuild : ::testing::Test {
  TempDir dir;
  std::string project = dir.file("signed.toml");
  std::string out = dir.file("out");
  std::string setup = out + "/Signed Setup.exe";

  void SetUp() override {
    if (!fs::exists(std::string(KESTREL_BINARY_DIR) + "/share/kestrel/kestrel-stub.exe"))
      GTEST_SKIP() << "the Windows side was not built";
    fs::create_directories(out);
    // Incompressible, so that a small volume size gives volume files.
    std::vector<uint8_t> noise(200000);
    uint32_t x = 2463534242u;
    for (uint8_t& b : noise) {
      x ^= x << 13, x ^= x >> 17, x ^= x << 5;
      b = static_cast<uint8_t>(x);
    }
    write_bytes(dir.file("readme.txt"), noise);
    write_project("");
  }
  // Without an uninstaller, unless asked for: a signed setup's is signed
  // as well, first.
  void write_project(const std::string& signing, bool uninstaller = false) {
    std::string toml = "[setup]\ntitle = \"Signed\"\n" + std::string(uninstaller ? "" : "uninstaller = false\n") +
                       signing +
                       "[[type]]\nfolder = \"C:\\\\Signed\"\n[[type.files]]\nsource = \"readme.txt\"\n";
    write_bytes(project, std::vector<uint8_t>(toml.begin(), toml.end()));
  }
  int build(const std::string& options, std::string* text) {
    return run_tool("build " + shell_quoted(project) + " -o " + shell_quoted(setup) + " " + options, text);
  }
  // A key and a self-signed code-signing certificate made now.
  void make_certificate() {
    std::string command = "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj '/CN=Kestrel Test Publisher'"
                          " -addext extendedKeyUsage=codeSigning -keyout " +
                          shell_quoted(dir.file("key.pem")) + " -out " + shell_quoted(dir.file("cert.pem")) +
                          " >/dev/null 2>&1";
    ASSERT_EQ(0, std::system(command.c_str())) << "openssl could not make a test certificate";
  }
  std::vector<std::string> leftovers() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(out)) names.push_back(e.path().filename().string());
    return names;
  }
};

const char kOsslsigncode[] =
    "osslsigncode sign -certs cert.pem -key key.pem -n 'Signed' -h sha256 -in {file} -out {file}.signed"
    " >/dev/null && mv {file}.signed {file}";

TEST_F(SignedBuild, TheProjectsSignCommandSignsTheSetupAndLeavesItsArchiveAsBuilt) {
  make_certificate();
  std::string text;
  ASSERT_EQ(0, build("--no-sign", &text)) << text;
  std::string unsigned_copy = dir.file("unsigned.exe");
  fs::rename(setup, unsigned_copy);
  // The command runs in the project's folder, where the key lies.
  write_project("[signing]\ncommand = \"" + std::string(kOsslsigncode) + "\"\n");
  ASSERT_EQ(0, build("", &text)) << text;
  EXPECT_NE(std::string::npos, text.find(", signed\n")) << text;
  EXPECT_EQ(std::vector<std::string>{"Signed Setup.exe"}, leftovers());
  std::string check = "osslsigncode verify -CAfile " + shell_quoted(dir.file("cert.pem")) + " -in " +
                      shell_quoted(setup) + " >/dev/null 2>&1";
  EXPECT_EQ(0, std::system(check.c_str())) << "osslsigncode does not verify the signed setup";
  // Everything but the two header fields is what the unsigned build wrote.
  uint64_t size = fs::file_size(unsigned_copy);
  uint32_t built = 0, shipped = 0;
  std::string error;
  ASSERT_TRUE(signed_content_crc(unsigned_copy, size, &built, &error)) << error;
  ASSERT_TRUE(signed_content_crc(setup, size, &shipped, &error)) << error;
  EXPECT_EQ(built, shipped);
  ASSERT_EQ(0, run_tool("verify " + shell_quoted(setup), &text)) << text;
  EXPECT_NE(std::string::npos, text.find("signature: Authenticode (")) << text;
  EXPECT_NE(std::string::npos, text.find("sound, 1 item checked")) << text;
  ASSERT_EQ(0, run_tool("list " + shell_quoted(setup), &text)) << text;
  EXPECT_NE(std::string::npos, text.find("\nsignature: Authenticode (")) << text;
  ASSERT_EQ(0, run_tool("list " + shell_quoted(unsigned_copy), &text)) << text;
  EXPECT_NE(std::string::npos, text.find("\nsignature: none\n")) << text;
  // The uninstaller of a signed setup is signed by the same command, and
  // installed as signed.
  write_project("[signing]\ncommand = \"" + std::string(kOsslsigncode) + "\"\n", true);
  ASSERT_EQ(0, build("", &text)) << text;
  ASSERT_EQ(0, run_tool("extract " + shell_quoted(setup) + " -d " + shell_quoted(dir.file("x")), &text)) << text;
  check = "osslsigncode verify -CAfile " + shell_quoted(dir.file("cert.pem")) + " -in " +
          shell_quoted(dir.file("x/Uninstall.exe")) + " >/dev/null 2>&1";
  EXPECT_EQ(0, std::system(check.c_str())) << "osslsigncode does not verify the stored uninstaller";
  ASSERT_EQ(0, run_tool("verify " + shell_quoted(setup), &text)) << text;
  EXPECT_NE(std::string::npos, text.find("sound, 2 items checked")) << text;
  EXPECT_NE(std::string::npos, text.find("(Uninstall.exe) (signed)\n")) << text;
  write_project("", true);
  EXPECT_NE(0, build("--sign-command 'true {file}'", &text));
  EXPECT_NE(std::string::npos, text.find("the sign command appended no signature to the uninstaller")) << text;
}

TEST_F(SignedBuild, AFailingSignerFailsTheBuildAndLeavesTheEarlierSetupAlone) {
  std::vector<uint8_t> earlier = {'o', 'l', 'd'};
  write_bytes(setup, earlier);
  std::string text;
  // With volumes too: none of them may appear.
  EXPECT_NE(0, build("--volume-size 150K --sign-command 'false {file}'", &text));
  EXPECT_EQ("kestrel: build: the sign command failed with exit status 1\n", text);
  EXPECT_EQ(std::vector<std::string>{"Signed Setup.exe"}, leftovers());
  EXPECT_EQ(earlier, read_bytes(setup));
  EXPECT_NE(0, build("--sign-command 'kill -9 $$ {file}'", &text));
  EXPECT_EQ("kestrel: build: the sign command was ended by signal 9\n", text);
  EXPECT_EQ(earlier, read_bytes(setup));
}

TEST_F(SignedBuild, ASignerThatDoesMoreOrLessThanSigningFailsTheBuild) {
  struct Case {
    const char* command;
    const char* message;
  } cases[] = {
      {"true {file}", "the sign command appended no signature to the setup file"},
      {"rm {file}", "the sign command left no setup file"},
      {"printf 'not a signature' >> {file}",
       "after signing: 15 bytes follow the data area, and the stub's header announces no certificate table"},
      {"printf X | dd of={file} bs=1 seek=$(($(stat -c %s {file}) - 100)) conv=notrunc status=none && "
       "printf 12345678 >> {file}",
       "the sign command changed the setup file beyond its header checksum and certificate table"},
  };
  for (const Case& c : cases) {
    std::string text;
    EXPECT_NE(0, build("--sign-command " + shell_quoted(c.command), &text)) << c.command;
    EXPECT_NE(std::string::npos, text.find(c.message)) << c.command << ": " << text;
    EXPECT_TRUE(leftovers().empty()) << c.command;
  }
}

TEST_F(SignedBuild, SignCommandsWithoutTheFileAreRefusedBeforeBuilding) {
  std::string text;
  EXPECT_NE(0, build("--sign-command osslsigncode", &text));
  EXPECT_NE(std::string::npos, text.find("must name the setup file as {file}")) << text;
  EXPECT_NE(0, build("--sign-command 'x {file}' --no-sign", &text));
  EXPECT_NE(std::string::npos, text.find("not both")) << text;
  write_project("[signing]\ncommand = \"osslsigncode sign\"\n");
  EXPECT_NE(0, build("", &text));
  EXPECT_NE(std::string::npos, text.find("signed.toml:5: signing.command: the sign command must name")) << text;
  write_project("[signing]\n");
  EXPECT_NE(0, build("", &text));
  EXPECT_NE(std::string::npos, text.find("signing.command: is required")) << text;
  write_project("[signing]\ncomand = \"x {file}\"\n");
  EXPECT_NE(0, build("", &text));
  EXPECT_NE(std::string::npos, text.find("signing.comand: unknown key")) << text;
  EXPECT_TRUE(leftovers().empty());
}

// [signing] payload: the programs among the items are signed as copies
// before they are stored, those with a signature and those with
// sign = false stay as they are.
TEST_F(SignedBuild, PayloadProgramsWithoutASignatureAreSignedAndSignedOnesStayAsTheyAre) {
  make_certificate();
  const std::string viewer = std::string(KESTREL_BINARY_DIR) + "/windows/bin/demo-viewer.exe";
  ASSERT_TRUE(fs::exists(viewer));
  fs::copy_file(viewer, dir.file("plain.exe"));
  fs::copy_file(viewer, dir.file("left.exe"));
  std::string text;
  std::string sign_first = "cd " + shell_quoted(dir.path()) +
                           " && osslsigncode sign -certs cert.pem -key key.pem -n Viewer -h sha256 -in " +
                           shell_quoted(viewer) + " -out already.exe >/dev/null";
  ASSERT_EQ(0, run_command(sign_first, &text)) << text;
  const std::vector<uint8_t> already = read_bytes(dir.file("already.exe"));
  std::string toml = "[setup]\ntitle = \"Signed\"\nuninstaller = false\n[signing]\npayload = true\ncommand = \"" +
                     std::string(kOsslsigncode) +
                     "\"\n[[type]]\nfolder = \"C:\\\\Signed\"\n"
                     "[[type.files]]\nsource = \"plain.exe\"\n"
                     "[[type.files]]\nsource = \"already.exe\"\n"
                     "[[type.files]]\nsource = \"left.exe\"\nsign = false\n"
                     "[[type.files]]\nsource = \"readme.txt\"\n";
  write_bytes(project, std::vector<uint8_t>(toml.begin(), toml.end()));
  ASSERT_EQ(0, build("", &text)) << text;
  ASSERT_EQ(0, run_tool("list " + shell_quoted(setup), &text)) << text;
  for (const char* line : {"\\plain.exe\n       size", "\\already.exe\n", "\\left.exe\n", "\\readme.txt\n"})
    EXPECT_NE(std::string::npos, text.find(line)) << line << "\n" << text;
  size_t plain = text.find("plain.exe"), signed_twice = text.find("signature: signed", plain);
  EXPECT_NE(std::string::npos, signed_twice) << text;
  EXPECT_NE(std::string::npos, text.find("signature: signed", signed_twice + 1)) << text;
  EXPECT_NE(std::string::npos, text.find("signature: unsigned\n", text.find("left.exe"))) << text;
  EXPECT_NE(std::string::npos, text.find("signature: not a program\n", text.find("readme.txt"))) << text;
  ASSERT_EQ(0, run_tool("verify " + shell_quoted(setup), &text)) << text;
  EXPECT_NE(std::string::npos, text.find("plain.exe) (signed)\n")) << text;
  EXPECT_NE(std::string::npos, text.find("left.exe) (unsigned)\n")) << text;
  EXPECT_NE(std::string::npos, text.find("readme.txt) (not a program)\n")) << text;

  std::string extracted = dir.file("extracted");
  ASSERT_EQ(0, run_tool("extract " + shell_quoted(setup) + " -d " + shell_quoted(extracted), &text)) << text;
  for (const char* name : {"plain.exe", "already.exe"}) {
    std::string check = "osslsigncode verify -CAfile " + shell_quoted(dir.file("cert.pem")) + " -in " +
                        shell_quoted(extracted + "/" + name) + " >/dev/null 2>&1";
    EXPECT_EQ(0, std::system(check.c_str())) << name << " does not verify";
  }
  EXPECT_EQ(already, read_bytes(extracted + "/already.exe"));
  EXPECT_EQ(read_bytes(dir.file("left.exe")), read_bytes(extracted + "/left.exe"));
  EXPECT_EQ(read_bytes(viewer), read_bytes(dir.file("plain.exe"))) << "the source was signed in place";
}

TEST_F(SignedBuild, APayloadSignerThatChangesMoreThanTheSignatureFailsTheBuild) {
  fs::copy_file(std::string(KESTREL_BINARY_DIR) + "/windows/bin/demo-viewer.exe", dir.file("plain.exe"));
  std::string toml = "[setup]\ntitle = \"Signed\"\nuninstaller = false\n[signing]\npayload = true\ncommand = \"true {file}\"\n"
                     "[[type]]\nfolder = \"C:\\\\Signed\"\n[[type.files]]\nsource = \"plain.exe\"\n";
  write_bytes(project, std::vector<uint8_t>(toml.begin(), toml.end()));
  // Appends bytes as a signer does, but also changes a byte of the program.
  const std::string signer = "printf X | dd of={file} bs=1 seek=1024 conv=notrunc status=none && printf 12345678 >> {file}";
  std::string text;
  EXPECT_NE(0, build("--sign-command " + shell_quoted(signer), &text));
  EXPECT_NE(std::string::npos, text.find("the sign command changed " + dir.file("plain.exe") + " (")) << text;
  EXPECT_NE(std::string::npos, text.find("beyond its header checksum and certificate table")) << text;
  EXPECT_TRUE(leftovers().empty());
}

}  // namespace
