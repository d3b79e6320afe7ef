// kestrel: the host tool. Commands are looked up in tables of names, so a
// new command is one routine and one table row.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "archive/decompressor.h"
#include "archive/platform.h"
#include "builder/stream_encoder.h"

namespace {

struct Command {
  const char* name;
  const char* usage;    // arguments after the name
  const char* summary;  // one line
  int (*run)(int argc, char** argv);  // argv[0] is the command's name
};

enum : int { kExitOk = 0, kExitFailed = 1, kExitUsage = 2 };

int fail(const char* what, const std::string& detail) {
  fprintf(stderr, "kestrel: %s: %s\n", what, detail.c_str());
  return kExitFailed;
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

// "1".."12" or "max".
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

int stream_encode(int argc, char** argv) {
  int level = kStreamLevelDefault;
  std::vector<const char*> paths;
  for (int i = 1; i < argc; ++i) {
    if (!strcmp(argv[i], "--level")) {
      if (i + 1 >= argc || !parse_level(argv[i + 1], &level))
        return usage_error("stream encode", "--level takes 1 to 12 or max");
      ++i;
    } else if (argv[i][0] == '-' && argv[i][1]) {
      return usage_error("stream encode", std::string("unknown option ") + argv[i]);
    } else {
      paths.push_back(argv[i]);
    }
  }
  if (paths.size() != 2) return usage_error("stream encode", "needs IN and OUT");
  std::vector<uint8_t> input, output;
  std::string error;
  if (!read_file(paths[0], &input, &error)) return fail("stream encode", error);
  int r = encode_stream(input.data(), input.size(), level, &output);
  if (r != kEncodeOk)
    return fail("stream encode", r == kEncodeNoMemory ? "out of memory" : "the compressor produced an invalid stream");
  if (!write_file(paths[1], output, &error)) return fail("stream encode", error);
  return kExitOk;
}

int stream_decode(int argc, char** argv) {
  if (argc != 3) return usage_error("stream decode", "needs IN and OUT");
  FileHandle input = open_file(argv[1], 0);
  if (input == INVALID_FILE_HANDLE) return fail("stream decode", std::string(argv[1]) + ": " + strerror(errno));
  FileHandle output = create_file(argv[2]);
  if (output == INVALID_FILE_HANDLE) {
    int e = errno;
    close_file(input);
    return fail("stream decode", std::string(argv[2]) + ": " + strerror(e));
  }
  bool ok = decode_to_file(output, input, 0);
  close_file(input);
  close_file(output);
  if (!ok) {
    // A half-decoded file is of no use to anyone.
    remove(argv[2]);
    return fail("stream decode", std::string(argv[1]) + ": not a valid compressed stream");
  }
  return kExitOk;
}

const Command kStreamCommands[] = {
    {"encode", "[--level N|--level max] IN OUT",
     "compress IN into one stream (levels 1-12, default 12; max also tries zopfli)", stream_encode},
    {"decode", "IN OUT", "decode the stream at the start of IN", stream_decode},
};
const size_t kStreamCommandCount = sizeof kStreamCommands / sizeof kStreamCommands[0];

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

int stream_group(int argc, char** argv) { return run_group("stream", kStreamCommands, kStreamCommandCount, argc, argv); }

const Command kCommands[] = {
    {"stream", "encode|decode ...", "compress or decode one stream of the archive's format", stream_group},
};
const size_t kCommandCount = sizeof kCommands / sizeof kCommands[0];

void print_usage() {
  printf("Usage: kestrel COMMAND ...\n\nCommands:\n");
  print_commands("kestrel", kCommands, kCommandCount);
  printf("\nkestrel COMMAND --help tells more.\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "kestrel: needs a command (see kestrel --help)\n");
    return kExitUsage;
  }
  if (!strcmp(argv[1], "--help") || !strcmp(argv[1], "-h")) {
    print_usage();
    return kExitOk;
  }
  const Command* command = find_command(kCommands, kCommandCount, argv[1]);
  if (!command) {
    fprintf(stderr, "kestrel: unknown command %s (see kestrel --help)\n", argv[1]);
    return kExitUsage;
  }
  return command->run(argc - 1, argv + 1);
}
