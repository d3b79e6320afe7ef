#include "builder/text_catalogue.h"

const size_t kListSizes[kTextListCount] = {5, 5, 10, 5, 7, 9, 60, 7, 0, 5, 0};
const size_t kClassicListSizes[kTextListCount] = {5, 5, 8, 5, 7, 9, 44, 7, 0, 5, 0};

namespace {

const char kProduct[] = "{product}";

// `text` for a text the program formats: a '%' of its own is written "%%".
std::string escape_percent(const std::string& text) {
  std::string out;
  for (char c : text) out += c == '%' ? "%%" : std::string(1, c);
  return out;
}

const Translation* english() {
  std::string ignored;
  return shipped_translation("en", &ignored);
}

// Text `key` for a setup titled `product`: the title in the place of
// {product}, as the program shows it (escaped in a text it formats).
std::string product_text(const Translation& t, const std::string& key, const std::string& product) {
  auto unnamed = t.texts.find(key + ".unnamed");
  if (product.empty() && unnamed != t.texts.end()) return unnamed->second;
  auto it = t.texts.find(key);
  if (it == t.texts.end()) return "";
  std::string text = it->second;
  std::string name = text_directives(text).empty() ? product : escape_percent(product);
  for (size_t p = text.find(kProduct); p != std::string::npos; p = text.find(kProduct, p + name.size()))
    text.replace(p, sizeof kProduct - 1, name);
  return text;
}

}  // namespace

TextLists translated_texts(const Translation& translation, const std::string& product, uint32_t architecture) {
  TextLists lists;
  for (int l = 0; l < kTextListCount; ++l)
    for (size_t i = 0; i < kListSizes[l]; ++i) {
      std::string key = std::to_string(l) + "/" + std::to_string(i);
      if (l == 6 && i == kPlatformText)
        key += architecture == kArchitectureX64 ? ".x64" : architecture == kArchitectureArm64 ? ".arm64" : "";
      lists[l].push_back(product_text(translation, key, product));
    }
  return lists;
}

TextLists default_texts(const std::string& product) {
  const Translation* en = english();
  if (!en) return TextLists{};
  TextLists lists = translated_texts(*en, product, kArchitectureX64Compatible);
  for (int l = 0; l < kTextListCount; ++l) lists[l].resize(kClassicListSizes[l]);
  return lists;
}

std::vector<std::string> uninstaller_texts(const Translation& translation) {
  std::vector<std::string> texts;
  for (int i = 0; i < kUninstallerAllTextCount; ++i) {
    auto it = translation.texts.find("u/" + std::to_string(i));
    texts.push_back(it == translation.texts.end() ? "" : it->second);
  }
  return texts;
}

const std::vector<TextFormat>& formatted_texts() {
  static const std::vector<TextFormat> formats = [] {
    std::vector<TextFormat> found;
    if (const Translation* en = english())
      for (int l = 0; l < kTextListCount; ++l)
        for (size_t i = 0; i < kListSizes[l]; ++i) {
          auto it = en->texts.find(std::to_string(l) + "/" + std::to_string(i));
          if (it != en->texts.end() && !text_directives(it->second).empty())
            found.push_back({l, static_cast<int>(i), text_directives(it->second)});
        }
    return found;
  }();
  return formats;
}
