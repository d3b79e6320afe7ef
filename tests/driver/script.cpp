#include "tests/driver/script.h"

#include <cctype>
#include <cstring>

namespace {

struct Token {
  std::string value;  // quotes removed, variables expanded
  std::string raw;    // as written, variables expanded, quotes kept
  bool tilde = false; // written ~TEXT or ~"TEXT"
};

bool fail(ScriptError& error, int line, const std::string& message) {
  error.line = line;
  error.message = message;
  return false;
}

// Splits a line into blank-separated tokens. A double-quoted section may hold
// blanks; "" inside it is one quote. ${NAME} is replaced anywhere, quoted or not.
bool tokenize(const std::string& line, int number, const VariableLookup& lookup, std::vector<Token>& tokens,
              ScriptError& error) {
  size_t i = 0;
  const size_t n = line.size();
  while (true) {
    while (i < n && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i >= n) return true;
    Token token;
    if (line[i] == '~') {
      token.tilde = true;
      token.raw += '~';
      ++i;
    }
    bool quoted = false;
    while (i < n && (quoted || (line[i] != ' ' && line[i] != '\t'))) {
      char c = line[i];
      if (c == '"') {
        if (quoted && i + 1 < n && line[i + 1] == '"') {
          token.value += '"';
          token.raw += "\"\"";
          i += 2;
          continue;
        }
        quoted = !quoted;
        token.raw += c;
        ++i;
        continue;
      }
      if (c == '$' && i + 1 < n && line[i + 1] == '{') {
        size_t close = line.find('}', i + 2);
        if (close == std::string::npos) return fail(error, number, "unterminated ${ in \"" + line + "\"");
        std::string name = line.substr(i + 2, close - i - 2);
        std::string value;
        if (name.empty() || !lookup || !lookup(name, value))
          return fail(error, number, "variable ${" + name + "} is not set");
        token.value += value;
        token.raw += value;
        i = close + 1;
        continue;
      }
      token.value += c;
      token.raw += c;
      ++i;
    }
    if (quoted) return fail(error, number, "unterminated quote");
    tokens.push_back(token);
  }
}

bool parse_int(const std::string& text, int64_t low, int64_t high, int64_t& out) {
  if (text.empty() || text.size() > 20) return false;
  size_t i = 0;
  bool negative = false;
  if (text[0] == '-') {
    negative = true;
    i = 1;
    if (text.size() == 1) return false;
  }
  int64_t value = 0;
  for (; i < text.size(); ++i) {
    if (!isdigit(static_cast<unsigned char>(text[i]))) return false;
    value = value * 10 + (text[i] - '0');
    if (value > high + 1 && value > -low + 1) return false;  // beyond either bound: no overflow later
  }
  if (negative) value = -value;
  if (value < low || value > high) return false;
  out = value;
  return true;
}

bool same_word(const std::string& a, const char* b) {
  if (a.size() != strlen(b)) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (toupper(static_cast<unsigned char>(a[i])) != toupper(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

bool parse_button(const std::string& word, int& id) {
  static const struct {
    const char* name;
    int id;
  } buttons[] = {{"IDOK", 1},    {"IDCANCEL", 2}, {"IDABORT", 3}, {"IDRETRY", 4},
                 {"IDIGNORE", 5}, {"IDYES", 6},    {"IDNO", 7}};
  for (const auto& b : buttons) {
    if (same_word(word, b.name) || same_word(word, b.name + 2)) {
      id = b.id;
      return true;
    }
  }
  int64_t number;
  if (!parse_int(word, 1, 65535, number)) return false;
  id = static_cast<int>(number);
  return true;
}

bool parse_page(const std::string& word, PageKind& page) {
  static const PageKind all[] = {PageKind::Welcome,     PageKind::Licence, PageKind::SetupType,
                                 PageKind::Destination, PageKind::Ready,   PageKind::Progress,
                                 PageKind::Finish,      PageKind::Closing};
  for (PageKind p : all) {
    if (same_word(word, page_name(p))) {
      page = p;
      return true;
    }
  }
  return false;
}

bool parse_root(const std::string& key, RegRoot& root, std::string& subkey) {
  size_t slash = key.find('\\');
  std::string head = key.substr(0, slash);
  subkey = slash == std::string::npos ? std::string() : key.substr(slash + 1);
  static const struct {
    const char* short_name;
    const char* long_name;
    RegRoot root;
  } roots[] = {{"HKCR", "HKEY_CLASSES_ROOT", RegRoot::ClassesRoot},
               {"HKCU", "HKEY_CURRENT_USER", RegRoot::CurrentUser},
               {"HKLM", "HKEY_LOCAL_MACHINE", RegRoot::LocalMachine},
               {"HKU", "HKEY_USERS", RegRoot::Users}};
  for (const auto& r : roots) {
    if (same_word(head, r.short_name) || same_word(head, r.long_name)) {
      root = r.root;
      return !subkey.empty();
    }
  }
  return false;
}

bool parse_colour(const std::string& word, uint32_t& colour) {
  std::string hex = word[0] == '#' ? word.substr(1) : word;
  if (hex.size() != 6) return false;
  uint32_t value = 0;
  for (char c : hex) {
    int digit;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    else return false;
    value = value << 4 | static_cast<uint32_t>(digit);
  }
  colour = value;
  return true;
}

// A colour as RRGGBB, or by the name of a system colour (its COLOR_ index),
// which the driver looks up where the setup runs.
bool parse_any_colour(const std::string& word, uint32_t& colour, int32_t& system_colour) {
  static const struct {
    const char* name;
    int32_t index;
  } system[] = {{"activecaption", 2}, {"window", 5},     {"windowtext", 8},
                {"btnface", 15},      {"btnshadow", 16}, {"btnhighlight", 20}};
  for (const auto& c : system) {
    if (same_word(word, c.name)) {
      system_colour = c.index;
      return true;
    }
  }
  system_colour = -1;
  return parse_colour(word, colour);
}

struct CommandForm {
  const char* name;
  Op op;
  size_t min_args;
  size_t max_args;  // SIZE_MAX: any number
  const char* usage;
};

const CommandForm commands[] = {
    {"start", Op::Start, 1, SIZE_MAX, "start PATH [ARGS...]"},
    {"wait-exit", Op::WaitExit, 1, 1, "wait-exit CODE"},
    {"wait-page", Op::WaitPage, 1, 1, "wait-page PAGE"},
    {"expect-text", Op::ExpectText, 2, 2, "expect-text ID TEXT"},
    {"expect-enabled", Op::ExpectEnabled, 2, 2, "expect-enabled ID yes|no"},
    {"expect-visible", Op::ExpectVisible, 2, 2, "expect-visible ID yes|no"},
    {"expect-checked", Op::ExpectChecked, 2, 2, "expect-checked ID yes|no"},
    {"set-text", Op::SetText, 2, 2, "set-text ID TEXT"},
    {"click", Op::Click, 1, 1, "click ID"},
    {"select-radio", Op::SelectRadio, 1, 1, "select-radio ID"},
    {"answer", Op::Answer, 2, 2, "answer TEXT BUTTON"},
    {"wait-box", Op::WaitBox, 1, 1, "wait-box TEXT"},
    {"expect-no-box", Op::ExpectNoBox, 0, 0, "expect-no-box"},
    {"expect-caption", Op::ExpectCaption, 2, 2, "expect-caption frame|container|box TEXT"},
    {"minimize", Op::Minimize, 0, 0, "minimize"},
    {"expect-minimized", Op::ExpectMinimized, 1, 1, "expect-minimized yes|no"},
    {"take-foreground", Op::TakeForeground, 0, 0, "take-foreground"},
    {"expect-foreground", Op::ExpectForeground, 1, 1, "expect-foreground yes|no"},
    {"screenshot", Op::Screenshot, 1, 2, "screenshot FILE [client|ID]"},
    {"expect-pixel", Op::ExpectPixel, 4, 5, "expect-pixel FILE X Y COLOUR [TOLERANCE]"},
    {"expect-shift", Op::ExpectShift, 9, 10, "expect-shift FILE X0 Y0 X1 Y1 COLOUR COLOUR DX DY [TOLERANCE]"},
    {"expect-file", Op::ExpectFile, 1, 2, "expect-file PATH [SIZE]"},
    {"expect-no-file", Op::ExpectNoFile, 1, 1, "expect-no-file PATH"},
    {"expect-reg", Op::ExpectReg, 3, 3, "expect-reg ROOT\\KEY VALUE DATA"},
    {"expect-no-reg", Op::ExpectNoReg, 1, 3, "expect-no-reg ROOT\\KEY [VALUE [DATA]]"},
    {"wait-window", Op::WaitWindow, 1, 2, "wait-window TITLE [close]"},
    {"expect-no-process", Op::ExpectNoProcess, 1, 1, "expect-no-process NAME"},
    {"write-file", Op::WriteFile, 2, 2, "write-file PATH TEXT"},
    {"copy-file", Op::CopyFile, 2, 2, "copy-file FROM TO"},
    {"delete-file", Op::RemoveFile, 1, 1, "delete-file PATH (a file, or an empty folder)"},
    {"set-env", Op::SetEnv, 2, 2, "set-env NAME VALUE"},
    {"lock-file", Op::LockFile, 1, 2, "lock-file PATH [readable|deletable|running]"},
    {"unlock-file", Op::UnlockFile, 1, 1, "unlock-file PATH"},
    {"expect-same-file", Op::ExpectSameFile, 2, 2, "expect-same-file PATH OTHER"},
    {"expect-file-text", Op::ExpectFileText, 2, 2, "expect-file-text PATH TEXT"},
    {"set-read-only", Op::SetReadOnly, 2, 2, "set-read-only PATH yes|no"},
    {"expect-read-only", Op::ExpectReadOnly, 2, 2, "expect-read-only PATH yes|no"},
    {"timeout", Op::Timeout, 1, 1, "timeout SECONDS"},
    {"adopt", Op::Adopt, 1, 1, "adopt NAME"},
    {"snapshot", Op::Snapshot, 1, 1, "snapshot FILE"},
    {"expect-unchanged", Op::ExpectUnchanged, 1, SIZE_MAX, "expect-unchanged FILE [EXCEPT...]"},
    {"expect-shortcut", Op::ExpectShortcut, 2, 3, "expect-shortcut LINK TARGET [ARGUMENTS]"},
    {"expect-ini", Op::ExpectIni, 4, 4, "expect-ini FILE SECTION KEY VALUE"},
    {"mark", Op::Mark, 1, 1, "mark NAME"},
    {"close", Op::Close, 1, 1, "close frame|container"},
    {"end-task", Op::EndTask, 0, 0, "end-task"},
    {"set-reg", Op::SetReg, 3, 3, "set-reg ROOT\\KEY VALUE DATA|dword:N|expand:DATA"},
    {"expect-no-ini", Op::ExpectNoIni, 3, 3, "expect-no-ini FILE SECTION KEY"},
    {"wait-frame", Op::WaitFrame, 0, 0, "wait-frame"},
    {"fill-atoms", Op::FillAtoms, 0, 0, "fill-atoms"},
    {"free-atoms", Op::FreeAtoms, 0, 0, "free-atoms"},
    {"press", Op::Press, 1, 1, "press tab|enter"},
    {"expect-focus", Op::ExpectFocus, 1, 1, "expect-focus ID"},
    {"expect-inside", Op::ExpectInside, 1, 1, "expect-inside ID"},
    {"expect-fits", Op::ExpectFits, 1, 1, "expect-fits ID"},
    {"expect-box", Op::ExpectBox, 4, 5, "expect-box FILE COLOUR W H [TOLERANCE]"},
    {"end-session", Op::EndSession, 0, 0, "end-session"},
    {"kill-at", Op::KillAt, 1, 1, "kill-at PERMILLE"},
};

bool parse_yes_no(const std::string& word, bool& yes) {
  if (same_word(word, "yes")) yes = true;
  else if (same_word(word, "no")) yes = false;
  else return false;
  return true;
}

// Fills the step from the command's arguments; answers an empty text or what is wrong.
std::string read_arguments(const CommandForm& form, const std::vector<Token>& args, Step& step) {
  int64_t number = 0;
  auto control = [&](const Token& t) {
    if (!parse_int(t.value, 0, 65535, number)) return false;
    step.id = static_cast<int>(number);
    return true;
  };
  auto text = [&](const Token& t) {
    step.match.text = t.value;
    step.match.substring = t.tilde;
  };
  switch (form.op) {
    case Op::Start:
      step.path = args[0].value;
      for (size_t i = 1; i < args.size(); ++i) {
        if (i > 1) step.command_tail += ' ';
        step.command_tail += args[i].raw;
      }
      return "";
    case Op::WaitExit:
      if (!parse_int(args[0].value, INT32_MIN, UINT32_MAX, number)) return "exit code is not a number";
      step.number = static_cast<int32_t>(static_cast<uint32_t>(number));
      return "";
    case Op::WaitPage:
      if (!parse_page(args[0].value, step.page))
        return "unknown page \"" + args[0].value +
               "\" (welcome, licence, setup-type, destination, ready, progress, finish, closing)";
      return "";
    case Op::ExpectText:
    case Op::SetText:
      if (!control(args[0])) return "control id is not a number from 0 to 65535";
      if (form.op == Op::SetText && args[1].tilde) return "set-text takes a plain text, not ~";
      text(args[1]);
      return "";
    case Op::ExpectEnabled:
    case Op::ExpectVisible:
    case Op::ExpectChecked:
      if (!control(args[0])) return "control id is not a number from 0 to 65535";
      if (!parse_yes_no(args[1].value, step.yes)) return "expected yes or no";
      return "";
    case Op::Press:
      if (same_word(args[0].value, "tab")) step.number = 0x09;  // VK_TAB
      else if (same_word(args[0].value, "enter")) step.number = 0x0D;  // VK_RETURN
      else return "expected tab or enter";
      return "";
    case Op::ExpectBox:
      step.path = args[0].value;
      if (!parse_any_colour(args[1].value, step.colour, step.system_colour))
        return "colour is not RRGGBB or a system colour name";
      if (!parse_int(args[2].value, 0, 100000, number)) return "width is not a number";
      step.dx = static_cast<int32_t>(number);
      if (!parse_int(args[3].value, 0, 100000, number)) return "height is not a number";
      step.dy = static_cast<int32_t>(number);
      if (args.size() > 4) {
        if (!parse_int(args[4].value, 0, 255, number)) return "tolerance is not a number from 0 to 255";
        step.tolerance = static_cast<int32_t>(number);
      }
      return "";
    case Op::ExpectFocus:
    case Op::ExpectInside:
    case Op::ExpectFits:
    case Op::Click:
    case Op::SelectRadio:
      if (!control(args[0])) return "control id is not a number from 0 to 65535";
      return "";
    case Op::Answer:
      text(args[0]);
      if (!parse_button(args[1].value, step.id))
        return "unknown button \"" + args[1].value + "\" (IDOK, IDCANCEL, IDABORT, IDRETRY, IDIGNORE, IDYES, IDNO or an id)";
      return "";
    case Op::WaitBox:
      text(args[0]);
      return "";
    case Op::ExpectNoBox:
    case Op::Minimize:
    case Op::TakeForeground:
      return "";
    case Op::ExpectCaption:
      if (same_word(args[0].value, "frame")) step.yes = false;
      else if (same_word(args[0].value, "container")) step.yes = true;
      else if (same_word(args[0].value, "box")) step.id = 1;
      else return "expected frame, container or box";
      text(args[1]);
      return "";
    case Op::ExpectMinimized:
    case Op::ExpectForeground:
      if (!parse_yes_no(args[0].value, step.yes)) return "expected yes or no";
      return "";
    case Op::LockFile:
      step.path = args[0].value;
      if (step.path.empty()) return "empty name";
      if (args.size() > 1) {
        if (same_word(args[1].value, "readable"))
          step.yes = true;
        else if (same_word(args[1].value, "deletable"))
          step.number = 1;
        else if (same_word(args[1].value, "running"))
          step.number = 2;
        else
          return "expected readable, deletable or running";
      }
      return "";
    case Op::Close:
      if (same_word(args[0].value, "frame")) step.yes = false;
      else if (same_word(args[0].value, "container")) step.yes = true;
      else return "expected frame or container";
      return "";
    case Op::EndTask:
    case Op::EndSession:
    case Op::WaitFrame:
    case Op::FillAtoms:
    case Op::FreeAtoms:
      return "";
    case Op::SetReg:
      if (!parse_root(args[0].value, step.root, step.path))
        return "key must be ROOT\\KEY with ROOT one of HKCR, HKCU, HKLM, HKU";
      step.value = args[1].value;
      step.has_value = true;
      step.match.text = args[2].value;
      return "";
    case Op::Screenshot:
      step.path = args[0].value;
      if (step.path.empty()) return "empty name";
      if (args.size() > 1 && same_word(args[1].value, "client")) step.yes = true;
      else if (args.size() > 1 && !control(args[1])) return "expected client or a control id";
      return "";
    case Op::ExpectNoFile:
    case Op::RemoveFile:
    case Op::UnlockFile:
    case Op::ExpectNoProcess:
      step.path = args[0].value;
      if (step.path.empty()) return "empty name";
      return "";
    case Op::ExpectPixel:
      // Negative coordinates count from the right and bottom edges (-1 the last).
      step.path = args[0].value;
      if (!parse_int(args[1].value, INT32_MIN + 1, INT32_MAX, number)) return "x is not a number";
      step.number = static_cast<int32_t>(number);
      if (!parse_int(args[2].value, INT32_MIN + 1, INT32_MAX, number)) return "y is not a number";
      step.y = static_cast<int32_t>(number);
      if (!parse_any_colour(args[3].value, step.colour, step.system_colour))
        return "colour is not RRGGBB or a system colour name";
      if (args.size() > 4) {
        if (!parse_int(args[4].value, 0, 255, number)) return "tolerance is not a number from 0 to 255";
        step.tolerance = static_cast<int32_t>(number);
      }
      return "";
    case Op::ExpectShift: {
      step.path = args[0].value;
      int32_t* corner[] = {&step.number, &step.y, &step.x1, &step.y1};
      for (int i = 0; i < 4; ++i) {
        if (!parse_int(args[1 + i].value, 0, INT32_MAX, number)) return "the rectangle is not four numbers";
        *corner[i] = static_cast<int32_t>(number);
      }
      if (step.x1 <= step.number || step.y1 <= step.y) return "the rectangle is empty";
      if (!parse_any_colour(args[5].value, step.colour, step.system_colour) ||
          !parse_any_colour(args[6].value, step.colour2, step.system_colour2))
        return "colour is not RRGGBB or a system colour name";
      if (!parse_int(args[7].value, -10000, 10000, number)) return "dx is not a number";
      step.dx = static_cast<int32_t>(number);
      if (!parse_int(args[8].value, -10000, 10000, number)) return "dy is not a number";
      step.dy = static_cast<int32_t>(number);
      if (args.size() > 9) {
        if (!parse_int(args[9].value, 0, 255, number)) return "tolerance is not a number from 0 to 255";
        step.tolerance = static_cast<int32_t>(number);
      }
      return "";
    }
    case Op::Mark:
      step.value = args[0].value;
      if (step.value.empty()) return "empty name";
      return "";
    case Op::Adopt:
      text(args[0]);
      if (step.match.text.empty()) return "empty name";
      return "";
    case Op::ExpectFile:
      step.path = args[0].value;
      if (args.size() > 1) {
        if (!parse_int(args[1].value, 0, INT64_MAX / 10, number)) return "size is not a number";
        step.size = number;
      }
      return "";
    case Op::ExpectReg:
    case Op::ExpectNoReg:
      if (!parse_root(args[0].value, step.root, step.path))
        return "key must be ROOT\\KEY with ROOT one of HKCR, HKCU, HKLM, HKU";
      if (args.size() > 1) {
        step.value = args[1].value;
        step.has_value = true;
      }
      if (args.size() > 2) {
        text(args[2]);
        step.yes = true;
      }
      return "";
    case Op::WaitWindow:
      text(args[0]);
      if (args.size() > 1 && !same_word(args[1].value, "close")) return "expected close";
      step.yes = args.size() > 1;
      return "";
    case Op::WriteFile:
      step.path = args[0].value;
      step.value = args[1].value;
      return "";
    case Op::CopyFile:
      step.value = args[0].value;
      step.path = args[1].value;
      if (step.path.empty() || step.value.empty()) return "empty file name";
      return "";
    case Op::SetEnv:
      step.path = args[0].value;
      step.value = args[1].value;
      if (step.path.empty() || step.path.find('=') != std::string::npos) return "the name is empty or holds =";
      return "";
    case Op::Snapshot:
    case Op::ExpectUnchanged:
      step.path = args[0].value;
      if (step.path.empty()) return "empty file name";
      for (size_t i = 1; i < args.size(); ++i) {
        if (args[i].value.empty()) return "an empty exception would allow every difference";
        step.allowed.push_back(args[i].value);
      }
      return "";
    case Op::ExpectShortcut:
      step.path = args[0].value;
      if (step.path.empty()) return "empty link name";
      text(args[1]);
      // Without ARGUMENTS the shortcut must have none.
      if (args.size() > 2) {
        step.arguments.text = args[2].value;
        step.arguments.substring = args[2].tilde;
      }
      return "";
    case Op::ExpectSameFile:
      step.path = args[0].value;
      step.value = args[1].value;
      if (step.path.empty() || step.value.empty()) return "empty file name";
      return "";
    case Op::ExpectIni:
    case Op::ExpectNoIni:
      step.path = args[0].value;
      step.section = args[1].value;
      step.key = args[2].value;
      if (step.path.empty() || step.section.empty() || step.key.empty()) return "empty file, section or key";
      if (form.op == Op::ExpectIni) text(args[3]);
      return "";
    case Op::ExpectFileText:
      step.path = args[0].value;
      if (step.path.empty()) return "empty name";
      text(args[1]);
      return "";
    case Op::SetReadOnly:
    case Op::ExpectReadOnly:
      step.path = args[0].value;
      if (step.path.empty()) return "empty name";
      if (!parse_yes_no(args[1].value, step.yes)) return "expected yes or no";
      return "";
    case Op::KillAt:
      if (!parse_int(args[0].value, 0, 2000, number)) return "the share must be from 0 to 2000 permille";
      step.number = static_cast<int32_t>(number);
      return "";
    case Op::Timeout:
      if (!parse_int(args[0].value, 1, 3600, number)) return "seconds must be from 1 to 3600";
      step.number = static_cast<int32_t>(number);
      return "";
  }
  return "unknown command";
}

}  // namespace

const char* page_name(PageKind page) {
  switch (page) {
    case PageKind::Welcome: return "welcome";
    case PageKind::Licence: return "licence";
    case PageKind::SetupType: return "setup-type";
    case PageKind::Destination: return "destination";
    case PageKind::Ready: return "ready";
    case PageKind::Progress: return "progress";
    case PageKind::Finish: return "finish";
    case PageKind::Closing: return "closing";
  }
  return "?";
}

bool parse_script(const std::string& text, const VariableLookup& lookup, std::vector<Step>& steps,
                  ScriptError& error) {
  steps.clear();
  size_t start = 0;
  int number = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == '#') continue;

    std::vector<Token> tokens;
    if (!tokenize(line, number, lookup, tokens, error)) return false;
    const CommandForm* form = nullptr;
    for (const auto& c : commands)
      if (tokens[0].raw == c.name) form = &c;
    if (!form) return fail(error, number, "unknown command \"" + tokens[0].raw + "\"");
    std::vector<Token> args(tokens.begin() + 1, tokens.end());
    if (args.size() < form->min_args || args.size() > form->max_args)
      return fail(error, number, std::string("usage: ") + form->usage);
    Step step;
    step.line = number;
    step.source = line.substr(first);
    step.op = form->op;
    std::string problem = read_arguments(*form, args, step);
    if (!problem.empty()) return fail(error, number, form->name + std::string(": ") + problem);
    steps.push_back(step);
  }
  return true;
}
