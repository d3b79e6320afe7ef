#include "cli/registry_text.h"

#include <cstdio>
#include <cstring>

#include "cli/cli_support.h"
#include "cli/windows_text.h"

namespace {

constexpr char kHeader[] = "WINE REGISTRY Version 2";
// Binary data shown in full up to this many bytes.
constexpr size_t kShownBytes = 32;

struct Line {
  const uint8_t* p;
  const uint8_t* end;
  bool at(char c) const { return p < end && *p == static_cast<uint8_t>(c); }
  bool take(const char* text) {
    size_t n = strlen(text);
    if (static_cast<size_t>(end - p) < n || memcmp(p, text, n) != 0) return false;
    p += n;
    return true;
  }
};

int hex_digit(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// An escaped string up to the unescaped `close`, which it consumes; the
// escapes are those Wine writes: \\ \" \[ \] \a \b \e \f \n \r \t \v,
// \x with up to four hex digits and \ with up to three octal digits.
bool read_escaped(Line* line, char close, std::vector<uint16_t>* units) {
  units->clear();
  while (line->p < line->end) {
    uint8_t c = *line->p++;
    if (c == static_cast<uint8_t>(close)) return true;
    if (c != '\\') {
      units->push_back(c);
      continue;
    }
    if (line->p >= line->end) return false;
    c = *line->p++;
    switch (c) {
      case 'a': units->push_back('\a'); break;
      case 'b': units->push_back('\b'); break;
      case 'e': units->push_back(0x1B); break;
      case 'f': units->push_back('\f'); break;
      case 'n': units->push_back('\n'); break;
      case 'r': units->push_back('\r'); break;
      case 't': units->push_back('\t'); break;
      case 'v': units->push_back('\v'); break;
      case 'x': {
        if (line->p >= line->end || hex_digit(*line->p) < 0) {
          units->push_back('x');
          break;
        }
        uint32_t v = 0;
        for (int i = 0; i < 4 && line->p < line->end && hex_digit(*line->p) >= 0; ++i)
          v = v * 16 + static_cast<uint32_t>(hex_digit(*line->p++));
        units->push_back(static_cast<uint16_t>(v));
        break;
      }
      default:
        if (c >= '0' && c <= '7') {
          uint32_t v = c - '0';
          for (int i = 0; i < 2 && line->p < line->end && *line->p >= '0' && *line->p <= '7'; ++i)
            v = v * 8 + (*line->p++ - '0');
          units->push_back(static_cast<uint16_t>(v));
        } else {
          units->push_back(c);
        }
    }
  }
  return false;
}

bool read_hex_number(Line* line, uint32_t* value, size_t max_digits) {
  size_t digits = 0;
  uint32_t v = 0;
  while (line->p < line->end && hex_digit(*line->p) >= 0 && digits < max_digits) {
    v = v * 16 + static_cast<uint32_t>(hex_digit(*line->p++));
    ++digits;
  }
  *value = v;
  return digits > 0;
}

void put_units(const std::vector<uint16_t>& units, bool terminate, std::vector<uint8_t>* data) {
  data->clear();
  for (uint16_t u : units) {
    data->push_back(static_cast<uint8_t>(u));
    data->push_back(static_cast<uint8_t>(u >> 8));
  }
  if (terminate) data->insert(data->end(), 2, 0);
}

std::string line_error(size_t number, const char* what) { return "line " + std::to_string(number) + ": " + what; }

// The lines of the text, each without its line end.
std::vector<Line> split_lines(const uint8_t* data, size_t size) {
  std::vector<Line> lines;
  const uint8_t* p = data;
  const uint8_t* end = data + size;
  while (p < end) {
    const uint8_t* stop = static_cast<const uint8_t*>(memchr(p, '\n', static_cast<size_t>(end - p)));
    const uint8_t* line_end = stop ? stop : end;
    const uint8_t* content_end = line_end > p && line_end[-1] == '\r' ? line_end - 1 : line_end;
    lines.push_back(Line{p, content_end});
    p = stop ? stop + 1 : end;
  }
  return lines;
}

// hex:01,02,... or hex(N):..., continued over lines that end in a backslash.
bool read_hex_bytes(const std::vector<Line>& lines, size_t* index, Line* line, std::vector<uint8_t>* data) {
  data->clear();
  for (;;) {
    while (line->at(' ') || line->at('\t')) ++line->p;
    if (line->p >= line->end) return true;
    if (line->at('\\') && line->p + 1 == line->end) {
      if (++*index >= lines.size()) return false;
      *line = lines[*index];
      continue;
    }
    uint32_t byte = 0;
    const uint8_t* start = line->p;
    if (!read_hex_number(line, &byte, 2) || line->p - start != 2) return false;
    data->push_back(static_cast<uint8_t>(byte));
    if (line->at(','))
      ++line->p;
    else if (line->p < line->end && !line->at('\\'))
      return false;
  }
}

bool read_value(const std::vector<Line>& lines, size_t* index, const std::string& key, RegistryValue* value,
                std::string* why) {
  Line line = lines[*index];
  size_t number = *index + 1;
  std::vector<uint16_t> units;
  value->key = key;
  value->name.clear();
  if (line.take("@")) {
  } else if (line.take("\"")) {
    if (!read_escaped(&line, '"', &units))
      return fail(why, line_error(number, "a value name without its closing quote"));
    value->name = utf16_to_utf8(units.data(), units.size());
  }
  if (!line.take("=")) return fail(why, line_error(number, "a value without \"=\""));
  if (line.take("\"")) {
    if (!read_escaped(&line, '"', &units))
      return fail(why, line_error(number, "a string without its closing quote"));
    value->type = kRegSz;
    put_units(units, true, &value->data);
  } else if (line.take("str(")) {
    if (!read_hex_number(&line, &value->type, 8) || !line.take("):\"") || !read_escaped(&line, '"', &units))
      return fail(why, line_error(number, "a typed string that cannot be read"));
    put_units(units, true, &value->data);
  } else if (line.take("dword:")) {
    uint32_t v = 0;
    const uint8_t* start = line.p;
    if (!read_hex_number(&line, &v, 8) || line.p - start != 8)
      return fail(why, line_error(number, "a dword that is not 8 hex digits"));
    value->type = kRegDword;
    value->data = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
                   static_cast<uint8_t>(v >> 24)};
  } else if (line.take("hex")) {
    value->type = kRegBinary;
    bool typed = line.take("(");
    if (typed ? !read_hex_number(&line, &value->type, 8) || !line.take("):") : !line.take(":"))
      return fail(why, line_error(number, "a value type that cannot be read"));
    if (!read_hex_bytes(lines, index, &line, &value->data))
      return fail(why, line_error(number, "hex data that cannot be read"));
  } else {
    return fail(why, line_error(number, "a value of a kind Wine does not write"));
  }
  return true;
}

void append_escaped(std::string* out, const std::string& text) {
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out->push_back('\\');
      out->push_back(static_cast<char>(c));
    } else if (c < 0x20 || c == 0x7F) {
      char code[8];
      snprintf(code, sizeof code, "\\x%02X", c);
      *out += code;
    } else {
      out->push_back(static_cast<char>(c));
    }
  }
}

std::string quoted(const std::string& text) {
  std::string out = "\"";
  append_escaped(&out, text);
  return out + "\"";
}

}  // namespace

bool parse_registry_text(const uint8_t* data, size_t size, RegistryText* out, std::string* why) {
  out->keys.clear();
  out->values.clear();
  std::vector<Line> lines = split_lines(data, size);
  if (lines.empty() || !lines[0].take(kHeader)) return fail(why, "not a Wine registry file");
  std::string key;
  bool in_key = false;
  std::vector<uint16_t> units;
  for (size_t i = 1; i < lines.size(); ++i) {
    Line line = lines[i];
    if (line.take("[")) {
      if (!read_escaped(&line, ']', &units))
        return fail(why, line_error(i + 1, "a key name without its closing bracket"));
      key = utf16_to_utf8(units.data(), units.size());
      in_key = true;
      out->keys.push_back(key);
    } else if (line.at('@') || line.at('"')) {
      if (!in_key) return fail(why, line_error(i + 1, "a value before the first key"));
      RegistryValue value;
      if (!read_value(lines, &i, key, &value, why)) return false;
      out->values.push_back(std::move(value));
    }
    // Empty lines, comments (;), attributes (#time, #class, #link...) and
    // whatever a later Wine adds are not values.
  }
  return true;
}

bool registry_string(const RegistryValue& value, std::string* text, bool* terminated) {
  if (value.type != kRegSz && value.type != kRegExpandSz) return false;
  size_t n = value.data.size() & ~static_cast<size_t>(1);
  bool ends_in_zero = n >= 2 && value.data[n - 1] == 0 && value.data[n - 2] == 0;
  if (ends_in_zero) n -= 2;
  if (terminated) *terminated = ends_in_zero;
  *text = utf16le_bytes_to_utf8(value.data.data(), n);
  return true;
}

std::string describe_registry_value(const RegistryValue& value) {
  std::string text;
  bool terminated = false;
  // Whether a setup wrote a text with or without its terminator shows
  // where the registry kept the difference (an empty text, for one).
  if (registry_string(value, &text, &terminated))
    return (value.type == kRegExpandSz ? "expandable " : "") + quoted(text) + (terminated ? "" : " (no terminator)");
  if (value.type == kRegDword && value.data.size() == 4) {
    uint32_t v = value.data[0] | value.data[1] << 8 | value.data[2] << 16 | static_cast<uint32_t>(value.data[3]) << 24;
    char out[40];
    snprintf(out, sizeof out, "dword 0x%08x (%u)", v, v);
    return out;
  }
  if (value.type == kRegMultiSz) {
    std::string out = "multi-string";
    size_t start = 0, n = value.data.size() & ~static_cast<size_t>(1);
    for (size_t i = 0; i + 1 < n; i += 2) {
      if (value.data[i] || value.data[i + 1]) continue;
      if (i > start) out += " " + quoted(utf16le_bytes_to_utf8(value.data.data() + start, i - start));
      start = i + 2;
    }
    if (start < n) out += " " + quoted(utf16le_bytes_to_utf8(value.data.data() + start, n - start));
    return out;
  }
  std::string out = value.type == kRegBinary ? "hex" : "hex(" + std::to_string(value.type) + ")";
  for (size_t i = 0; i < value.data.size() && i < kShownBytes; ++i) {
    char byte[4];
    snprintf(byte, sizeof byte, " %02x", value.data[i]);
    out += byte;
  }
  if (value.data.size() > kShownBytes) out += " ... (" + std::to_string(value.data.size()) + " bytes)";
  return out;
}
