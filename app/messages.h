// Messages built from the text table.
#pragma once
#include <cstddef>

#include "app/path_strings.h"  // format_text

// wsprintfA's output limit; every message buffer holds this many bytes.
enum : size_t { kMessageCapacity = 1024 };

// Text 6/n with MessageArgument in place of its %s.
void format_message(char* destination, int n);
