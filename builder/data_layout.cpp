#include "builder/data_layout.h"

namespace {

// One read of the data area: a patch's base (another item's slot, fixed)
// or the item's own block (its slot chosen here).
struct Visit {
  int item;
  bool base;
};

std::vector<Visit> visits_of(const std::vector<LayoutItem>& items) {
  std::vector<Visit> visits;
  for (size_t i = 0; i < items.size(); ++i) {
    if (items[i].base_type >= 0) visits.push_back({static_cast<int>(i), true});
    if (items[i].block >= 0) visits.push_back({static_cast<int>(i), false});
  }
  return visits;
}

// The slots in data order, with each slot's place in that order kept up to
// date as copies are put in between.
struct Slots {
  std::vector<int> block;  // by slot id
  std::vector<int> index;  // by slot id: place in `order`
  std::vector<int> order;  // slot ids in data order
  std::vector<std::vector<int>> copies;  // by block: its slot ids

  int insert(int b, size_t at) {
    int id = static_cast<int>(block.size());
    block.push_back(b);
    index.push_back(0);
    order.insert(order.begin() + static_cast<std::ptrdiff_t>(at), id);
    for (size_t k = at; k < order.size(); ++k) index[order[k]] = static_cast<int>(k);
    copies[b].push_back(id);
    return id;
  }
};

}  // namespace

DataLayout lay_out_data(const std::vector<std::vector<LayoutItem>>& types, size_t block_count, bool forward_only) {
  DataLayout layout;
  for (const auto& items : types) layout.item_slot.emplace_back(items.size(), -1);
  if (!forward_only) {
    // Every block once, where the collector made it: in order of first use.
    for (size_t b = 0; b < block_count; ++b) layout.order.push_back(static_cast<int>(b));
    for (size_t t = 0; t < types.size(); ++t)
      for (size_t i = 0; i < types[t].size(); ++i) layout.item_slot[t][i] = types[t][i].block;
    return layout;
  }

  Slots slots;
  slots.copies.resize(block_count);
  std::vector<std::vector<int>> slot_id(types.size());
  for (size_t t = 0; t < types.size(); ++t) slot_id[t].assign(types[t].size(), -1);
  for (size_t t = 0; t < types.size(); ++t) {
    const std::vector<LayoutItem>& items = types[t];
    std::vector<Visit> visits = visits_of(items);
    int reached = 0;  // first place in data order this type may still read
    for (size_t v = 0; v < visits.size(); ++v) {
      const LayoutItem& item = items[visits[v].item];
      if (visits[v].base) {
        int base = slot_id[item.base_type][item.base_index];
        if (base >= 0 && slots.index[base] >= reached) reached = slots.index[base] + 1;
        continue;
      }
      // A copy must come before the next base this type reads, which
      // cannot move; the first such base that is already placed bounds it.
      int limit = static_cast<int>(slots.order.size());
      for (size_t w = v + 1; w < visits.size(); ++w) {
        if (!visits[w].base) continue;
        const LayoutItem& later = items[visits[w].item];
        int base = slot_id[later.base_type][later.base_index];
        if (base < 0 || slots.index[base] < reached) continue;
        limit = slots.index[base];
        break;
      }
      int chosen = -1;
      for (int id : slots.copies[item.block]) {
        int at = slots.index[id];
        if (at >= reached && at < limit && (chosen < 0 || at < slots.index[chosen])) chosen = id;
      }
      if (chosen < 0) chosen = slots.insert(item.block, static_cast<size_t>(limit));
      slot_id[t][visits[v].item] = chosen;
      reached = slots.index[chosen] + 1;
    }
  }
  for (int id : slots.order) layout.order.push_back(slots.block[id]);
  for (size_t t = 0; t < types.size(); ++t)
    for (size_t i = 0; i < types[t].size(); ++i)
      if (slot_id[t][i] >= 0) layout.item_slot[t][i] = slots.index[slot_id[t][i]];
  return layout;
}

bool check_forward_reading(const std::vector<std::vector<LayoutItem>>& types, const DataLayout& layout,
                           const std::vector<uint32_t>& positions, const std::vector<uint32_t>& lengths,
                           const std::function<uint32_t(uint32_t)>& volume_of,
                           const std::function<std::string(int type, int item)>& describe, std::string* error) {
  for (size_t t = 0; t < types.size(); ++t) {
    uint32_t volume = 0;  // every installation starts in the setup file
    for (const Visit& visit : visits_of(types[t])) {
      const LayoutItem& item = types[t][visit.item];
      int slot = visit.base ? layout.item_slot[item.base_type][item.base_index] : layout.item_slot[t][visit.item];
      if (slot < 0) continue;
      uint32_t position = positions[slot], length = lengths[slot];
      uint32_t first = volume_of(position);
      if (first < volume) {
        *error = describe(static_cast<int>(t), visit.item) +
                 (visit.base ? ": the data of the file it patches" : ": its data") + " lies in volume " +
                 std::to_string(first) + ", but the installation has already moved on to volume " +
                 std::to_string(volume) +
                 " and never goes back: a patch reads the file it patches again, so build without volumes, or "
                 "with volumes that hold that file's data and everything read between it and the patch";
        return false;
      }
      volume = length ? volume_of(position + length - 1) : first;
    }
  }
  return true;
}
