#include "builder/uninstaller_item.h"

#include "archive/format.h"
#include "archive/pe_header.h"
#include "builder/stub_image.h"

UninstallerSplitResult split_uninstaller_image(const std::vector<uint8_t>& image,
                                               UninstallerItem* item) {
  PeHeader header;
  uint32_t entry = 0;
  if (read_pe_header(image.data(), image.size(), &header) &&
      pe_directory_entry(header, kPeDirectoryCertificates, &entry) && get_u32(&image[entry + 4]) != 0)
    return UninstallerSplitResult::kSigned;
  uint32_t stamped = 0;
  if (!read_stub_size(image, &stamped)) return UninstallerSplitResult::kNotStamped;
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
    case UninstallerSplitResult::kSigned:
      return "the uninstaller image is signed, but the record that the setup appends to the installed uninstaller "
             "would break its signature: give the unsigned uninstaller";
  }
  return "unknown result";
}
