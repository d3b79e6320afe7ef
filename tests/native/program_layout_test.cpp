// The build step that drops the zero tails of a Windows program's sections
// from its file, and the header checksum it fills in.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/format.h"
#include "archive/stub_size.h"
#include "builder/program_layout.h"
#include "builder/stub_image.h"
#include "tests/native/test_files.h"

namespace {

enum : uint32_t { kPe = 0x40, kOptional = kPe + 24, kTable = kOptional + 224, kUnit = 512 };

struct TestSection {
  uint32_t virtual_size;
  std::vector<uint8_t> raw;  // a multiple of 512 bytes
};

// `count` bytes of a pattern with no zero in it, then zeros up to `size`.
std::vector<uint8_t> bytes_then_zeros(size_t count, size_t size) {
  std::vector<uint8_t> bytes(size, 0);
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(i % 251 + 1);
  return bytes;
}

// A PE32 program as a linker lays it out: headers in the first 512 bytes,
// each section's bytes after the previous one's.
std::vector<uint8_t> program(const std::vector<TestSection>& sections) {
  std::vector<uint8_t> image(kUnit, 0);
  image[0] = 'M';
  image[1] = 'Z';
  put_u32(&image[0x3C], kPe);
  std::copy_n("PE\0\0", 4, &image[kPe]);
  put_u16(&image[kPe + 4], 0x14C);
  put_u16(&image[kPe + 6], static_cast<uint16_t>(sections.size()));
  put_u16(&image[kPe + 20], 224);
  put_u16(&image[kOptional], 0x10B);
  put_u32(&image[kOptional + 32], 4096);
  put_u32(&image[kOptional + 36], kUnit);
  put_u32(&image[kOptional + 60], kUnit);
  put_u32(&image[kOptional + 92], 16);
  for (size_t i = 0; i < sections.size(); ++i) {
    uint8_t* entry = &image[kTable + 40 * i];
    put_u32(entry + 8, sections[i].virtual_size);
    put_u32(entry + 12, static_cast<uint32_t>(4096 * (i + 1)));
    put_u32(entry + 16, static_cast<uint32_t>(sections[i].raw.size()));
    put_u32(entry + 20, sections[i].raw.empty() ? 0 : static_cast<uint32_t>(image.size()));
    image.insert(image.end(), sections[i].raw.begin(), sections[i].raw.end());
  }
  return image;
}

uint32_t section_field(const std::vector<uint8_t>& image, size_t section, uint32_t field) {
  return get_u32(&image[kTable + 40 * section + field]);
}

// Each section as the loader maps it: its bytes in the file up to its size
// in memory, zeros beyond.
std::vector<std::vector<uint8_t>> in_memory(const std::vector<uint8_t>& image, size_t count) {
  std::vector<std::vector<uint8_t>> mapped;
  for (size_t i = 0; i < count; ++i) {
    std::vector<uint8_t> memory(section_field(image, i, 8), 0);
    uint32_t raw = section_field(image, i, 16), at = section_field(image, i, 20);
    for (uint32_t k = 0; k < raw && k < memory.size(); ++k) memory[k] = image.at(at + k);
    mapped.push_back(memory);
  }
  return mapped;
}

// Code with padding, variables followed by zeroed ones, relocations that
// fill their last unit, and a section of zeros alone.
std::vector<TestSection> typical_sections() {
  return {{900, bytes_then_zeros(700, 1024)},
          {3000, bytes_then_zeros(600, 2048)},
          {512, bytes_then_zeros(512, 512)},
          {4096, std::vector<uint8_t>(512, 0)}};
}

TEST(ProgramLayout, DropsZeroTailsAndKeepsTheImageInMemory) {
  std::vector<uint8_t> image = program(typical_sections());
  std::vector<std::vector<uint8_t>> before = in_memory(image, 4);
  ASSERT_EQ(LayoutResult::kDone, drop_zero_section_tails(image, 0));
  EXPECT_EQ(before, in_memory(image, 4));
  // Whole units of zeros left the file: one of the variables' section, the
  // section of zeros entirely; the code's padding within its last unit stays.
  EXPECT_EQ(512u + 1024 + 1024 + 512, image.size());
  EXPECT_EQ(1024u, section_field(image, 0, 16));
  EXPECT_EQ(512u, section_field(image, 0, 20));
  EXPECT_EQ(1024u, section_field(image, 1, 16));
  EXPECT_EQ(1536u, section_field(image, 1, 20));
  EXPECT_EQ(512u, section_field(image, 2, 16));
  EXPECT_EQ(2560u, section_field(image, 2, 20));
  EXPECT_EQ(0u, section_field(image, 3, 16));
  EXPECT_EQ(0u, section_field(image, 3, 20));
  // A second pass finds nothing more to drop.
  std::vector<uint8_t> again = image;
  ASSERT_EQ(LayoutResult::kDone, drop_zero_section_tails(again, 0));
  EXPECT_EQ(image, again);
}

// The stub-size field is zero until stamped, and may lie among zeroed
// variables: it stays in the file.
TEST(ProgramLayout, KeepsTheBytesItIsToldToKeep) {
  std::vector<uint8_t> image = program(typical_sections());
  size_t field = 512 + 1024 + 1100;  // in the variables' zero tail
  ASSERT_EQ(LayoutResult::kDone, drop_zero_section_tails(image, field + 4));
  EXPECT_EQ(1536u, section_field(image, 1, 16));
  EXPECT_EQ(512u + 1024 + 1536 + 512, image.size());
}

TEST(ProgramLayout, RefusesWhatItCannotLayOutAndChangesNothing) {
  struct Case {
    const char* what;
    void (*damage)(std::vector<uint8_t>&);
    LayoutResult expected;
  };
  const Case cases[] = {
      {"cut inside the section table", [](std::vector<uint8_t>& p) { p.resize(kTable + 50); },
       LayoutResult::kNotAProgram},
      {"not MZ", [](std::vector<uint8_t>& p) { p[0] = 'X'; }, LayoutResult::kNotAProgram},
      {"cut inside the last section", [](std::vector<uint8_t>& p) { p.resize(p.size() - 100); },
       LayoutResult::kSectionOutside},
      {"a section beyond the end", [](std::vector<uint8_t>& p) { put_u32(&p[kTable + 40 * 2 + 20], 0x7FFFFE00); },
       LayoutResult::kSectionOutside},
      {"a section among the headers", [](std::vector<uint8_t>& p) { put_u32(&p[kTable + 20], 0); },
       LayoutResult::kSectionOutside},
      {"data after the sections", [](std::vector<uint8_t>& p) { p.insert(p.end(), 10, 0x55); },
       LayoutResult::kTrailingData},
      {"a certificate table", [](std::vector<uint8_t>& p) { put_u32(&p[kOptional + 96 + 8 * 4], 4096); },
       LayoutResult::kTrailingData},
      {"a debug directory", [](std::vector<uint8_t>& p) { put_u32(&p[kOptional + 96 + 8 * 6], 0x1000); },
       LayoutResult::kFileOffsetsInside},
      {"file alignment 300", [](std::vector<uint8_t>& p) { put_u32(&p[kOptional + 36], 300); },
       LayoutResult::kBadAlignment},
      {"headers larger than the file", [](std::vector<uint8_t>& p) { put_u32(&p[kOptional + 60], 0x10000000); },
       LayoutResult::kNotAProgram},
      {"no size in memory", [](std::vector<uint8_t>& p) { put_u32(&p[kTable + 40 + 8], 0); },
       LayoutResult::kNoSizeInMemory},
      {"two sections at one place",
       [](std::vector<uint8_t>& p) { put_u32(&p[kTable + 40 + 20], get_u32(&p[kTable + 20])); },
       LayoutResult::kSectionsOverlap},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> image = program(typical_sections());
    c.damage(image);
    std::vector<uint8_t> before = image;
    EXPECT_EQ(c.expected, drop_zero_section_tails(image, 0)) << c.what;
    EXPECT_EQ(before, image) << c.what;
    EXPECT_STRNE("unknown result", layout_result_text(c.expected));
  }
}

// The linker fills in the checksum of what it writes: the same sum.
TEST(ProgramLayout, ChecksumAsTheLinkerComputesIt) {
  for (const char* name : {"kestrel-stub.exe", "kestrel-uninstall.exe"}) {
    std::vector<uint8_t> linked = read_bytes(std::string(KESTREL_BINARY_DIR) + "/windows/bin/" + name);
    ASSERT_GT(linked.size(), 1024u) << name;
    ASSERT_NE(0u, get_u32(&linked[get_u32(&linked[0x3C]) + 24 + 64])) << name;
    std::vector<uint8_t> summed = linked;
    ASSERT_TRUE(write_pe_checksum(summed));
    EXPECT_EQ(linked, summed) << name;
  }
  std::vector<uint8_t> odd = program(typical_sections());
  odd.push_back(1);
  ASSERT_TRUE(write_pe_checksum(odd));
  std::vector<uint8_t> short_file(100, 0);
  EXPECT_FALSE(write_pe_checksum(short_file));
}

// The programs every setup carries, as the build stamped them: no unit of
// zeros at the end of any section in the file, and a valid checksum.
TEST(ProgramLayout, BuiltProgramsCarryNoZeroTails) {
  for (const char* name : {"kestrel-stub.exe", "kestrel-uninstall.exe"}) {
    std::vector<uint8_t> image = read_bytes(std::string(KESTREL_BINARY_DIR) + "/share/kestrel/" + name);
    ASSERT_GT(image.size(), 1024u) << name;
    std::vector<uint8_t> again = image;
    // The stamped field is no longer zero: nothing is kept but what is not.
    ASSERT_EQ(LayoutResult::kDone, drop_zero_section_tails(again, 0)) << name;
    EXPECT_EQ(image, again) << name;
    ASSERT_TRUE(write_pe_checksum(again));
    EXPECT_EQ(image, again) << name;
  }
}

// The build step refuses a damaged program with its reason and writes
// nothing.
TEST(ProgramLayout, StampStepRefusesADamagedProgram) {
  TempDir dir;
  std::string tool = std::string(KESTREL_BINARY_DIR) + "/tools/kestrel-stamp";
  std::vector<uint8_t> image = program(typical_sections());
  // The stub-size record among the variables, so that the step lays it out.
  const uint8_t marker[kStubSizeMarkerLength] = KESTREL_STUB_SIZE_MARKER;
  std::copy_n(marker, sizeof marker, &image[512 + 1024 + 700]);
  image.resize(image.size() - 100);
  write_bytes(dir.file("cut.exe"), image);
  std::string output;
  EXPECT_NE(0, run_command(tool + " " + dir.file("cut.exe") + " " + dir.file("out.exe"), &output));
  EXPECT_NE(std::string::npos, output.find("a section's bytes lie outside the file")) << output;
  EXPECT_FALSE(std::filesystem::exists(dir.file("out.exe")));
  EXPECT_FALSE(std::filesystem::exists(dir.file("out.exe.tmp")));

  // Whole, it is laid out and stamped with its new length.
  image = program(typical_sections());
  std::copy_n(marker, sizeof marker, &image[512 + 1024 + 700]);
  write_bytes(dir.file("whole.exe"), image);
  ASSERT_EQ(0, run_command(tool + " " + dir.file("whole.exe") + " " + dir.file("out.exe"), &output)) << output;
  std::vector<uint8_t> out = read_bytes(dir.file("out.exe"));
  uint32_t size = 0;
  ASSERT_TRUE(read_stub_size(out, &size));
  EXPECT_EQ(out.size(), size);
  EXPECT_EQ(512u + 1024 + 1024 + 512, out.size());
}

}  // namespace
