// A program ended by SIGINT, SIGTERM or SIGHUP (Ctrl-C, kill, a closed
// terminal) first takes away the work it leaves half done, such as a
// build's work folder beside its output.
#pragma once
#include <functional>
#include <mutex>

// Blocks those signals in the calling thread, and so in every thread it
// starts later, and starts the thread that takes them: it runs the cleanup
// and ends the program as the signal would have. Call it before any other
// thread starts.
void end_cleanly_on_signals();

// Held while the cleanup runs; hold it to change the cleanup, and across a
// step that a signal must not cut in two (it then waits for the step).
std::mutex& signal_cleanup_lock();
// What a signal runs before the program ends; empty for nothing. The
// caller holds signal_cleanup_lock().
void set_signal_cleanup(std::function<void()> cleanup);
