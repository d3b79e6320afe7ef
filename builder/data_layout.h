// The order of the stored blocks in the data area. The installer reads the
// data area strictly forward across volumes: once it has moved on to a
// volume file it never opens an earlier one again, and every setup type's
// installation starts again at the first volume. A setup in one file may
// share one stored copy of a content between any items; a setup in volumes
// must lay out its data so that each setup type, item by item in its
// installation order, only reads further on.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// One item of a setup type, as the data area sees it.
struct LayoutItem {
  int block = -1;       // the stored block the item reads, -1 none
  int base_type = -1;   // a patch: the entry whose data it starts from,
  int base_index = -1;  // read before its own block; -1 none
};

struct DataLayout {
  std::vector<int> order;                  // stored block of each slot, in data order
  std::vector<std::vector<int>> item_slot; // per setup type and item: its slot, -1 none
};

// Lays out the blocks. Without `forward_only` every block is stored once,
// in the order of first use. With it, an item whose content already lies
// behind what its setup type has read gets a copy of its own further on; a
// patch's base is another item's data and cannot be copied, so a patch
// whose base lies behind stays so (find_backward_read tells whether that
// matters once the volumes are known: check_forward_reading).
DataLayout lay_out_data(const std::vector<std::vector<LayoutItem>>& types, size_t block_count, bool forward_only);

// Replays every setup type's installation over the laid-out data, given
// where each slot's data lies (position and length) and which volume holds
// a position. False, with *error naming the item through `describe`, when
// an item's data lies in an earlier volume than its setup type has reached.
bool check_forward_reading(const std::vector<std::vector<LayoutItem>>& types, const DataLayout& layout,
                           const std::vector<uint32_t>& positions, const std::vector<uint32_t>& lengths,
                           const std::function<uint32_t(uint32_t)>& volume_of,
                           const std::function<std::string(int type, int item)>& describe, std::string* error);
