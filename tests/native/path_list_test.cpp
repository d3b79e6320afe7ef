// The entries of a search path: found whatever their case and trailing
// backslash, appended as one more entry, and taken out one alone with the
// separator that joined it, every other byte kept.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/path_list.h"

namespace {

std::string removed(std::string list, const char* entry, bool* found = nullptr) {
  std::vector<char> buffer(list.begin(), list.end());
  buffer.push_back('\0');
  bool ok = path_list_remove(buffer.data(), entry);
  if (found) *found = ok;
  return buffer.data();
}

TEST(PathList, AnEntryIsFoundWhateverItsCaseAndTrailingBackslash) {
  const char list[] = "C:\\Windows\\System32;c:\\apps\\demo\\BIN\\;%SystemRoot%";
  EXPECT_TRUE(path_list_holds(list, strlen(list), "C:\\Apps\\Demo\\bin"));
  EXPECT_TRUE(path_list_holds(list, strlen(list), "c:\\windows\\system32\\"));
  EXPECT_FALSE(path_list_holds(list, strlen(list), "C:\\Apps\\Demo"));
  EXPECT_FALSE(path_list_holds(list, strlen(list), "C:\\Apps\\Demo\\bin\\x"));
  EXPECT_FALSE(path_list_holds(list, strlen(list), ""));
  EXPECT_FALSE(path_list_holds(list, 10, "C:\\Windows\\System32"));  // only the bytes given
}

TEST(PathList, AppendingAddsOneSeparatorAndRefusesWhatDoesNotFit) {
  char list[32] = "C:\\A";
  ASSERT_TRUE(path_list_append(list, sizeof list, "C:\\B"));
  EXPECT_STREQ("C:\\A;C:\\B", list);
  strcpy(list, "C:\\A;");
  ASSERT_TRUE(path_list_append(list, sizeof list, "C:\\B"));
  EXPECT_STREQ("C:\\A;C:\\B", list);
  list[0] = '\0';
  ASSERT_TRUE(path_list_append(list, sizeof list, "C:\\B"));
  EXPECT_STREQ("C:\\B", list);
  char small[10] = "C:\\A";
  EXPECT_FALSE(path_list_append(small, sizeof small, "C:\\BC"));  // 11 bytes with the terminator
  EXPECT_STREQ("C:\\A", small);
  EXPECT_TRUE(path_list_append(small, sizeof small, "C:\\B"));  // 10
  EXPECT_STREQ("C:\\A;C:\\B", small);
}

TEST(PathList, RemovingTakesTheLastMatchAloneWithItsSeparator) {
  EXPECT_EQ("A;B", removed("A;C:\\X;B", "c:\\x"));
  EXPECT_EQ("A;B", removed("A;B;C:\\X\\", "C:\\X"));
  EXPECT_EQ("A;B", removed("C:\\X;A;B", "C:\\X"));
  EXPECT_EQ("", removed("C:\\X", "C:\\X"));
  EXPECT_EQ("C:\\X;A", removed("C:\\X;A;C:\\X", "C:\\X"));
  EXPECT_EQ("A;;B", removed("A;;B;C:\\X", "C:\\X"));  // the user's empty entry stays
  bool found = true;
  EXPECT_EQ("A;C:\\XY;B", removed("A;C:\\XY;B", "C:\\X", &found));
  EXPECT_FALSE(found);
}

}  // namespace
