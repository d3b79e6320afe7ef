// The default English texts of a setup type: every list and number that
// the wizard and the installation show. A project overrides any of them.
// Texts are UTF-8 here; the build converts them to the archive's code page.
#pragma once
#include <array>
#include <string>
#include <vector>

#include "archive/format.h"

using TextLists = std::array<std::vector<std::string>, kTextListCount>;

// The catalogue. "%s" and "%d" stand where the program fills them in.
// Text 1/1 (the licence) and 5/8 (always ask for a restart) are empty.
// Texts that speak of the product call it `product` (the setup's title);
// without one they say "the product". A list holds every text the program
// may read from it, so its size is the list's range of text numbers.
TextLists default_texts(const std::string& product = "");
// List 6 from this text on speaks only of removing the other setup types'
// installations: a setup that does not do that carries none of it.
enum : size_t { kFirstRemovalText = 36 };
// 6/43 says that this Windows cannot take the setup's 64-bit mode: only a
// setup in that mode carries it (texts 36 to 42 then empty where it does
// not remove the other types' installations).
enum : size_t { kPlatformText = 43 };
// 6/44 asks for whom to install, 6/45 says that the setup installs for all
// users only: only a setup with privileges = "choice" carries them.
enum : size_t { kScopeText = 44, kScopeTextEnd = 46 };
// The default of 6/43 for an architecture (kArchitecture..., archive/format.h).
std::string platform_text(const std::string& product, uint32_t architecture);

// The texts that carry a "%s" or "%d" the program fills: a replacement
// must keep them, or a message would lose its file name or read past its
// arguments.
struct TextFormat {
  int list;
  int index;
  const char* directive;  // "%s" or "%d"
};
const std::vector<TextFormat>& formatted_texts();
