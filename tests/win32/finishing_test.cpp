// The actions after the wizard, and the stub copy of the relaunch from a
// removable disk.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/finishing.h"
#include "app/relaunch.h"
#include "archive/config.h"
#include "archive/loader.h"
#include "base/command_line.h"
#include "base/globals.h"
#include "base/memory.h"
#include "base/random_number.h"
#include "install/destination.h"
#include "install/engine.h"
#include "tests/win32/install_fixture.h"
#include "ui/background.h"
#include "ui/finish_page.h"
#include "ui/frame_window.h"
#include "ui/main_windows.h"

// The random part of temporary names: drawn from Draws, in order, while
// it holds any.
static std::vector<unsigned long> Draws;
unsigned long random_number() {
  if (Draws.empty()) return GetTickCount();
  unsigned long next = Draws.front();
  Draws.erase(Draws.begin());
  return next;
}

// Stand-ins for the engine's path resolution, the finish page's state and
// the painting, recording what the finishing sequence asks of them.
struct Resolution {
  const uint8_t* entry;
  bool frame_alive;
};
static std::vector<Resolution> resolutions;
static std::string resolved_path = "C:\\nowhere\\missing.exe";
int item_destination(const uint8_t* entry) {
  resolutions.push_back({entry, FrameWindow != nullptr && IsWindow(FrameWindow) != FALSE});
  std::strcpy(DestPath, resolved_path.c_str());
  return 0;
}
bool RunProgramOption = true;
static int restart_questions;
static std::vector<int> restart_question_order;  // resolutions made before each question
INT_PTR CALLBACK restart_dialog_proc(HWND dialog, UINT message, WPARAM, LPARAM) {
  if (message != WM_INITDIALOG) return FALSE;
  ++restart_questions;
  restart_question_order.push_back(static_cast<int>(resolutions.size()));
  EndDialog(dialog, 2);  // declined: the tests never restart the machine
  return TRUE;
}
void paint_background(HWND, HDC) {}
void draw_picture(HWND, HDC, int, const uint8_t*, uint32_t) {}

namespace {

const uint8_t screen_saver_entry[4] = {}, program_entry[4] = {};

class Finishing : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { register_frame_class(GetModuleHandleA(nullptr)); }

  void SetUp() override {
    resolutions.clear();
    restart_questions = 0;
    restart_question_order.clear();
    RunProgramOption = true;
    RestartNeeded = false;
    HasStartPageBlock = false;
    ScreenSaverItem = ProgramItem = DocumentItem = nullptr;
    resolved_path = "C:\\nowhere\\missing.exe";
    load_restart_template();
    FrameWindow = create_frame_window(GetModuleHandleA(nullptr));
    ASSERT_NE(nullptr, FrameWindow);
  }
  void TearDown() override {
    if (FrameWindow) drain_messages();
    free_archive();
  }

  // A store holding template 8 (as the loader would own it: a heap block).
  static void load_restart_template() {
    HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(8), reinterpret_cast<LPCSTR>(RT_DIALOG));
    ASSERT_NE(nullptr, found);
    const uint8_t* bytes = static_cast<const uint8_t*>(LockResource(LoadResource(nullptr, found)));
    uint32_t size = SizeofResource(nullptr, found);
    uint32_t table = 4 * 9;
    ASSERT_TRUE(alloc_zeroed(table + size, &DialogTemplateStore));
    for (int n = 0; n < 9; ++n) std::memcpy(DialogTemplateStore + 4 * n, &table, 4);
    std::memcpy(DialogTemplateStore + table, bytes, size);
    DialogTemplateStoreLength = table + size;
  }

  size_t resolutions_of(const uint8_t* entry) {
    size_t n = 0;
    for (const Resolution& r : resolutions) n += r.entry == entry;
    return n;
  }
};

TEST_F(Finishing, ARestartNeededKeepsTheProgramFromStartingEvenWhenDeclined) {
  RestartNeeded = true;
  ProgramItem = program_entry;
  finish_setup();
  EXPECT_EQ(1, restart_questions);
  EXPECT_EQ(0u, resolutions_of(program_entry));
  EXPECT_EQ(nullptr, FrameWindow);
  EXPECT_EQ(nullptr, DialogTemplateStore) << "the archive's data is released";
}

TEST_F(Finishing, TheStartPageBlockSuppressesEveryAction) {
  HasStartPageBlock = true;
  RestartNeeded = true;
  ScreenSaverItem = screen_saver_entry;
  ProgramItem = program_entry;
  finish_setup();
  EXPECT_EQ(0, restart_questions);
  EXPECT_TRUE(resolutions.empty());
}

TEST_F(Finishing, AClearedRunCheckBoxOrNoProgramItemStartsNothing) {
  ProgramItem = program_entry;
  RunProgramOption = false;
  finish_setup();
  EXPECT_TRUE(resolutions.empty());
  EXPECT_EQ(0, restart_questions);
}

TEST_F(Finishing, ScreenSaverComesBeforeTheQuestionAndTheProgramAfterTheFrame) {
  ScreenSaverItem = screen_saver_entry;
  RestartNeeded = true;
  finish_setup();
  ASSERT_EQ(1u, resolutions.size());
  EXPECT_EQ(screen_saver_entry, resolutions[0].entry);
  ASSERT_EQ(1u, restart_question_order.size());
  EXPECT_EQ(1, restart_question_order[0]) << "the screen saver was resolved before the question";

  resolutions.clear();
  RestartNeeded = false;
  ScreenSaverItem = nullptr;
  ProgramItem = program_entry;
  FrameWindow = create_frame_window(GetModuleHandleA(nullptr));
  load_restart_template();
  finish_setup();
  ASSERT_EQ(1u, resolutions.size());
  EXPECT_EQ(program_entry, resolutions[0].entry);
  EXPECT_FALSE(resolutions[0].frame_alive);
}

TEST_F(Finishing, TheProgramStartsThroughItsShortPathInTheInstallationFolder) {
  char system[MAX_PATH];
  GetSystemDirectoryA(system, MAX_PATH);
  std::string tool = std::string(system) + "\\hostname.exe";
  if (GetFileAttributesA(tool.c_str()) == INVALID_FILE_ATTRIBUTES) GTEST_SKIP() << "no hostname.exe to start";
  const char folder[] = "C:\\Kestrel Run Test";
  CreateDirectoryA(folder, nullptr);
  resolved_path = std::string(folder) + "\\host name.exe";
  ASSERT_TRUE(CopyFileA(tool.c_str(), resolved_path.c_str(), FALSE));
  std::strcpy(InstallDir, "C:\\Kestrel Run Test\\");
  ProgramItem = program_entry;

  EXPECT_TRUE(run_program_item());
  EXPECT_STREQ("C:\\Kestrel Run Test", InstallDir);
  EXPECT_EQ(nullptr, std::strchr(TempPath, ' ')) << TempPath;
  char long_form[MAX_PATH];
  ASSERT_NE(0u, GetLongPathNameA(TempPath, long_form, MAX_PATH));
  EXPECT_EQ(0, lstrcmpiA(resolved_path.c_str(), long_form));
  char current[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, current);
  EXPECT_EQ(0, lstrcmpiA(folder, current));

  SetCurrentDirectoryA("C:\\");
  Sleep(500);  // let the started program end before its file goes
  DeleteFileA(resolved_path.c_str());
  RemoveDirectoryA(folder);
}

TEST_F(Finishing, AProgramWithoutAShortFormIsNotStartedUnderAStaleName) {
  std::strcpy(TempPath, "C:\\stale\\file.$$A");
  std::strcpy(InstallDir, "C:\\");
  ProgramItem = program_entry;
  EXPECT_FALSE(run_program_item());
  EXPECT_STREQ("", TempPath);
}

LRESULT CALLBACK counting_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_USER) ++*reinterpret_cast<int*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  return DefWindowProcA(window, message, wparam, lparam);
}

TEST_F(Finishing, DrainingHandlesTheQueuedMessagesAndEndsWithTheFrame) {
  WNDCLASSA c = {};
  c.lpfnWndProc = counting_proc;
  c.hInstance = GetModuleHandleA(nullptr);
  c.lpszClassName = "KestrelCounting";
  RegisterClassA(&c);
  HWND counter = CreateWindowA("KestrelCounting", "", 0, 0, 0, 1, 1, nullptr, nullptr, c.hInstance, nullptr);
  int handled = 0;
  SetWindowLongPtrA(counter, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&handled));
  PostMessageA(counter, WM_USER, 0, 0);
  PostMessageA(counter, WM_USER, 0, 0);
  drain_messages();
  EXPECT_EQ(2, handled);
  EXPECT_EQ(nullptr, FrameWindow);
  DestroyWindow(counter);
  drain_messages();  // without a frame it must not wait for ever
}

// --- the relaunch copy -----------------------------------------------------

class RelaunchCopy : public ::testing::Test {
 protected:
  void SetUp() override {
    GetTempPathA(MAX_PATH, temp);
    if (temp[std::strlen(temp) - 1] != '\\') std::strcat(temp, "\\");
    source = std::string(temp) + "kestrel setup source.exe";
    HANDLE f = CreateFileA(source.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    for (int i = 0; i < 100; ++i) content.push_back(static_cast<char>(i * 7));
    DWORD put;
    WriteFile(f, content.data(), 100, &put, nullptr);
    CloseHandle(f);
    std::strcpy(SourcePath, source.c_str());
    saved_stub_size = StubSize;
    Draws = {0x1234abcd, 0x0badf00d};
  }
  void TearDown() override {
    DeleteFileA(name(0x1234abcd).c_str());
    DeleteFileA(name(0x0badf00d).c_str());
    DeleteFileA(source.c_str());
    StubSize = saved_stub_size;
    Draws.clear();
  }
  std::string name(unsigned long random) {
    char digits[16];
    wsprintfA(digits, "%08lx", random);
    return std::string(temp) + "_inst" + digits + ".exe";
  }

  char temp[MAX_PATH];
  std::string source;
  std::string content;
  uint32_t saved_stub_size;
  char command[kRelaunchCommandSize];
};

TEST_F(RelaunchCopy, TheStubAloneGoesToANewFileAndBothPathsAreQuoted) {
  // A file already there under the first name drawn is neither used nor
  // touched: the copy is made only as a new file.
  HANDLE planted = CreateFileA(name(0x1234abcd).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD put;
  WriteFile(planted, "planted", 7, &put, nullptr);
  CloseHandle(planted);
  StubSize = 40;
  ASSERT_TRUE(make_relaunch_copy(command, sizeof command));
  EXPECT_EQ(name(0x0badf00d), std::string(TempPath));
  EXPECT_EQ("\"" + name(0x0badf00d) + "\" /S\"" + source + "\" /DEL", std::string(command));
  EXPECT_EQ(content.substr(0, 40), read_whole_file(name(0x0badf00d)));
  EXPECT_EQ("planted", read_whole_file(name(0x1234abcd)));
}

TEST_F(RelaunchCopy, NoCopyIsLeftWhenTheStubCannotBeCopiedWhole) {
  StubSize = 400;  // longer than the file
  EXPECT_FALSE(make_relaunch_copy(command, sizeof command));
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(name(0x1234abcd).c_str()));
  StubSize = 40;
  std::strcpy(SourcePath, "C:\\no such folder\\setup.exe");
  EXPECT_FALSE(make_relaunch_copy(command, sizeof command));
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(name(0x0badf00d).c_str()));
}

TEST_F(RelaunchCopy, ACommandLineThatWouldNotFitIsNotMade) {
  StubSize = 40;
  EXPECT_FALSE(make_relaunch_copy(command, 40));
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(name(0x1234abcd).c_str()));
  // The longest setup path still fits the command's buffer.
  std::string long_source = std::string(temp) + std::string(258 - std::strlen(temp), 'x');
  std::strcpy(SourcePath, long_source.c_str());
  ASSERT_TRUE(CopyFileA(source.c_str(), long_source.c_str(), FALSE));
  EXPECT_TRUE(make_relaunch_copy(command, sizeof command));
  EXPECT_NE(nullptr, std::strstr(command, long_source.c_str()));
  // So do the longest folder and log with every other switch.
  std::string longest(259, 'd');
  std::strcpy(Switches.dir, longest.c_str());
  std::strcpy(Switches.log, longest.c_str());
  Switches.has_type = Switches.no_restart = true;
  Switches.setup_type = 5;
  Draws = {0x1234abcd};
  EXPECT_TRUE(make_relaunch_copy(command, sizeof command));
  EXPECT_NE(nullptr, std::strstr(command, (" /LOG=\"" + longest + "\" /TYPE=5 /NORESTART").c_str()));
  Switches = SetupSwitches();
  DeleteFileA(long_source.c_str());
}

TEST_F(RelaunchCopy, TheCopyGetsEverySwitchThisRunAccepted) {
  StubSize = 40;
  std::strcpy(Switches.dir, "C:\\Program Files\\Product");
  std::strcpy(Switches.log, "setup log.txt");
  Switches.has_type = true;
  Switches.setup_type = 0;
  Switches.no_restart = true;
  ASSERT_TRUE(make_relaunch_copy(command, sizeof command));
  Switches = SetupSwitches();
  EXPECT_EQ("\"" + name(0x1234abcd) + "\" /S\"" + source +
                "\" /DEL /DIR=\"C:\\Program Files\\Product\" /LOG=\"setup log.txt\" /TYPE=0 /NORESTART",
            std::string(command));
}

}  // namespace
