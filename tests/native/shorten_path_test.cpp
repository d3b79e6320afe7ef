// Paths shortened for the progress display.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/path_strings.h"

namespace {

std::string shortened(const std::string& path, unsigned limit = 30) {
  char buffer[260];
  std::strcpy(buffer, path.c_str());
  shorten_path(buffer, limit);
  return buffer;
}

TEST(ShortenPath, KeepsTheLeadingFoldersThatFitAndTheWholeName) {
  EXPECT_EQ("D:\\Program Files\\...\\file.exe", shortened("D:\\Program Files\\Company\\Product\\bin\\file.exe"));
  // The dots are not counted against the limit: 31 characters.
  EXPECT_EQ("D:\\x\\y\\z\\w\\setup\\...\\readme.txt", shortened("D:\\x\\y\\z\\w\\setup\\data\\readme.txt"));
  // A first folder too long to fit goes entirely.
  EXPECT_EQ("C:\\...\\x.txt", shortened("C:\\abcdefghijklmnopqrstuvwxyz0123\\x.txt"));
  // The file name is never cut, even when it alone passes the limit.
  std::string name(40, 'n');
  EXPECT_EQ("C:\\...\\" + name, shortened("C:\\folder\\more\\" + name));
  // A folder whose end plus the name reaches the limit exactly is dropped.
  EXPECT_EQ("C:\\...\\file.exe", shortened("C:\\" + std::string(18, 'a') + "\\more\\file.exe"));
  // Another limit keeps more or fewer folders.
  EXPECT_EQ("D:\\Program Files\\Company\\...\\file.exe",
            shortened("D:\\Program Files\\Company\\Product\\bin\\file.exe", 40));
  EXPECT_EQ("D:\\...\\file.exe", shortened("D:\\Program Files\\Company\\Product\\bin\\file.exe", 12));
}

TEST(ShortenPath, LeavesShortOrUnsplittablePathsAlone) {
  std::string thirty = "C:\\Program Files\\Kestrel\\a.txt";
  ASSERT_EQ(30u, thirty.size());
  EXPECT_EQ(thirty, shortened(thirty));
  std::string no_backslash(45, 'x');
  EXPECT_EQ(no_backslash, shortened(no_backslash));
  // First and last backslash less than 4 characters apart.
  std::string close = "D:\\ab\\" + std::string(40, 'f');
  EXPECT_EQ(close, shortened(close));
  // Exactly 4 apart may be shortened.
  EXPECT_EQ("D:\\...\\" + std::string(40, 'f'), shortened("D:\\abc\\" + std::string(40, 'f')));
  // A path of one long folder and a trailing backslash has nothing to drop.
  std::string folder = "C:\\" + std::string(40, 'd') + "\\";
  EXPECT_EQ("C:\\...\\", shortened(folder));
}

}  // namespace
