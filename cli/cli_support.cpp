#include "cli/cli_support.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "builder/stream_encoder.h"

int fail(const char* what, const std::string& detail) {
  fprintf(stderr, "kestrel: %s: %s\n", what, detail.c_str());
  return kExitFailed;
}

bool fail(std::string* error, const std::string& what) {
  *error = what;
  return false;
}

int usage_error(const char* command, const std::string& detail) {
  fprintf(stderr, "kestrel: %s: %s (see kestrel %s --help)\n", command, detail.c_str(), command);
  return kExitUsage;
}

bool wants_help(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    if (!strcmp(argv[i], "--help") || !strcmp(argv[i], "-h")) return true;
  return false;
}

void print_commands(const char* prefix, const Command* commands, size_t count) {
  for (size_t i = 0; i < count; ++i)
    printf("  %s %s %s\n      %s\n", prefix, commands[i].name, commands[i].usage, commands[i].summary);
}

const Command* find_command(const Command* commands, size_t count, const char* name) {
  for (size_t i = 0; i < count; ++i)
    if (!strcmp(commands[i].name, name)) return &commands[i];
  return nullptr;
}

std::string share_file(const char* name) {
  std::error_code ec;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return (self.parent_path().parent_path() / "share" / "kestrel" / name).string();
}

bool read_file(const char* path, std::vector<uint8_t>* bytes, std::string* error) {
  FILE* f = fopen(path, "rb");
  if (!f) {
    *error = std::string(path) + ": " + strerror(errno);
    return false;
  }
  bytes->clear();
  uint8_t buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) bytes->insert(bytes->end(), buffer, buffer + n);
  bool ok = !ferror(f);
  if (!ok) *error = std::string(path) + ": read failed";
  fclose(f);
  return ok;
}

bool write_file(const char* path, const std::vector<uint8_t>& bytes, std::string* error) {
  FILE* f = fopen(path, "wb");
  if (!f) {
    *error = std::string(path) + ": " + strerror(errno);
    return false;
  }
  bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  ok = fclose(f) == 0 && ok;
  if (!ok) *error = std::string(path) + ": write failed";
  return ok;
}

bool parse_setup_type(const char* text, int* type) {
  char* end = nullptr;
  long v = strtol(text, &end, 10);
  if (end == text || *end || v < 0 || v > 5) return false;
  *type = static_cast<int>(v);
  return true;
}

bool parse_level(const char* text, int* level) {
  if (!strcmp(text, "max")) {
    *level = kStreamLevelMax;
    return true;
  }
  char* end = nullptr;
  long v = strtol(text, &end, 10);
  if (end == text || *end || v < kStreamLevelMin || v >= kStreamLevelMax) return false;
  *level = static_cast<int>(v);
  return true;
}

int run_group(const char* group, const Command* commands, size_t count, int argc, char** argv) {
  if (argc < 2) return usage_error(group, "needs a command");
  if (!strcmp(argv[1], "--help") || !strcmp(argv[1], "-h")) {
    printf("Usage:\n");
    print_commands((std::string("kestrel ") + group).c_str(), commands, count);
    return kExitOk;
  }
  const Command* command = find_command(commands, count, argv[1]);
  if (!command) return usage_error(group, std::string("unknown command ") + argv[1]);
  if (wants_help(argc - 1, argv + 1)) {
    printf("Usage: kestrel %s %s %s\n  %s\n", group, command->name, command->usage, command->summary);
    return kExitOk;
  }
  return command->run(argc - 1, argv + 1);
}

