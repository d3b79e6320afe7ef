// In-memory dialog templates for page tests: a child dialog with static
// texts, buttons and check boxes at given dialog-unit positions.
#pragma once
#include <windows.h>

#include <vector>

class DialogTemplate {
 public:
  enum Class : WORD { kButton = 0x0080, kEdit = 0x0081, kStatic = 0x0082 };

  DialogTemplate(DWORD style, short cx, short cy) {
    put_dword(style);
    put_dword(0);
    words_.push_back(0);  // item count, filled in by add
    words_.push_back(0);
    words_.push_back(0);
    words_.push_back(static_cast<WORD>(cx));
    words_.push_back(static_cast<WORD>(cy));
    words_.push_back(0);  // no menu
    words_.push_back(0);  // default class
    words_.push_back(0);  // no title
  }
  DialogTemplate& add(Class kind, int id, DWORD style, short x, short y, short cx, short cy,
                      const wchar_t* text = L"") {
    if (words_.size() % 2) words_.push_back(0);  // items start on a DWORD
    put_dword(style | WS_CHILD);
    put_dword(0);
    for (short v : {x, y, cx, cy}) words_.push_back(static_cast<WORD>(v));
    words_.push_back(static_cast<WORD>(id));
    words_.push_back(0xFFFF);
    words_.push_back(kind);
    for (; *text; ++text) words_.push_back(static_cast<WORD>(*text));
    words_.push_back(0);
    words_.push_back(0);  // no creation data
    ++words_[4];
    return *this;
  }
  const DLGTEMPLATE* get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

 private:
  void put_dword(DWORD v) {
    words_.push_back(LOWORD(v));
    words_.push_back(HIWORD(v));
  }
  std::vector<WORD> words_;
};
