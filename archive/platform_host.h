// Host side of the seam: what the tool and the native tests may set.
#pragma once

// Answers message boxes on the host. The default prints the text to stderr
// and answers No to questions, Cancel where offered, else OK.
typedef int (*MessageBoxHandler)(const char* text, unsigned style);
void set_message_box_handler(MessageBoxHandler handler);
