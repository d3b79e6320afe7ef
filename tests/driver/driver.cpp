// kestrel-driver SCRIPT: runs a script of wizard steps against a setup that
// it starts itself, and reports every step on standard output. Exit code 0
// when every step passed, 1 at the first step that failed, 2 when the script
// cannot be read. Waits poll in short steps up to the timeout (default 20 s).
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdarg>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "cli/png_image.h"
#include "tests/driver/bitmap.h"
#include "tests/driver/script.h"
#include "tests/driver/snapshot.h"

namespace {

const DWORD poll_ms = 50;
const UINT message_timeout_ms = 5000;
DWORD timeout_ms = 20000;

struct Started {
  HANDLE process;
  DWORD id;
  bool waited;
  std::string path;
  DWORD began = GetTickCount();
};
std::vector<Started> started;
// The shortest run of each program that wait-exit saw end with 0: a kill
// placed in it falls inside the next run too.
std::map<std::string, DWORD> run_ms;
struct Locked {
  std::string path;
  HANDLE file;
  HANDLE image = nullptr;  // "running": the program's image mapped from it
  void* view = nullptr;
};
std::vector<Locked> locked_files;

std::string failure;  // why the current step failed
DWORD driver_start;   // GetTickCount when the driver started, for mark

bool fail(const char* format, ...) {
  char buffer[2048];
  va_list args;
  va_start(args, format);
  vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  failure = buffer;
  return false;
}

// Polls the condition until it holds or the timeout passes.
template <typename Condition>
bool wait_for(Condition condition, DWORD limit = 0) {
  DWORD begin = GetTickCount();
  if (limit == 0) limit = timeout_ms;
  while (true) {
    if (condition()) return true;
    if (GetTickCount() - begin >= limit) return false;
    Sleep(poll_ms);
  }
}

bool started_directly(DWORD process_id) {
  for (const Started& s : started)
    if (s.id == process_id) return true;
  return false;
}

// A program we started, or one that it started in turn (an uninstaller
// works from a copy of itself): its windows are the ones the script means.
bool started_by_us(DWORD process_id) {
  if (started_directly(process_id)) return true;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return false;
  std::vector<std::pair<DWORD, DWORD>> parents;  // process, its parent
  PROCESSENTRY32 entry;
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
    parents.emplace_back(entry.th32ProcessID, entry.th32ParentProcessID);
  CloseHandle(snapshot);
  // A few generations at most; a cycle of reused ids must not loop.
  for (int generation = 0; generation < 4; ++generation) {
    DWORD parent = 0;
    for (const auto& p : parents)
      if (p.first == process_id) parent = p.second;
    if (parent == 0 || parent == process_id) return false;
    if (started_directly(parent)) return true;
    process_id = parent;
  }
  return false;
}

std::string class_of(HWND window) {
  char name[256] = "";
  GetClassNameA(window, name, sizeof name);
  return name;
}

// The text of a window of another process, through the marshalled WM_GETTEXT.
std::string text_of(HWND window) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, message_timeout_ms, &length))
    return std::string();
  std::vector<char> buffer(length + 2, '\0');
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutA(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                           SMTO_ABORTIFHUNG, message_timeout_ms, &copied))
    return std::string();
  return std::string(buffer.data());
}

bool matches(const std::string& actual, const TextMatch& match) {
  if (match.substring) return actual.find(match.text) != std::string::npos;
  return actual == match.text;
}

// The setup's frame window: a KestrelClass window of a process we started.
HWND find_frame() {
  HWND window = nullptr;
  while ((window = FindWindowExA(nullptr, window, "KestrelClass", nullptr)) != nullptr) {
    DWORD process_id = 0;
    GetWindowThreadProcessId(window, &process_id);
    if (started_by_us(process_id)) return window;
  }
  return nullptr;
}

HWND find_child_dialog(HWND parent) {
  return parent ? FindWindowExA(parent, nullptr, "#32770", nullptr) : nullptr;
}

HWND find_container() { return find_child_dialog(find_frame()); }

bool is_class(HWND window, const char* name) { return window && lstrcmpiA(class_of(window).c_str(), name) == 0; }

bool identify_page(HWND page, HWND container, PageKind& kind) {
  HWND edit = GetDlgItem(page, 1004);
  if (is_class(edit, "Edit")) {
    kind = PageKind::Destination;
    return true;
  }
  if (GetDlgItem(page, 1008) || GetDlgItem(page, 1009) || GetDlgItem(page, 1010)) {
    kind = PageKind::Progress;
    return true;
  }
  for (int id = 1021; id <= 1026; ++id) {
    if (GetDlgItem(page, id)) {
      kind = PageKind::SetupType;
      return true;
    }
  }
  if (GetDlgItem(page, 1014) || GetDlgItem(page, 1015)) {
    kind = PageKind::Finish;
    return true;
  }
  if (is_class(GetDlgItem(page, 1005), "Static")) {
    kind = PageKind::Closing;
    return true;
  }
  HWND text = GetDlgItem(page, 1000);
  if (is_class(text, "Edit") && (GetWindowLongA(text, GWL_STYLE) & ES_MULTILINE)) {
    kind = PageKind::Licence;
    return true;
  }
  if (text) {
    // Welcome and ready share a template; only the ready page may go back.
    HWND back = GetDlgItem(container, 1007);
    kind = back && IsWindowEnabled(back) ? PageKind::Ready : PageKind::Welcome;
    return true;
  }
  return false;
}

// The page shown now, when there is one the user can see.
bool current_page(PageKind& kind, HWND& page) {
  HWND container = find_container();
  page = find_child_dialog(container);
  if (!page || !IsWindowVisible(page)) return false;
  return identify_page(page, container, kind);
}

// A control of the page, else of the container (Back, Next, Cancel).
HWND find_control(int id, HWND* owner = nullptr) {
  HWND container = find_container();
  HWND page = find_child_dialog(container);
  HWND control = page ? GetDlgItem(page, id) : nullptr;
  if (control) {
    if (owner) *owner = page;
    return control;
  }
  control = container ? GetDlgItem(container, id) : nullptr;
  if (control && owner) *owner = container;
  return control;
}

HWND wait_control(int id, HWND* owner = nullptr) {
  HWND control = nullptr;
  wait_for([&] { return (control = find_control(id, owner)) != nullptr; });
  return control;
}

// The texts of a dialog's static controls, one after the other.
std::string static_texts(HWND dialog) {
  std::string all;
  for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (!is_class(child, "Static")) continue;
    std::string text = text_of(child);
    if (text.empty()) continue;
    if (!all.empty()) all += '\n';
    all += text;
  }
  return all;
}

// Top-level dialogs of the setup: message boxes, the restart dialog.
std::vector<HWND> setup_boxes() {
  std::vector<HWND> boxes;
  HWND window = nullptr;
  while ((window = FindWindowExA(nullptr, window, "#32770", nullptr)) != nullptr) {
    DWORD process_id = 0;
    GetWindowThreadProcessId(window, &process_id);
    if (started_by_us(process_id) && IsWindowVisible(window)) boxes.push_back(window);
  }
  return boxes;
}

std::string describe_boxes() {
  std::string all;
  for (HWND box : setup_boxes()) all += " [" + text_of(box) + ": " + static_texts(box) + "]";
  return all.empty() ? std::string(" none") : all;
}

void post_click(HWND control) { PostMessageA(control, BM_CLICK, 0, 0); }

// A push button of a dialog, pressed as the dialog manager reports it.
void post_command(HWND dialog, HWND control) {
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(control), BN_CLICKED),
               reinterpret_cast<LPARAM>(control));
}

bool run_start(const Step& step) {
  std::string command = "\"" + step.path + "\"";
  if (!step.command_tail.empty()) command += " " + step.command_tail;
  std::vector<char> line(command.begin(), command.end());
  line.push_back('\0');
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info;
  // Wine now and then loses a new process while it is still loading, before
  // any of its code ran, and reports ERROR_INTERNAL_ERROR; nothing of the
  // program's was tested, so it is started again.
  const int kTries = 3;
  for (int attempt = 1;; ++attempt) {
    if (CreateProcessA(step.path.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &info))
      break;
    DWORD error = GetLastError();
    if (error != ERROR_INTERNAL_ERROR || attempt == kTries)
      return fail("cannot start %s (error %lu)", step.path.c_str(), error);
    printf("       %s was lost while loading (error %lu); starting it again\n", step.path.c_str(), error);
    Sleep(500);
  }
  CloseHandle(info.hThread);
  started.push_back(Started{info.hProcess, info.dwProcessId, false, step.path});
  return true;
}

bool run_wait_exit(const Step& step) {
  for (auto it = started.rbegin(); it != started.rend(); ++it) {
    if (it->waited) continue;
    it->waited = true;
    if (WaitForSingleObject(it->process, timeout_ms) != WAIT_OBJECT_0)
      return fail("the setup has not ended within %lu s; boxes:%s", timeout_ms / 1000, describe_boxes().c_str());
    DWORD ran = GetTickCount() - it->began;
    DWORD code = 0;
    GetExitCodeProcess(it->process, &code);
    if (code == 0 && (!run_ms.count(it->path) || ran < run_ms[it->path])) run_ms[it->path] = ran;
    if (static_cast<int32_t>(code) != step.number)
      return fail("exit code %ld, expected %ld", static_cast<long>(static_cast<int32_t>(code)),
                  static_cast<long>(step.number));
    return true;
  }
  return fail("no started program is left to wait for");
}

// The programs that `id` started, and theirs in turn (an uninstaller's
// working copy), ended by force, the youngest first.
void end_descendants(DWORD id) {
  std::vector<DWORD> family = {id};
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return;
  PROCESSENTRY32 entry;
  for (bool grew = true; grew;) {
    grew = false;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
      bool parent_in = std::find(family.begin(), family.end(), entry.th32ParentProcessID) != family.end();
      if (parent_in && std::find(family.begin(), family.end(), entry.th32ProcessID) == family.end()) {
        family.push_back(entry.th32ProcessID);
        grew = true;
      }
    }
  }
  CloseHandle(snapshot);
  for (size_t i = family.size(); i-- > 1;) {
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, family[i]);
    if (!process) continue;
    TerminateProcess(process, 1);
    WaitForSingleObject(process, timeout_ms);
    CloseHandle(process);
  }
}

// As taskkill /F /T, a crash or a deployment tool's time-out ends it and
// what it started: none of their own code runs any more. The driver's
// output counts the kills.
bool run_kill_at(const Step& step) {
  for (auto it = started.rbegin(); it != started.rend(); ++it) {
    if (it->waited) continue;
    it->waited = true;
    if (!run_ms.count(it->path)) return fail("%s has not run to its end before: no length to kill it in", it->path.c_str());
    DWORD at = static_cast<DWORD>(static_cast<uint64_t>(run_ms[it->path]) * static_cast<uint32_t>(step.number) / 1000);
    DWORD gone = GetTickCount() - it->began;
    if (WaitForSingleObject(it->process, at > gone ? at - gone : 0) == WAIT_OBJECT_0) {
      DWORD code = 0;
      GetExitCodeProcess(it->process, &code);
      printf("       ended by itself before %ld permille (%lu ms, exit code %ld)\n", static_cast<long>(step.number),
             at, static_cast<long>(static_cast<int32_t>(code)));
      return code == 0 ? true : fail("exit code %ld before the kill", static_cast<long>(static_cast<int32_t>(code)));
    }
    end_descendants(it->id);
    TerminateProcess(it->process, 1);
    if (WaitForSingleObject(it->process, timeout_ms) != WAIT_OBJECT_0) return fail("the kill did not end it");
    printf("       killed at %ld permille (%lu ms)\n", static_cast<long>(step.number), at);
    return true;
  }
  return fail("no started program is left to kill");
}

// A logoff or a restart: Windows asks the program's top-level windows,
// tells them the session ends whatever they answered (as when the user
// chooses to end it anyway), gives each answer its time-out (5 s, as
// Windows does by default) and then ends the program.
bool run_end_session() {
  for (auto it = started.rbegin(); it != started.rend(); ++it) {
    if (it->waited) continue;
    it->waited = true;
    std::vector<HWND> windows;
    for (HWND window = nullptr; (window = FindWindowExA(nullptr, window, nullptr, nullptr)) != nullptr;) {
      DWORD process_id = 0;
      GetWindowThreadProcessId(window, &process_id);
      if (process_id == it->id) windows.push_back(window);
    }
    if (windows.empty()) return fail("%s has no window to end the session with", it->path.c_str());
    const DWORD kAnswerMs = 5000;
    for (HWND window : windows)
      SendMessageTimeoutA(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL, kAnswerMs, nullptr);
    for (HWND window : windows)
      SendMessageTimeoutA(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_NORMAL, kAnswerMs, nullptr);
    end_descendants(it->id);
    TerminateProcess(it->process, 1);
    if (WaitForSingleObject(it->process, timeout_ms) != WAIT_OBJECT_0) return fail("the end did not end it");
    printf("       the session ended (%u windows told)\n", static_cast<unsigned>(windows.size()));
    return true;
  }
  return fail("no started program is left to end the session of");
}

bool run_wait_page(const Step& step) {
  PageKind kind = PageKind::Welcome;
  bool seen = false;
  HWND page = nullptr;
  if (wait_for([&] { return (seen = current_page(kind, page)) && kind == step.page; })) return true;
  return fail("%s page expected, %s shows; boxes:%s", page_name(step.page),
              seen ? page_name(kind) : "no page", describe_boxes().c_str());
}

bool run_expect_text(const Step& step) {
  HWND control = wait_control(step.id);
  if (!control) return fail("no control %d on the page or the container", step.id);
  std::string actual;
  if (wait_for([&] { return matches(actual = text_of(control), step.match); })) return true;
  return fail("control %d shows \"%s\"", step.id, actual.c_str());
}

bool run_expect_state(const Step& step) {
  HWND control = wait_control(step.id);
  if (!control) return fail("no control %d on the page or the container", step.id);
  bool actual = false;
  auto state = [&] {
    if (step.op == Op::ExpectEnabled) return IsWindowEnabled(control) != FALSE;
    if (step.op == Op::ExpectVisible) return IsWindowVisible(control) != FALSE;
    DWORD_PTR checked = 0;
    SendMessageTimeoutA(control, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, message_timeout_ms, &checked);
    return checked == BST_CHECKED;
  };
  if (wait_for([&] { return (actual = state()) == step.yes; })) return true;
  const char* what = step.op == Op::ExpectEnabled ? "enabled" : step.op == Op::ExpectVisible ? "visible" : "checked";
  return fail("control %d is %s%s", step.id, actual ? "" : "not ", what);
}

bool run_set_text(const Step& step) {
  HWND control = wait_control(step.id);
  if (!control) return fail("no control %d on the page or the container", step.id);
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(step.match.text.c_str()),
                           SMTO_ABORTIFHUNG, message_timeout_ms, &result))
    return fail("control %d did not take the text", step.id);
  return true;
}

// A user can only press what is there, visible and enabled.
bool usable(HWND control, int id) {
  if (!wait_for([&] { return IsWindowVisible(control) && IsWindowEnabled(control); }))
    return fail("control %d is %s", id, IsWindowVisible(control) ? "disabled" : "hidden");
  return true;
}

bool run_click(const Step& step) {
  HWND owner = nullptr;
  HWND control = wait_control(step.id, &owner);
  if (!control) return fail("no control %d on the page or the container", step.id);
  if (!usable(control, step.id)) return false;
  LONG style = GetWindowLongA(control, GWL_STYLE) & BS_TYPEMASK;
  bool push = style == BS_PUSHBUTTON || style == BS_DEFPUSHBUTTON;
  // Check boxes and radio buttons change their own state before they tell
  // the page; a push button only tells its dialog. Posted, because the
  // command may open a modal box that the script answers next.
  if (push) post_command(owner, control);
  else post_click(control);
  return true;
}

bool run_select_radio(const Step& step) {
  HWND control = wait_control(step.id);
  if (!control) return fail("no radio button %d on the page", step.id);
  if (!usable(control, step.id)) return false;
  post_click(control);
  DWORD_PTR checked = 0;
  if (wait_for([&] {
        SendMessageTimeoutA(control, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, message_timeout_ms, &checked);
        return checked == BST_CHECKED;
      }))
    return true;
  return fail("radio button %d did not become checked", step.id);
}

// The setup's box whose texts match, once it shows; null after the timeout.
HWND wait_box(const TextMatch& match) {
  HWND found = nullptr;
  wait_for([&] {
    for (HWND box : setup_boxes()) {
      if (matches(static_texts(box), match)) {
        found = box;
        return true;
      }
    }
    return false;
  });
  return found;
}

// A box stays open: what the script does next happens while the setup waits
// for the answer.
bool run_wait_box(const Step& step) {
  if (!wait_box(step.match))
    return fail("no box with \"%s\"; boxes:%s", step.match.text.c_str(), describe_boxes().c_str());
  return true;
}

bool run_answer(const Step& step) {
  HWND found = wait_box(step.match);
  if (!found) return fail("no box with \"%s\"; boxes:%s", step.match.text.c_str(), describe_boxes().c_str());
  HWND button = GetDlgItem(found, step.id);
  if (!button || !IsWindowEnabled(button)) return fail("the box has no button %d; boxes:%s", step.id, describe_boxes().c_str());
  post_command(found, button);
  if (!wait_for([&] { return !IsWindow(found) || !IsWindowVisible(found); }))
    return fail("the box did not close on button %d", step.id);
  return true;
}

bool run_expect_no_box() {
  // A box that a click opens comes within a moment; watch for one second.
  std::vector<HWND> boxes;
  if (wait_for([&] { return !(boxes = setup_boxes()).empty(); }, 1000))
    return fail("a box shows:%s", describe_boxes().c_str());
  return true;
}

bool run_expect_caption(const Step& step) {
  if (step.id == 1) {  // the message box on show
    std::string actual;
    if (wait_for([&] {
          std::vector<HWND> boxes = setup_boxes();
          return !boxes.empty() && matches(actual = text_of(boxes[0]), step.match);
        }))
      return true;
    return fail("the box caption is \"%s\"; boxes:%s", actual.c_str(), describe_boxes().c_str());
  }
  HWND window = step.yes ? find_container() : find_frame();
  if (!window) return fail("no %s window", step.yes ? "container" : "frame");
  std::string actual;
  if (wait_for([&] { return matches(actual = text_of(window), step.match); })) return true;
  return fail("the %s caption is \"%s\"", step.yes ? "container" : "frame", actual.c_str());
}

bool run_minimize() {
  HWND frame = find_frame();
  if (!frame) return fail("no frame window");
  PostMessageA(frame, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  if (!wait_for([&] { return IsIconic(frame) != FALSE; })) return fail("the frame window did not minimise");
  return true;
}

bool run_expect_minimized(const Step& step) {
  HWND frame = find_frame();
  if (!frame) return fail("no frame window");
  if (wait_for([&] { return (IsIconic(frame) != FALSE) == step.yes; })) return true;
  return fail("the frame window is %sminimised", step.yes ? "not " : "");
}

// A window of the driver's own takes the foreground, as another program
// that the user turned to would.
bool run_take_foreground() {
  static HWND own = nullptr;
  if (!own)
    own = CreateWindowExA(0, "STATIC", "kestrel-driver", WS_POPUP | WS_VISIBLE | WS_BORDER, 0, 0, 200, 100,
                          nullptr, nullptr, nullptr, nullptr);
  if (!own) return fail("the driver cannot make a window");
  ShowWindow(own, SW_SHOW);
  SetForegroundWindow(own);
  if (wait_for([&] {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
        return GetForegroundWindow() == own;
      }))
    return true;
  return fail("the driver's window did not come to the foreground");
}

// The foreground window is the setup's frame or one of its boxes.
bool run_expect_foreground(const Step& step) {
  HWND window = nullptr;
  auto setups = [&] {
    window = GetForegroundWindow();
    DWORD process_id = 0;
    if (window) GetWindowThreadProcessId(window, &process_id);
    return window && started_by_us(process_id);
  };
  if (wait_for([&] { return setups() == step.yes; }, step.yes ? 0 : 1000)) return true;
  return fail("the foreground window is %s (\"%s\")", window ? class_of(window).c_str() : "none",
              window ? text_of(window).c_str() : "");
}

bool write_whole(const std::string& path, const void* data, size_t size) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr);
  CloseHandle(file);
  return ok && written == size;
}

bool read_whole(const std::string& path, std::vector<uint8_t>& data) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD high = 0;
  DWORD low = GetFileSize(file, &high);
  bool ok = high == 0 && low < 0x10000000;  // screenshots stay far below 256 MiB
  if (ok) {
    data.resize(low);
    DWORD got = 0;
    ok = low == 0 || (ReadFile(file, data.data(), low, &got, nullptr) && got == low);
  }
  CloseHandle(file);
  return ok;
}

BOOL CALLBACK child_needs_paint(HWND child, LPARAM found) {
  if (IsWindowVisible(child) && GetUpdateRect(child, nullptr, FALSE)) {
    *reinterpret_cast<bool*>(found) = true;
    return FALSE;
  }
  return TRUE;
}

// Whether the window or any of its descendants still has an update region.
bool needs_paint(HWND window) {
  if (GetUpdateRect(window, nullptr, FALSE)) return true;
  bool found = false;
  EnumChildWindows(window, child_needs_paint, reinterpret_cast<LPARAM>(&found));
  return found;
}

// What the user sees of the frame window (the whole screen in full-screen
// mode, where the frame covers it), of its client area or of one control,
// with whatever box lies on top.
bool run_screenshot(const Step& step) {
  HWND frame = find_frame();
  if (!frame) return fail("no frame window");
  RECT rect;
  if (step.id > 0) {
    HWND control = find_control(step.id);
    if (!control) return fail("no control %d on the page or the container", step.id);
    GetWindowRect(control, &rect);
  } else if (step.yes) {
    GetClientRect(frame, &rect);
    MapWindowPoints(frame, nullptr, reinterpret_cast<POINT*>(&rect), 2);
  } else {
    GetWindowRect(frame, &rect);
  }
  int screen_w = GetSystemMetrics(SM_CXSCREEN), screen_h = GetSystemMetrics(SM_CYSCREEN);
  if (rect.left < 0) rect.left = 0;
  if (rect.top < 0) rect.top = 0;
  if (rect.right > screen_w) rect.right = screen_w;
  if (rect.bottom > screen_h) rect.bottom = screen_h;
  int w = rect.right - rect.left, h = rect.bottom - rect.top;
  if (w <= 0 || h <= 0) return fail("the frame window is not on the screen");
  // The setup repaints in its own time; a full-screen background takes a
  // while, so wait until no window of it has anything left to paint.
  RedrawWindow(frame, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  if (!wait_for([&] { return !needs_paint(frame); })) return fail("the setup does not finish painting");
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info;
  ZeroMemory(&info, sizeof info);
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = w;
  info.bmiHeader.biHeight = -h;  // top row first
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  bool ok = memory && bitmap && bits;
  if (ok) {
    HGDIOBJ old = SelectObject(memory, bitmap);
    ok = BitBlt(memory, 0, 0, w, h, screen, rect.left, rect.top, SRCCOPY) != FALSE;
    GdiFlush();
    SelectObject(memory, old);
  }
  Image image;
  size_t stride = (static_cast<size_t>(w) * 3 + 3) & ~static_cast<size_t>(3);
  if (ok) ok = image_from_dib_rows(static_cast<const uint8_t*>(bits), stride * h, w, h, image);
  if (bitmap) DeleteObject(bitmap);
  if (memory) DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  if (!ok) return fail("the screen cannot be copied");
  // A name ending in .png gives a PNG (make demo); any other a bitmap,
  // which the steps that measure pictures read.
  bool png = step.path.size() > 4 && lstrcmpiA(step.path.c_str() + step.path.size() - 4, ".png") == 0;
  std::vector<uint8_t> file = png ? encode_png(image.width, image.height, image.rgb.data()) : encode_bmp(image);
  if (file.empty() || !write_whole(step.path, file.data(), file.size()))
    return fail("cannot write %s", step.path.c_str());
  return true;
}

bool read_image(const std::string& path, Image& image) {
  std::vector<uint8_t> data;
  if (!read_whole(path, data)) return fail("cannot read %s", path.c_str());
  if (!decode_bmp(data.data(), data.size(), image)) return fail("%s is not a 24-bit bitmap", path.c_str());
  return true;
}

// 0xRRGGBB of a colour as the script gives it.
uint32_t script_colour(uint32_t colour, int32_t system_colour) {
  if (system_colour < 0) return colour;
  COLORREF c = GetSysColor(system_colour);
  return static_cast<uint32_t>(GetRValue(c)) << 16 | static_cast<uint32_t>(GetGValue(c)) << 8 | GetBValue(c);
}

bool run_expect_pixel(const Step& step) {
  Image image;
  if (!read_image(step.path, image)) return false;
  int32_t x = step.number < 0 ? image.width + step.number : step.number;
  int32_t y = step.y < 0 ? image.height + step.y : step.y;
  uint32_t colour = 0, wanted = script_colour(step.colour, step.system_colour);
  if (!pixel_at(image, x, y, colour))
    return fail("%ld,%ld is outside the %ldx%ld picture", static_cast<long>(x), static_cast<long>(y),
                static_cast<long>(image.width), static_cast<long>(image.height));
  if (!colour_close(colour, wanted, step.tolerance))
    return fail("pixel %ld,%ld is %06lX, expected %06lX", static_cast<long>(x), static_cast<long>(y),
                static_cast<unsigned long>(colour), static_cast<unsigned long>(wanted));
  return true;
}

// The pixels of the second colour are those of the first moved by dx, dy,
// as a drop shadow is. The first colour lies on top and may hide the
// near edges of the moved copy, never its far ones, so those are compared.
bool run_expect_shift(const Step& step) {
  Image image;
  if (!read_image(step.path, image)) return false;
  uint32_t first = script_colour(step.colour, step.system_colour);
  uint32_t second = script_colour(step.colour2, step.system_colour2);
  Box a, b;
  if (!colour_box(image, step.number, step.y, step.x1, step.y1, first, step.tolerance, a))
    return fail("no pixel of %06lX in the rectangle", static_cast<unsigned long>(first));
  if (!colour_box(image, step.number, step.y, step.x1, step.y1, second, step.tolerance, b))
    return fail("no pixel of %06lX in the rectangle", static_cast<unsigned long>(second));
  if (b.right - a.right != step.dx || b.bottom - a.bottom != step.dy)
    return fail("%06lX spans %ld,%ld-%ld,%ld and %06lX %ld,%ld-%ld,%ld: moved by %ld,%ld",
                static_cast<unsigned long>(first), static_cast<long>(a.left), static_cast<long>(a.top),
                static_cast<long>(a.right), static_cast<long>(a.bottom), static_cast<unsigned long>(second),
                static_cast<long>(b.left), static_cast<long>(b.top), static_cast<long>(b.right),
                static_cast<long>(b.bottom), static_cast<long>(b.right - a.right),
                static_cast<long>(b.bottom - a.bottom));
  return true;
}

// The pixels of the colour span exactly W x H: a picture's drawn size.
bool run_expect_box(const Step& step) {
  Image image;
  if (!read_image(step.path, image)) return false;
  uint32_t colour = script_colour(step.colour, step.system_colour);
  Box box;
  if (!colour_box(image, 0, 0, image.width, image.height, colour, step.tolerance, box))
    return fail("no pixel of %06lX", static_cast<unsigned long>(colour));
  long w = box.right - box.left, h = box.bottom - box.top;
  if (w != step.dx || h != step.dy)
    return fail("%06lX spans %ldx%ld at %ld,%ld", static_cast<unsigned long>(colour), w, h,
                static_cast<long>(box.left), static_cast<long>(box.top));
  return true;
}

// The window that has the setup's keyboard focus, or null.
HWND setup_focus() {
  HWND frame = find_frame();
  if (!frame) return nullptr;
  GUITHREADINFO info;
  ZeroMemory(&info, sizeof info);
  info.cbSize = sizeof info;
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(frame, nullptr), &info)) return nullptr;
  return info.hwndFocus;
}

// Posted as the keyboard's own keys are, so that the setup's message loop
// (IsDialogMessage) sees them.
bool run_press(const Step& step) {
  HWND focus = nullptr;
  if (!wait_for([&] { return (focus = setup_focus()) != nullptr; })) return fail("the setup has no focus");
  PostMessageA(focus, WM_KEYDOWN, step.number, 1);
  PostMessageA(focus, WM_KEYUP, step.number, 0xC0000001);
  Sleep(100);
  return true;
}

bool run_expect_focus(const Step& step) {
  HWND focus = nullptr;
  auto on_control = [&] {
    focus = setup_focus();
    return focus && GetDlgCtrlID(focus) == step.id && IsWindowVisible(focus) && IsWindowEnabled(focus);
  };
  if (wait_for(on_control)) return true;
  if (!focus) return fail("the focus is nowhere");
  return fail("the focus is on control %d (%s, %s)", GetDlgCtrlID(focus), IsWindowVisible(focus) ? "visible" : "hidden",
              class_of(focus).c_str());
}

// Inside the container's client area and no further right than the Cancel
// button, whose right edge is the buttons' margin. A pixel more is allowed:
// a control's left edge and its width are rounded from dialog units apart.
bool run_expect_inside(const Step& step) {
  HWND control = wait_control(step.id);
  HWND container = find_container();
  HWND cancel = container ? GetDlgItem(container, IDCANCEL) : nullptr;
  if (!control || !cancel) return fail("no control %d, or no Cancel button", step.id);
  RECT own, client, button;
  GetWindowRect(control, &own);
  GetWindowRect(cancel, &button);
  GetClientRect(container, &client);
  MapWindowPoints(container, nullptr, reinterpret_cast<POINT*>(&client), 2);
  if (own.left >= client.left && own.top >= client.top && own.right <= button.right + 1 && own.bottom <= client.bottom)
    return true;
  return fail("control %d spans %ld,%ld-%ld,%ld; the container %ld,%ld-%ld,%ld, the buttons end at %ld", step.id,
              own.left, own.top, own.right, own.bottom, client.left, client.top, client.right, client.bottom,
              button.right);
}

// The control's text wrapped as a static control wraps it, in the
// templates' font ("MS Sans Serif" 8 at the screen's DPI), is no taller
// than the control: its last line shows.
bool run_expect_fits(const Step& step) {
  HWND control = wait_control(step.id);
  if (!control) return fail("no control %d on the page or the container", step.id);
  std::string text = text_of(control);
  RECT client;
  GetClientRect(control, &client);
  HDC dc = GetDC(nullptr);
  HFONT font = CreateFontA(-MulDiv(8, GetDeviceCaps(dc, LOGPIXELSY), 72), 0, 0, 0, FW_NORMAL, 0, 0, 0,
                           DEFAULT_CHARSET, 0, 0, 0, 0, "MS Sans Serif");
  HGDIOBJ old = SelectObject(dc, font);
  RECT needed = {0, 0, client.right, 0};
  DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &needed, DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS);
  SelectObject(dc, old);
  DeleteObject(font);
  ReleaseDC(nullptr, dc);
  if (needed.bottom <= client.bottom) return true;
  return fail("control %d is %ld high; its text needs %ld", step.id, client.bottom, needed.bottom);
}

bool file_size(const std::string& path, int64_t& size, DWORD& attributes) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return false;
  attributes = data.dwFileAttributes;
  size = static_cast<int64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
  return true;
}

// A path with * or ? in its file name stands for the one file that
// matches it (the setup's temporary files have names of chance); the
// pattern itself when none or several match.
std::string one_match(const std::string& path) {
  size_t slash = path.find_last_of('\\');
  if (path.find_first_of("*?", slash == std::string::npos ? 0 : slash) == std::string::npos) return path;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(path.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return path;
  std::string match = path.substr(0, slash + 1) + found.cFileName;
  bool several = FindNextFileA(search, &found) != FALSE;
  FindClose(search);
  return several ? path : match;
}

bool any_file(const std::string& pattern) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  return true;
}

bool run_expect_file(const Step& step) {
  int64_t size = -1;
  DWORD attributes = 0;
  bool exists = false;
  // A program that the setup starts writes its file a moment later.
  if (wait_for([&] {
        exists = file_size(one_match(step.path), size, attributes);
        return exists && (step.size < 0 || (size == step.size && !(attributes & FILE_ATTRIBUTE_DIRECTORY)));
      }))
    return true;
  if (!exists) return fail("%s does not exist", step.path.c_str());
  return fail("%s has %lld bytes, expected %lld", step.path.c_str(), static_cast<long long>(size),
              static_cast<long long>(step.size));
}

bool run_expect_no_file(const Step& step) {
  // A program that the setup starts writes its file a moment later, maybe
  // after the setup has ended; watch for one second.
  if (wait_for([&] { return any_file(step.path); }, 1000)) return fail("%s exists", one_match(step.path).c_str());
  return true;
}

HKEY root_key(RegRoot root) {
  switch (root) {
    case RegRoot::ClassesRoot: return HKEY_CLASSES_ROOT;
    case RegRoot::CurrentUser: return HKEY_CURRENT_USER;
    case RegRoot::LocalMachine: return HKEY_LOCAL_MACHINE;
    case RegRoot::Users: return HKEY_USERS;
  }
  return HKEY_CURRENT_USER;
}

// Reads a string value; a list of strings comes back one per line.
bool read_reg(const Step& step, bool& key_exists, bool& value_exists, std::string& data) {
  HKEY key;
  key_exists = value_exists = false;
  if (RegOpenKeyExA(root_key(step.root), step.path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  key_exists = true;
  DWORD type = 0, size = 0;
  LONG status = RegQueryValueExA(key, step.value.c_str(), nullptr, &type, nullptr, &size);
  if (status == ERROR_SUCCESS) {
    value_exists = true;
    std::vector<char> buffer(size + 2, '\0');
    RegQueryValueExA(key, step.value.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size);
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
      data = buffer.data();
    } else if (type == REG_DWORD && size == 4) {
      DWORD number;
      memcpy(&number, buffer.data(), 4);
      data = std::to_string(number);
    } else if (type == REG_MULTI_SZ) {
      // One line per string, empty ones too (a deletion at the next start
      // has an empty target), up to the list's closing empty string.
      const char* end = buffer.data() + size;
      for (const char* p = buffer.data(); p < end; p += strlen(p) + 1) {
        if (*p == '\0' && (p + 1 >= end || p[1] == '\0')) break;
        if (p != buffer.data()) data += '\n';
        data += p;
      }
    } else {
      data = "(not a string)";
    }
  }
  RegCloseKey(key);
  return true;
}

bool run_expect_reg(const Step& step) {
  bool key_exists, value_exists;
  std::string data;
  // A setup still running writes it a moment later, as a file.
  wait_for([&] {
    read_reg(step, key_exists, value_exists, data);
    return key_exists && value_exists && matches(data, step.match);
  });
  if (!key_exists) return fail("no key %s", step.path.c_str());
  if (!value_exists) return fail("no value \"%s\"", step.value.c_str());
  if (!matches(data, step.match)) return fail("the value holds \"%s\"", data.c_str());
  return true;
}

bool run_expect_no_reg(const Step& step) {
  bool key_exists, value_exists;
  std::string data;
  read_reg(step, key_exists, value_exists, data);
  if (!step.has_value && key_exists) return fail("the key %s exists", step.path.c_str());
  if (step.has_value && value_exists && (!step.yes || matches(data, step.match)))
    return fail("the value \"%s\" exists: \"%s\"", step.value.c_str(), data.c_str());
  return true;
}

bool run_wait_window(const Step& step) {
  HWND found = nullptr;
  auto search = [&] {
    for (HWND w = GetTopWindow(nullptr); w; w = GetWindow(w, GW_HWNDNEXT)) {
      if (!IsWindowVisible(w)) continue;
      char title[512] = "";
      GetWindowTextA(w, title, sizeof title);
      if (matches(title, step.match)) {
        found = w;
        return true;
      }
    }
    return false;
  };
  if (!wait_for(search)) return fail("no window titled \"%s\"", step.match.text.c_str());
  if (step.yes) {
    PostMessageA(found, WM_CLOSE, 0, 0);
    if (!wait_for([&] { return !IsWindow(found); })) return fail("the window did not close");
  }
  return true;
}

bool run_expect_no_process(const Step& step) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return fail("cannot list the processes");
  PROCESSENTRY32 entry;
  entry.dwSize = sizeof entry;
  bool running = false;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
    if (lstrcmpiA(entry.szExeFile, step.path.c_str()) == 0) running = true;
  CloseHandle(snapshot);
  if (running) return fail("%s is running", step.path.c_str());
  return true;
}

// A program that a started one starts in turn (a setup relaunching itself):
// from now on its windows count as the setup's, and wait-exit waits for it.
bool run_adopt(const Step& step) {
  DWORD found = 0;
  auto search = [&] {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return false;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more && !found; more = Process32Next(snapshot, &entry)) {
      std::string name = entry.szExeFile;
      CharLowerA(&name[0]);
      TextMatch wanted = step.match;
      CharLowerA(&wanted.text[0]);
      if (matches(name, wanted) && !started_directly(entry.th32ProcessID)) found = entry.th32ProcessID;
    }
    CloseHandle(snapshot);
    return found != 0;
  };
  if (!wait_for(search)) return fail("no process named \"%s\" is running", step.match.text.c_str());
  HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_TERMINATE, FALSE, found);
  if (!process) return fail("cannot open process %lu (error %lu)", found, GetLastError());
  started.push_back(Started{process, found, false, ""});
  return true;
}

// A started setup's frame window exists, shown or hidden (a very silent
// setup's never shows).
bool run_wait_frame() {
  if (wait_for([] { return find_frame() != nullptr; })) return true;
  return fail("no started setup has a frame window");
}

// Global atoms added by fill-atoms. Window classes are named in the same
// table: once it is full, no program can register a new class, as on a
// machine where leaking programs have used up the atoms.
std::vector<ATOM> filled_atoms;

bool run_fill_atoms() {
  for (unsigned n = 0;; ++n) {
    char name[32];
    wsprintfA(name, "kestrel-driver-atom-%u", n);
    ATOM atom = GlobalAddAtomA(name);
    if (!atom) break;
    filled_atoms.push_back(atom);
  }
  if (filled_atoms.empty()) return fail("no atom could be added (error %lu)", GetLastError());
  return true;
}

void free_atoms() {
  for (ATOM atom : filled_atoms) GlobalDeleteAtom(atom);
  filled_atoms.clear();
}

// Makes the folders above a file, as a user would before placing it.
void make_parent_folders(const std::string& path) {
  for (size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1))
    CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
}

bool run_write_file(const Step& step) {
  make_parent_folders(step.path);
  if (!write_whole(step.path, step.value.data(), step.value.size())) return fail("cannot write %s", step.path.c_str());
  return true;
}

bool run_copy_file(const Step& step) {
  make_parent_folders(step.path);
  if (!CopyFileA(step.value.c_str(), step.path.c_str(), FALSE))
    return fail("cannot copy %s to %s (error %lu)", step.value.c_str(), step.path.c_str(), GetLastError());
  return true;
}

// A folder that the script made goes the same way, once it is empty.
bool run_delete_file(const Step& step) {
  DWORD attributes = GetFileAttributesA(step.path.c_str());
  bool folder = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
  if (!(folder ? RemoveDirectoryA(step.path.c_str()) : DeleteFileA(step.path.c_str())))
    return fail("cannot delete %s (error %lu)", step.path.c_str(), GetLastError());
  return true;
}

bool run_set_env(const Step& step) {
  if (!SetEnvironmentVariableA(step.path.c_str(), step.value.c_str()))
    return fail("cannot set %s (error %lu)", step.path.c_str(), GetLastError());
  return true;
}

// Keeps the file open until unlock-file or the end of the driver, as a
// running program keeps its own file: without sharing, or (readable) open
// to readers but not to writing or deleting.
// (deletable) open to readers and to deleting, as some programs hold a
// file they only read.
// "running" holds a program's file as Windows does while it runs: opened
// for reading with others allowed to read and delete, and its image mapped,
// which keeps every name of the file from being deleted or written over.
bool run_lock_file(const Step& step) {
  DWORD share = step.yes ? FILE_SHARE_READ : step.number != 0 ? FILE_SHARE_READ | FILE_SHARE_DELETE : 0;
  DWORD access = step.number == 2 ? GENERIC_READ | GENERIC_EXECUTE : GENERIC_READ;
  HANDLE file = CreateFileA(step.path.c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return fail("cannot open %s (error %lu)", step.path.c_str(), GetLastError());
  Locked locked{step.path, file};
  if (step.number == 2) {
    locked.image = CreateFileMappingA(file, nullptr, PAGE_EXECUTE_READ | SEC_IMAGE, 0, 0, nullptr);
    if (locked.image) locked.view = MapViewOfFile(locked.image, FILE_MAP_READ, 0, 0, 0);
    if (!locked.view) {
      DWORD error = GetLastError();
      if (locked.image) CloseHandle(locked.image);
      CloseHandle(file);
      return fail("cannot map %s as a program (error %lu)", step.path.c_str(), error);
    }
  }
  locked_files.push_back(locked);
  return true;
}

bool run_unlock_file(const Step& step) {
  for (auto it = locked_files.begin(); it != locked_files.end(); ++it) {
    if (lstrcmpiA(it->path.c_str(), step.path.c_str()) != 0) continue;
    if (it->view) UnmapViewOfFile(it->view);
    if (it->image) CloseHandle(it->image);
    CloseHandle(it->file);
    locked_files.erase(it);
    return true;
  }
  return fail("%s was not locked by lock-file", step.path.c_str());
}

bool run_expect_file_text(const Step& step) {
  // A program that the setup starts may write its file a moment later, also
  // after the setup has ended (started through the desktop's shell, it is
  // not the setup's child): watch for five seconds.
  std::vector<uint8_t> data;
  std::string text;
  bool read = false;
  wait_for([&] {
    data.clear();
    read = read_whole(step.path, data);
    text.assign(data.begin(), data.end());
    return read && matches(text, step.match);
  }, 5000);
  if (!read) return fail("cannot read %s", step.path.c_str());
  if (!matches(text, step.match)) return fail("%s holds \"%s\"", step.path.c_str(), text.c_str());
  return true;
}

bool run_set_read_only(const Step& step) {
  DWORD attributes = GetFileAttributesA(step.path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return fail("%s does not exist", step.path.c_str());
  attributes = step.yes ? attributes | FILE_ATTRIBUTE_READONLY : attributes & ~FILE_ATTRIBUTE_READONLY;
  if (!SetFileAttributesA(step.path.c_str(), attributes ? attributes : FILE_ATTRIBUTE_NORMAL))
    return fail("cannot change the attributes of %s (error %lu)", step.path.c_str(), GetLastError());
  return true;
}

bool run_expect_read_only(const Step& step) {
  DWORD attributes = GetFileAttributesA(step.path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return fail("%s does not exist", step.path.c_str());
  bool read_only = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
  if (read_only != step.yes) return fail("%s is %sread-only", step.path.c_str(), read_only ? "" : "not ");
  return true;
}

// The folders and files of drive C: with their sizes, one line each: a
// folder as "C:\path|dir", a file as "C:\path|size". A prefix that ends
// at the path then names one folder or file, one ending in \ what lies in it.
void snapshot_files(const std::string& folder, std::vector<std::string>& lines) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    std::string name = found.cFileName;
    if (name == "." || name == "..") continue;
    std::string path = folder + name;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      lines.push_back(path + "|dir");
      // A link leads elsewhere, maybe back up the tree.
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) snapshot_files(path + "\\", lines);
    } else {
      uint64_t size = static_cast<uint64_t>(found.nFileSizeHigh) << 32 | found.nFileSizeLow;
      lines.push_back(path + "|" + std::to_string(size));
    }
  } while (FindNextFileA(search, &found));
  FindClose(search);
}

// Control characters written as \xNN, so that every line stays one line.
std::string printable(const char* text, size_t length) {
  std::string out;
  for (size_t i = 0; i < length; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20) {
      out += static_cast<char>(c);
    } else {
      char escape[8];
      snprintf(escape, sizeof escape, "\\x%02X", c);
      out += escape;
    }
  }
  return out;
}

std::string value_text(DWORD type, const BYTE* data, DWORD size) {
  if (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ)
    return "sz:" + printable(reinterpret_cast<const char*>(data), size);
  if (type == REG_DWORD && size == 4) {
    DWORD number;
    memcpy(&number, data, 4);
    return "dword:" + std::to_string(number);
  }
  std::string hex = "type" + std::to_string(type) + ":";
  char digits[4];
  for (DWORD i = 0; i < size; ++i) {
    snprintf(digits, sizeof digits, "%02X", data[i]);
    hex += digits;
  }
  return hex;
}

// A key and everything below it, one line each: a key as "NAME|key", a
// value as "NAME|value VALUE=type:data".
void snapshot_key(HKEY key, const std::string& name, std::vector<std::string>& lines) {
  lines.push_back(name + "|key");
  DWORD subkeys = 0, longest_subkey = 0, values = 0, longest_name = 0, longest_data = 0;
  if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, &longest_subkey, nullptr, &values, &longest_name,
                       &longest_data, nullptr, nullptr) != ERROR_SUCCESS)
    return;
  std::vector<char> value_name(longest_name + 2);
  std::vector<BYTE> data(longest_data + 2);
  for (DWORD i = 0; i < values; ++i) {
    DWORD name_size = static_cast<DWORD>(value_name.size()), data_size = static_cast<DWORD>(data.size()), type = 0;
    if (RegEnumValueA(key, i, value_name.data(), &name_size, nullptr, &type, data.data(), &data_size) != ERROR_SUCCESS)
      continue;
    lines.push_back(name + "|value " + printable(value_name.data(), name_size) + "=" +
                    value_text(type, data.data(), data_size));
  }
  std::vector<char> subkey(longest_subkey + 2);
  for (DWORD i = 0; i < subkeys; ++i) {
    DWORD size = static_cast<DWORD>(subkey.size());
    if (RegEnumKeyExA(key, i, subkey.data(), &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) continue;
    HKEY child;
    if (RegOpenKeyExA(key, subkey.data(), 0, KEY_READ, &child) != ERROR_SUCCESS) continue;
    snapshot_key(child, name + "\\" + std::string(subkey.data(), size), lines);
    RegCloseKey(child);
  }
}

// What Wine itself changes while programs run: its own settings and caches,
// and the per-session state of the shell and the desktop.
const std::vector<std::string> wine_noise = {
    "HKCU\\Software\\Wine|", "HKCU\\Software\\Wine\\",
};

std::vector<std::string> take_snapshot() {
  std::vector<std::string> lines;
  snapshot_files("C:\\", lines);
  const struct {
    HKEY root;
    const char* name;
  } keys[] = {{HKEY_LOCAL_MACHINE, "HKLM\\Software"}, {HKEY_CURRENT_USER, "HKCU\\Software"}};
  for (const auto& k : keys) {
    HKEY key;
    if (RegOpenKeyExA(k.root, "Software", 0, KEY_READ, &key) != ERROR_SUCCESS) continue;
    snapshot_key(key, k.name, lines);
    RegCloseKey(key);
  }
  std::vector<std::string> kept;
  for (std::string& line : lines)
    if (!starts_with_any(line, wine_noise)) kept.push_back(line);
  return kept;
}

bool run_snapshot(const Step& step) {
  std::string text = snapshot_text(take_snapshot());
  if (!write_whole(step.path, text.data(), text.size())) return fail("cannot write %s", step.path.c_str());
  return true;
}

// The uninstaller's last traces go a moment after it has ended.
bool run_expect_unchanged(const Step& step) {
  std::vector<uint8_t> bytes;
  if (!read_whole(step.path, bytes)) return fail("cannot read %s", step.path.c_str());
  std::vector<std::string> before = snapshot_lines(std::string(bytes.begin(), bytes.end()));
  std::vector<std::string> differences;
  if (wait_for([&] { return (differences = snapshot_differences(before, take_snapshot(), step.allowed)).empty(); }))
    return true;
  std::string report;
  for (size_t i = 0; i < differences.size() && i < 40; ++i) report += "\n         " + differences[i];
  if (differences.size() > 40) report += "\n         ...";
  return fail("%u differences:%s", static_cast<unsigned>(differences.size()), report.c_str());
}

bool run_expect_shortcut(const Step& step) {
  if (GetFileAttributesA(step.path.c_str()) == INVALID_FILE_ATTRIBUTES)
    return fail("%s does not exist", step.path.c_str());
  CoInitialize(nullptr);
  IShellLinkA* link = nullptr;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                              reinterpret_cast<void**>(&link))))
    return fail("no shell link object");
  IPersistFile* file = nullptr;
  WCHAR wide[MAX_PATH];
  char target[MAX_PATH] = "", arguments[1024] = "";
  bool loaded = SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
                MultiByteToWideChar(CP_ACP, 0, step.path.c_str(), -1, wide, MAX_PATH) != 0 &&
                SUCCEEDED(file->Load(wide, STGM_READ));
  if (loaded) {
    link->GetPath(target, sizeof target, nullptr, SLGP_RAWPATH);
    link->GetArguments(arguments, sizeof arguments);
  }
  if (file) file->Release();
  link->Release();
  if (!loaded) return fail("%s cannot be read as a shortcut", step.path.c_str());
  if (!matches(target, step.match)) return fail("the shortcut leads to \"%s\"", target);
  if (!matches(arguments, step.arguments)) return fail("the shortcut's arguments are \"%s\"", arguments);
  return true;
}

bool run_expect_same_file(const Step& step) {
  std::vector<uint8_t> actual, reference;
  if (!read_whole(one_match(step.path), actual)) return fail("cannot read %s", step.path.c_str());
  if (!read_whole(step.value, reference)) return fail("cannot read %s", step.value.c_str());
  if (actual.size() != reference.size())
    return fail("%s has %u bytes, %s has %u", step.path.c_str(), static_cast<unsigned>(actual.size()),
                step.value.c_str(), static_cast<unsigned>(reference.size()));
  for (size_t i = 0; i < actual.size(); ++i)
    if (actual[i] != reference[i]) return fail("%s differs from %s at byte %u", step.path.c_str(), step.value.c_str(),
                                               static_cast<unsigned>(i));
  return true;
}

// A default that no real value holds tells a missing key from an empty one.
const char missing_ini_value[] = "\x01missing";

std::string ini_value(const Step& step) {
  char value[1024];
  GetPrivateProfileStringA(step.section.c_str(), step.key.c_str(), missing_ini_value, value, sizeof value,
                           step.path.c_str());
  return value;
}

bool run_expect_ini(const Step& step) {
  if (GetFileAttributesA(step.path.c_str()) == INVALID_FILE_ATTRIBUTES)
    return fail("%s does not exist", step.path.c_str());
  std::string value = ini_value(step);
  if (value == missing_ini_value) return fail("no key %s in section [%s]", step.key.c_str(), step.section.c_str());
  if (!matches(value, step.match)) return fail("the key holds \"%s\"", value.c_str());
  return true;
}

bool run_expect_no_ini(const Step& step) {
  if (GetFileAttributesA(step.path.c_str()) == INVALID_FILE_ATTRIBUTES) return true;
  std::string value = ini_value(step);
  if (value != missing_ini_value) return fail("the key %s in section [%s] holds \"%s\"", step.key.c_str(),
                                              step.section.c_str(), value.c_str());
  return true;
}

// The system menu's Close, as Alt+F4 sends it to the frame, or the
// container's own in full-screen mode.
bool run_close(const Step& step) {
  HWND window = step.yes ? find_container() : find_frame();
  if (!window) return fail("no %s window", step.yes ? "container" : "frame");
  PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
  return true;
}

// What Task Manager's End task and taskkill without /F send.
bool run_end_task() {
  HWND frame = find_frame();
  if (!frame) return fail("no frame window");
  PostMessageA(frame, WM_CLOSE, 0, 0);
  return true;
}

// DATA is a string, or written "dword:N" a number, as snapshots show them.
bool run_set_reg(const Step& step) {
  HKEY key;
  if (RegCreateKeyA(root_key(step.root), step.path.c_str(), &key) != ERROR_SUCCESS)
    return fail("cannot create the key %s", step.path.c_str());
  const std::string& data = step.match.text;
  LONG result;
  if (data.compare(0, 6, "dword:") == 0) {
    DWORD number = strtoul(data.c_str() + 6, nullptr, 10);
    result = RegSetValueExA(key, step.value.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4);
  } else {
    // "expand:" makes a REG_EXPAND_SZ, as the Environment's Path is.
    bool expand = data.compare(0, 7, "expand:") == 0;
    const std::string text = expand ? data.substr(7) : data;
    result = RegSetValueExA(key, step.value.c_str(), 0, expand ? REG_EXPAND_SZ : REG_SZ,
                            reinterpret_cast<const BYTE*>(text.c_str()), static_cast<DWORD>(text.size() + 1));
  }
  RegCloseKey(key);
  if (result != ERROR_SUCCESS) return fail("cannot set the value \"%s\"", step.value.c_str());
  return true;
}

bool run_step(const Step& step) {
  switch (step.op) {
    case Op::Start: return run_start(step);
    case Op::WaitExit: return run_wait_exit(step);
    case Op::KillAt: return run_kill_at(step);
    case Op::EndSession: return run_end_session();
    case Op::WaitPage: return run_wait_page(step);
    case Op::ExpectText: return run_expect_text(step);
    case Op::ExpectEnabled:
    case Op::ExpectVisible:
    case Op::ExpectChecked: return run_expect_state(step);
    case Op::SetText: return run_set_text(step);
    case Op::Click: return run_click(step);
    case Op::SelectRadio: return run_select_radio(step);
    case Op::Answer: return run_answer(step);
    case Op::WaitBox: return run_wait_box(step);
    case Op::ExpectNoBox: return run_expect_no_box();
    case Op::ExpectCaption: return run_expect_caption(step);
    case Op::Minimize: return run_minimize();
    case Op::ExpectMinimized: return run_expect_minimized(step);
    case Op::TakeForeground: return run_take_foreground();
    case Op::ExpectForeground: return run_expect_foreground(step);
    case Op::Screenshot: return run_screenshot(step);
    case Op::ExpectPixel: return run_expect_pixel(step);
    case Op::ExpectShift: return run_expect_shift(step);
    case Op::Adopt: return run_adopt(step);
    case Op::ExpectFile: return run_expect_file(step);
    case Op::ExpectNoFile: return run_expect_no_file(step);
    case Op::ExpectReg: return run_expect_reg(step);
    case Op::ExpectNoReg: return run_expect_no_reg(step);
    case Op::WaitWindow: return run_wait_window(step);
    case Op::ExpectNoProcess: return run_expect_no_process(step);
    case Op::WriteFile: return run_write_file(step);
    case Op::CopyFile: return run_copy_file(step);
    case Op::RemoveFile: return run_delete_file(step);
    case Op::SetEnv: return run_set_env(step);
    case Op::LockFile: return run_lock_file(step);
    case Op::Snapshot: return run_snapshot(step);
    case Op::ExpectUnchanged: return run_expect_unchanged(step);
    case Op::ExpectShortcut: return run_expect_shortcut(step);
    case Op::ExpectSameFile: return run_expect_same_file(step);
    case Op::ExpectIni: return run_expect_ini(step);
    case Op::ExpectNoIni: return run_expect_no_ini(step);
    case Op::UnlockFile: return run_unlock_file(step);
    case Op::ExpectFileText: return run_expect_file_text(step);
    case Op::SetReadOnly: return run_set_read_only(step);
    case Op::ExpectReadOnly: return run_expect_read_only(step);
    case Op::Close: return run_close(step);
    case Op::EndTask: return run_end_task();
    case Op::SetReg: return run_set_reg(step);
    case Op::WaitFrame: return run_wait_frame();
    case Op::FillAtoms: return run_fill_atoms();
    case Op::Press: return run_press(step);
    case Op::ExpectFocus: return run_expect_focus(step);
    case Op::ExpectInside: return run_expect_inside(step);
    case Op::ExpectFits: return run_expect_fits(step);
    case Op::ExpectBox: return run_expect_box(step);
    case Op::FreeAtoms:
      free_atoms();
      return true;
    case Op::Timeout:
      timeout_ms = static_cast<DWORD>(step.number) * 1000;
      return true;
    case Op::Mark:
      printf("mark %s %lu\n", step.value.c_str(), GetTickCount() - driver_start);
      return true;
  }
  return fail("unknown step");
}

// Ends what this run started and left running, so that a failed scenario
// does not leave a setup that blocks the next one.
// Answers whether one was left although the script did not wait for it.
bool end_started() {
  bool left = false;
  for (const Started& s : started) {
    if (WaitForSingleObject(s.process, 0) == WAIT_TIMEOUT) {
      left = left || !s.waited;
      printf("ending process %lu that is still running\n", s.id);
      TerminateProcess(s.process, 1);
      WaitForSingleObject(s.process, 5000);
    }
    CloseHandle(s.process);
  }
  for (const Locked& locked : locked_files) CloseHandle(locked.file);
  // The atoms outlive this process: the next scenarios need the table.
  free_atoms();
  return left;
}

bool environment_variable(const std::string& name, std::string& value) {
  char buffer[4096];
  DWORD length = GetEnvironmentVariableA(name.c_str(), buffer, sizeof buffer);
  if (length == 0 || length >= sizeof buffer) return false;
  value.assign(buffer, length);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  setvbuf(stdout, nullptr, _IONBF, 0);
  driver_start = GetTickCount();
  if (argc != 2) {
    printf("usage: kestrel-driver SCRIPT\n");
    return 2;
  }
  std::vector<uint8_t> bytes;
  if (!read_whole(argv[1], bytes)) {
    printf("cannot read the script %s\n", argv[1]);
    return 2;
  }
  std::vector<Step> steps;
  ScriptError error;
  if (!parse_script(std::string(bytes.begin(), bytes.end()), environment_variable, steps, error)) {
    printf("%s:%d: %s\n", argv[1], error.line, error.message.c_str());
    return 2;
  }
  int result = 0;
  for (const Step& step : steps) {
    if (run_step(step)) {
      printf("ok     %d: %s\n", step.line, step.source.c_str());
      continue;
    }
    printf("FAILED %d: %s\n       %s\n", step.line, step.source.c_str(), failure.c_str());
    result = 1;
    break;
  }
  if (end_started() && result == 0) {
    printf("FAILED: the script ended while a program it started was still running\n");
    result = 1;
  }
  if (result == 0) printf("all %u steps passed\n", static_cast<unsigned>(steps.size()));
  return result;
}
