// Dotted version numbers ("2.10.1") as a publisher means them: compared
// part by part, each part as a number. Portable: the builder checks a
// product's version with it, the setup compares the installed one.
#pragma once

// Whether `text` is numbers separated by single dots ("1", "2.0.13"):
// what a product with a product_id must give as its version.
bool is_version_number(const char* text);
// Below 0, 0 or above 0 as version `a` is older than, the same as or
// newer than `b`. A missing part counts as 0 ("1.0" is "1"), leading
// zeros do not count, parts of any length compare as numbers. What is not
// a digit ends a version: "abc" reads as 0.
int compare_versions(const char* a, const char* b);
