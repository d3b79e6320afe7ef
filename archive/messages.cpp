#include "archive/messages.h"

#include <cstring>

#include "archive/config.h"
#include "base/globals.h"
#include "base/path_strings.h"
#include "base/text_format.h"

void format_message(char* destination, int n) {
  const char* text = get_text(6, n);
  if (std::strstr(text, "%s"))
    format_text(destination, kMessageCapacity, text, MessageArgument);
  else
    copy_string(destination, text, kMessageCapacity);
}
