#include "base/command_line.h"

#include <cstring>

#include "base/path_strings.h"

SetupSwitches Switches;

namespace {

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
bool is_letter(char c) { return (upper(c) >= 'A' && upper(c) <= 'Z'); }
bool ends_switch(char c) { return c == '\0' || c == ' ' || c == '-' || c == '/'; }

// The n letters at p are `word` (upper case), in any case.
bool is_word(const char* p, size_t n, const char* word) {
  size_t i = 0;
  for (; i < n && word[i]; ++i)
    if (upper(p[i]) != word[i]) return false;
  return i == n && word[i] == '\0';
}

// The switches that are words: eight alone, then four with a value.
const char kWords[] =
    "SILENT\0VERYSILENT\0NORESTART\0ALLUSERS\0CURRENTUSER\0ALLOWDOWNGRADE\0CLOSEAPPLICATIONS\0"
    "RESTARTAPPLICATIONS\0DIR\0TYPE\0LOG\0LANG\0";
enum {
  kSilentWord,
  kVerySilentWord,
  kNoRestartWord,
  kAllUsersWord,
  kCurrentUserWord,
  kAllowDowngradeWord,
  kCloseApplicationsWord,
  kRestartApplicationsWord,
  kDirWord,
  kTypeWord,
  kLogWord,
  kLangWord,
  kNoWord
};
enum { kFirstSettingWord = kDirWord };

// Which of kWords the n letters at p are, in any case; kNoWord for none.
int word_at(const char* p, size_t n) {
  int index = 0;
  for (const char* word = kWords; *word && !is_word(p, n, word); word += std::strlen(word) + 1) ++index;
  return index;
}

// Reads a quoted or blank-ended value into out, at most capacity - 1
// characters kept (the rest is read past); returns the position behind
// it. *whole says whether it fitted.
const char* read_value(const char* p, char* out, size_t capacity, bool* whole) {
  size_t n = 0;
  *whole = true;
  char end = ' ';
  if (*p == '"') end = *p++;
  for (; *p && *p != end; ++p) {
    if (n < capacity - 1) out[n++] = *p;
    else *whole = false;
  }
  if (end == '"' && *p) ++p;  // the closing quote
  out[n] = '\0';
  return p;
}

// Remembers the switch from `start` to `end` as the first one that cannot
// be used.
void refuse(const char* start, const char* end) {
  if (Switches.bad[0]) return;
  size_t n = static_cast<size_t>(end - start) + 1;
  copy_string(Switches.bad, start, n < sizeof Switches.bad ? n : sizeof Switches.bad);
}

// The value of /DIR=, /LOG=, /LANG= or /TYPE=; `p` stands behind the '='.
const char* read_setting(const char* start, int word, const char* p) {
  bool whole = true;
  if (word != kTypeWord) {
    char* value = word == kDirWord ? Switches.dir : word == kLogWord ? Switches.log : Switches.lang;
    p = read_value(p, value, word == kLangWord ? sizeof Switches.lang : size_t{kPathSize}, &whole);
    // A cut path would name another place.
    whole = whole && value[0];
  } else {  // a setup type number, 0 to 5 as `kestrel list` numbers them
    char digits[8];
    p = read_value(p, digits, sizeof digits, &whole);
    whole = whole && digits[0] >= '0' && digits[0] <= '9' && digits[1] == '\0';
    Switches.has_type = whole;
    Switches.setup_type = digits[0] - '0';
  }
  if (!whole) refuse(start, p);
  return p;
}

}  // namespace

void parse_command_line(const char* text) {
  if (!text) return;
  const char* p = text;
  while (*p == ' ') ++p;
  while (*p == '-' || *p == '/') {
    const char* start = p++;
    size_t n = 0;
    while (is_letter(p[n])) ++n;
    int word = word_at(p, n);
    // A word alone followed by anything but the end of the switch is none.
    if (word < kFirstSettingWord && !ends_switch(p[n])) word = kNoWord;
    if (word == kSilentWord) {
      if (Switches.mode == RunMode::kWizard) Switches.mode = RunMode::kSilent;
      p += n;
    } else if (word == kVerySilentWord) {
      Switches.mode = RunMode::kVerySilent;
      p += n;
    } else if (word == kNoRestartWord) {
      Switches.no_restart = true;
      p += n;
    } else if (word == kAllUsersWord || word == kCurrentUserWord) {
      Switches.scope = word == kAllUsersWord ? SetupScope::kAllUsers : SetupScope::kCurrentUser;
      p += n;
    } else if (word >= kAllowDowngradeWord && word <= kRestartApplicationsWord) {
      (word == kAllowDowngradeWord     ? Switches.allow_downgrade
       : word == kCloseApplicationsWord ? Switches.close_applications
                                        : Switches.restart_applications) = true;
      p += n;
    } else if (word != kNoWord) {
      // Without its value the switch would be passed over unnoticed.
      if (p[n] == '=') p = read_setting(start, word, p + n + 1);
      else refuse(start, p += n);
    } else {
      char letter = upper(*p);
      if (*p) ++p;
      if (letter == 'D' && upper(p[0]) == 'E' && upper(p[1]) == 'L') IsRelaunchCopy = true;
      if (letter == 'S') {
        while (*p == ' ') ++p;
        bool whole;
        p = read_value(p, SourcePath, kPathSize, &whole);
      }
    }
    while (*p && *p != ' ' && *p != '-' && *p != '/') ++p;
    while (*p == ' ') ++p;
  }
}
