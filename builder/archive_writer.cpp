#include "builder/archive_writer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "archive/format.h"

namespace {

bool fail(std::string* error, const std::string& what) {
  if (error) *error = what;
  return false;
}

// The loader keeps an entry only when the entry it takes its data from
// exists: an index into the FileList of an existing setup type.
bool check_data_sources(const ArchivePlan& archive, std::string* error) {
  for (size_t t = 0; t < archive.setup_types.size(); ++t) {
    const std::vector<FileEntryFields>& files = archive.setup_types[t].files;
    for (size_t i = 0; i < files.size(); ++i) {
      const FileEntryFields& e = files[i];
      std::string what = "setup type " + std::to_string(t) + ", file entry " + std::to_string(i) + " (" +
                         e.name.substr(0, e.name.find('\0')) + ")";
      if (e.setup_type >= archive.setup_types.size())
        return fail(error, what + " takes its data from setup type " + std::to_string(e.setup_type) +
                               ", which does not exist");
      size_t source_count = archive.setup_types[e.setup_type].files.size();
      if (e.entry_index < 0 || static_cast<size_t>(e.entry_index) >= source_count)
        return fail(error, what + " takes its data from entry " + std::to_string(e.entry_index) +
                               " of setup type " + std::to_string(e.setup_type) + ", which does not exist");
      // A patch is applied to the file its base entry installs: the base
      // must be an entry of its own data, not this patch or another one.
      const FileEntryFields& base = archive.setup_types[e.setup_type].files[static_cast<size_t>(e.entry_index)];
      if ((e.flags & kItemPatch) && (&base == &e || (base.flags & kItemPatch)))
        return fail(error, what + " is a patch whose base entry is " +
                               (&base == &e ? std::string("itself") : std::string("a patch too")));
    }
  }
  return true;
}

// The content the loader keeps of a chain of configuration blocks: every
// block but the two it reads raw, compressed ones by their announced length.
uint64_t kept_content(const std::vector<uint8_t>& blocks) {
  uint64_t total = 0;
  for (size_t at = 0; at + kBlockHeaderSize <= blocks.size();) {
    uint16_t id = get_u16(&blocks[at]);
    bool compressed = (get_u16(&blocks[at + 2]) & kBlockCompressed) != 0;
    uint32_t stored = get_u32(&blocks[at + 4]);
    at += kBlockHeaderSize;
    if (id != kBlockSetupFlags && id != kBlockStartPage && id != kBlockArchitecture && id != kBlockScopeChoice &&
        stored > 0)
      total += compressed && stored >= 4 ? get_u32(&blocks[at]) : stored;
    at += stored;
  }
  return total;
}

// One configuration block whose content an encoder makes.
template <typename Encode>
bool add_block(std::vector<uint8_t>* out, uint16_t id, const StreamCompressor& compress, std::string* error,
               Encode encode) {
  std::vector<uint8_t> content;
  return encode(&content) && append_config_block(out, id, content, compress, error);
}

bool add_setup_type(std::vector<uint8_t>* out, const SetupTypePlan& type, const StreamCompressor& compress,
                    std::string* error) {
  if (!add_block(out, kBlockSetupType, compress, error,
                 [&](std::vector<uint8_t>* c) { return encode_setup_type_record(type.record, c, error); }))
    return false;
  if (!type.files.empty() &&
      !add_block(out, kBlockFileList, compress, error,
                 [&](std::vector<uint8_t>* c) { return encode_file_list(type.files, c, error); }))
    return false;
  if (!type.ini_entries.empty() &&
      !add_block(out, kBlockIniEntries, compress, error,
                 [&](std::vector<uint8_t>* c) { return encode_ini_list(type.ini_entries, c, error); }))
    return false;
  if (!type.registry_entries.empty() &&
      !add_block(out, kBlockRegistryEntries, compress, error,
                 [&](std::vector<uint8_t>* c) { return encode_registry_list(type.registry_entries, c, error); }))
    return false;
  if (!type.string_patches.empty() &&
      !add_block(out, kBlockStringPatches, compress, error,
                 [&](std::vector<uint8_t>* c) { return encode_string_patch_list(type.string_patches, c, error); }))
    return false;
  if (!type.path_entries.empty() &&
      !add_block(out, kBlockPathEntries, compress, error,
                 [&](std::vector<uint8_t>* c) { return encode_path_list(type.path_entries, c, error); }))
    return false;
  // Only a setup that gives product details carries them: others stay
  // what earlier builders wrote.
  if (!type.details.empty() &&
      !add_block(out, kBlockProductDetails, compress, error,
                 [&](std::vector<uint8_t>* c) { return encode_text_list(type.details, "product details", c, error); }))
    return false;
  if (!type.languages.empty() &&
      !add_block(out, kBlockLanguageTables, compress, error,
                 [&](std::vector<uint8_t>* c) { return encode_language_tables(type.languages, c, error); }))
    return false;
  if (type.solid) {
    std::vector<uint8_t> solid(kSolidBlockSize, 0);
    solid[kSolidMethod] = kSolidLzma;
    solid[kSolidProperties] = type.solid->properties;
    put_u32(&solid[kSolidDictionary], type.solid->dictionary);
    put_u32(&solid[kSolidPosition], type.solid->position);
    put_u32(&solid[kSolidLength], type.solid->length);
    if (!append_stored_block(out, kBlockSolidStream, solid, error)) return false;
  }
  return true;
}

}  // namespace

bool assemble_configuration(const ArchivePlan& archive, const StreamCompressor& compress, std::vector<uint8_t>* out,
                            std::string* error) {
  if (archive.setup_types.empty()) return fail(error, "the archive needs at least one setup type");
  if (archive.setup_types.size() > kMaxSetupTypes)
    return fail(error, "the archive has " + std::to_string(archive.setup_types.size()) +
                           " setup types; at most 6 are possible");
  // The wizard has pages 0 to 7 and does not check the number it is given.
  if (archive.start_page && archive.start_page->start_page != 0xFFFF && archive.start_page->start_page > 7)
    return fail(error, "start page " + std::to_string(archive.start_page->start_page) + " does not exist (0 to 7)");
  if (archive.start_page && archive.start_page->setup_type >= archive.setup_types.size())
    return fail(error, "the start page names setup type " + std::to_string(archive.start_page->setup_type) +
                           " of " + std::to_string(archive.setup_types.size()));
  if (!check_data_sources(archive, error)) return false;

  std::vector<uint8_t> blocks;
  if (!archive.dialog_templates.empty() &&
      !add_block(&blocks, kBlockDialogTemplates, compress, error,
                 [&](std::vector<uint8_t>* c) { return encode_template_store(archive.dialog_templates, c, error); }))
    return false;
  std::vector<uint8_t> flags;
  append_u32(&flags, archive.setup_flags);
  if (!append_stored_block(&blocks, kBlockSetupFlags, flags, error)) return false;
  // Before the setup type records: the loader works out their folders in
  // the mode's view. A 32-bit setup stays what earlier builders wrote.
  if (archive.architecture != kArchitectureX86) {
    std::vector<uint8_t> architecture;
    append_u32(&architecture, archive.architecture);
    if (!append_stored_block(&blocks, kBlockArchitecture, architecture, error)) return false;
  }
  if (archive.scope_choice) {
    std::vector<uint8_t> choice;
    append_u32(&choice, archive.scope_choice->flags);
    append_u32(&choice, archive.scope_choice->uninstaller_level);
    if (!append_stored_block(&blocks, kBlockScopeChoice, choice, error)) return false;
  }
  if (!archive.product_id.empty()) {
    std::vector<uint8_t> identity = {archive.downgrade, archive.product_flags, 0, 0};
    identity.insert(identity.end(), archive.product_id.begin(), archive.product_id.end());
    identity.push_back(0);
    if (!append_stored_block(&blocks, kBlockProductIdentity, identity, error)) return false;
  }
  // Tells the host's tools how to read the texts; a setup in the default
  // code page stays what earlier builders wrote.
  if (archive.code_page != kDefaultCodePage) {
    std::vector<uint8_t> code_page;
    append_u32(&code_page, archive.code_page);
    if (!append_stored_block(&blocks, kBlockCodePage, code_page, error)) return false;
  }
  if (!archive.languages.empty() &&
      !add_block(&blocks, kBlockLanguages, compress, error, [&](std::vector<uint8_t>* c) {
        return encode_languages(archive.names_code_page, archive.languages, c, error);
      }))
    return false;
  const std::pair<uint16_t, const std::vector<uint8_t>*> pictures[] = {
      {kBlockWizardPicture, &archive.wizard_picture}, {kBlockBackgroundPicture, &archive.background_picture}};
  for (const auto& picture : pictures) {
    if (picture.second->empty()) continue;
    const char* name = picture.first == kBlockWizardPicture ? "wizard picture: " : "background picture: ";
    std::string why;
    if (!check_bitmap_file(*picture.second, &why)) return fail(error, name + why);
    if (!append_config_block(&blocks, picture.first, *picture.second, compress, error)) return false;
  }
  if (archive.background_title &&
      !add_block(&blocks, kBlockBackgroundTitle, compress, error,
                 [&](std::vector<uint8_t>* c) { return encode_background_title(*archive.background_title, c, error); }))
    return false;
  if (archive.background_style &&
      !add_block(&blocks, kBlockBackgroundStyle, compress, error,
                 [&](std::vector<uint8_t>* c) { return encode_background_style(*archive.background_style, c, error); }))
    return false;
  for (const SetupTypePlan& type : archive.setup_types)
    if (!add_setup_type(&blocks, type, compress, error)) return false;
  if (archive.start_page) {
    std::vector<uint8_t> start;
    encode_start_page(*archive.start_page, &start);
    if (!append_stored_block(&blocks, kBlockStartPage, start, error)) return false;
  }
  if (!archive.item_prefix.empty() &&
      !append_config_block(&blocks, kBlockItemPrefix, archive.item_prefix, compress, error))
    return false;
  uint64_t kept = kept_content(blocks);
  if (kept > kConfigurationBudget)
    return fail(error, "the configuration (dialogs, pictures, texts and file lists) comes to " + std::to_string(kept) +
                           " bytes; a setup reads at most " + std::to_string(kConfigurationBudget));
  out->insert(out->end(), blocks.begin(), blocks.end());
  return true;
}

bool plan_item_data(const std::vector<size_t>& sizes, std::vector<DataPlacement>* placements, std::string* error) {
  std::vector<DataPlacement> plan;
  uint64_t position = 0;
  for (size_t size : sizes) {
    if (position + size > 0xFFFFFFFFu) return fail(error, "the data area would exceed 4 GiB");
    plan.push_back({static_cast<uint32_t>(position), static_cast<uint32_t>(size)});
    position += size;
  }
  *placements = std::move(plan);
  return true;
}

bool write_setup_file(const std::string& path, const std::vector<uint8_t>& stub,
                      const std::vector<uint8_t>& configuration, const std::vector<std::vector<uint8_t>>& items,
                      uint64_t volume_size, uint32_t* volumes, std::string* error) {
  FILE* file = std::fopen(path.c_str(), "wb+");
  if (!file) return fail(error, "cannot create " + path + ": " + std::strerror(errno));
  bool ok = std::fwrite(stub.data(), 1, stub.size(), file) == stub.size() &&
            std::fwrite(configuration.data(), 1, configuration.size(), file) == configuration.size();
  if (!ok) {
    std::fclose(file);
    return fail(error, "cannot write " + path);
  }
  std::vector<size_t> sizes;
  for (const auto& item : items) sizes.push_back(item.size());
  std::vector<DataPlacement> plan;
  if (!plan_item_data(sizes, &plan, error)) {
    std::fclose(file);
    return false;
  }
  DataAreaWriter w;
  ok = begin_data_area(w, file, path, volume_size);
  for (size_t k = 0; ok && k < items.size(); ++k) {
    DataPlacement placed{};
    ok = add_item_data(w, items[k].data(), items[k].size(), &placed);
    // The file entries were written with the planned positions.
    if (ok && (placed.position != plan[k].position || placed.length != plan[k].length)) {
      w.error = "item " + std::to_string(k) + " did not land where it was planned";
      ok = false;
    }
  }
  ok = ok && end_data_area(w, volumes);
  if (!ok && w.file && w.file != file) std::fclose(w.file);  // a volume left open by the failure
  bool closed = std::fclose(file) == 0;
  if (!ok) return fail(error, w.error);
  if (!closed) return fail(error, "cannot write " + path);
  return true;
}
