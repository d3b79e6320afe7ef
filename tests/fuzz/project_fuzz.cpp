// The project-file reader on any text, in a folder that holds the files
// the example and scenario projects name. Rules: it answers, never throws;
// a refusal is one line naming the file and line; an accepted project has
// one to six setup types and every item it reads from a file has that file.
#include <unistd.h>

#include <filesystem>
#include <string>

#include "builder/project_reader.h"
#include "tests/fuzz/fuzz_support.h"

namespace fs = std::filesystem;

namespace {

// The project's folder: the files of the example and of the scenarios, by
// the names their projects use.
std::string project_folder() {
  std::string folder = scratch_path("project");
  fresh_folder(folder + "/bin");
  std::string demo = KESTREL_SOURCE_DIR "/examples/demo";
  for (const char* name : {"art", "docs", "LICENSE.txt"}) fs::create_symlink(demo + "/" + name, folder + "/" + name);
  fs::create_symlink(KESTREL_SOURCE_DIR "/tests/scenarios/projects/payload", folder + "/payload");
  fs::create_symlink(demo + "/docs/guide.txt", folder + "/bin/Viewer.exe");
  return folder;
}

void check_item(const ProjectItem& item) {
  FUZZ_RULE(!item.name.empty() && item.name.find('/') == std::string::npos);
  if (item.kind == kKindFolder) {
    FUZZ_RULE(item.source.empty() && item.name.back() == '\\');
  } else if (item.kind != kKindInSource && !item.from_source) {
    FUZZ_RULE(fs::is_regular_file(item.source));
  }
  if (!item.patch_base.empty()) FUZZ_RULE(fs::is_regular_file(item.patch_base));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = project_folder() + "/project.toml";
  write_input(path, data, size);
  Project project;
  std::string error;
  if (!read_project(path, &project, &error)) {
    FUZZ_RULE(error.compare(0, path.size() + 1, path + ":") == 0);
    FUZZ_RULE(error.find('\n') == std::string::npos);
    return 0;
  }
  FUZZ_RULE(error.empty() && project.path == path);
  FUZZ_RULE(!project.types.empty() && project.types.size() <= kMaxSetupTypes);
  if (project.start_page) FUZZ_RULE(project.start_page->setup_type < project.types.size());
  for (const ProjectType& type : project.types)
    for (const ProjectItem& item : type.items) check_item(item);
  return 0;
}
