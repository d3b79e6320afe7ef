// Stamping the stub with its own length, and the stub the build made.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "archive/format.h"
#include "archive/stub_size.h"
#include "builder/stub_image.h"
#include "tests/native/test_files.h"

namespace {

const uint8_t kMarker[kStubSizeMarkerLength] = KESTREL_STUB_SIZE_MARKER;

// An image of `length` filler bytes with the stub-size record at `at`.
std::vector<uint8_t> image_with_record(size_t length, size_t at) {
  std::vector<uint8_t> image(length);
  for (size_t i = 0; i < length; ++i) image[i] = static_cast<uint8_t>(i * 13 + 5);
  std::memcpy(image.data() + at, kMarker, sizeof kMarker);
  put_u32(image.data() + at + sizeof kMarker, 0);
  return image;
}

TEST(StubImage, StampWritesTheLengthBehindTheMarker) {
  std::vector<uint8_t> image = image_with_record(5000, 1234);
  std::vector<uint8_t> before = image;
  ASSERT_EQ(StampResult::kStamped, stamp_stub_size(image));
  EXPECT_EQ(5000u, get_u32(image.data() + 1234 + kStubSizeMarkerLength));
  // Nothing but the field changed.
  put_u32(before.data() + 1234 + kStubSizeMarkerLength, 5000);
  EXPECT_EQ(before, image);
  uint32_t size = 0;
  ASSERT_TRUE(read_stub_size(image, &size));
  EXPECT_EQ(5000u, size);
  // Stamping again keeps the same value.
  EXPECT_EQ(StampResult::kStamped, stamp_stub_size(image));
  EXPECT_EQ(before, image);
}

TEST(StubImage, RecordAtEitherEnd) {
  std::vector<uint8_t> first = image_with_record(64, 0);
  EXPECT_EQ(StampResult::kStamped, stamp_stub_size(first));
  EXPECT_EQ(64u, get_u32(first.data() + kStubSizeMarkerLength));
  std::vector<uint8_t> last = image_with_record(64, 64 - sizeof(StubSizeRecord));
  EXPECT_EQ(StampResult::kStamped, stamp_stub_size(last));
  EXPECT_EQ(64u, get_u32(last.data() + 64 - 4));
}

TEST(StubImage, RefusesImagesWithoutExactlyOneMarker) {
  std::vector<uint8_t> none(4096, 0x90);
  EXPECT_EQ(StampResult::kNoMarker, stamp_stub_size(none));
  EXPECT_EQ(std::vector<uint8_t>(4096, 0x90), none);

  std::vector<uint8_t> twice = image_with_record(4096, 100);
  std::memcpy(twice.data() + 3000, kMarker, sizeof kMarker);
  std::vector<uint8_t> before = twice;
  EXPECT_EQ(StampResult::kMarkerNotUnique, stamp_stub_size(twice));
  EXPECT_EQ(before, twice);  // untouched

  // A marker with no room for its field behind it is not a record.
  std::vector<uint8_t> cut = image_with_record(100, 100 - sizeof(StubSizeRecord));
  cut.resize(100 - 2);
  EXPECT_EQ(StampResult::kNoMarker, stamp_stub_size(cut));

  // Fifteen bytes of the marker are not the marker.
  std::vector<uint8_t> partial(200, 0);
  std::memcpy(partial.data() + 10, kMarker, sizeof kMarker - 1);
  EXPECT_EQ(StampResult::kNoMarker, stamp_stub_size(partial));
  uint32_t size = 0;
  EXPECT_FALSE(read_stub_size(partial, &size));
  std::vector<uint8_t> empty;
  EXPECT_EQ(StampResult::kNoMarker, stamp_stub_size(empty));
}

// The stub that the build put into share/kestrel: a stamped 32-bit Windows
// GUI program.
TEST(StubImage, BuiltStubIsStampedWithItsLength) {
  std::vector<uint8_t> stub = read_bytes(std::string(KESTREL_BINARY_DIR) + "/share/kestrel/kestrel-stub.exe");
  ASSERT_GT(stub.size(), 1024u) << "the build makes the stub before the tests run";
  uint32_t size = 0;
  ASSERT_TRUE(read_stub_size(stub, &size));
  EXPECT_EQ(stub.size(), size);

  ASSERT_EQ('M', stub[0]);
  ASSERT_EQ('Z', stub[1]);
  uint32_t pe = get_u32(stub.data() + 0x3C);
  ASSERT_LT(pe + 0x60, stub.size());
  EXPECT_EQ(0, std::memcmp(stub.data() + pe, "PE\0\0", 4));
  EXPECT_EQ(0x14Cu, get_u16(stub.data() + pe + 4));      // i386
  EXPECT_EQ(0x10Bu, get_u16(stub.data() + pe + 24));     // PE32 optional header
  EXPECT_EQ(2u, get_u16(stub.data() + pe + 24 + 68));    // Windows GUI subsystem
}

}  // namespace
