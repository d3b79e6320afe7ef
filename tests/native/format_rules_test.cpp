// One setup per rule that kestrel verify checks: a sound setup, byte-edited
// to break exactly that rule. Verify must name the rule (and no other),
// fail, and with --lenient only warn when the installer tolerates it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "archive/checksum.h"
#include "archive/file_entry.h"
#include "archive/format.h"
#include "builder/data_area_writer.h"
#include "cli/cli_support.h"
#include "cli/format_rules.h"
#include "tests/native/data_area_fixture.h"
#include "tests/native/setup_builder.h"

namespace {

const size_t kStub = 300;  // the stand-in stub's length

struct Block {
  size_t header;
  uint16_t id;
  uint16_t flags;
  uint32_t stored;
  size_t content() const { return header + kBlockHeaderSize; }
};

std::vector<Block> chain(const std::vector<uint8_t>& f) {
  std::vector<Block> blocks;
  for (size_t at = kStub; at + kBlockHeaderSize <= f.size();) {
    Block b{at, get_u16(&f[at]), get_u16(&f[at + 2]), get_u32(&f[at + 4])};
    blocks.push_back(b);
    if (b.id == kBlockDataArea) break;
    at += kBlockHeaderSize + b.stored;
  }
  return blocks;
}

// The nth block with this id.
Block block(const std::vector<uint8_t>& f, uint16_t id, int nth = 0) {
  for (const Block& b : chain(f))
    if (b.id == id && nth-- == 0) return b;
  ADD_FAILURE() << "no block " << id;
  return Block{0, 0, 0, 0};
}

// File offset of entry `index` of setup type `type` (uncompressed lists).
size_t entry_at(const std::vector<uint8_t>& f, int type, int index) {
  size_t at = block(f, kBlockFileList, type).content() + 4;
  for (; index > 0; --index) at += get_u32(&f[at]);
  return at;
}

// Inserts bytes into block `b`'s payload at `offset` and grows its size.
void insert_into(std::vector<uint8_t>& f, const Block& b, size_t offset, const std::vector<uint8_t>& bytes) {
  f.insert(f.begin() + static_cast<std::ptrdiff_t>(b.content() + offset), bytes.begin(), bytes.end());
  put_u32(&f[b.header + 4], b.stored + static_cast<uint32_t>(bytes.size()));
}

std::vector<uint8_t> block_bytes(uint16_t id, const std::vector<uint8_t>& content) {
  std::vector<uint8_t> out(kBlockHeaderSize + content.size());
  put_u16(&out[0], id);
  put_u32(&out[4], static_cast<uint32_t>(content.size()));
  std::copy(content.begin(), content.end(), out.begin() + kBlockHeaderSize);
  return out;
}

void insert_before(std::vector<uint8_t>& f, const Block& b, const std::vector<uint8_t>& bytes) {
  f.insert(f.begin() + static_cast<std::ptrdiff_t>(b.header), bytes.begin(), bytes.end());
}

const RuleInfo& info(const std::string& name) {
  for (int r = 0; r < static_cast<int>(Rule::kCount); ++r)
    if (name == rule_info(static_cast<Rule>(r)).name) return rule_info(static_cast<Rule>(r));
  ADD_FAILURE() << "no rule " << name;
  return rule_info(Rule::kBlockHeader);
}

class FormatRules : public ::testing::Test {
 protected:
  TempDir dir;
  std::string setup = dir.file("setup.exe");

  std::vector<uint8_t> app = text_bytes(30000, 1);
  std::vector<uint8_t> readme = text_bytes(5000, 2);
  std::vector<uint8_t> prefix = pattern_bytes(200, 4);
  std::vector<uint8_t> uninstaller_data = pattern_bytes(500, 5);

  // Two setup types as Kestrel writes them: the second's uninstaller uses
  // the first's data, its program is a patch of the first's, and every
  // list and text is there.
  SetupBuilder sound(const std::string& title = "Kestrel") {
    SetupBuilder b;
    b.type(0).record = record("Full");
    b.type(1).record = record("Update");
    b.archive.background_title = title;
    b.archive.item_prefix = prefix;
    std::vector<uint8_t> whole = prefix;
    whole.insert(whole.end(), uninstaller_data.begin(), uninstaller_data.end());
    FileEntryFields& u = b.add_entry(0, "uninst.exe", compressed(uninstaller_data));
    u.flags = kItemUninstaller;
    u.size = static_cast<uint32_t>(whole.size());
    u.checksum = checksum_block(whole.data(), u.size, 0);
    FileEntryFields shared_uninstaller = u;
    b.add_file(0, "app.exe", app).finish_role = kRoleProgram;
    b.add_file(0, "doc\\readme.txt", readme);
    b.add_folder(0, "Data\\");
    b.add_file(0, "noise.bin", pattern_bytes(3000, 3)).folder_code = kFolderWindows;
    b.type(0).ini_entries.push_back({1, "#InstallDir#\\app.ini", "Paths", "Home", "#InstallDir#"});
    b.type(0).registry_entries.push_back({2, 0, "Software\\Kestrel", "Version", "2.0"});
    b.type(0).string_patches.push_back({-1, "app.exe", "PATCHED", {'k', 'e', 's'}});
    b.type(0).path_entries.push_back({kPathScopeUser, "#InstallDir#\\bin"});

    b.type(1).files.push_back(shared_uninstaller);
    // The new program: the old one's first 200 bytes and three new ones,
    // in plain patch blocks: copy 200 from offset 0, insert 3.
    std::vector<uint8_t> patched(app.begin(), app.begin() + 200);
    patched.insert(patched.end(), {'X', 'Y', 'Z'});
    FileEntryFields& p = b.add_entry(1, "app.exe", {0x00, 0x05, 0x00, 0x00, 71, 0x00, 0x80, 0x82, 0x00, 0x03, 0x00, 'X', 'Y', 'Z'});
    p.flags = kItemPatch;
    p.setup_type = 0;
    p.entry_index = 1;
    p.size = static_cast<uint32_t>(patched.size());
    p.checksum = checksum_block(patched.data(), p.size, 0);
    b.add_file(1, "new.txt", text_bytes(900, 6));
    return b;
  }

  std::vector<uint8_t> write_sound(bool compress = false) {
    sound(compress ? std::string(600, 'K') : "Kestrel").write(setup, 0, nullptr, compress);
    return read_bytes(setup);
  }

  // Verify must fail on exactly `rule`, or only warn with --lenient when the
  // installer tolerates it.
  void expect_only(const std::string& rule, const std::string& what) {
    std::string messages;
    EXPECT_EQ(1, run_quietly(run_verify, {"verify", "--quiet", setup}, &messages)) << what;
    EXPECT_TRUE(only_verify_lines(messages)) << what << ": " << messages;
    for (size_t at = 0; at < messages.size(); at = messages.find('\n', at) + 1)
      EXPECT_NE(std::string::npos, messages.substr(at, messages.find('\n', at) - at).find("rule " + rule + ": "))
          << what << ": " << messages;
    int lenient = run_quietly(run_verify, {"verify", "--quiet", "--lenient", setup}, &messages);
    EXPECT_EQ(info(rule).installer_fails ? 1 : 0, lenient) << what << ": " << messages;
    if (!info(rule).installer_fails) {
      EXPECT_NE(std::string::npos, messages.find("warning: ")) << what << ": " << messages;
    }
  }

  void edit_and_expect(const std::string& rule, const std::function<void(std::vector<uint8_t>&)>& edit,
                       bool compress = false) {
    std::vector<uint8_t> f = write_sound(compress);
    edit(f);
    write_bytes(setup, f);
    expect_only(rule, rule);
  }
};

TEST_F(FormatRules, TheSoundSetupBreaksNone) {
  for (bool compress : {false, true}) {
    write_sound(compress);
    std::string messages;
    EXPECT_EQ(0, run_quietly(run_verify, {"verify", "--quiet", setup}, &messages)) << messages;
    EXPECT_EQ("", messages);
  }
}

TEST_F(FormatRules, BlockChain) {
  edit_and_expect("block-header", [](std::vector<uint8_t>& f) {
    f.resize(block(f, kBlockFileList, 1).content() + 20);
  });
  edit_and_expect("block-stream", [](std::vector<uint8_t>& f) {
    Block title = block(f, kBlockBackgroundTitle);
    ASSERT_TRUE(title.flags & kBlockCompressed);
    put_u32(&f[title.content()], get_u32(&f[title.content()]) + 1);
  }, true);
  edit_and_expect("block-stream-end", [](std::vector<uint8_t>& f) {
    Block title = block(f, kBlockBackgroundTitle);
    insert_into(f, title, title.stored, {0});
  }, true);
  edit_and_expect("raw-block", [](std::vector<uint8_t>& f) { f[block(f, kBlockSetupFlags).header + 2] = 1; });
  edit_and_expect("block-repeated", [](std::vector<uint8_t>& f) {
    Block flags = block(f, kBlockSetupFlags);
    std::vector<uint8_t> copy(f.begin() + static_cast<std::ptrdiff_t>(flags.header),
                              f.begin() + static_cast<std::ptrdiff_t>(flags.content() + flags.stored));
    insert_before(f, flags, copy);
  });
  edit_and_expect("type-block-first", [](std::vector<uint8_t>& f) {
    insert_before(f, block(f, kBlockSetupType), block_bytes(kBlockIniEntries, {0, 0}));
  });
  edit_and_expect("type-count", [](std::vector<uint8_t>& f) {
    Block second = block(f, kBlockSetupType, 1);
    std::vector<uint8_t> record(f.begin() + static_cast<std::ptrdiff_t>(second.header),
                                f.begin() + static_cast<std::ptrdiff_t>(second.content() + second.stored));
    for (int k = 0; k < 5; ++k) insert_before(f, block(f, kBlockDataArea), record);
  });
  edit_and_expect("start-block", [](std::vector<uint8_t>& f) {
    insert_before(f, block(f, kBlockDataArea), block_bytes(kBlockStartPage, {0xFF, 0xFF, 9, 0}));
  });
  // The architecture block: a value no setup program takes, or one read
  // after a setup type's folder was worked out.
  edit_and_expect("architecture", [](std::vector<uint8_t>& f) {
    insert_before(f, block(f, kBlockSetupType), block_bytes(kBlockArchitecture, {4, 0, 0, 0}));
  });
  edit_and_expect("architecture", [](std::vector<uint8_t>& f) {
    insert_before(f, block(f, kBlockSetupType, 1), block_bytes(kBlockArchitecture, {1, 0, 0, 0}));
  });
  edit_and_expect("chain-end", [](std::vector<uint8_t>& f) { f.resize(block(f, kBlockDataArea).header); });
  edit_and_expect("data-area-size", [](std::vector<uint8_t>& f) {
    Block data = block(f, kBlockDataArea);
    put_u32(&f[data.header + 4], get_u32(&f[data.content()]) + 1);
  });
  // A byte after the data area, or one missing from it.
  edit_and_expect("data-area-end", [](std::vector<uint8_t>& f) { f.push_back(0); });
  edit_and_expect("data-area-end", [](std::vector<uint8_t>& f) { f.pop_back(); });
}

TEST_F(FormatRules, Records) {
  edit_and_expect("record-size", [](std::vector<uint8_t>& f) {
    Block r = block(f, kBlockSetupType, 1);
    f.erase(f.begin() + static_cast<std::ptrdiff_t>(r.content() + 80),
            f.begin() + static_cast<std::ptrdiff_t>(r.content() + r.stored));
    put_u32(&f[r.header + 4], 80);
  });
  edit_and_expect("record-text", [](std::vector<uint8_t>& f) {
    put_u32(&f[block(f, kBlockSetupType).content() + kRecordCaption], 0xFFFF);
  });
  edit_and_expect("record-offset", [](std::vector<uint8_t>& f) {
    put_u32(&f[block(f, kBlockSetupType).content() + kRecordCaption], 2);  // the reserved word, then a zero
  });
  edit_and_expect("uninstall-name", [](std::vector<uint8_t>& f) {
    Block r = block(f, kBlockSetupType);
    uint32_t name = get_u32(&f[r.content() + kRecordUninstallName]);
    insert_into(f, r, name, std::vector<uint8_t>(340, 'x'));
    for (uint32_t field = kRecordUninstallName; field < kRecordFixedSize; field += 4) {
      uint32_t offset = get_u32(&f[r.content() + field]);
      if (field != kRecordRootKey && offset > name) put_u32(&f[r.content() + field], offset + 340);
    }
  });
  edit_and_expect("template-store", [](std::vector<uint8_t>& f) {
    Block t = block(f, kBlockDialogTemplates);
    put_u32(&f[t.content() + 4 * 7], t.stored + 100);
  });
  edit_and_expect("container-template", [](std::vector<uint8_t>& f) {
    f[block(f, kBlockSetupFlags).content()] |= kSetupFullScreen;
    put_u32(&f[block(f, kBlockDialogTemplates).content() + 4], 0);
  });
  edit_and_expect("title-text", [](std::vector<uint8_t>& f) {
    Block t = block(f, kBlockBackgroundTitle);
    f[t.content() + t.stored - 1] = 'x';
  });
}

TEST_F(FormatRules, Lists) {
  edit_and_expect("list-records", [](std::vector<uint8_t>& f) { put_u32(&f[block(f, kBlockFileList, 1).content()], 5); });
  edit_and_expect("list-trailing", [](std::vector<uint8_t>& f) {
    Block r = block(f, kBlockRegistryEntries);
    insert_into(f, r, r.stored, {7});
  });
  edit_and_expect("setting-value", [](std::vector<uint8_t>& f) { f[block(f, kBlockIniEntries).content() + 2] = 0x05; });
  edit_and_expect("string-patch", [](std::vector<uint8_t>& f) {
    put_u32(&f[block(f, kBlockStringPatches).content() + 2], static_cast<uint32_t>(-5));
  });
  // A search path entry's scope that names no search path: the setup
  // refuses the list, so it is no tolerated value.
  edit_and_expect("list-records", [](std::vector<uint8_t>& f) { f[block(f, kBlockPathEntries).content() + 2] = 2; });
}

TEST_F(FormatRules, Entries) {
  edit_and_expect("entry-source", [](std::vector<uint8_t>& f) { put_u32(&f[entry_at(f, 0, 1) + kEntryIndex], 99); });
  edit_and_expect("entry-shares", [](std::vector<uint8_t>& f) {
    size_t e = entry_at(f, 1, 2);
    put_u32(&f[e + kEntryIndex], 2);
    put_u16(&f[e + kEntrySetupType], 0);
  });
  edit_and_expect("entry-value", [](std::vector<uint8_t>& f) { f[entry_at(f, 0, 2) + kEntryFinishRole] = 7; });
  // The issue's own case: a name that climbs out of its folder.
  edit_and_expect("item-name", [](std::vector<uint8_t>& f) {
    size_t e = entry_at(f, 0, 2);
    std::memcpy(&f[e + kEntryFixedSize], "..\\", 3);
  });
  // A second uninstaller whose size and checksum say what it installs.
  edit_and_expect("uninstaller-count", [this](std::vector<uint8_t>& f) {
    size_t e = entry_at(f, 1, 2);
    std::vector<uint8_t> whole = prefix;
    std::vector<uint8_t> text = text_bytes(900, 6);
    whole.insert(whole.end(), text.begin(), text.end());
    f[e + kEntryFlags] |= kItemUninstaller;
    put_u32(&f[e + kEntrySize], static_cast<uint32_t>(whole.size()));
    put_u32(&f[e + kEntryChecksum], checksum_block(whole.data(), static_cast<uint32_t>(whole.size()), 0));
  });
  // Without the uninstaller program the uninstaller is installed empty.
  edit_and_expect("uninstaller-prefix", [](std::vector<uint8_t>& f) {
    put_u16(&f[block(f, kBlockItemPrefix).header], 0x1238);
  });
}

TEST_F(FormatRules, ItemsAndPatches) {
  edit_and_expect("item-data", [](std::vector<uint8_t>& f) { put_u32(&f[entry_at(f, 0, 2) + kEntryDataPosition], 1u << 30); });
  edit_and_expect("item-data-extent", [](std::vector<uint8_t>& f) {
    size_t e = entry_at(f, 0, 1);
    put_u32(&f[e + kEntryDataLength], get_u32(&f[e + kEntryDataLength]) + 1);
  });
  edit_and_expect("item-size", [](std::vector<uint8_t>& f) {
    size_t e = entry_at(f, 0, 2);
    put_u32(&f[e + kEntrySize], get_u32(&f[e + kEntrySize]) + 1);
  });
  edit_and_expect("item-checksum", [](std::vector<uint8_t>& f) { f[entry_at(f, 0, 2) + kEntryChecksum] ^= 1; });
  edit_and_expect("patch-base", [](std::vector<uint8_t>& f) {
    size_t e = entry_at(f, 1, 1);
    put_u16(&f[e + kEntrySetupType], 1);
    put_u32(&f[e + kEntryIndex], 1);
  });
  // The patch is the last but one item's data: its first block header.
  edit_and_expect("patch-block", [](std::vector<uint8_t>& f) {
    size_t data = block(f, kBlockDataArea).content() + 4;
    f[data + get_u32(&f[entry_at(f, 1, 1) + kEntryDataPosition])] |= 0x08;
  });
  // Insert 5 where the literals hold 3.
  edit_and_expect("patch-commands", [](std::vector<uint8_t>& f) {
    size_t data = block(f, kBlockDataArea).content() + 4;
    f[data + get_u32(&f[entry_at(f, 1, 1) + kEntryDataPosition]) + 7] = 0x84;
  });
}

// An uninstaller of fewer than 8 bytes: a two-byte program and three bytes
// of data, with its size and checksum to match.
TEST_F(FormatRules, UninstallerTooShortForTheRecordHeader) {
  SetupBuilder b;
  b.archive.item_prefix = {'M', 'Z'};
  FileEntryFields& u = b.add_entry(0, "uninst.exe", compressed({1, 2, 3}));
  std::vector<uint8_t> whole = {'M', 'Z', 1, 2, 3};
  u.flags = kItemUninstaller;
  u.size = 5;
  u.checksum = checksum_block(whole.data(), 5, 0);
  b.write(setup, 0, nullptr, false);
  expect_only("uninstaller-size", "uninstaller-size");
}

TEST_F(FormatRules, Volumes) {
  // Volumes that leave 2,000 bytes of data in the setup file.
  std::vector<uint8_t> one = write_sound();
  uint64_t size = block(one, kBlockDataArea).content() + 4 + 2000;
  uint32_t volumes = 0;
  sound().write(setup, size, &volumes, false);
  ASSERT_GE(volumes, 1u);
  std::string first = volume_path(setup, 1);
  std::vector<uint8_t> good = read_bytes(first);
  std::vector<uint8_t> longer = good;
  longer.push_back(0);
  write_bytes(first, longer);
  expect_only("volume-length", "a byte after a volume's data");
  write_bytes(first, good);
  write_bytes(volume_path(setup, volumes + 1), {0, 0, 0, 0});
  expect_only("volume-empty", "an empty volume");
}

// The installer reads forward: an item that names data in a volume behind
// the one its setup type has reached cannot be installed, however sound
// the data is when read on its own.
TEST_F(FormatRules, DataBehindTheVolumeReached) {
  SetupBuilder b;
  std::vector<uint8_t> small = text_bytes(300, 8);
  FileEntryFields& first = b.add_file(0, "first.txt", small);
  FileEntryFields again = first;
  b.add_file(0, "big.bin", pattern_bytes(60000, 9));
  again.name = "second.txt";
  again.entry_index = 2;
  b.type(0).files.push_back(again);
  b.write(setup, 40000, nullptr, false);
  expect_only("read-order", "shared data behind the volume reached");
  std::string messages;
  run_quietly(run_verify, {"verify", setup}, &messages);
  EXPECT_NE(std::string::npos, messages.find("setup type 0, item 2 (second.txt), data-area position ")) << messages;
  EXPECT_NE(std::string::npos, messages.find("setup.D01), and it never goes back")) << messages;
}

}  // namespace
