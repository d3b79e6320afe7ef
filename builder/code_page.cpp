#include "builder/code_page.h"

#include <errno.h>
#include <iconv.h>

#include <cstdio>

bool to_code_page(const std::string& text, unsigned code_page, std::string* out, std::string* why) {
  std::string name = "CP" + std::to_string(code_page);
  iconv_t cd = iconv_open(name.c_str(), "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    *why = "code page " + std::to_string(code_page) + " is not known";
    return false;
  }
  out->assign(text.size() * 2 + 4, '\0');  // a double-byte page needs at most twice
  char* in = const_cast<char*>(text.data());
  size_t in_left = text.size();
  char* o = &(*out)[0];
  size_t out_left = out->size();
  size_t r = iconv(cd, &in, &in_left, &o, &out_left);
  int err = errno;
  iconv_close(cd);
  if (r == static_cast<size_t>(-1)) {
    size_t at = text.size() - in_left;
    size_t end = at + 1;
    while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) ++end;
    *why = err == EILSEQ ? "\"" + text.substr(at, end - at) + "\" (at byte " + std::to_string(at) +
                               ") cannot be written in code page " + std::to_string(code_page)
                         : "is not valid UTF-8";
    return false;
  }
  // iconv may pass a character without an exact match as its best
  // substitute; refuse what does not come back the same.
  out->resize(out->size() - out_left);
  iconv_t back = iconv_open("UTF-8", name.c_str());
  std::string again(out->size() * 4 + 4, '\0');
  char* bi = &(*out)[0];
  size_t bl = out->size();
  char* bo = &again[0];
  size_t bol = again.size();
  size_t rb = iconv(back, &bi, &bl, &bo, &bol);
  iconv_close(back);
  again.resize(again.size() - bol);
  if (rb == static_cast<size_t>(-1) || again != text) {
    *why = "holds a character that code page " + std::to_string(code_page) + " cannot hold";
    return false;
  }
  return true;
}

bool to_setup_text(const std::string& text, unsigned code_page, std::string* out, std::string* why) {
  if (!to_code_page(text, code_page, out, why)) return false;
  if (out->find('\0') == std::string::npos) return true;
  *why = "holds a NUL character";
  return false;
}

bool from_code_page(const std::string& text, unsigned code_page, std::string* out) {
  out->clear();
  iconv_t cd = iconv_open("UTF-8", ("CP" + std::to_string(code_page)).c_str());
  bool whole = true;
  char* in = const_cast<char*>(text.data());
  size_t in_left = text.size();
  while (in_left > 0) {
    char buffer[256];
    char* o = buffer;
    size_t out_left = sizeof buffer;
    bool known = cd != reinterpret_cast<iconv_t>(-1);
    size_t r = known ? iconv(cd, &in, &in_left, &o, &out_left) : static_cast<size_t>(-1);
    int err = known ? errno : EILSEQ;
    out->append(buffer, static_cast<size_t>(o - buffer));
    if (r != static_cast<size_t>(-1) || err == E2BIG) continue;
    // Not a character of the page (or a lead byte cut off): shown as it is.
    char code[8];
    std::snprintf(code, sizeof code, "\\x%02X", static_cast<unsigned char>(*in));
    *out += code;
    ++in;
    --in_left;
    whole = false;
  }
  if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
  return whole;
}
