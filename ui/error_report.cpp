#include "ui/error_report.h"

#include <cstring>

#include "app/globals.h"
#include "app/messages.h"
#include "app/path_strings.h"
#include "archive/config.h"
#include "install/engine.h"

#include <windows.h>

enum : int { kCancelled = 15, kSystemError = 1000 };
enum : DWORD { kSystemTextLimit = 500 };

void format_error_report(char* out, size_t capacity) {
  if (ErrorState == kCancelled) {
    copy_string(out, get_text(6, kCancelled), capacity);
    return;
  }
  char description[kMessageCapacity] = "";
  if (ErrorState == kSystemError) {
    copy_string(description, MessageArgument, kPathSize);
    std::strcat(description, ": ");
    size_t used = std::strlen(description);
    // Inserts are ignored: a system text with %1 has no arguments here.
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, SavedSystemError,
                   MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), description + used, kSystemTextLimit, nullptr);
  } else {
    format_message(description, ErrorState);
  }
  format_text(out, capacity, get_text(5, 4), description);
}
