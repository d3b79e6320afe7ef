#include "record/earlier_installations.h"

#include <stdlib.h>
#include <string.h>

#include "archive/format.h"
#include "base/globals.h"
#include "base/path_strings.h"
#include "record/removal_plan.h"
#include "record/uninstall_data.h"

namespace {

// One record of a RemoveList, of the new installation (own) or an earlier
// one, with the folder its "." means.
struct Item {
  const char* base;
  RemoveRecord record;
  uint32_t uses;
  uint32_t order;  // as the lists come: the new one first, then the newest earlier
  uint32_t hash;   // of the folded path, so that most comparisons need no path
  bool own;
};

// The items, counted first and then stored (out is null while counting).
struct ItemList {
  Item* out;
  uint32_t count;
  void add(const char* base, const RemoveRecord& record, uint32_t uses, bool own) {
    if (out) out[count] = Item{base, record, uses, count, 0, own};
    ++count;
  }
};

// An installation of the old record: its blocks and the folder its "." means.
struct OldInstallation {
  const uint8_t* chain;
  size_t length;
  UninstallData data;
  char folder[kPathSize];
};

uint32_t folded_hash(const char* path) {
  uint32_t hash = 2166136261u;
  for (; *path; ++path) hash = (hash ^ static_cast<uint8_t>(fold_letter(*path))) * 16777619u;
  return hash;
}

int compare_folded(const char* a, const char* b) {
  for (;; ++a, ++b) {
    char x = fold_letter(*a), y = fold_letter(*b);
    if (x != y) return static_cast<uint8_t>(x) < static_cast<uint8_t>(y) ? -1 : 1;
    if (!x) return 0;
  }
}

// Items of one path and flags compare equal but for their order.
int compare_paths(const Item& x, const Item& y) {
  if (x.hash != y.hash) return x.hash < y.hash ? -1 : 1;
  if (x.record.flags != y.record.flags) return x.record.flags < y.record.flags ? -1 : 1;
  char first[kPathSize], second[kPathSize];
  recorded_path(x.base, x.record, first);
  recorded_path(y.base, y.record, second);
  return compare_folded(first, second);
}

int compare_items(const void* a, const void* b) {
  const Item& x = *static_cast<const Item*>(a);
  const Item& y = *static_cast<const Item*>(b);
  int c = compare_paths(x, y);
  if (c) return c;
  return x.order < y.order ? -1 : x.order > y.order ? 1 : 0;
}

int compare_order(const void* a, const void* b) {
  uint32_t x = static_cast<const Item*>(a)->order, y = static_cast<const Item*>(b)->order;
  return x < y ? -1 : x > y ? 1 : 0;
}

// A file of an installation whose folder is not the new one's is written
// by its whole path, which plans no folders below that installation's
// folder: they are listed as folder items, as the relative path planned them.
void add_folders_below(const char* base, const RemoveRecord& record, ItemList* list) {
  RecordText folder = record.folder;
  if (folder.length < 3 || folder.text[0] != '.' || folder.text[1] != '\\') return;
  for (uint16_t n = folder.length; n > 2;) {
    list->add(base, RemoveRecord{RecordText{folder.text, n}, RecordText{"", 0}, 0}, 1, false);
    while (n > 0 && folder.text[n - 1] != '\\') --n;
    --n;  // before that backslash
  }
}

void add_list(const UninstallData& data, const char* base, bool elsewhere, ItemList* list) {
  const uint8_t* cursor = data.remove_list;
  for (uint32_t i = 0; i < data.remove_count; ++i) {
    RemoveRecord record = next_remove_record(&cursor);
    list->add(base, record, 1, false);
    if (elsewhere) add_folders_below(base, record, list);
  }
  cursor = data.earlier_removals;
  for (uint32_t i = 0; i < data.earlier_removal_count; ++i) {
    EarlierRemoval removal = next_earlier_removal(&cursor);
    list->add(base, removal.record, removal.uses, false);
    if (elsewhere) add_folders_below(base, removal.record, list);
  }
}

void add_items(const UninstallData& own, const char* own_base, const OldInstallation* old, uint32_t old_count,
               ItemList* list) {
  const uint8_t* cursor = own.remove_list;
  for (uint32_t i = 0; i < own.remove_count; ++i) list->add(own_base, next_remove_record(&cursor), 1, true);
  for (uint32_t i = 0; i < old_count; ++i) {
    size_t n = strlen(old[i].folder);
    bool elsewhere = strlen(own_base) != n || !same_folded(own_base, old[i].folder, n);
    add_list(old[i].data, old[i].folder, elsewhere, list);
  }
}

// Keeps, at the front of the sorted items, one of each path and flags that
// an earlier installation lists, unless the new list does the same with
// it already; a shared file's uses add up. Answers how many are kept.
uint32_t merge_items(Item* items, uint32_t count) {
  uint32_t kept = 0;
  for (uint32_t start = 0; start < count;) {
    uint32_t end = start + 1;
    while (end < count && compare_paths(items[start], items[end]) == 0) ++end;
    bool own = false;
    uint32_t uses = 0, first = end;
    for (uint32_t i = start; i < end; ++i) {
      if (items[i].own) {
        own = true;
        continue;
      }
      if (first == end) first = i;
      uses = uses + items[i].uses < uses ? 0xFFFFFFFFu : uses + items[i].uses;
    }
    if (first != end && (!own || (items[first].record.flags & kRemoveShared))) {
      items[kept] = items[first];
      items[kept++].uses = uses;
    }
    start = end;
  }
  return kept;
}

// Calls visit for each block of a chain that an earlier installation keeps:
// all but the lists of files, the earlier installations and the end block.
template <typename Visit>
void each_kept_block(const uint8_t* chain, size_t length, Visit visit) {
  for (size_t at = 0; at + kBlockHeaderSize <= length;) {
    uint16_t id = get_u16(chain + at);
    uint32_t size = get_u32(chain + at + 4);
    if (id == kUninstallEndId || size > length - at - kBlockHeaderSize) return;
    if (id != kRemoveListId && id != kEarlierInstallationId && id != kEarlierRemovalsId)
      visit(chain + at, kBlockHeaderSize + size);
    at += kBlockHeaderSize + size;
  }
}

// Whether two installations keep the same blocks, byte for byte: the
// uninstaller would do the same twice.
bool same_kept_blocks(const OldInstallation& a, const OldInstallation& b) {
  const size_t kMany = 64;
  const uint8_t* blocks[kMany];
  size_t sizes[kMany];
  size_t count = 0;
  bool fits = true;
  each_kept_block(a.chain, a.length, [&](const uint8_t* block, size_t size) {
    if (count == kMany) {
      fits = false;
      return;
    }
    blocks[count] = block;
    sizes[count++] = size;
  });
  size_t seen = 0;
  bool same = fits;
  each_kept_block(b.chain, b.length, [&](const uint8_t* block, size_t size) {
    same = same && seen < count && sizes[seen] == size && memcmp(blocks[seen], block, size) == 0;
    ++seen;
  });
  return same && seen == count;
}

void write_installation(RecordFile* log, const OldInstallation& installation) {
  uint32_t header = open_block(log, kEarlierInstallationId);
  write_block_header(log, kRemoveListId, 4);
  write_record_u32(log, 0);
  each_kept_block(installation.chain, installation.length,
                  [&](const uint8_t* block, size_t size) { write_record_bytes(log, block, static_cast<uint32_t>(size)); });
  write_block_header(log, kUninstallEndId, 0);
  close_block(log, header, kEarlierInstallationId, nullptr);
}

void write_removals(RecordFile* log, const Item* items, uint32_t count) {
  if (count == 0) return;
  uint32_t header = open_block(log, kEarlierRemovalsId);
  write_record_u32(log, 0);
  for (uint32_t i = 0; i < count; ++i) {
    recorded_path(items[i].base, items[i].record, DestPath);
    write_log_record(log, items[i].record.flags);
    if (items[i].record.flags & kRemoveShared) write_record_u32(log, items[i].uses);
  }
  close_block(log, header, kEarlierRemovalsId, &count);
}

// The old record's installations: its own blocks, then each earlier one
// it carries; out null counts them.
uint32_t old_installations(const uint8_t* old, size_t length, const UninstallData& data, OldInstallation* out) {
  if (out) *out = OldInstallation{old, length, data, {}};
  uint32_t count = 1;
  for (size_t at = 0; at + kBlockHeaderSize <= length;) {
    uint16_t id = get_u16(old + at);
    uint32_t size = get_u32(old + at + 4);
    if (id == kUninstallEndId || size > length - at - kBlockHeaderSize) break;
    if (id == kEarlierInstallationId && out) {
      OldInstallation& earlier = out[count];
      earlier.chain = old + at + kBlockHeaderSize;
      earlier.length = size;
      parse_uninstall_data(earlier.chain, size, &earlier.data);  // a whole record, checked with the old one
    }
    count += id == kEarlierInstallationId;
    at += kBlockHeaderSize + size;
  }
  return count;
}

}  // namespace

bool write_earlier_installations(RecordFile* log, const uint8_t* old, size_t old_length,
                                 const char* uninstaller_folder, const uint8_t* own_list, size_t own_list_length) {
  UninstallData data;
  if (parse_uninstall_data(old, old_length, &data) != UninstallDataStatus::kOk) return true;  // nothing to take over
  // The new list, read as a record of its own: the list and an end block.
  uint8_t* own_chain = static_cast<uint8_t*>(malloc(own_list_length + kBlockHeaderSize));
  uint32_t old_count = old_installations(old, old_length, data, nullptr);
  OldInstallation* installations = static_cast<OldInstallation*>(malloc(old_count * sizeof(OldInstallation)));
  Item* items = nullptr;
  bool done = false;
  if (own_chain && installations) {
    memcpy(own_chain, own_list, own_list_length);
    put_u16(own_chain + own_list_length, kUninstallEndId);
    put_u16(own_chain + own_list_length + 2, 0);
    put_u32(own_chain + own_list_length + 4, 0);
    UninstallData own;
    char own_base[kPathSize];
    copy_string(own_base, InstallDir, sizeof own_base);
    strip_backslash(own_base);
    old_installations(old, old_length, data, installations);
    bool sound = parse_uninstall_data(own_chain, own_list_length + kBlockHeaderSize, &own) == UninstallDataStatus::kOk;
    for (uint32_t i = 0; i < old_count && sound; ++i)
      sound = installation_folder(installations[i].data, uninstaller_folder, installations[i].folder);
    ItemList list{nullptr, 0};
    if (sound) add_items(own, own_base, installations, old_count, &list);
    items = sound ? static_cast<Item*>(malloc((list.count ? list.count : 1) * sizeof(Item))) : nullptr;
    if (items) {
      list = ItemList{items, 0};
      add_items(own, own_base, installations, old_count, &list);
      char path[kPathSize];
      for (uint32_t i = 0; i < list.count; ++i)
        items[i].hash = recorded_path(items[i].base, items[i].record, path) ? folded_hash(path) : 0;
      qsort(items, list.count, sizeof(Item), compare_items);
      uint32_t kept = merge_items(items, list.count);
      qsort(items, kept, sizeof(Item), compare_order);
      char saved[sizeof DestPath];
      copy_string(saved, DestPath, sizeof saved);
      for (uint32_t i = 0; i < old_count; ++i) {
        bool written = false;
        for (uint32_t j = 0; j < i && !written; ++j) written = same_kept_blocks(installations[j], installations[i]);
        if (!written) write_installation(log, installations[i]);
      }
      write_removals(log, items, kept);
      copy_string(DestPath, saved, sizeof DestPath);
      done = true;
    }
  }
  free(items);
  free(installations);
  free(own_chain);
  return done;
}
