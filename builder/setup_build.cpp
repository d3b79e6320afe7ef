#include "builder/setup_build.h"

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <unordered_map>

#include "archive/checksum.h"
#include "archive/pe_header.h"
#include "builder/archive_writer.h"
#include "builder/code_page.h"
#include "builder/data_area_writer.h"
#include "builder/data_layout.h"
#include "builder/execution_level.h"
#include "builder/lzma_encoder.h"
#include "builder/machine_check.h"
#include "builder/patch_generator.h"
#include "builder/pe_version.h"
#include "builder/res_file.h"
#include "builder/setup_resources.h"
#include "builder/setup_signature.h"
#include "builder/signal_cleanup.h"
#include "builder/stub_image.h"
#include "builder/translations.h"
#include "builder/uninstaller_item.h"
#include "record/uninstall_data.h"

namespace fs = std::filesystem;

namespace {

enum : size_t { kMaxPath = 259, kTemplateCount = 12 };

bool fail(std::string* error, const std::string& message) {
  *error = message;
  return false;
}

bool read_whole(const std::string& path, std::vector<uint8_t>* out, std::string* error) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return fail(error, "cannot open " + path + ": " + std::strerror(errno));
  // One read into a buffer of the file's size: a large item would
  // otherwise be copied again each time the buffer grows.
  struct stat st {};
  size_t expected = fstat(fileno(f), &st) == 0 && st.st_size > 0 ? static_cast<size_t>(st.st_size) : 0;
  out->resize(expected);
  size_t got = expected ? std::fread(out->data(), 1, expected, f) : 0;
  out->resize(got);
  // A file that grew meanwhile is read to its end.
  uint8_t buffer[1 << 16];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) out->insert(out->end(), buffer, buffer + n);
  bool ok = !std::ferror(f);
  std::fclose(f);
  if (!ok) return fail(error, "cannot read " + path);
  if (out->size() >= 0xFFFFFFFFull) return fail(error, path + " is 4 GiB or larger; a setup holds smaller files");
  return true;
}

// FILETIME of a file's last change, for all three of its times: the time
// it was last read would make two builds differ. A reproducible build
// clamps it to `newest` seconds since 1970, so that a fresh checkout (new
// modification times) gives the same bytes.
uint64_t file_time(const std::string& path, std::optional<uint64_t> newest) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return 0;
  const uint64_t kEpochDifference = 116444736000000000ull;  // 1601 to 1970 in 100 ns
  const uint64_t kTicksPerSecond = 10000000ull;
  uint64_t time = kEpochDifference + static_cast<uint64_t>(st.st_mtim.tv_sec) * kTicksPerSecond +
                  static_cast<uint64_t>(st.st_mtim.tv_nsec) / 100;
  if (newest) time = std::min(time, kEpochDifference + *newest * kTicksPerSecond);
  return time;
}

// One piece of the data area, shared by every entry with the same bytes.
struct DataBlock {
  std::vector<uint8_t> raw;     // what is compressed
  std::vector<uint8_t> stored;  // a stream, or patch blocks
  bool is_patch = false;
};

struct Entry {
  FileEntryFields fields;
  int data = -1;  // index of its DataBlock, -1 none
};

// Compresses every block on all cores. Patch blocks arrive compressed.
bool compress_blocks(std::vector<DataBlock>& blocks, int level, bool show, std::string* error) {
  StreamCompressor compress = stream_compressor(level);
  std::atomic<size_t> next{0};
  std::atomic<bool> failed{false};
  std::mutex report;
  size_t done = 0;
  uint64_t in = 0, out = 0;
  // Largest first, so that no large item is left to finish alone on one
  // core at the end; each block's stream does not depend on the order.
  std::vector<size_t> order(blocks.size());
  for (size_t k = 0; k < order.size(); ++k) order[k] = k;
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return blocks[a].raw.size() > blocks[b].raw.size(); });
  auto work = [&] {
    for (size_t k; !failed && (k = next++) < blocks.size();) {
      DataBlock& b = blocks[order[k]];
      if (!b.is_patch && !compress(b.raw.data(), b.raw.size(), &b.stored)) failed = true;
      std::lock_guard<std::mutex> lock(report);
      ++done;
      in += b.raw.size();
      out += b.stored.size();
      if (show)
        std::fprintf(stderr, "\rcompressing: %zu of %zu files, %llu bytes, %.1f %%   ", done, blocks.size(),
                     static_cast<unsigned long long>(in), in ? 100.0 * static_cast<double>(out) / in : 100.0);
    }
  };
  unsigned n = std::thread::hardware_concurrency();
  if (n == 0) n = 1;
  if (n > blocks.size()) n = blocks.size() ? static_cast<unsigned>(blocks.size()) : 1;
  std::vector<std::thread> threads;
  for (unsigned i = 1; i < n; ++i) threads.emplace_back(work);
  work();
  for (auto& t : threads) t.join();
  if (show) std::fprintf(stderr, "\n");
  if (failed) return fail(error, "compressing a file failed");
  return true;
}

// compression = "lzma": each setup type's items, in installation order, as
// one solid stream (none for a type without stored data). Each item with
// data is marked as the stream's and takes its data length in bytes from
// it; its data position lies past any data area, so that a reader that
// knows nothing of the stream refuses the item instead of decoding
// something else.
bool compress_solid(const Project& project, std::vector<std::vector<Entry>>& types, const std::vector<DataBlock>& blocks,
                    bool show, std::vector<std::vector<uint8_t>>* streams, std::vector<std::optional<SolidStreamFields>>* solids,
                    std::string* error) {
  for (size_t t = 0; t < types.size(); ++t) {
    uint64_t total = 0;
    for (const Entry& e : types[t])
      if (e.data >= 0) total += blocks[e.data].raw.size();
    streams->emplace_back();
    solids->emplace_back();
    if (total == 0) continue;
    SolidStreamFields solid;
    solid.properties = kLzmaProperties;
    solid.dictionary = lzma_dictionary_for(total, project.lzma_dictionary);
    LzmaEncoder encoder;
    if (!encoder.begin(solid.dictionary)) return fail(error, "liblzma refuses the LZMA settings");
    uint64_t done = 0;
    for (Entry& e : types[t]) {
      if (e.data < 0) continue;
      const std::vector<uint8_t>& raw = blocks[e.data].raw;
      if (!encoder.add(raw.data(), raw.size())) return fail(error, "compressing type[" + std::to_string(t) + "] failed");
      e.fields.flags |= kItemSolid;
      e.fields.data_position = kSolidNoPosition;
      e.fields.data_length = static_cast<uint32_t>(raw.size());
      done += raw.size();
      if (show)
        std::fprintf(stderr, "\rcompressing type[%zu]: %llu of %llu bytes   ", t, static_cast<unsigned long long>(done),
                     static_cast<unsigned long long>(total));
    }
    if (!encoder.finish(&streams->back())) return fail(error, "compressing type[" + std::to_string(t) + "] failed");
    if (show) std::fprintf(stderr, "\n");
    solid.length = static_cast<uint32_t>(streams->back().size());
    solids->back() = solid;
  }
  return true;
}

// Every text of the archive in the code page; a text the code page
// cannot hold is named in the message.
struct Converter {
  unsigned code_page;
  std::string* error;
  bool operator()(std::string& text, const std::string& what) {
    std::string out, why;
    if (!to_setup_text(text, code_page, &out, &why)) return fail(error, what + ": " + why);
    text = out;
    return true;
  }
  bool operator()(std::optional<std::string>& text, const std::string& what) {
    return !text || (*this)(*text, what);
  }
};

bool plain_ascii(const std::string& text) {
  for (unsigned char c : text)
    if (c >= 0x80) return false;
  return true;
}

bool plain_ascii(const std::vector<std::string>& texts) {
  return std::all_of(texts.begin(), texts.end(), [](const std::string& t) { return plain_ascii(t); });
}

// The type's texts in each of the setup's languages (block 0x1249), each
// in its language's code page; `ascii` keeps, by language, whether all of
// its texts so far are plain ASCII, which every system can show.
bool language_tables(const Project& project, const ProjectType& pt, const std::string& where, SetupTypePlan* type,
                     std::vector<bool>* ascii, std::string* error) {
  for (size_t li = 0; li < project.languages.size(); ++li) {
    const LanguageInfo* info = find_language(project.languages[li]);
    Converter c{info->code_page, error};
    LanguageTableFields table;
    const std::string w = where + " language " + project.languages[li];
    for (int l = 0; li > 0 && l < kTextListCount; ++l) {
      std::vector<std::string> texts = pt.languages[li].lists[l];
      for (size_t i = 0; i < texts.size(); ++i)
        if (!c(texts[i], w + " text " + std::to_string(l) + "/" + std::to_string(i))) return false;
      table.lists[l] = std::move(texts);
    }
    table.uninstaller = pt.languages[li].uninstaller;
    for (size_t i = 0; i < table.uninstaller.size(); ++i)
      if (!c(table.uninstaller[i], w + " uninstaller text " + std::to_string(i))) return false;
    bool plain = plain_ascii(table.uninstaller);
    for (int l = 0; l < kTextListCount; ++l) {
      const auto& lists = li > 0 ? table.lists[l] : type->record.text_lists[l];
      if (lists) plain = plain && plain_ascii(*lists);
    }
    (*ascii)[li] = (*ascii)[li] && plain;
    type->languages.push_back(std::move(table));
  }
  return true;
}

// Whether a name the setup writes on disk or in the registry needs more
// than ASCII, which the system's code page must then be the setup's.
bool names_plain_ascii(const SetupTypePlan& t) {
  const SetupTypeRecordFields& r = t.record;
  for (const auto* name : {&r.uninstall_name, &r.default_folder, &r.registry_key, &r.ini_file})
    if (*name && !plain_ascii(**name)) return false;
  for (const auto& e : t.files)
    if (!plain_ascii(e.name) || !plain_ascii(e.menu_locations) || !plain_ascii(e.menu_name) ||
        !plain_ascii(e.desktop_name))
      return false;
  return true;
}

bool convert_type(Converter& c, SetupTypePlan& t, const std::string& where) {
  SetupTypeRecordFields& r = t.record;
  if (!c(r.uninstall_name, where + ".uninstall_name") || !c(r.caption, where + ".caption") ||
      !c(r.default_folder, where + ".folder") || !c(r.registry_key, where + ".remember.registry.key") ||
      !c(r.registry_value, where + ".remember.registry.value") || !c(r.ini_file, where + ".remember.ini.file") ||
      !c(r.ini_section, where + ".remember.ini.section") || !c(r.ini_key, where + ".remember.ini.key"))
    return false;
  for (size_t i = 0; i < t.details.size(); ++i)
    if (!c(t.details[i], where + " product details/" + std::to_string(i))) return false;
  for (int l = 0; l < kTextListCount; ++l)
    if (r.text_lists[l])
      for (size_t i = 0; i < r.text_lists[l]->size(); ++i)
        if (!c((*r.text_lists[l])[i], where + " text " + std::to_string(l) + "/" + std::to_string(i))) return false;
  for (auto& e : t.files) {
    const std::string w = where + " file " + e.name;
    if (!c(e.name, w) || !c(e.menu_locations, w + " menu.folders") || !c(e.menu_name, w + " menu.name") ||
        !c(e.menu_arguments, w + " menu.arguments") || !c(e.desktop_name, w + " desktop.name") ||
        !c(e.desktop_arguments, w + " desktop.arguments"))
      return false;
    if (e.name.size() > kMaxPath) return fail(c.error, w + ": the name is longer than 259 bytes");
  }
  for (size_t i = 0; i < t.ini_entries.size(); ++i) {
    auto& e = t.ini_entries[i];
    const std::string w = where + ".ini[" + std::to_string(i) + "]";
    if (!c(e.file, w + ".file") || !c(e.section, w + ".section") || !c(e.key, w + ".key") ||
        !c(e.value, w + ".value"))
      return false;
  }
  for (size_t i = 0; i < t.registry_entries.size(); ++i) {
    auto& e = t.registry_entries[i];
    const std::string w = where + ".registry[" + std::to_string(i) + "]";
    if (!c(e.key, w + ".key") || !c(e.value_name, w + ".name") || !c(e.value, w + ".value")) return false;
  }
  for (size_t i = 0; i < t.string_patches.size(); ++i) {
    auto& e = t.string_patches[i];
    const std::string w = where + ".patch[" + std::to_string(i) + "]";
    std::string pattern(e.pattern.begin(), e.pattern.end());
    if (!c(e.file, w + ".file") || !c(e.text, w + ".text") || !c(pattern, w + ".after")) return false;
    e.pattern.assign(pattern.begin(), pattern.end());
  }
  for (size_t i = 0; i < t.path_entries.size(); ++i)
    if (!c(t.path_entries[i].folder, where + ".path[" + std::to_string(i) + "].folder")) return false;
  return true;
}

bool dialog_templates(const Project& project, const BuildOptions& options, std::vector<std::vector<uint8_t>>* out,
                      std::string* error) {
  std::map<uint16_t, std::vector<uint8_t>> dialogs;
  if (!read_res_dialogs(options.default_dialogs.data(), options.default_dialogs.size(), &dialogs, error))
    return fail(error, "the default dialog templates: " + *error);
  if (!project.dialog_resources.empty()) {
    std::vector<uint8_t> res;
    std::map<uint16_t, std::vector<uint8_t>> own;
    if (!read_whole(project.dialog_resources, &res, error)) return false;
    if (!read_res_dialogs(res.data(), res.size(), &own, error))
      return fail(error, project.dialog_resources + ": " + *error);
    for (auto& [id, bytes] : own) {
      if (id >= kTemplateCount)
        return fail(error, project.dialog_resources + ": dialog " + std::to_string(id) +
                               " is not a template number of the wizard (0 to 11)");
      dialogs[id] = bytes;
    }
  }
  out->assign(kTemplateCount, {});
  for (auto& [id, bytes] : dialogs)
    if (id < kTemplateCount) (*out)[id] = bytes;
  if ((*out)[0].empty()) return fail(error, "dialog template 0 (the container) is missing");
  return true;
}

// Signs a complete file in place and checks that the signer did what a
// signer may: rewrite the header checksum and the certificate table entry
// and append the table, behind at most 7 zero bytes. `what` names the
// file in messages ("the setup file", an item).
bool sign_and_check(const SignCommand& sign, const std::string& file, const std::string& what, std::string* error) {
  std::error_code ec;
  uint64_t size = fs::file_size(file, ec);
  uint32_t before = 0, after = 0;
  if (ec) return fail(error, "cannot read " + file + ": " + ec.message());
  if (!signed_content_crc(file, size, &before, error)) return false;
  if (!run_sign_command(sign, file, error)) return false;
  uint64_t signed_size = fs::file_size(file, ec);
  if (ec) return fail(error, "the sign command left no " + (what.rfind("the ", 0) == 0 ? what.substr(4) : what) + ": " + ec.message());
  if (signed_size <= size) return fail(error, "the sign command appended no signature to " + what);
  if (!signed_content_crc(file, size, &after, error)) return false;
  if (after != before)
    return fail(error, "the sign command changed " + what + " beyond its header checksum and certificate table");
  SetupSignature signature;
  if (!read_setup_signature(file, size, &signature, error)) return fail(error, what + " after signing: " + *error);
  if (!signature.authenticode) return fail(error, "the sign command left no Authenticode signature in " + what);
  return true;
}

// Volume files are data, not programs, and stay as written; the items'
// checksums guard their content.
bool sign_setup(const SignCommand& sign, const std::string& file, std::string* error) {
  return sign_and_check(sign, file, "the setup file", error);
}

// Signs *content as a copy at `copy`, which goes again, and takes the
// signed copy for it.
bool sign_copy(const SignCommand& sign, const std::string& copy, const std::string& what,
               std::vector<uint8_t>* content, std::string* error) {
  FILE* f = std::fopen(copy.c_str(), "wb");
  bool ok = f && std::fwrite(content->data(), 1, content->size(), f) == content->size();
  if (f && std::fclose(f) != 0) ok = false;
  if (!ok) return fail(error, "cannot write the copy of " + what + " to sign");
  if (!sign_and_check(sign, copy, what, error) || !read_whole(copy, content, error)) return false;
  std::error_code ec;
  fs::remove(copy, ec);
  return true;
}

// With [signing] payload: a program or library item without a signature
// is signed as a copy in the work folder, and the copy is what the setup
// stores. Each source is signed once, however many items name it.
struct PayloadSigner {
  const SignCommand* sign = nullptr;  // null: items stay as they are
  fs::path work;
  std::map<std::string, std::vector<uint8_t>> done;

  bool operator()(const ProjectItem& item, std::vector<uint8_t>* content, std::string* error) {
    if (!sign || !item.sign || item_signature(content->data(), content->size()) != ItemSignature::kUnsigned)
      return true;
    auto known = done.find(item.source);
    if (known != done.end()) {
      *content = known->second;
      return true;
    }
    const std::string copy = (work / ("payload-" + std::to_string(done.size()) + ".exe")).string();
    if (!sign_copy(*sign, copy, item.source + " (" + item.where + ")", content, error)) return false;
    done[item.source] = *content;
    return true;
  }
};

// Gathers the entries of every setup type in installation order and the
// distinct data blocks they use.
bool collect_entries(const Project& project, const BuildOptions& options, const UninstallerItem* uninstaller,
                     PayloadSigner& sign_item, std::vector<std::vector<Entry>>* types, std::vector<DataBlock>* blocks,
                     std::vector<std::string>* warnings, std::string* error) {
  // Blocks by length and checksum, compared byte for byte on a match: no
  // second copy of every file as a key.
  std::unordered_map<uint64_t, std::vector<int>> by_sum;
  auto block_of = [&](std::vector<uint8_t>&& raw, uint32_t checksum) {
    std::vector<int>& same_sum = by_sum[uint64_t(raw.size()) << 32 | checksum];
    for (int index : same_sum)
      if ((*blocks)[index].raw == raw) return index;
    blocks->push_back(DataBlock{std::move(raw), {}, false});
    int index = static_cast<int>(blocks->size() - 1);
    same_sum.push_back(index);
    return index;
  };
  // Where each source file went first, for patches naming their base.
  std::map<std::string, std::pair<int, int>> by_source;
  // The contents of the files that patches are made from.
  std::map<std::string, std::vector<uint8_t>> contents;
  std::set<std::string> bases;
  for (const ProjectType& type : project.types)
    for (const ProjectItem& item : type.items)
      if (!item.patch_base.empty()) bases.insert(item.patch_base);
  for (size_t t = 0; t < project.types.size(); ++t) {
    std::vector<Entry> list;
    if (uninstaller) {
      Entry e;
      e.fields.name = project.uninstaller_name;
      e.fields.kind = kKindFile;  // never listed for removal: it removes itself
      e.fields.flags = kItemUninstaller;
      e.fields.size = static_cast<uint32_t>(uninstaller->prefix_blob.size() + uninstaller->item_data.size());
      // Of the file as installed, before the setup appends its record: the
      // installer does not check it, but verify and extract can.
      std::vector<uint8_t> whole = uninstaller->prefix_blob;
      whole.insert(whole.end(), uninstaller->item_data.begin(), uninstaller->item_data.end());
      e.fields.checksum = checksum_block(whole.data(), e.fields.size, 0);
      const std::vector<uint8_t>& data = uninstaller->item_data;
      e.data = block_of(std::vector<uint8_t>(data), checksum_block(data.data(), static_cast<uint32_t>(data.size()), 0));
      list.push_back(e);
    }
    for (const ProjectItem& item : project.types[t].items) {
      Entry e;
      FileEntryFields& s = e.fields;
      s.name = item.name;
      s.folder_code = item.folder_code;
      s.kind = item.kind;
      s.registration = item.registration;
      s.finish_role = item.finish_role;
      s.shared = item.shared ? 1 : 0;
      s.icon_index = item.icon_index;
      s.menu_locations = item.menu_locations;
      s.menu_name = item.menu_name;
      s.menu_arguments = item.menu_arguments;
      s.desktop_name = item.desktop_name;
      s.desktop_arguments = item.desktop_arguments;
      s.entry_index = static_cast<int32_t>(list.size());
      s.setup_type = static_cast<uint16_t>(t);
      if (item.kind != kKindFolder) {
        std::vector<uint8_t> content;
        if (!read_whole(item.source, &content, error)) return fail(error, item.where + ": " + *error);
        std::string machine = machine_problem(project.architecture, project.types[t], item, content, warnings);
        if (!machine.empty()) return fail(error, item.where + ": " + machine);
        // An item copied from beside the setup at install time is not stored.
        if (!item.from_source && item.kind != kKindInSource && !sign_item(item, &content, error)) return false;
        s.size = static_cast<uint32_t>(content.size());
        s.checksum = checksum_block(content.data(), s.size, 0);
        if (item.compare_version || item.compare_language) {
          PeVersion v;
          if (!read_pe_version(content.data(), content.size(), &v))
            return fail(error, item.where + ": " + item.source + " has no version resource to compare with");
          if (item.compare_language && !v.has_language)
            return fail(error, item.where + ": " + item.source + " names no language in its version resource");
          s.version = FileVersionFields{v.version_ms, v.version_ls, v.language};
          if (item.compare_version) s.flags |= kItemCompareVersion;
          if (item.compare_language) s.flags |= kItemCompareLanguage;
        }
        if (item.store_times) {
          s.flags |= kItemHasTimes;
          uint64_t time = file_time(item.source, options.newest_time);
          s.times = FileTimesFields{time, time, time};
        }
        if (item.from_source) s.flags |= kItemFromSource;
        if (bases.count(item.source) && !contents.count(item.source)) contents[item.source] = content;
        if (!item.patch_base.empty()) {
          auto base = by_source.find(item.patch_base);
          if (base == by_source.end())
            return fail(error, item.where + ": patch_of names " + item.patch_base +
                                   ", which is no item of an earlier setup type or earlier in this one");
          const Entry& b = (*types).size() > static_cast<size_t>(base->second.first)
                               ? (*types)[base->second.first][base->second.second]
                               : list[base->second.second];
          if (b.fields.flags & kItemPatch) return fail(error, item.where + ": patch_of names a file that is itself a patch");
          if (b.data < 0 && !(b.fields.flags & kItemFromSource)) return fail(error, item.where + ": patch_of names a file the setup does not carry");
          s.flags |= kItemPatch;
          s.setup_type = static_cast<uint16_t>(base->second.first);
          s.entry_index = base->second.second;
          const std::vector<uint8_t>& old = contents[item.patch_base];
          PatchBlocks pb = make_patch(old.data(), old.size(), content.data(), content.size());
          DataBlock block;
          block.is_patch = true;
          block.raw = content;
          if (!encode_patch(pb, options.level, &block.stored)) return fail(error, item.where + ": cannot encode the patch");
          blocks->push_back(std::move(block));
          e.data = static_cast<int>(blocks->size() - 1);
        } else if (!item.from_source && item.kind != kKindInSource) {
          e.data = block_of(std::move(content), s.checksum);
        }
        if (!by_source.count(item.source)) by_source[item.source] = {static_cast<int>(t), static_cast<int>(list.size())};
      }
      list.push_back(e);
    }
    types->push_back(std::move(list));
  }
  return true;
}

// What each item reads from the data area: its own block and, for a
// patch of a stored file, that file's block first.
std::vector<std::vector<LayoutItem>> layout_items(const std::vector<std::vector<Entry>>& entries) {
  std::vector<std::vector<LayoutItem>> reads;
  for (const std::vector<Entry>& list : entries) {
    reads.emplace_back();
    for (const Entry& e : list) {
      LayoutItem item;
      item.block = e.data;
      if (e.fields.flags & kItemPatch) {
        const Entry& base = entries[e.fields.setup_type][static_cast<size_t>(e.fields.entry_index)];
        if (base.data >= 0) {
          item.base_type = e.fields.setup_type;
          item.base_index = e.fields.entry_index;
        }
      }
      reads.back().push_back(item);
    }
  }
  return reads;
}

// With the configuration written, the volumes are known: no setup type may
// have to go back to an earlier one.
bool check_volume_reading(const Project& project, const std::vector<std::vector<LayoutItem>>& reads,
                          const DataLayout& layout, const std::vector<DataPlacement>& placed, uint64_t data_start,
                          uint64_t volume_size, std::string* error) {
  std::vector<uint32_t> positions, lengths;
  for (const DataPlacement& p : placed) {
    positions.push_back(p.position);
    lengths.push_back(p.length);
  }
  bool uninstaller = !project.uninstaller_name.empty();
  auto describe = [&](int type, int item) {
    if (uninstaller && item == 0) return "type[" + std::to_string(type) + "] the uninstaller";
    const ProjectItem& p = project.types[type].items[static_cast<size_t>(item - (uninstaller ? 1 : 0))];
    return p.where + ": " + p.name;
  };
  auto volume_of = [&](uint32_t position) { return volume_holding(data_start, volume_size, position); };
  return check_forward_reading(reads, layout, positions, lengths, volume_of, describe, error);
}

// The block that names the setup type to start with also turns off the
// finishing actions: no screen saver, no restart, no program started.
void warn_about_start_type(const Project& project, std::vector<std::string>* warnings) {
  if (!project.start_page || project.start_page->start_page != 0xFFFF) return;
  for (const ProjectType& type : project.types)
    for (const ProjectItem& item : type.items) {
      const char* what = item.finish_role == kRoleProgram                ? "the program to run at the end"
                         : item.registration == kRegisterScreenSaver ? "the screen saver"
                                                                       : nullptr;
      if (!what) continue;
      warnings->push_back(project.path + ": setup.start_type " + std::to_string(project.start_page->setup_type) +
                          " turns off the finishing actions, so " + what + " (" + item.where + ": " + item.name +
                          ") is never started and no restart is offered");
    }
}

// A setup that asks for no administrator rights cannot change the
// machine's search path unless its user is one: it then goes on without
// the entry.
void warn_about_machine_path(const Project& project, std::vector<std::string>* warnings) {
  if (!project.per_user) return;
  for (size_t t = 0; t < project.types.size(); ++t)
    for (size_t i = 0; i < project.types[t].path_entries.size(); ++i)
      if (path_entry_scope(project, project.types[t].path_entries[i]) == kPathScopeMachine)
        warnings->push_back(project.path + ": type[" + std::to_string(t) + "].path[" + std::to_string(i) +
                            "]: privileges = \"user\" asks for no administrator rights, without which the "
                            "machine's search path cannot be changed: the setup then goes on without the entry");
}

// A work folder beside the output, made before anything is compressed so
// that an output folder that cannot be made or written fails at once. The
// work folder goes when the build ends, also when a signal ends it, and the
// folders made for the output go too unless the build completed.
class Staging {
 public:
  Staging() = default;
  Staging(const Staging&) = delete;
  Staging& operator=(const Staging&) = delete;
  ~Staging() {
    std::lock_guard<std::mutex> hold(signal_cleanup_lock());
    set_signal_cleanup(nullptr);
    clean_up();
  }

  bool open(const std::string& output, std::string* error) {
    // What a signal takes away is all of what was made, or nothing.
    std::lock_guard<std::mutex> hold(signal_cleanup_lock());
    set_signal_cleanup([this] { clean_up(); });
    fs::path out(output);
    std::error_code ec;
    if (fs::is_directory(out, ec))
      return fail(error, output + " is a folder; name the setup file, such as " + (out / "setup.exe").string());
    fs::path folder = out.parent_path().empty() ? fs::path(".") : out.parent_path();
    std::vector<fs::path> missing;
    for (fs::path p = folder; !p.empty() && !fs::is_directory(p, ec) && p != p.parent_path(); p = p.parent_path())
      missing.push_back(p);
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
      std::error_code look;
      if (!fs::create_directory(*it, ec))
        return fail(error, "cannot make the folder " + it->string() + " for " + output + ": " +
                               (fs::exists(*it, look) ? "a file of that name is in the way" : ec.message()));
      made_.push_back(*it);
    }
    std::string pattern = (folder / ".kestrel-build-XXXXXX").string();
    if (!mkdtemp(pattern.data())) return fail(error, "cannot write in " + folder.string() + ": " + std::strerror(errno));
    work_ = pattern;
    return true;
  }
  const fs::path& work() const { return work_; }
  // The caller holds signal_cleanup_lock().
  void complete() { completed_ = true; }

 private:
  void clean_up() {
    std::error_code ec;
    if (!work_.empty()) fs::remove_all(work_, ec);
    if (!completed_)
      for (auto it = made_.rbegin(); it != made_.rend(); ++it) fs::remove(*it, ec);
  }

  fs::path work_;
  std::vector<fs::path> made_;  // outermost first
  bool completed_ = false;
};

// The stale volumes of an earlier build that had more of them.
void remove_stale_volumes(const std::string& output, uint32_t volumes) {
  std::error_code ec;
  for (uint32_t k = volumes + 1; k < 100; ++k) {
    std::string path = volume_path(output, k);
    if (!fs::exists(path, ec)) break;
    fs::remove(path, ec);
  }
}

}  // namespace

bool build_setup(const Project& project, const BuildOptions& options, BuildReport* report, std::string* error) {
  uint32_t stamped = 0;
  if (!read_stub_size(options.stub, &stamped) || stamped != options.stub.size())
    return fail(error, "the stub is not stamped with its own length");
  bool with_uninstaller = !project.uninstaller_name.empty();
  // The programs as this setup carries them: asking for administrator
  // rights, or for none.
  std::vector<uint8_t> stub = options.stub, uninstaller_image = options.uninstaller;
  // A setup that lets its user choose starts without rights too; its
  // uninstaller keeps asking for them, but for a per-user installation the
  // setup writes it with the invoker level at the place named here.
  const char* privileges = project.per_user ? "privileges = \"user\"" : "privileges = \"choice\"";
  if ((project.per_user || project.scope_choice) && !request_invoker_level(&stub))
    return fail(error, std::string(privileges) + ": the stub has no manifest asking for administrator rights");
  uint32_t uninstaller_level = 0;
  if (project.scope_choice && with_uninstaller && !find_administrator_level(uninstaller_image, &uninstaller_level))
    return fail(error, std::string(privileges) + ": the uninstaller has no manifest asking for administrator rights");
  if (project.per_user && with_uninstaller && !request_invoker_level(&uninstaller_image))
    return fail(error, "privileges = \"user\": the uninstaller has no manifest asking for administrator rights");
  // The version resource and icon go into the stub only when asked for:
  // a project without them gets the stub as built. A stand-in stub without
  // PE headers (the builder's tests use them) has no resources to carry.
  PeHeader stub_header;
  if ((!project.version.empty() || !project.setup_icon.empty()) &&
      read_pe_header(stub.data(), stub.size(), &stub_header)) {
    std::vector<IconImage> icon;
    std::vector<uint8_t> ico;
    if (!project.setup_icon.empty() && (!read_whole(project.setup_icon, &ico, error) ||
                                        !read_icon_file(ico.data(), ico.size(), &icon, error)))
      return fail(error, project.path + ": setup.setup_icon: " + project.setup_icon + ": " + *error);
    SetupVersionTexts texts{project.title.value_or(""), project.publisher, project.version, project.copyright,
                            fs::path(options.output).filename().string()};
    if (!apply_setup_resources(stub, texts, icon, error)) return false;
  }
  Staging staging;
  if (!staging.open(options.output, error)) return false;
  UninstallerItem uninstaller;
  if (with_uninstaller) {
    // A signed setup's uninstaller is signed as well, so that the one
    // installed is: the setup then keeps the record in a file beside it.
    // One given signed already is stored as it is.
    if (!options.sign.command.empty() &&
        item_signature(uninstaller_image.data(), uninstaller_image.size()) == ItemSignature::kUnsigned &&
        !sign_copy(options.sign, (staging.work() / "uninstaller.exe").string(), "the uninstaller",
                   &uninstaller_image, error))
      return false;
    UninstallerSplitResult split = split_uninstaller_image(uninstaller_image, &uninstaller);
    if (split != UninstallerSplitResult::kSplit)
      return fail(error, std::string("the uninstaller: ") + uninstaller_split_text(split));
    std::string extension = fs::path(project.uninstaller_name).extension().string();
    if (uninstaller.signed_image && strcasecmp(extension.c_str(), kSideRecordExtension) == 0)
      return fail(error, project.path + ": setup.uninstaller: a signed uninstaller keeps its record in a file of its "
                         "name ending in " + kSideRecordExtension + ", so its own name must not end so");
  }
  ArchivePlan archive;
  if (!dialog_templates(project, options, &archive.dialog_templates, error)) return false;
  archive.setup_flags = project.setup_flags;
  archive.code_page = project.code_page;
  archive.architecture = project.architecture;
  if (project.scope_choice) {
    ScopeChoiceFields choice;
    choice.flags = project.machine_only ? uint32_t{kScopeMachineOnly} : 0;
    choice.uninstaller_level = uninstaller_level;
    archive.scope_choice = choice;
  }
  archive.product_id = project.product_id;
  archive.downgrade = project.downgrade;
  archive.product_flags = project.close_applications ? uint8_t{kCloseApplications} : uint8_t{0};
  if (!project.wizard_picture.empty() && (!read_whole(project.wizard_picture, &archive.wizard_picture, error) ||
                                          !check_bitmap_file(archive.wizard_picture, error)))
    return fail(error, project.wizard_picture + ": " + *error);
  if (!project.background_picture.empty() &&
      (!read_whole(project.background_picture, &archive.background_picture, error) ||
       !check_bitmap_file(archive.background_picture, error)))
    return fail(error, project.background_picture + ": " + *error);
  archive.background_title = project.background_title;
  archive.background_style = project.background_style;
  archive.start_page = project.start_page;
  if (with_uninstaller) archive.item_prefix = uninstaller.prefix_blob;

  std::vector<std::vector<Entry>> entries;
  std::vector<DataBlock> blocks;
  std::vector<std::string> machine_warnings;
  PayloadSigner sign_item;
  sign_item.work = staging.work();
  if (project.sign_payload && !options.sign.command.empty()) sign_item.sign = &options.sign;
  if (project.lzma) {
    // The setup program reads a solid stream forward only (across volumes
    // too, as the data area is split); a patch would need its base
    // decoded again.
    for (const ProjectType& type : project.types)
      for (const ProjectItem& item : type.items)
        if (!item.patch_base.empty())
          return fail(error, item.where + ": patch_of: a setup with compression = \"lzma\" carries no patches; "
                                          "store the whole file, or build with compression = \"kestrel\"");
  }
  if (!collect_entries(project, options, with_uninstaller ? &uninstaller : nullptr, sign_item, &entries, &blocks,
                       &machine_warnings, error))
    return false;
  std::vector<std::vector<LayoutItem>> reads;
  DataLayout layout;
  std::vector<size_t> sizes;
  std::vector<std::vector<uint8_t>> solid_streams;
  std::vector<std::optional<SolidStreamFields>> solids(entries.size());
  std::vector<int> solid_slot(entries.size(), -1);
  if (project.lzma) {
    solids.clear();
    if (!compress_solid(project, entries, blocks, options.show_progress, &solid_streams, &solids, error)) return false;
    for (size_t t = 0; t < entries.size(); ++t) {
      layout.item_slot.emplace_back(entries[t].size(), -1);
      if (solids[t]) {
        solid_slot[t] = static_cast<int>(sizes.size());
        sizes.push_back(solid_streams[t].size());
      }
    }
  } else {
    if (!compress_blocks(blocks, options.level, options.show_progress, error)) return false;
    reads = layout_items(entries);
    layout = lay_out_data(reads, blocks.size(), options.volume_size != 0);
    for (int b : layout.order) sizes.push_back(blocks[b].stored.size());
  }
  std::vector<DataPlacement> placed;
  if (!plan_item_data(sizes, &placed, error)) return false;

  Converter convert{project.code_page, error};
  std::vector<bool> ascii(project.languages.size(), true);
  if (!convert(archive.background_title, "background.title")) return false;
  if (archive.background_style && !convert(archive.background_style->font.face_name, "background.font")) return false;
  for (size_t t = 0; t < project.types.size(); ++t) {
    const ProjectType& pt = project.types[t];
    SetupTypePlan type;
    type.record = pt.record;
    type.ini_entries = pt.ini_entries;
    type.registry_entries = pt.registry_entries;
    type.string_patches = pt.string_patches;
    for (const ProjectPathEntry& entry : pt.path_entries)
      type.path_entries.push_back({path_entry_scope(project, entry), entry.folder});
    type.details = pt.details;
    for (size_t i = 0; i < entries[t].size(); ++i) {
      Entry& e = entries[t][i];
      int slot = layout.item_slot[t][i];
      if (slot >= 0) {
        e.fields.data_position = placed[slot].position;
        e.fields.data_length = placed[slot].length;
      }
      type.files.push_back(e.fields);
    }
    if (solids[t]) {
      type.solid = solids[t];
      type.solid->position = placed[solid_slot[t]].position;
    }
    if (!convert_type(convert, type, "type[" + std::to_string(t) + "]")) return false;
    if (!project.languages.empty() &&
        !language_tables(project, pt, "type[" + std::to_string(t) + "]", &type, &ascii, error))
      return false;
    if (!names_plain_ascii(type)) archive.names_code_page = project.code_page;
    archive.setup_types.push_back(std::move(type));
  }
  for (size_t li = 0; li < project.languages.size(); ++li) {
    const LanguageInfo* info = find_language(project.languages[li]);
    archive.languages.push_back({info->langid, info->code_page, info->charset,
                                 static_cast<uint8_t>(ascii[li] ? kLanguagePlainAscii : 0), info->code, info->face});
  }
  // Only a setup that offers languages tells the setup program about its names.
  if (project.languages.empty()) archive.names_code_page = 0;
  std::vector<uint8_t> configuration;
  if (!assemble_configuration(archive, stream_compressor(options.level), &configuration, error)) return false;
  if (options.volume_size != 0 && !check_volume_reading(project, reads, layout, placed,
                                                         stub.size() + configuration.size(),
                                                         options.volume_size, error))
    return false;
  // The setup reads its own file with 32-bit offsets.
  uint64_t data = 0;
  for (size_t size : sizes) data += size;
  if (options.volume_size == 0 && stub.size() + configuration.size() + kDataAreaHeaderSize + data > 0xFFFFFFFFull)
    return fail(error, "the setup file would reach 4 GiB; give a --volume-size to split it");

  // Everything is written in the work folder and moved into place only
  // when complete.
  std::string staged = (staging.work() / fs::path(options.output).filename()).string();
  // A block laid out more than once is written once per copy.
  std::vector<std::vector<uint8_t>> stored;
  std::vector<size_t> uses(blocks.size(), 0);
  for (int b : layout.order) ++uses[b];
  for (int b : layout.order) stored.push_back(--uses[b] == 0 ? std::move(blocks[b].stored) : blocks[b].stored);
  for (std::vector<uint8_t>& stream : solid_streams)
    if (!stream.empty()) stored.push_back(std::move(stream));
  uint32_t volumes = 0;
  // A signal waits while files are written into the work folder, which
  // it could not empty meanwhile, and while they are moved into place, so
  // that it finds either all of them in place or none.
  std::unique_lock<std::mutex> placing(signal_cleanup_lock());
  bool ok = write_setup_file(staged, stub, configuration, stored, options.volume_size, &volumes, error);
  placing.unlock();
  if (ok && !options.sign.command.empty()) ok = sign_setup(options.sign, staged, error);
  placing.lock();
  std::error_code ec;
  for (uint32_t k = 1; ok && k <= volumes; ++k) {
    fs::rename(volume_path(staged, k), volume_path(options.output, k), ec);
    if (ec) ok = fail(error, "cannot write " + volume_path(options.output, k) + ": " + ec.message());
  }
  if (ok) {
    fs::rename(staged, options.output, ec);
    if (ec) ok = fail(error, "cannot write " + options.output + ": " + ec.message());
  }
  if (ok) staging.complete();
  placing.unlock();
  if (!ok) return false;
  remove_stale_volumes(options.output, volumes);

  *report = BuildReport{};
  for (const auto& list : entries) report->items += static_cast<uint32_t>(list.size());
  report->stored_items = static_cast<uint32_t>(stored.size());
  for (size_t k = 0; k < stored.size(); ++k) report->stored_bytes += stored[k].size();
  for (const DataBlock& b : blocks) report->input_bytes += b.raw.size();
  report->setup_size = fs::file_size(options.output, ec);
  report->volumes = volumes;
  report->warnings = std::move(machine_warnings);
  report->warnings.insert(report->warnings.end(), project.warnings.begin(), project.warnings.end());
  warn_about_start_type(project, &report->warnings);
  warn_about_machine_path(project, &report->warnings);
  report->signed_setup = !options.sign.command.empty();
  return true;
}
