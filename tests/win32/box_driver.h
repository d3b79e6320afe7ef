// Answers the message boxes of a program's own thread from a second one,
// as a user would, for the Win32 tests whose code asks questions.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

// Answers the message boxes of one call from a second thread: for each,
// waits for the box, keeps its text, releases `unlock` if given, and
// presses the button.
struct BoxAnswer {
  int button;
  HANDLE unlock;
};
struct BoxDriver {
  explicit BoxDriver(const char* box_caption) : caption(box_caption) {}
  const char* caption;  // the boxes' caption, text 6/0
  std::vector<BoxAnswer> answers;
  std::vector<std::string> texts;
  HANDLE thread = nullptr;

  static DWORD WINAPI run(void* self) {
    BoxDriver& d = *static_cast<BoxDriver*>(self);
    for (const BoxAnswer& a : d.answers) {
      HWND box = nullptr;
      for (int i = 0; i < 1200 && !box; ++i) {
        box = FindWindowA("#32770", d.caption);
        if (!box) Sleep(50);
      }
      if (!box) return 1;
      char text[1024] = "";
      GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
      d.texts.push_back(text);
      if (a.unlock) CloseHandle(a.unlock);
      PostMessageA(box, WM_COMMAND, static_cast<WPARAM>(a.button), 0);
      // Until the box is gone, it must not be found again.
      for (int i = 0; i < 1200 && IsWindow(box); ++i) Sleep(20);
    }
    return 0;
  }
  void start(std::vector<BoxAnswer> list) {
    answers = std::move(list);
    texts.clear();
    thread = CreateThread(nullptr, 0, run, this, 0, nullptr);
  }
  void finish() {
    if (!thread) return;
    WaitForSingleObject(thread, 60000);
    CloseHandle(thread);
    thread = nullptr;
  }
};
