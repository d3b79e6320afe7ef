// The progress page's display, which the installation engine reports to.
#pragma once

// Stores min(percent, 100) and repaints the bar and the percentage at once.
void set_progress(unsigned percent);
// Shows the file being installed (or taken back), shortened for display.
void show_current_file(const char* path);
// The file an item is about to install. Painting a name for each of many
// small items would cost more than installing them, and nobody could read
// them: the name is shown at once only when the item `takes_a_while` or no
// name was shown for a moment; otherwise it waits for show_waiting_file or
// the next item. A hidden page is never painted.
void announce_file(const char* path, bool takes_a_while);
// Shows the announced name that waits, if any: the page calls it when its
// items are done for the tick, a message box before it asks.
void show_waiting_file();
// The page's texts while a cancelled or failed installation is taken
// back: text 4/5 before the file name, 4/6 below the bar (empty when the
// setup has none, rather than the installing texts).
void show_rollback_texts();
