// The progress page's display, which the installation engine reports to.
#pragma once

// Stores min(percent, 100) and repaints the bar and the percentage at once.
void set_progress(unsigned percent);
// Shows the file being installed, shortened for display.
void show_current_file(const char* path);
