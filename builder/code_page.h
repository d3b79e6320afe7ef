// Texts between UTF-8 and the archive's ANSI code page (1252, 1250, 932...),
// through the C library's iconv.
#pragma once
#include <string>

// False when the code page is unknown to iconv or `text` holds a character
// the code page cannot hold; *why then says which.
bool to_code_page(const std::string& text, unsigned code_page, std::string* out, std::string* why);

// A text as the setup carries it: in the code page, and without a NUL,
// which would end it early.
bool to_setup_text(const std::string& text, unsigned code_page, std::string* out, std::string* why);

// A text of the setup on the host: from the code page into UTF-8. A byte
// that is no character of the code page (or an unknown code page) comes
// out as \xNN; the answer is false when there was any.
bool from_code_page(const std::string& text, unsigned code_page, std::string* out);
