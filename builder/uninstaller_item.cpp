#include "builder/uninstaller_item.h"

#include "archive/format.h"
#include "archive/pe_header.h"
#include "builder/stub_image.h"

UninstallerSplitResult split_uninstaller_image(const std::vector<uint8_t>& image,
                                               UninstallerItem* item) {
  uint32_t stamped = 0;
  if (!read_stub_size(image, &stamped)) return UninstallerSplitResult::kNotStamped;
  // Signing appends the table behind the stamped image and changes nothing
  // in it but the header's checksum and table entry.
  item->signed_image = stamped < image.size() && certificate_entry_beyond(image.data(), stamped) != 0;
  if (item->signed_image) {
    item->prefix_blob.assign(image.begin(), image.begin() + stamped);
    item->item_data.assign(image.begin() + stamped, image.end());
    return UninstallerSplitResult::kSplit;
  }
  if (stamped != image.size()) return UninstallerSplitResult::kLengthMismatch;
  // The whole image goes into the blob; the item's data is only the
  // placeholder for the RemoveList header, so the installed image is never
  // split across two decoders.
  item->prefix_blob = image;
  item->item_data.assign(kUninstallerTrailerLength, 0);
  return UninstallerSplitResult::kSplit;
}

const char* uninstaller_split_text(UninstallerSplitResult result) {
  switch (result) {
    case UninstallerSplitResult::kSplit: return "split";
    case UninstallerSplitResult::kNotStamped: return "the uninstaller image carries no stamped length";
    case UninstallerSplitResult::kLengthMismatch: return "the uninstaller image's stamped length differs from its size";
  }
  return "unknown result";
}
