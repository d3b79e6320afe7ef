// kestrel winget SETUP: the three manifests (version, default locale,
// installer) with which the Windows Package Manager installs a setup file
// unattended, read from the setup itself so that they cannot drift from it.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "archive/config.h"
#include "archive/format.h"
#include "archive/platform_host.h"
#include "builder/code_page.h"
#include "builder/execution_level.h"
#include "cli/cli_support.h"
#include "cli/file_hash.h"
#include "cli/setup_reader.h"
#include "cli/setup_results.h"

namespace fs = std::filesystem;

namespace {

const char kUsage[] =
    "Usage: kestrel winget SETUP --id PUBLISHER.PRODUCT --url URL [-o DIR]\n"
    "                      [--license TEXT] [--license-url URL] [--description TEXT] [--locale TAG]\n\n"
    "Writes the winget manifests of SETUP into DIR (default: the current folder):\n"
    "ID.yaml, ID.installer.yaml and ID.locale.TAG.yaml (manifest version 1.28.0).\n"
    "Name, publisher, version, scope and the Add/Remove entry come from the setup's\n"
    "default setup type; its switches and exit codes are those every Kestrel setup\n"
    "takes and ends with.\n"
    "  --id ID            the package identifier, such as Demo.DemoProduct\n"
    "  --url URL          where the setup file is downloaded from (http or https)\n"
    "  --license TEXT     the licence's name (default \"Proprietary\")\n"
    "  --license-url URL  where its text can be read\n"
    "  --description TEXT the one-line description (default: the product's name)\n"
    "  --locale TAG       the language of the texts (default en-US)\n";

const char kManifestVersion[] = "1.28.0";

struct WingetFacts {
  std::string id, version, name, publisher, web_address, uninstall_name;
  std::string product_code;  // the Uninstall key's name: the product id, else the uninstall name
  std::string url, license = "Proprietary", license_url, description, locale = "en-US";
  std::string sha256;
  std::string architecture = "x86";
  bool per_machine = true;
};

// A YAML scalar in double quotes: every character that could end it or
// that YAML would read otherwise escaped.
std::string yaml(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') out += '\\', out += static_cast<char>(c);
    else if (c < 0x20 || c == 0x7F) {
      char escape[8];
      snprintf(escape, sizeof escape, "\\x%02X", c);
      out += escape;
    } else out += static_cast<char>(c);
  }
  return out + "\"";
}

std::string header(const char* kind) {
  return std::string("# Written by kestrel winget.\n# yaml-language-server: $schema=https://aka.ms/winget-manifest.") +
         kind + "." + kManifestVersion + ".schema.json\n\n";
}

std::string identity(const WingetFacts& f) {
  return "PackageIdentifier: " + yaml(f.id) + "\nPackageVersion: " + yaml(f.version) + "\n";
}

std::string version_manifest(const WingetFacts& f) {
  return header("version") + identity(f) + "DefaultLocale: " + yaml(f.locale) +
         "\nManifestType: version\nManifestVersion: " + kManifestVersion + "\n";
}

std::string locale_manifest(const WingetFacts& f) {
  std::string text = header("defaultLocale") + identity(f) + "PackageLocale: " + yaml(f.locale) +
                     "\nPublisher: " + yaml(f.publisher) + "\nPackageName: " + yaml(f.name) +
                     "\nLicense: " + yaml(f.license) + "\n";
  if (!f.license_url.empty()) text += "LicenseUrl: " + yaml(f.license_url) + "\n";
  if (!f.web_address.empty()) text += "PackageUrl: " + yaml(f.web_address) + "\n";
  text += "ShortDescription: " + yaml(f.description) + "\nManifestType: defaultLocale\nManifestVersion: " +
          kManifestVersion + "\n";
  return text;
}

std::string installer_manifest(const WingetFacts& f) {
  std::string text = header("installer") + identity(f);
  text += "InstallerType: exe\n";
  text += std::string("Scope: ") + (f.per_machine ? "machine" : "user") + "\n";
  text += "InstallModes:\n- interactive\n- silent\n- silentWithProgress\n";
  // The switches as docs/unattended-installs.md gives them.
  text += "InstallerSwitches:\n";
  text += "  Silent: " + yaml("/VERYSILENT /NORESTART") + "\n";
  text += "  SilentWithProgress: " + yaml("/SILENT /NORESTART") + "\n";
  text += "  Log: " + yaml("/LOG=\"<LOGPATH>\"") + "\n";
  text += "  InstallLocation: " + yaml("/DIR=\"<INSTALLPATH>\"") + "\n";
  text += "ExpectedReturnCodes:\n";
  for (const SetupResult& r : setup_results())
    text += "- InstallerReturnCode: " + std::to_string(r.code) + "\n  ReturnResponse: " + r.winget_response + "\n";
  // A setup run again over its installation installs over it.
  text += "UpgradeBehavior: install\n";
  text += "Installers:\n- Architecture: " + f.architecture + "\n";
  text += "  InstallerUrl: " + yaml(f.url) + "\n";
  text += "  InstallerSha256: " + yaml(f.sha256) + "\n";
  if (!f.uninstall_name.empty()) {
    text += "  AppsAndFeaturesEntries:\n  - DisplayName: " + yaml(f.uninstall_name) + "\n";
    if (!f.publisher.empty()) text += "    Publisher: " + yaml(f.publisher) + "\n";
    text += "    DisplayVersion: " + yaml(f.version) + "\n";
    // The Uninstall key's name.
    text += "    ProductCode: " + yaml(f.product_code) + "\n";
  }
  text += std::string("ManifestType: installer\nManifestVersion: ") + kManifestVersion + "\n";
  return text;
}

// A text of the setup in UTF-8, as winget shows it.
std::string utf8(const char* text) {
  std::string out;
  from_code_page(text ? text : "", setup_code_page(), &out);
  return out;
}

bool read_facts(const char* path, WingetFacts* f, std::string* error) {
  if (setup_volumes().size() > 1)
    return fail(error, "the setup is built in volumes, and winget downloads one file: build it without --volume-size");
  const SetupTypeSlot& slot = SetupTypeTable[CurrentSetupType < 0 ? 0 : CurrentSetupType];
  f->version = utf8(list_text(slot.details, kDetailVersion));
  f->publisher = utf8(list_text(slot.details, kDetailPublisher));
  f->web_address = utf8(list_text(slot.details, kDetailUrl));
  f->name = utf8(list_text(slot.record.text_lists[6], 0));
  f->uninstall_name = utf8(slot.record.uninstall_name);
  f->product_code = ProductIdentity ? reinterpret_cast<const char*>(ProductIdentity + kProductIdOffset) : f->uninstall_name;
  if (f->version.empty()) return fail(error, "the setup names no version: give `version` in the project's [setup]");
  if (f->publisher.empty()) return fail(error, "the setup names no publisher: give `publisher` in the project's [setup]");
  if (f->name.empty()) f->name = f->uninstall_name;
  if (f->name.empty()) return fail(error, "the setup names no product: give `title` in the project's [setup]");
  if (!std::regex_match(f->version, std::regex("[^\\\\/:*?\"<>|\\x01-\\x1f]{1,128}")))
    return fail(error, "the setup's version \"" + f->version + "\" is no winget version (no \\ / : * ? \" < > |)");
  if (f->description.empty()) f->description = f->name;
  // winget names no "x64 or ARM64": an x64 program runs on both.
  if (LoadedArchitecture == kArchitectureX64 || LoadedArchitecture == kArchitectureX64Compatible) f->architecture = "x64";
  else if (LoadedArchitecture == kArchitectureArm64) f->architecture = "arm64";
  std::vector<uint8_t> bytes;
  if (!read_file(path, &bytes, error)) return false;
  f->per_machine = asks_for_administrator(bytes.data(), std::min<size_t>(bytes.size(), setup_facts().stub_size));
  FileDigests digests;
  if (!digest_file(path, &digests, error)) return false;
  f->sha256 = digests.sha256;
  for (char& c : f->sha256) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return true;
}

bool web_address(const std::string& text) { return std::regex_match(text, std::regex("[Hh][Tt][Tt][Pp][Ss]?://.+")); }

}  // namespace

int run_winget(int argc, char** argv) {
  if (wants_help(argc, argv)) {
    fputs(kUsage, stdout);
    return kExitOk;
  }
  WingetFacts f;
  std::string setup, folder = ".";
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    std::string* value = nullptr;
    if (!strcmp(a, "--id")) value = &f.id;
    else if (!strcmp(a, "--url")) value = &f.url;
    else if (!strcmp(a, "-o") || !strcmp(a, "--output")) value = &folder;
    else if (!strcmp(a, "--license")) value = &f.license;
    else if (!strcmp(a, "--license-url")) value = &f.license_url;
    else if (!strcmp(a, "--description")) value = &f.description;
    else if (!strcmp(a, "--locale")) value = &f.locale;
    else if (a[0] == '-' && a[1]) return usage_error("winget", std::string("unknown option ") + a);
    else if (setup.empty()) setup = a;
    else return usage_error("winget", "takes one setup file");
    if (value) {
      if (i + 1 >= argc || !argv[i + 1][0]) return usage_error("winget", std::string(a) + " needs a value");
      *value = argv[++i];
    }
  }
  if (setup.empty()) return usage_error("winget", "needs SETUP");
  if (!std::regex_match(f.id, std::regex("[^.\\s\\\\/:*?\"<>|\\x01-\\x1f]{1,32}(\\.[^.\\s\\\\/:*?\"<>|\\x01-\\x1f]{1,32}){1,7}")))
    return usage_error("winget", "--id takes an identifier such as Publisher.Product (2 to 8 parts, no blanks)");
  if (!web_address(f.url)) return usage_error("winget", "--url takes the setup's http or https address");
  if (!f.license_url.empty() && !web_address(f.license_url))
    return usage_error("winget", "--license-url takes an http or https address");
  if (!std::regex_match(f.locale, std::regex("[A-Za-z]{2,8}(-[A-Za-z0-9]{1,8})*")))
    return usage_error("winget", "--locale takes a language tag such as en-US");
  std::string error;
  if (!open_setup(setup.c_str(), &error)) return fail("winget", error);
  bool read = read_facts(setup.c_str(), &f, &error);
  close_setup();
  if (!read) return fail("winget", error);
  if (!web_address(f.web_address)) f.web_address.clear();
  std::error_code made;
  fs::create_directories(folder, made);
  const std::pair<std::string, std::string> files[] = {
      {f.id + ".yaml", version_manifest(f)},
      {f.id + ".locale." + f.locale + ".yaml", locale_manifest(f)},
      {f.id + ".installer.yaml", installer_manifest(f)},
  };
  for (const auto& [name, text] : files) {
    std::string path = (fs::path(folder) / name).string();
    if (!write_file(path.c_str(), std::vector<uint8_t>(text.begin(), text.end()), &error)) return fail("winget", error);
    printf("%s\n", path.c_str());
  }
  return kExitOk;
}
