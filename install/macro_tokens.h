// Which texts between two '#' are PathMacro tokens, and the start-menu
// location words. The setup replaces them; the build uses the same rules
// to refuse a token that the setup would drop without a word.
#pragma once
#include <cstddef>

enum MacroName : int {
  kMacroWindows,
  kMacroSystem,
  kMacroProgramFiles,
  kMacroInstallDir,
  kMacroSourceDir,
  kMacroDate,
  kMacroCount
};

// "#Windows#", "#System#", ... in the order of MacroName.
extern const char* const kMacroNames[kMacroCount];

// The next token at or after `text`: its first '#', with *length counting
// up to and including the next '#'. Null when fewer than two '#' remain:
// an unpaired '#' is plain text.
const char* next_macro_token(const char* text, size_t* length);

// The macro a token names, ignoring letter case (the whole token, both '#'
// included); -1 for none.
int macro_of_token(const char* token, size_t length);

// Start-menu locations that are no folder under Programs: a whole location
// equal to one of these, ignoring letter case, names that folder itself.
enum LocationWord : int { kLocationStartMenu, kLocationStartup, kLocationWordCount };
extern const char* const kLocationWords[kLocationWordCount];
