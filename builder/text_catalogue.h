// The default texts of a setup type in one language: every list and number
// that the wizard and the installation show, and the uninstaller's texts,
// made from that language's translation file (builder/translations/). A
// project overrides any of them. Texts are UTF-8 here; the build converts
// them to the language's code page.
#pragma once
#include <array>
#include <string>
#include <vector>

#include "archive/format.h"
#include "builder/translations.h"

using TextLists = std::array<std::vector<std::string>, kTextListCount>;

// The texts a setup may carry in each list: the wizard reads text L/N for
// N below kListSizes[L]. A setup of one language carries the first
// kClassicListSizes[L] of them unless its project gives a later one; the
// later ones (2/8, 2/9, 6/44 on) replace words of the dialog templates
// and the program's own, which stand where a setup does not carry them.
extern const size_t kListSizes[kTextListCount];
extern const size_t kClassicListSizes[kTextListCount];

// The lists of a translation in the range of kListSizes. Texts that speak
// of the product call it `product` (the setup's title); without one they
// take the words of their ".unnamed" key. 6/43 is the variant for the
// setup's architecture. 1/1 (the licence) and 5/8 (always ask for a
// restart) are empty.
TextLists translated_texts(const Translation& translation, const std::string& product, uint32_t architecture);
// The English lists in the classic range (6/43 for any 64-bit Windows);
// empty when en.txt cannot be read, which read_project reports first.
TextLists default_texts(const std::string& product = "");
// List 6 from this text on speaks only of removing the other setup types'
// installations: a setup that does not do that carries none of it.
enum : size_t { kFirstRemovalText = 36 };
// 6/43 says that this Windows cannot take the setup's 64-bit mode: only a
// setup in that mode carries it (texts 36 to 42 then empty where it does
// not remove the other types' installations).
enum : size_t { kPlatformText = 43 };
// 6/53 asks for whom to install, 6/54 says that the setup installs for all
// users only: only a setup with privileges = "choice" carries them.
enum : size_t { kScopeText = 53, kScopeTextEnd = 55 };
// The texts of a setup with a product_id (6/55 to 6/58): the downgrade's
// question and notice, the question of the programs that hold the
// folder's files and the notice of those that did not close. Only such a
// setup carries them.
enum : size_t { kUpgradeText = 55, kUpgradeTextEnd = 59 };
// 6/59 asks before a run that was ended by force is taken back. The
// program has it in English: a setup of English alone carries it only
// when its project gives it.
enum : size_t { kInterruptedText = 59 };

// The uninstaller's texts of a translation, u/0 to u/11: the first
// kUninstallerTextCount are the ones a project may give.
std::vector<std::string> uninstaller_texts(const Translation& translation);

// The texts that carry a "%s" or "%d" the program fills (those of
// en.txt): a replacement must keep them, or a message would lose its file
// name or read past its arguments.
struct TextFormat {
  int list;
  int index;
  std::string directive;  // "%s" or "%d"
};
const std::vector<TextFormat>& formatted_texts();
