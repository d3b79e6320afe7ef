#include "ui/templates.h"

#include <cstring>

#include "archive/config.h"

DLGTEMPLATE* load_template(int number) {
  const uint8_t* bytes = nullptr;
  uint32_t length = 0;
  // A template the store does not have would hand the dialog functions
  // nothing but zeros: the page is passed over instead.
  if (!find_template(number, &bytes, &length)) return nullptr;
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, kTemplateBlockSize);
  if (!block) return nullptr;
  void* pointer = GlobalLock(block);
  if (!pointer) {
    GlobalFree(block);
    return nullptr;
  }
  std::memcpy(pointer, bytes, length < kTemplateBlockSize ? length : kTemplateBlockSize);
  return static_cast<DLGTEMPLATE*>(pointer);
}

void free_template(DLGTEMPLATE* pointer) {
  if (!pointer) return;
  HGLOBAL block = GlobalHandle(pointer);
  GlobalUnlock(block);
  GlobalFree(block);
}
