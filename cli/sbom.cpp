#include "cli/sbom.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <vector>

#include "archive/config.h"
#include "archive/file_entry.h"
#include "archive/format.h"
#include "builder/code_page.h"
#include "builder/setup_signature.h"
#include "cli/cli_support.h"
#include "cli/file_hash.h"
#include "cli/setup_reader.h"

namespace fs = std::filesystem;

namespace {

std::string json(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') out += '\\', out += static_cast<char>(c);
    else if (c < 0x20) {
      char escape[8];
      snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else out += static_cast<char>(c);
  }
  return out + "\"";
}

std::string checksums(const FileDigests& d) {
  return "[{\"algorithm\": \"SHA1\", \"checksumValue\": \"" + d.sha1 +
         "\"}, {\"algorithm\": \"SHA256\", \"checksumValue\": \"" + d.sha256 + "\"}]";
}

std::string utc_time(uint64_t seconds) {
  time_t t = static_cast<time_t>(seconds);
  tm parts;
  gmtime_r(&t, &parts);
  char text[32];
  strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
}

std::string package(const std::string& id, const std::string& name, const std::string& version,
                    const std::string& file_name, const FileDigests& d, const std::string& supplier,
                    const std::string& comment) {
  std::string text = "    {\"SPDXID\": " + json(id) + ", \"name\": " + json(name);
  if (!version.empty()) text += ", \"versionInfo\": " + json(version);
  if (!file_name.empty()) text += ", \"packageFileName\": " + json(file_name);
  if (!supplier.empty()) text += ", \"supplier\": " + json("Organization: " + supplier);
  text += ", \"downloadLocation\": \"NOASSERTION\", \"filesAnalyzed\": false, \"checksums\": " + checksums(d);
  if (!comment.empty()) text += ", \"comment\": " + json(comment);
  return text + "}";
}

struct Document {
  std::vector<std::string> packages, files, relationships;
  bool uninstaller_listed = false;  // as a package of its own, once
};

void relate(Document* doc, const std::string& from, const char* how, const std::string& to) {
  doc->relationships.push_back("    {\"spdxElementId\": " + json(from) + ", \"relationshipType\": \"" + how +
                               "\", \"relatedSpdxElement\": " + json(to) + "}");
}

// Every item of every setup type that the setup carries, decoded as the
// setup installs it; items that lie beside the setup file are only named.
bool add_items(Document* doc, const std::string& work, std::vector<std::string>* beside, std::string* error) {
  for (int t = 0; t < SetupTypeCount; ++t) {
    uint32_t count = file_entry_count(t);
    for (uint32_t i = 0; i < count; ++i) {
      const uint8_t* entry = file_entry_at(t, i);
      ItemContent content = item_content(entry);
      if (content == ItemContent::kNothing && entry[kEntryKind] == kKindFolder) continue;
      std::string where = item_destination(entry);
      if (content == ItemContent::kNothing || content == ItemContent::kBesideSetup) {
        beside->push_back(where);
        continue;
      }
      std::string path = work + "/item";
      if (!write_item_content(entry, path, error)) return false;
      std::vector<uint8_t> bytes;
      bool read = read_file(path.c_str(), &bytes, error);
      fs::remove(path);
      if (!read) return false;
      FileDigests d = digest_bytes(bytes.data(), bytes.size());
      std::string id = "SPDXRef-Type" + std::to_string(t) + "-Item" + std::to_string(i);
      std::string file_name = "./" + where;
      for (char& c : file_name)
        if (c == '\\') c = '/';
      std::string comment = describe_item(t, i) + ", installed as " + where + "; " + std::to_string(bytes.size()) +
                            " bytes; signature: " + item_signature_text(item_signature(bytes.data(), bytes.size()));
      doc->files.push_back("    {\"SPDXID\": " + json(id) + ", \"fileName\": " + json(file_name) +
                           ", \"checksums\": " + checksums(d) + ", \"comment\": " + json(comment) + "}");
      relate(doc, "SPDXRef-Setup", "CONTAINS", id);
      if (content == ItemContent::kUninstaller && !doc->uninstaller_listed) {
        doc->uninstaller_listed = true;
        doc->packages.push_back(package("SPDXRef-Uninstaller", "kestrel-uninstall", KESTREL_VERSION, "", d, "",
                                        "the uninstaller of Kestrel " KESTREL_VERSION
                                        ", as the setup places it (before it appends the record)"));
        relate(doc, "SPDXRef-Setup", "CONTAINS", "SPDXRef-Uninstaller");
      }
    }
  }
  return true;
}

std::string text_of(const char* text) {
  std::string out;
  from_code_page(text ? text : "", setup_code_page(), &out);
  return out;
}

bool write_document(const std::string& setup_path, const std::string& sbom_path, uint64_t created,
                    const std::string& work, std::string* error) {
  std::vector<uint8_t> setup;
  if (!read_file(setup_path.c_str(), &setup, error)) return false;
  FileDigests setup_digests = digest_bytes(setup.data(), setup.size());
  const SetupTypeSlot& slot = SetupTypeTable[CurrentSetupType < 0 ? 0 : CurrentSetupType];
  std::string name = text_of(list_text(slot.record.text_lists[6], 0));
  std::string version = text_of(list_text(slot.details, kDetailVersion));
  std::string publisher = text_of(list_text(slot.details, kDetailPublisher));
  std::string file_name = fs::path(setup_path).filename().string();
  if (name.empty()) name = file_name;

  Document doc;
  relate(&doc, "SPDXRef-DOCUMENT", "DESCRIBES", "SPDXRef-Setup");
  std::vector<std::string> beside;
  if (!add_items(&doc, work, &beside, error)) return false;
  std::string setup_comment = "a Kestrel setup file";
  if (!beside.empty()) {
    setup_comment += "; installs from beside the setup file, not carried in it:";
    for (const std::string& b : beside) setup_comment += " " + b;
  }
  uint32_t stub_size = setup_facts().stub_size;
  FileDigests stub = digest_bytes(setup.data(), std::min<size_t>(stub_size, setup.size()));
  doc.packages.insert(doc.packages.begin(),
                      package("SPDXRef-Stub", "kestrel-stub", KESTREL_VERSION, "", stub, "",
                              "the setup program of Kestrel " KESTREL_VERSION ": the first " +
                                  std::to_string(stub_size) + " bytes of the setup file"));
  doc.packages.insert(doc.packages.begin(),
                      package("SPDXRef-Setup", name, version, file_name, setup_digests, publisher, setup_comment));
  relate(&doc, "SPDXRef-Setup", "CONTAINS", "SPDXRef-Stub");

  auto join = [](const std::vector<std::string>& parts) {
    std::string text;
    for (size_t i = 0; i < parts.size(); ++i) text += parts[i] + (i + 1 < parts.size() ? ",\n" : "\n");
    return text;
  };
  std::string text = "{\n  \"spdxVersion\": \"SPDX-2.3\",\n  \"dataLicense\": \"CC0-1.0\",\n"
                     "  \"SPDXID\": \"SPDXRef-DOCUMENT\",\n  \"name\": " +
                     json(name + " setup") +
                     ",\n  \"documentNamespace\": " + json("https://kestrel.invalid/spdx/" + setup_digests.sha256) +
                     ",\n  \"creationInfo\": {\"created\": \"" + utc_time(created) +
                     "\", \"creators\": [\"Tool: kestrel-" KESTREL_VERSION "\"]},\n"
                     "  \"packages\": [\n" +
                     join(doc.packages) + "  ],\n  \"files\": [\n" + join(doc.files) + "  ],\n  \"relationships\": [\n" +
                     join(doc.relationships) + "  ]\n}\n";
  return write_file(sbom_path.c_str(), std::vector<uint8_t>(text.begin(), text.end()), error);
}

}  // namespace

bool write_sbom(const std::string& setup_path, const std::string& sbom_path, std::optional<uint64_t> created,
                std::string* error) {
  std::error_code ignored;
  std::string work = make_work_folder(fs::temp_directory_path(ignored).string(), error);
  if (work.empty()) return false;
  bool written = open_setup(setup_path.c_str(), error);
  if (written) {
    written = write_document(setup_path, sbom_path, created.value_or(static_cast<uint64_t>(time(nullptr))), work,
                             error);
    close_setup();
  }
  fs::remove_all(work, ignored);
  if (!written) {
    *error = "the SBOM: " + *error;
    fs::remove(sbom_path, ignored);
  }
  return written;
}
