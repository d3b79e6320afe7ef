// The wizard driver's scripts: one command per line, read into steps that
// the driver carries out against a running setup. Portable, so that the
// reading of scripts is tested on the host.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

enum class Op {
  Start,            // start PATH [ARGS...]
  WaitExit,         // wait-exit CODE
  WaitPage,         // wait-page PAGE
  ExpectText,       // expect-text ID TEXT
  ExpectEnabled,    // expect-enabled ID yes|no
  ExpectVisible,    // expect-visible ID yes|no
  ExpectChecked,    // expect-checked ID yes|no
  SetText,          // set-text ID TEXT
  Click,            // click ID
  SelectRadio,      // select-radio ID
  Answer,           // answer TEXT BUTTON
  WaitBox,          // wait-box TEXT
  ExpectNoBox,      // expect-no-box
  ExpectCaption,    // expect-caption frame|container TEXT
  Minimize,         // minimize
  ExpectMinimized,  // expect-minimized yes|no
  TakeForeground,   // take-foreground
  ExpectForeground, // expect-foreground yes|no
  Screenshot,       // screenshot FILE [client|ID]
  ExpectPixel,      // expect-pixel FILE X Y COLOUR [TOLERANCE]
  ExpectShift,      // expect-shift FILE X0 Y0 X1 Y1 COLOUR COLOUR DX DY [TOLERANCE]
  ExpectFile,       // expect-file PATH [SIZE]
  ExpectNoFile,     // expect-no-file PATH
  ExpectReg,        // expect-reg ROOT\KEY VALUE DATA
  ExpectNoReg,      // expect-no-reg ROOT\KEY [VALUE [DATA]]: no such key, value, or data
  WaitWindow,       // wait-window TITLE [close]
  ExpectNoProcess,  // expect-no-process NAME
  WriteFile,        // write-file PATH TEXT (makes the folders above PATH)
  CopyFile,         // copy-file FROM TO (makes the folders above TO)
  RemoveFile,       // delete-file PATH: a file, or an empty folder
  SetEnv,           // set-env NAME VALUE: for the programs started from now on
  LockFile,         // lock-file PATH [readable|deletable|running]
  UnlockFile,       // unlock-file PATH
  ExpectSameFile,   // expect-same-file PATH OTHER
  ExpectFileText,   // expect-file-text PATH TEXT
  SetReadOnly,      // set-read-only PATH yes|no
  ExpectReadOnly,   // expect-read-only PATH yes|no
  Timeout,          // timeout SECONDS
  Adopt,            // adopt NAME
  Snapshot,         // snapshot FILE
  ExpectUnchanged,  // expect-unchanged FILE [EXCEPT...]
  ExpectShortcut,   // expect-shortcut LINK TARGET [ARGUMENTS]
  ExpectIni,        // expect-ini FILE SECTION KEY VALUE
  Mark,             // mark NAME: prints "mark NAME MS", the milliseconds since the driver started
  Close,            // close frame|container: the system menu's Close (Alt+F4)
  EndTask,          // end-task: WM_CLOSE to the frame from outside, as Task Manager sends it
  SetReg,           // set-reg ROOT\KEY VALUE DATA (a string, or dword:N)
  ExpectNoIni,      // expect-no-ini FILE SECTION KEY: no such file or key
  WaitFrame,        // wait-frame: a started setup has its frame window, shown or hidden
  FillAtoms,        // fill-atoms: the atom table, where window classes are named, full
  FreeAtoms,        // free-atoms: the atoms of fill-atoms deleted again (also at the end)
  Press,            // press tab|enter: the key, sent to the setup's focus
  ExpectFocus,      // expect-focus ID: the setup's focus is on that control, visible and enabled
  ExpectInside,     // expect-inside ID: the control lies in the container, within the buttons' margin
  ExpectFits,       // expect-fits ID: the control's text, wrapped, fits its height
  ExpectBox,        // expect-box FILE COLOUR W H [TOLERANCE]: the colour's pixels span W x H
  EndSession,       // end-session: Windows ends the session: the program started last is asked and told, then ended
  KillAt,           // kill-at PERMILLE: the program started last, and what it started, is ended by force at that
                    // share of that program's shortest run that wait-exit saw end with 0, from its start, unless it ended
};

enum class PageKind { Welcome, Licence, SetupType, Destination, Ready, Progress, Finish, Closing };

enum class RegRoot { ClassesRoot, CurrentUser, LocalMachine, Users };

// A text to compare with: exact, or (written ~"...") a substring.
struct TextMatch {
  std::string text;
  bool substring = false;
};

struct Step {
  int line = 0;
  std::string source;  // the line as written, for the report
  Op op = Op::Start;
  int id = 0;           // control id, or the button of a message box; 1 for "box" of expect-caption
  bool yes = false;     // yes|no arguments, "close" of wait-window, DATA of expect-no-reg given,
                        // "readable" of lock-file, "container" of close
  PageKind page = PageKind::Welcome;
  TextMatch match;      // texts, titles and registry data; a shortcut's target
  TextMatch arguments;  // a shortcut's arguments
  std::string path;     // program, file, bitmap, registry key below its root, process name
  std::string value;    // registry value name; text to write; reference file; copy's source;
                        // environment value
  std::string section;  // expect-ini: the section and key
  std::string key;
  bool has_value = false;
  std::string command_tail;  // start: the arguments as written, for the command line
  RegRoot root = RegRoot::CurrentUser;
  int32_t number = 0;   // exit code; x; seconds; 1 for "deletable" of lock-file, 2 for "running"
  int32_t y = 0;
  uint32_t colour = 0;  // 0xRRGGBB
  int32_t system_colour = -1;  // instead: the system's colour of this COLOR_ index
  uint32_t colour2 = 0;        // expect-shift: the colour of the moved copy
  int32_t system_colour2 = -1;
  int32_t x1 = 0, y1 = 0;      // expect-shift: the rectangle's far corner (excluded)
  int32_t dx = 0, dy = 0;      // expect-shift: how far the copy lies
  int32_t tolerance = 0;
  int64_t size = -1;    // expected file size; -1 any
  std::vector<std::string> allowed;  // expect-unchanged: prefixes of lines that may differ
};

struct ScriptError {
  int line = 0;
  std::string message;
};

// Looks up ${NAME} in scripts; answers false when NAME is not set.
using VariableLookup = std::function<bool(const std::string& name, std::string& value)>;

// Reads a whole script. Blank lines and lines starting with # are skipped.
// Answers false with the first error (its line and what is wrong).
bool parse_script(const std::string& text, const VariableLookup& lookup, std::vector<Step>& steps,
                  ScriptError& error);

const char* page_name(PageKind page);
