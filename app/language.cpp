#include "app/language.h"

#include <windows.h>

#include "app/unattended.h"
#include "archive/format.h"
#include "archive/languages.h"
#include "base/command_line.h"
#include "base/path_strings.h"
#include "base/system_libraries.h"

namespace {

bool can_show(const uint8_t* entry) {
  return get_u16(entry + kLanguageCodePage) == GetACP() || (entry[kLanguageFlags] & kLanguagePlainAscii);
}

// The first language that can be shown whose LANGID matches `user` in the
// bits of `mask`; -1 for none.
int matching(LANGID user, unsigned mask) {
  for (int i = 0; i < language_count(); ++i)
    if (((get_u16(language_entry(i) + kLanguageId) ^ user) & mask) == 0 && can_show(language_entry(i))) return i;
  return -1;
}

}  // namespace

int choose_language() {
  int count = language_count();
  // A setup of one language has no other to give: the switch is not passed over unnoticed.
  if (count == 0) return Switches.lang[0] ? refuse_command_line(kTextNoSuchLanguage, Switches.lang) : 0;
  // Windows 2000 and later tell the UI language; earlier ones the user's.
  typedef LANGID(WINAPI * UiLanguage)();
  FARPROC ui = loaded_library_call("kernel32.dll", "GetUserDefaultUILanguage");
  LANGID user = ui ? as_call<UiLanguage>(ui)() : GetUserDefaultLangID();
  int chosen = matching(user, 0xFFFF);
  if (chosen < 0) chosen = matching(user, 0x3FF);  // the same primary language
  if (chosen < 0) chosen = 0;
  if (Switches.lang[0]) {
    int asked = -1;
    for (int i = 0; i < count; ++i)
      if (lstrcmpiA(reinterpret_cast<const char*>(language_entry(i) + kLanguageCode), Switches.lang) == 0) asked = i;
    int refusal = asked < 0 ? kTextNoSuchLanguage : can_show(language_entry(asked)) ? 0 : kTextLanguageNotShown;
    // Refused in the language the user would have had.
    if (refusal) {
      use_language(chosen);
      return refuse_command_line(refusal, Switches.lang);
    }
    chosen = asked;
  }
  use_language(chosen);
  // A name in letters this system's code page lacks would be written
  // under another name: refused before anything is installed.
  UINT names = get_u32(LanguageBlock + kLanguagesNamesCodePage);
  if (names != 0 && names != GetACP()) {
    char number[8];
    format_decimal(number, sizeof number, names, 1);
    return refuse_start(kExitNamesUnwritable, kTextNamesUnwritable, number, TextArgument::kNumber);
  }
  return 0;
}
