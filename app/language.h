// The language the setup speaks, chosen at start among those it offers.
#pragma once

// Chooses the language: /LANG= where given, else the user's UI language,
// else one of the same primary language, else the default; only among the
// languages this system can show (its ANSI code page is theirs, or their
// texts are plain ASCII). Answers 0, or the exit code of a refusal: a
// /LANG= that names no language of the setup or one that cannot be shown,
// or names that this system's code page cannot write. A setup of one
// language keeps its texts, and refuses any /LANG=.
int choose_language();
