// What every kestrel command shares: the command tables, exit statuses,
// one-line failure messages and whole-file reading and writing.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct Command {
  const char* name;
  const char* usage;    // arguments after the name
  const char* summary;  // one line
  int (*run)(int argc, char** argv);  // argv[0] is the command's name
};

enum : int { kExitOk = 0, kExitFailed = 1, kExitUsage = 2 };

// "kestrel: WHAT: DETAIL" on stderr; answers kExitFailed.
int fail(const char* what, const std::string& detail);
// The same with a pointer to --help; answers kExitUsage.
int usage_error(const char* command, const std::string& detail);
// Stores `what` in *error and answers false: for routines that say why
// they failed.
bool fail(std::string* error, const std::string& what);
bool wants_help(int argc, char** argv);
void print_commands(const char* prefix, const Command* commands, size_t count);
const Command* find_command(const Command* commands, size_t count, const char* name);
// Runs one command of a group such as "stream encode", with --help.
int run_group(const char* group, const Command* commands, size_t count, int argc, char** argv);
// A setup type's number, "0".."5".
bool parse_setup_type(const char* text, int* type);
// "1".."12" or "max".
bool parse_level(const char* text, int* level);

// A file of share/kestrel beside the folder of this program (bin/).
std::string share_file(const char* name);

bool read_file(const char* path, std::vector<uint8_t>* bytes, std::string* error);
bool write_file(const char* path, const std::vector<uint8_t>& bytes, std::string* error);

// The commands, one file each.
int run_stream(int argc, char** argv);
int run_build(int argc, char** argv);
int run_list(int argc, char** argv);
int run_verify(int argc, char** argv);
int run_extract(int argc, char** argv);
int run_try(int argc, char** argv);
int run_preview(int argc, char** argv);
int run_winget(int argc, char** argv);
