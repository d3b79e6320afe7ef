// Messages built from the text table.
#pragma once
#include "base/text_format.h"

// Text 6/n with MessageArgument in place of its %s.
void format_message(char* destination, int n);
