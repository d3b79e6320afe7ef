// Host side of the seam: what the tool and the native tests may set.
#pragma once

// Answers message boxes on the host. The default prints the text to stderr
// and answers No to questions, Cancel where offered, else OK.
typedef int (*MessageBoxHandler)(const char* text, unsigned style);
void set_message_box_handler(MessageBoxHandler handler);

// The architecture block's value as the last load read it (kArchitecture...,
// archive/format.h); the host's tool clears it before a load.
extern unsigned long LoadedArchitecture;
