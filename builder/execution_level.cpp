#include "builder/execution_level.h"

#include <algorithm>
#include <cstring>

namespace {

const char kAdministrator[] = "level=\"requireAdministrator\"";
// Blanks between attributes are plain XML white space.
const char kInvoker[] = "level=\"asInvoker\"           ";
static_assert(sizeof kAdministrator == sizeof kInvoker, "the manifest keeps its length");

}  // namespace

bool find_administrator_level(const std::vector<uint8_t>& image, uint32_t* at) {
  const uint8_t* text = reinterpret_cast<const uint8_t*>(kAdministrator);
  const size_t length = sizeof kAdministrator - 1;
  auto found = std::search(image.begin(), image.end(), text, text + length);
  if (found == image.end() || std::search(found + 1, image.end(), text, text + length) != image.end()) return false;
  *at = static_cast<uint32_t>(found - image.begin());
  return true;
}

bool request_invoker_level(std::vector<uint8_t>* image) {
  uint32_t at = 0;
  if (!find_administrator_level(*image, &at)) return false;
  std::memcpy(image->data() + at, kInvoker, sizeof kAdministrator - 1);
  return true;
}

bool asks_for_administrator(const uint8_t* image, size_t size) {
  const uint8_t* text = reinterpret_cast<const uint8_t*>(kAdministrator);
  return std::search(image, image + size, text, text + sizeof kAdministrator - 1) != image + size;
}
