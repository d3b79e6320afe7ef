// The wizard driver's comparison of two pictures of the machine's state.
#include <gtest/gtest.h>

#include "tests/driver/snapshot.h"

namespace {

using Lines = std::vector<std::string>;

TEST(DriverSnapshot, SameStateInAnyOrderHasNoDifference) {
  Lines before = {"C:\\a.txt|3", "C:\\b|dir", "HKLM\\Software\\X|value v=sz:1"};
  Lines after = {"HKLM\\Software\\X|value v=sz:1", "C:\\a.txt|3", "C:\\b|dir"};
  EXPECT_TRUE(snapshot_differences(before, after, {}).empty());
}

TEST(DriverSnapshot, ReportsWhatWentWhatCameAndWhatChangedInOrder) {
  Lines before = {"C:\\a.txt|3", "C:\\gone.txt|1", "HKCU\\Software\\K|value n=dword:1"};
  Lines after = {"C:\\a.txt|4", "C:\\new|dir", "HKCU\\Software\\K|value n=dword:1"};
  EXPECT_EQ(snapshot_differences(before, after, {}),
            (Lines{"- C:\\a.txt|3", "+ C:\\a.txt|4", "- C:\\gone.txt|1", "+ C:\\new|dir"}));
}

TEST(DriverSnapshot, AllowedPrefixesIgnoreLetterCaseAndOnlyTheirLines) {
  Lines before = {"C:\\Kept\\old.txt|1"};
  Lines after = {"C:\\kept\\user.txt|5", "C:\\Kept|dir", "C:\\Kepttoo\\x|1", "C:\\Kept\\more.txt|2",
                 "HKCU\\Software\\Marks|key"};
  EXPECT_EQ(snapshot_differences(before, after, {"c:\\KEPT|dir", "c:\\kept\\user.txt|5", "HKCU\\Software\\Marks"}),
            (Lines{"+ C:\\Kept\\more.txt|2", "- C:\\Kept\\old.txt|1", "+ C:\\Kepttoo\\x|1"}));
}

TEST(DriverSnapshot, TextRoundTripKeepsEveryLine) {
  Lines lines = {"C:\\a b\\c.txt|0", "HKLM\\Software\\X|value =sz:", "C:\\x|dir"};
  EXPECT_EQ(snapshot_lines(snapshot_text(lines)), lines);
  EXPECT_EQ(snapshot_lines("x\n\ny"), (Lines{"x", "y"}));
  EXPECT_TRUE(snapshot_lines("").empty());
}

TEST(DriverSnapshot, PrefixMatchIsAtTheStartOnly) {
  EXPECT_TRUE(starts_with_any("C:\\Kestrel\\a", {"x", "c:\\kestrel"}));
  EXPECT_FALSE(starts_with_any("D:\\C:\\Kestrel", {"C:\\Kestrel"}));
  EXPECT_FALSE(starts_with_any("C:", {"C:\\"}));
  EXPECT_FALSE(starts_with_any("C:\\x", {}));
}

}  // namespace
