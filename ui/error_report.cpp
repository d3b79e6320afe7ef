#include "ui/error_report.h"

#include "archive/config.h"
#include "archive/error_codes.h"
#include "archive/messages.h"
#include "base/globals.h"
#include "base/path_strings.h"


void format_error_report(char* out, size_t capacity, int32_t error_state, const char* system_text) {
  if (error_state == kErrorDiskGivenUp) {
    copy_string(out, get_text(6, kErrorDiskGivenUp), capacity);
    return;
  }
  char description[kMessageCapacity];
  if (error_state == kErrorSystem) {
    copy_string(description, MessageArgument, kPathSize);
    append_string(description, ": ", sizeof description);
    append_string(description, system_text, sizeof description);
  } else {
    format_message(description, error_state);
  }
  format_text(out, capacity, get_text(5, 4), description);
}
