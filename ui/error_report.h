// The finish page's report of the installation's first failure.
#pragma once
#include <cstddef>
#include <cstdint>

// The text for an ErrorState: text 6/15 for a cancel; otherwise text 5/4 with
// the error's description in its "%s": for 1000 MessageArgument, ": " and
// `system_text` (the system's wording of the saved error code), for any
// other code N text 6/N with MessageArgument.
void format_error_report(char* out, size_t capacity, int32_t error_state, const char* system_text);
