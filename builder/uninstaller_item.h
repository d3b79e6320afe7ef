// The uninstaller as a setup item: the stamped uninstaller image is split
// into the archive's ItemPrefixBlob and the item's data, so that the
// installed file is the image exactly followed by the 8 bytes that the
// setup later overwrites with the RemoveList header. The uninstaller finds
// that header at its stamped length.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// Bytes the setup's RemoveList header replaces at the end of the file.
constexpr size_t kUninstallerTrailerLength = 8;

enum class UninstallerSplitResult { kSplit, kNotStamped, kLengthMismatch, kSigned };

struct UninstallerItem {
  std::vector<uint8_t> prefix_blob;  // block 0x123f content
  std::vector<uint8_t> item_data;    // written behind the blob at install
};

// Refuses an image without a stamped length, or one whose stamped length
// differs from its size: the uninstaller would then look for its data in
// the wrong place. Refuses a signed image too: the record that the setup
// appends to the installed uninstaller would break its signature.
UninstallerSplitResult split_uninstaller_image(const std::vector<uint8_t>& image,
                                               UninstallerItem* item);

// One line for the user.
const char* uninstaller_split_text(UninstallerSplitResult result);
