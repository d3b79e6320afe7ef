// The order of the data area: one copy of each content in a setup file;
// in volumes, a copy further on wherever a setup type would otherwise have
// to read back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "builder/data_layout.h"

namespace {

LayoutItem reads(int block) { return LayoutItem{block, -1, -1}; }
LayoutItem patch(int block, int base_type, int base_index) { return LayoutItem{block, base_type, base_index}; }

std::vector<int> blocks_in_order(const std::vector<std::vector<LayoutItem>>& types, const DataLayout& layout, int t) {
  std::vector<int> seen;
  for (size_t i = 0; i < types[t].size(); ++i) {
    const LayoutItem& item = types[t][i];
    if (item.base_type >= 0) seen.push_back(layout.item_slot[item.base_type][item.base_index]);
    if (item.block >= 0) seen.push_back(layout.item_slot[t][i]);
  }
  return seen;
}

bool rising(const std::vector<int>& slots) {
  for (size_t k = 1; k < slots.size(); ++k)
    if (slots[k] <= slots[k - 1]) return false;
  return true;
}

TEST(DataLayout, OneFileSharesEveryContent) {
  std::vector<std::vector<LayoutItem>> types = {{reads(0), reads(1), reads(0)}, {reads(1), reads(0)}};
  DataLayout layout = lay_out_data(types, 2, false);
  EXPECT_EQ((std::vector<int>{0, 1}), layout.order);
  EXPECT_EQ(layout.item_slot[0][0], layout.item_slot[0][2]);
}

TEST(DataLayout, VolumesReadEveryTypeForward) {
  // A content again after another one, in one type and across two types
  // that list them in different orders; a folder reads nothing.
  std::vector<std::vector<LayoutItem>> types = {{reads(0), reads(1), reads(2), reads(1)},
                                                {reads(0), reads(2), reads(-1), reads(1)}};
  DataLayout layout = lay_out_data(types, 3, true);
  for (int t = 0; t < 2; ++t) EXPECT_TRUE(rising(blocks_in_order(types, layout, t))) << t;
  // Type 0 needs a second copy of content 1; type 1 then finds every
  // content in its order without a copy of its own.
  EXPECT_EQ((std::vector<int>{0, 1, 2, 1}), layout.order);
  EXPECT_EQ(layout.item_slot[0][3], layout.item_slot[1][3]);
  EXPECT_EQ(layout.item_slot[0][0], layout.item_slot[1][0]);
  EXPECT_EQ(layout.item_slot[0][2], layout.item_slot[1][1]);
  EXPECT_EQ(-1, layout.item_slot[1][2]);
}

TEST(DataLayout, ANewFileGoesBeforeTheBaseAPatchReadsLater) {
  // Type 1 installs a new file, then patches type 0's second item: the new
  // file's data must lie before that base.
  std::vector<std::vector<LayoutItem>> types = {{reads(0), reads(1), reads(2)}, {reads(3), patch(4, 0, 1)}};
  DataLayout layout = lay_out_data(types, 5, true);
  EXPECT_TRUE(rising(blocks_in_order(types, layout, 0)));
  EXPECT_TRUE(rising(blocks_in_order(types, layout, 1)));
  EXPECT_LT(layout.item_slot[1][0], layout.item_slot[0][1]);
}

TEST(DataLayout, APatchWhoseBaseLiesBehindIsFoundOnceVolumesAreKnown) {
  // The base is read, then another file, then the patch reads the base again.
  std::vector<std::vector<LayoutItem>> types = {{reads(0), reads(1), patch(2, 0, 0)}};
  DataLayout layout = lay_out_data(types, 3, true);
  std::vector<uint32_t> positions = {0, 100, 200}, lengths = {100, 100, 10};
  auto name = [](int type, int item) { return "type " + std::to_string(type) + " item " + std::to_string(item); };
  std::string error;
  // All in one volume: nothing goes back across volumes.
  EXPECT_TRUE(check_forward_reading(types, layout, positions, lengths, [](uint32_t) { return 0u; }, name, &error));
  // The second file in the next volume: the base lies behind it.
  EXPECT_FALSE(check_forward_reading(types, layout, positions, lengths,
                                     [](uint32_t p) { return p >= 100 ? 1u : 0u; }, name, &error));
  EXPECT_NE(std::string::npos, error.find("type 0 item 2: the data of the file it patches lies in volume 0")) << error;
}

}  // namespace
