#include "builder/machine_check.h"

#include <strings.h>

#include "archive/pe_header.h"

namespace {

const char* machine_name(Machine m) {
  switch (m) {
    case Machine::kSixteenBit: return "a 16-bit";
    case Machine::kX86: return "an x86";
    case Machine::kX64: return "an x64";
    case Machine::kArm64: return "an ARM64";
    default: return "another processor's";
  }
}

// Whether the item lands in the System folder: a shared system file, or
// an item of a type whose folder is the System folder.
bool in_system_folder(const ProjectType& type, const ProjectItem& item) {
  if (item.folder_code == kFolderShared) return true;
  const std::string& folder = type.record.default_folder ? *type.record.default_folder : std::string();
  return item.folder_code == kFolderInstallDir && strncasecmp(folder.c_str(), "#System#", 8) == 0;
}

}  // namespace

Machine file_machine(const std::vector<uint8_t>& content) {
  if (content.size() < 64 || content[0] != 'M' || content[1] != 'Z') return Machine::kNone;
  uint32_t at = get_u32(content.data() + 60);
  if (at <= content.size() - 2 && content[at] == 'N' && content[at + 1] == 'E') return Machine::kSixteenBit;
  PeHeader header;
  if (!read_pe_header(content.data(), content.size(), &header)) return Machine::kNone;
  switch (header.machine) {
    case 0x014C: return Machine::kX86;
    case 0x8664: return Machine::kX64;
    case 0xAA64: return Machine::kArm64;
    default: return Machine::kOther;
  }
}

std::string machine_problem(uint32_t architecture, const ProjectType& type, const ProjectItem& item,
                            const std::vector<uint8_t>& content, std::vector<std::string>* warnings) {
  Machine m = file_machine(content);
  if (m == Machine::kNone) return "";
  std::string what = item.source + " is " + machine_name(m) + (item.registration == kRegisterLibrary ? " library" : " program");
  bool registered = item.registration == kRegisterLibrary;
  if (architecture == kArchitectureX86) {
    if (m == Machine::kX64 || m == Machine::kArm64)
      warnings->push_back(item.where + ": " + what + ", which an x86 setup installs into the 32-bit folders and "
                          "registry view (setup.architecture chooses the 64-bit ones)");
    return "";
  }
  // The setup and its uninstaller are 32-bit programs: a library's
  // self-registration runs inside them, and reads the System folder that
  // Windows shows a 32-bit program, not the native one it is placed in.
  if (registered && m != Machine::kX86)
    return what + " marked for self-registration: the setup is a 32-bit program and can call the "
                  "self-registration of x86 libraries only";
  if (registered && in_system_folder(type, item))
    return what + " marked for self-registration into the System folder, which in the 64-bit mode is the "
                  "native one, where 32-bit programs do not look for it";
  if (m == Machine::kSixteenBit)
    return what + ": 64-bit Windows runs no 16-bit programs";
  // An x64 setup runs on x64 Windows only; x64compatible also on ARM64
  // Windows, where x64 programs run under its emulation: an ARM64
  // program would run on neither x64 machine.
  if (m == Machine::kArm64 && architecture != kArchitectureArm64)
    return what + ", which an x64 machine cannot run (setup.architecture = \"" +
           (architecture == kArchitectureX64 ? "x64" : "x64compatible") + "\")";
  if (m == Machine::kX64 && architecture == kArchitectureArm64)
    warnings->push_back(item.where + ": " + what + ", which ARM64 Windows runs only under its emulation "
                        "(Windows 11 and later)");
  return "";
}
