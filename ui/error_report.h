// The finish page's report of the installation's first failure.
#pragma once
#include <cstddef>

// The text for ErrorState: text 6/15 for a cancel; otherwise text 5/4 with
// the error's description in its "%s" (text 6/N with MessageArgument, or
// for 1000 MessageArgument, ": " and the system's text of the saved code).
void format_error_report(char* out, size_t capacity);
