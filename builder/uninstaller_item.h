// The uninstaller as a setup item: the stamped uninstaller image is split
// into the archive's ItemPrefixBlob and the item's data, so that the
// installed file is the image exactly followed by the 8 bytes that the
// setup later overwrites with the RemoveList header. The uninstaller finds
// that header at its stamped length. A signed image is installed as it is,
// byte for byte: the blob is its stamped length, the item's data the rest
// (the certificate table), and the setup keeps the record beside it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// Bytes the setup's RemoveList header replaces at the end of the file.
constexpr size_t kUninstallerTrailerLength = 8;

enum class UninstallerSplitResult { kSplit, kNotStamped, kLengthMismatch };

struct UninstallerItem {
  std::vector<uint8_t> prefix_blob;  // block 0x123f content
  std::vector<uint8_t> item_data;    // written behind the blob at install
  bool signed_image = false;
};

// Refuses an image without a stamped length, or an unsigned one whose
// stamped length differs from its size: the uninstaller would then look
// for its data in the wrong place. A signed one's certificate table
// follows its stamped length.
UninstallerSplitResult split_uninstaller_image(const std::vector<uint8_t>& image,
                                               UninstallerItem* item);

// One line for the user.
const char* uninstaller_split_text(UninstallerSplitResult result);
