// kestrel stream encode|decode: one stream of the archive's compressed format.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "archive/decompressor.h"
#include "base/platform.h"
#include "builder/stream_encoder.h"
#include "cli/cli_support.h"

namespace {

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


}  // namespace

int run_stream(int argc, char** argv) { return run_group("stream", kStreamCommands, kStreamCommandCount, argc, argv); }
