// Splitting the stamped uninstaller into the prefix blob and the item data.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "archive/format.h"
#include "archive/stub_size.h"
#include "builder/stub_image.h"
#include "builder/uninstaller_item.h"

namespace {

const uint8_t kMarker[kStubSizeMarkerLength] = KESTREL_STUB_SIZE_MARKER;

std::vector<uint8_t> image_with_record(size_t length, size_t at) {
  std::vector<uint8_t> image(length);
  for (size_t i = 0; i < length; ++i) image[i] = static_cast<uint8_t>(i * 7 + 3);
  std::memcpy(image.data() + at, kMarker, sizeof kMarker);
  put_u32(image.data() + at + sizeof kMarker, 0);
  return image;
}

TEST(UninstallerItem, BlobAndDataJoinToTheImagePlusTheHeaderPlace) {
  std::vector<uint8_t> image = image_with_record(3000, 700);
  ASSERT_EQ(StampResult::kStamped, stamp_stub_size(image));
  UninstallerItem item;
  ASSERT_EQ(UninstallerSplitResult::kSplit, split_uninstaller_image(image, &item));
  std::vector<uint8_t> installed = item.prefix_blob;
  installed.insert(installed.end(), item.item_data.begin(), item.item_data.end());
  ASSERT_EQ(image.size() + kUninstallerTrailerLength, installed.size());
  EXPECT_TRUE(std::equal(image.begin(), image.end(), installed.begin()));
  // The RemoveList header lands exactly where the uninstaller looks for it.
  uint32_t stamped = 0;
  ASSERT_TRUE(read_stub_size(installed, &stamped));
  EXPECT_EQ(installed.size() - kUninstallerTrailerLength, stamped);
}

TEST(UninstallerItem, RefusesUnstampedOrMisstampedImages) {
  UninstallerItem item;
  std::vector<uint8_t> unstamped = image_with_record(2000, 10);
  std::vector<uint8_t> no_marker(2000, 0x55);
  EXPECT_EQ(UninstallerSplitResult::kNotStamped, split_uninstaller_image(no_marker, &item));
  std::vector<uint8_t> grown = unstamped;
  ASSERT_EQ(StampResult::kStamped, stamp_stub_size(grown));
  grown.push_back(0);  // changed after stamping
  EXPECT_EQ(UninstallerSplitResult::kLengthMismatch, split_uninstaller_image(grown, &item));
  EXPECT_TRUE(item.prefix_blob.empty());
}

}  // namespace
