#include "app/messages.h"

#include <cstring>

#include "app/globals.h"
#include "app/path_strings.h"
#include "archive/config.h"

void format_message(char* destination, int n) {
  const char* text = get_text(6, n);
  if (std::strstr(text, "%s"))
    format_text(destination, kMessageCapacity, text, MessageArgument);
  else
    copy_string(destination, text, kMessageCapacity);
}
