// What the installation engine tells the wizard while it works: the
// progress, the file at hand and the page the wizard goes on at. Declared
// here, under the wizard, so that the engine never includes it; ui/
// implements it (progress_display.cpp, sequencer.cpp), and the tests stand
// in for it.
#pragma once

enum : int { kPageCount = 8, kLastPage = kPageCount - 1 };
// The pages by their number in the sequence.
enum : int {
  kWelcomePage = 0,
  kLicencePage = 1,
  kSetupTypePage = 2,
  kDestinationPage = 3,
  kReadyPage = 4,
  kProgressPage = 5,
  kFinishPage = 6,
  kClosingPage = 7,
};

// PageResult values; 1007 is also the Back button's id.
enum : int { kPageNext = 1, kPageToClosing = 2, kPageBack = 1007 };

extern int CurrentPage;  // 0..7 while the wizard runs, -1 once it has ended
extern int PageResult;   // 0 while a page runs; non-zero ends it

// Ends the current page so that the sequencer lands on page n next.
void continue_at(int page);

// The progress page's display:

// Stores min(percent, 100) and repaints the bar and the percentage at once.
void set_progress(unsigned percent);
// Within a long item, between two slices of its data: moves the bar to
// `percent` and lets the wizard's waiting messages through. False when the
// user has given up the installation meanwhile; PageResult is then
// kPageToClosing, and the item ends as cancelled.
bool item_slice(unsigned percent);
// Shows the file being installed (or taken back), shortened for display.
void show_current_file(const char* path);
// Shows what the engine waits for in the file's place, without the label
// that names a file; the next file shown brings the label back.
void show_status(const char* text);
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
