// The progress page's display, which the installation engine reports to.
#pragma once

// Stores min(percent, 100) and repaints the bar and the percentage at once.
void set_progress(unsigned percent);
// Shows the file being installed, shortened for display.
void show_current_file(const char* path);
// The page's texts while a cancelled or failed installation is taken
// back: text 4/5 before the file name, 4/6 below the bar (empty when the
// setup has none, rather than the installing texts).
void show_rollback_texts();
