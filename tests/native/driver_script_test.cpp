// The wizard driver's script reader and its bitmaps.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "tests/driver/bitmap.h"
#include "tests/driver/script.h"

namespace {

std::map<std::string, std::string> variables = {{"SETUP", "Z:\\w\\my setup.exe"}, {"DIR", "C:\\Kestrel"}};

VariableLookup lookup = [](const std::string& name, std::string& value) {
  auto it = variables.find(name);
  if (it == variables.end()) return false;
  value = it->second;
  return true;
};

std::vector<Step> parse_ok(const std::string& text) {
  std::vector<Step> steps;
  ScriptError error;
  EXPECT_TRUE(parse_script(text, lookup, steps, error)) << "line " << error.line << ": " << error.message;
  return steps;
}

ScriptError parse_bad(const std::string& text) {
  std::vector<Step> steps;
  ScriptError error;
  EXPECT_FALSE(parse_script(text, lookup, steps, error));
  return error;
}

TEST(DriverScript, ReadsCommandsWithLinesAndSkipsCommentsAndBlankLines) {
  auto steps = parse_ok("# a scenario\r\n\r\nstart ${SETUP}\n  wait-page setup-type\nclick 1007\n\nwait-exit -1\n");
  ASSERT_EQ(steps.size(), 4u);
  EXPECT_EQ(steps[0].op, Op::Start);
  EXPECT_EQ(steps[0].line, 3);
  EXPECT_EQ(steps[0].path, "Z:\\w\\my setup.exe");  // a variable with a blank stays one word
  EXPECT_EQ(steps[1].op, Op::WaitPage);
  EXPECT_EQ(steps[1].page, PageKind::SetupType);
  EXPECT_EQ(steps[1].source, "wait-page setup-type");
  EXPECT_EQ(steps[2].op, Op::Click);
  EXPECT_EQ(steps[2].id, 1007);
  EXPECT_EQ(steps[3].number, -1);
  EXPECT_EQ(steps[3].line, 7);
}

TEST(DriverScript, StartKeepsTheArgumentsAsWritten) {
  auto steps = parse_ok("start ${SETUP} /S\"${SETUP}\" -del\nstart \"C:\\a b\\s.exe\"\n");
  ASSERT_EQ(steps.size(), 2u);
  EXPECT_EQ(steps[0].command_tail, "/S\"Z:\\w\\my setup.exe\" -del");
  EXPECT_EQ(steps[1].path, "C:\\a b\\s.exe");
  EXPECT_EQ(steps[1].command_tail, "");
}

TEST(DriverScript, TextsAreExactOrSubstringsAndQuotesCanBeDoubled) {
  auto steps = parse_ok(
      "expect-text 1000 \"Welcome to \"\"Demo\"\"\"\n"
      "expect-text 1004 ~\"Program Files\"\n"
      "expect-text 1003 \"\"\n"
      "set-text 1004 \"${DIR}\\Beta two\"\n"
      "answer ~cancel IDNO\n");
  ASSERT_EQ(steps.size(), 5u);
  EXPECT_EQ(steps[0].match.text, "Welcome to \"Demo\"");
  EXPECT_FALSE(steps[0].match.substring);
  EXPECT_EQ(steps[1].match.text, "Program Files");
  EXPECT_TRUE(steps[1].match.substring);
  EXPECT_EQ(steps[2].match.text, "");
  EXPECT_EQ(steps[3].match.text, "C:\\Kestrel\\Beta two");
  EXPECT_EQ(steps[4].match.text, "cancel");
  EXPECT_TRUE(steps[4].match.substring);
  EXPECT_EQ(steps[4].id, 7);
}

TEST(DriverScript, ButtonsByNameShortNameOrNumber) {
  auto steps = parse_ok("answer x IDYES\nanswer x no\nanswer x Retry\nanswer x idabort\nanswer x 2\nanswer x IDIGNORE\nanswer x OK\n");
  ASSERT_EQ(steps.size(), 7u);
  const int ids[] = {6, 7, 4, 3, 2, 5, 1};
  for (size_t i = 0; i < 7; ++i) EXPECT_EQ(steps[i].id, ids[i]) << i;
  EXPECT_NE(parse_bad("answer x maybe\n").message.find("unknown button"), std::string::npos);
}

TEST(DriverScript, EveryPageNameIsKnown) {
  auto steps = parse_ok(
      "wait-page welcome\nwait-page licence\nwait-page setup-type\nwait-page destination\n"
      "wait-page ready\nwait-page progress\nwait-page finish\nwait-page closing\n");
  ASSERT_EQ(steps.size(), 8u);
  for (size_t i = 0; i < 8; ++i) {
    EXPECT_EQ(static_cast<size_t>(steps[i].page), i);
    EXPECT_EQ(steps[i].source, std::string("wait-page ") + page_name(steps[i].page));
  }
  EXPECT_EQ(parse_bad("wait-page license\n").line, 1);
}

TEST(DriverScript, ChecksPixelsFilesAndRegistryArguments) {
  auto steps = parse_ok(
      "expect-pixel ${DIR}\\a.bmp 10 20 #0080fF 12\n"
      "expect-pixel a.bmp 0 0 000000\n"
      "expect-file \"${DIR}\\x y.txt\" 4096\n"
      "expect-file a\n"
      "expect-reg HKLM\\Software\\Kestrel\\A InstallDir \"C:\\A\"\n"
      "expect-no-reg HKEY_CURRENT_USER\\Software\\X\n"
      "expect-reg HKCU\\Software\\X \"\" ~1.0\n");
  ASSERT_EQ(steps.size(), 7u);
  EXPECT_EQ(steps[0].path, "C:\\Kestrel\\a.bmp");
  EXPECT_EQ(steps[0].number, 10);
  EXPECT_EQ(steps[0].y, 20);
  EXPECT_EQ(steps[0].colour, 0x0080FFu);
  EXPECT_EQ(steps[0].tolerance, 12);
  EXPECT_EQ(steps[1].tolerance, 0);
  EXPECT_EQ(steps[2].path, "C:\\Kestrel\\x y.txt");
  EXPECT_EQ(steps[2].size, 4096);
  EXPECT_EQ(steps[3].size, -1);
  EXPECT_EQ(steps[4].root, RegRoot::LocalMachine);
  EXPECT_EQ(steps[4].path, "Software\\Kestrel\\A");
  EXPECT_EQ(steps[4].value, "InstallDir");
  EXPECT_EQ(steps[4].match.text, "C:\\A");
  EXPECT_EQ(steps[5].root, RegRoot::CurrentUser);
  EXPECT_FALSE(steps[5].has_value);
  EXPECT_TRUE(steps[6].has_value);
  EXPECT_EQ(steps[6].value, "");
  EXPECT_TRUE(steps[6].match.substring);
}

TEST(DriverScript, PixelsFromTheFarEdgesSystemColoursShiftsAndScreenshotTargets) {
  auto steps = parse_ok(
      "expect-pixel a.bmp -1 -3 btnface 2\n"
      "expect-pixel a.bmp 4 0 ActiveCaption\n"
      "expect-shift a.bmp 0 10 600 120 FFFF00 ff0000 4 -4 16\n"
      "screenshot a.bmp\n"
      "screenshot a.bmp client\n"
      "screenshot a.bmp 1009\n"
      "adopt ~_inst\n");
  ASSERT_EQ(steps.size(), 7u);
  EXPECT_EQ(steps[0].number, -1);
  EXPECT_EQ(steps[0].y, -3);
  EXPECT_EQ(steps[0].system_colour, 15);  // COLOR_BTNFACE
  EXPECT_EQ(steps[0].tolerance, 2);
  EXPECT_EQ(steps[1].system_colour, 2);   // COLOR_ACTIVECAPTION
  EXPECT_EQ(steps[2].op, Op::ExpectShift);
  EXPECT_EQ(steps[2].number, 0);
  EXPECT_EQ(steps[2].y, 10);
  EXPECT_EQ(steps[2].x1, 600);
  EXPECT_EQ(steps[2].y1, 120);
  EXPECT_EQ(steps[2].colour, 0xFFFF00u);
  EXPECT_EQ(steps[2].system_colour, -1);
  EXPECT_EQ(steps[2].colour2, 0xFF0000u);
  EXPECT_EQ(steps[2].dx, 4);
  EXPECT_EQ(steps[2].dy, -4);
  EXPECT_EQ(steps[2].tolerance, 16);
  EXPECT_EQ(steps[3].id, 0);
  EXPECT_FALSE(steps[3].yes);
  EXPECT_TRUE(steps[4].yes);
  EXPECT_EQ(steps[5].id, 1009);
  EXPECT_FALSE(steps[5].yes);
  EXPECT_EQ(steps[6].op, Op::Adopt);
  EXPECT_EQ(steps[6].match.text, "_inst");
  EXPECT_TRUE(steps[6].match.substring);
}

TEST(DriverScript, MarksNameAPointInTime) {
  auto steps = parse_ok("mark install\nmark \"all done\"\n");
  ASSERT_EQ(steps.size(), 2u);
  EXPECT_EQ(steps[0].op, Op::Mark);
  EXPECT_EQ(steps[0].value, "install");
  EXPECT_EQ(steps[1].value, "all done");
}

TEST(DriverScript, SnapshotsAndShortcuts) {
  auto steps = parse_ok(
      "snapshot \"${DIR}\\before.txt\"\n"
      "expect-unchanged before.txt\n"
      "expect-unchanged before.txt C:\\Kestrel\\Kept\\ \"HKCU\\Software\\Kestrel Marks\\\"\n"
      "expect-shortcut \"C:\\Menu\\A b.lnk\" ${DIR}\\a.exe\n"
      "expect-shortcut a.lnk ~\\a.exe \"-x \"\"y\"\"\"\n"
      "expect-shortcut a.lnk a.exe ~-x\n");
  ASSERT_EQ(steps.size(), 6u);
  EXPECT_EQ(steps[0].op, Op::Snapshot);
  EXPECT_EQ(steps[0].path, "C:\\Kestrel\\before.txt");
  EXPECT_EQ(steps[1].op, Op::ExpectUnchanged);
  EXPECT_TRUE(steps[1].allowed.empty());
  ASSERT_EQ(steps[2].allowed.size(), 2u);
  EXPECT_EQ(steps[2].allowed[0], "C:\\Kestrel\\Kept\\");
  EXPECT_EQ(steps[2].allowed[1], "HKCU\\Software\\Kestrel Marks\\");
  EXPECT_EQ(steps[3].op, Op::ExpectShortcut);
  EXPECT_EQ(steps[3].path, "C:\\Menu\\A b.lnk");
  EXPECT_EQ(steps[3].match.text, "C:\\Kestrel\\a.exe");
  EXPECT_FALSE(steps[3].match.substring);
  EXPECT_EQ(steps[3].arguments.text, "");  // none given: the shortcut must have none
  EXPECT_FALSE(steps[3].arguments.substring);
  EXPECT_TRUE(steps[4].match.substring);
  EXPECT_EQ(steps[4].arguments.text, "-x \"y\"");
  EXPECT_FALSE(steps[4].arguments.substring);
  EXPECT_TRUE(steps[5].arguments.substring);
  EXPECT_EQ(steps[5].arguments.text, "-x");
}

TEST(DriverScript, FileContentsAndIniEntries) {
  auto steps = parse_ok(
      "expect-same-file \"${DIR}\\a b.txt\" Z:\\w\\a.txt\n"
      "expect-ini ${DIR}\\s.ini \"My Section\" Folder \"C:\\a b\"\n"
      "expect-ini s.ini S K ~a\n"
      "expect-no-ini ${DIR}\\s.ini S Gone\n"
      "copy-file Z:\\w\\a.txt \"${DIR}\\b c.txt\"\n"
      "set-env TEMP \"C:\\100% temp\"\n");
  ASSERT_EQ(steps.size(), 6u);
  EXPECT_EQ(steps[0].op, Op::ExpectSameFile);
  EXPECT_EQ(steps[0].path, "C:\\Kestrel\\a b.txt");
  EXPECT_EQ(steps[0].value, "Z:\\w\\a.txt");
  EXPECT_EQ(steps[1].op, Op::ExpectIni);
  EXPECT_EQ(steps[1].path, "C:\\Kestrel\\s.ini");
  EXPECT_EQ(steps[1].section, "My Section");
  EXPECT_EQ(steps[1].key, "Folder");
  EXPECT_EQ(steps[1].match.text, "C:\\a b");
  EXPECT_FALSE(steps[1].match.substring);
  EXPECT_TRUE(steps[2].match.substring);
  EXPECT_EQ(steps[3].op, Op::ExpectNoIni);
  EXPECT_EQ(steps[3].path, "C:\\Kestrel\\s.ini");
  EXPECT_EQ(steps[3].key, "Gone");
  EXPECT_EQ(steps[4].op, Op::CopyFile);
  EXPECT_EQ(steps[4].value, "Z:\\w\\a.txt");
  EXPECT_EQ(steps[4].path, "C:\\Kestrel\\b c.txt");
  EXPECT_EQ(steps[5].op, Op::SetEnv);
  EXPECT_EQ(steps[5].path, "TEMP");
  EXPECT_EQ(steps[5].value, "C:\\100% temp");
}

TEST(DriverScript, FileCommandsTakeTheirPathsTextsAndStates) {
  auto steps = parse_ok(
      "unlock-file \"${DIR}\\in use.txt\"\n"
      "expect-same-file ${DIR}\\a.exe \"${SETUP}\"\n"
      "expect-file-text C:\\windows\\WININIT.INI ~\"[Rename]\"\n"
      "expect-file-text a.txt old\n"
      "set-read-only a.txt yes\n"
      "expect-read-only a.txt no\n"
      "expect-no-reg HKLM\\System\\X Pending ~K95\n"
      "expect-no-reg HKLM\\System\\X Pending\n"
      "wait-box ~\"is in use\"\n"
      "lock-file a.txt readable\n"
      "lock-file a.txt\n"
      "lock-file a.txt deletable\n");
  ASSERT_EQ(steps.size(), 12u);
  EXPECT_EQ(steps[0].op, Op::UnlockFile);
  EXPECT_EQ(steps[0].path, "C:\\Kestrel\\in use.txt");
  EXPECT_EQ(steps[1].op, Op::ExpectSameFile);
  EXPECT_EQ(steps[1].path, "C:\\Kestrel\\a.exe");
  EXPECT_EQ(steps[1].value, "Z:\\w\\my setup.exe");
  EXPECT_EQ(steps[2].op, Op::ExpectFileText);
  EXPECT_EQ(steps[2].match.text, "[Rename]");
  EXPECT_TRUE(steps[2].match.substring);
  EXPECT_EQ(steps[3].match.text, "old");
  EXPECT_FALSE(steps[3].match.substring);
  EXPECT_EQ(steps[4].op, Op::SetReadOnly);
  EXPECT_TRUE(steps[4].yes);
  EXPECT_EQ(steps[5].op, Op::ExpectReadOnly);
  EXPECT_EQ(steps[5].path, "a.txt");
  EXPECT_FALSE(steps[5].yes);
  EXPECT_EQ(steps[6].op, Op::ExpectNoReg);
  EXPECT_EQ(steps[6].value, "Pending");
  EXPECT_TRUE(steps[6].yes);  // data given: only a value holding it fails
  EXPECT_EQ(steps[6].match.text, "K95");
  EXPECT_TRUE(steps[6].match.substring);
  EXPECT_FALSE(steps[7].yes);
  EXPECT_EQ(steps[8].op, Op::WaitBox);
  EXPECT_EQ(steps[8].match.text, "is in use");
  EXPECT_TRUE(steps[8].match.substring);
  EXPECT_EQ(steps[9].op, Op::LockFile);
  EXPECT_TRUE(steps[9].yes);
  EXPECT_FALSE(steps[10].yes);
  EXPECT_EQ(steps[10].number, 0);
  EXPECT_FALSE(steps[11].yes);
  EXPECT_EQ(steps[11].number, 1);
}

TEST(DriverScript, ClosingTheWindowAndSettingARegistryValue) {
  auto steps = parse_ok(
      "close frame\n"
      "close Container\n"
      "end-task\n"
      "set-reg \"HKLM\\Software\\A b\" UninstallString \"\"\"C:\\a b\\u.exe\"\"\"\n"
      "wait-frame\n"
      "fill-atoms\n"
      "free-atoms\n");
  ASSERT_EQ(steps.size(), 7u);
  EXPECT_EQ(steps[4].op, Op::WaitFrame);
  EXPECT_EQ(steps[5].op, Op::FillAtoms);
  EXPECT_EQ(steps[6].op, Op::FreeAtoms);
  EXPECT_EQ(steps[0].op, Op::Close);
  EXPECT_FALSE(steps[0].yes);
  EXPECT_TRUE(steps[1].yes);
  EXPECT_EQ(steps[2].op, Op::EndTask);
  EXPECT_EQ(steps[3].op, Op::SetReg);
  EXPECT_EQ(steps[3].root, RegRoot::LocalMachine);
  EXPECT_EQ(steps[3].path, "Software\\A b");
  EXPECT_EQ(steps[3].value, "UninstallString");
  EXPECT_EQ(steps[3].match.text, "\"C:\\a b\\u.exe\"");
}

TEST(DriverScript, RefusesBadLinesNamingTheLine) {
  struct Case {
    const char* text;
    int line;
    const char* words;
  } cases[] = {
      {"click 1\nfrobnicate 2\n", 2, "unknown command"},
      {"click\n", 1, "usage: click ID"},
      {"click 1 2\n", 1, "usage"},
      {"click 70000\n", 1, "control id"},
      {"click 12a\n", 1, "control id"},
      {"expect-enabled 1 maybe\n", 1, "yes or no"},
      {"expect-text 1000 \"open\n", 1, "unterminated quote"},
      {"start ${NOPE}\n", 1, "${NOPE} is not set"},
      {"start ${SETUP\n", 1, "unterminated ${"},
      {"expect-pixel a.bmp 1 2 12345\n", 1, "RRGGBB"},
      {"expect-pixel a.bmp 1 2 123456 256\n", 1, "tolerance"},
      {"expect-pixel a.bmp x 2 123456\n", 1, "x is not"},
      {"expect-pixel a.bmp 1 2 buttonface\n", 1, "system colour"},
      {"screenshot a.bmp window\n", 1, "client or a control"},
      {"expect-shift a.bmp 0 0 10 10 FFFF00 FF0000 4\n", 1, "usage"},
      {"expect-shift a.bmp 10 0 10 10 FFFF00 FF0000 4 4\n", 1, "empty"},
      {"expect-shift a.bmp 0 0 10 -10 FFFF00 FF0000 4 4\n", 1, "four numbers"},
      {"expect-shift a.bmp 0 0 10 10 FFFF00 red 4 4\n", 1, "system colour"},
      {"adopt \"\"\n", 1, "empty name"},
      {"mark \"\"\n", 1, "empty name"},
      {"mark a b\n", 1, "usage: mark NAME"},
      {"expect-reg HKXX\\Software v d\n", 1, "ROOT\\KEY"},
      {"expect-reg HKLM v d\n", 1, "ROOT\\KEY"},
      {"wait-exit 99999999999\n", 1, "exit code"},
      {"wait-window x open\n", 1, "close"},
      {"timeout 0\n", 1, "seconds"},
      {"set-text 1004 ~x\n", 1, "plain text"},
      {"expect-caption page x\n", 1, "frame, container or box"},
      {"snapshot\n", 1, "usage: snapshot FILE"},
      {"snapshot a b\n", 1, "usage"},
      {"expect-unchanged \"\"\n", 1, "empty file name"},
      {"expect-unchanged a.txt C:\\ \"\"\n", 1, "every difference"},
      {"expect-shortcut a.lnk\n", 1, "usage: expect-shortcut"},
      {"expect-shortcut \"\" a.exe\n", 1, "empty link name"},
      {"expect-shortcut a.lnk a.exe b c\n", 1, "usage"},
      {"expect-same-file a.txt\n", 1, "usage: expect-same-file"},
      {"expect-same-file a.txt \"\"\n", 1, "empty file name"},
      {"expect-ini a.ini S K\n", 1, "usage: expect-ini"},
      {"expect-ini a.ini \"\" K v\n", 1, "empty file, section or key"},
      {"expect-no-ini a.ini S\n", 1, "usage: expect-no-ini"},
      {"copy-file a.txt \"\"\n", 1, "empty file name"},
      {"set-env A=B c\n", 1, "holds ="},
      {"unlock-file\n", 1, "usage: unlock-file PATH"},
      {"expect-same-file a.exe\n", 1, "usage: expect-same-file PATH OTHER"},
      {"expect-file-text a.txt\n", 1, "usage"},
      {"set-read-only a.txt maybe\n", 1, "yes or no"},
      {"expect-read-only a.txt\n", 1, "usage"},
      {"wait-box\n", 1, "usage: wait-box TEXT"},
      {"lock-file a.txt shared\n", 1, "expected readable, deletable or running"},
      {"close page\n", 1, "frame or container"},
      {"end-task now\n", 1, "usage: end-task"},
      {"wait-frame now\n", 1, "usage: wait-frame"},
      {"fill-atoms 10\n", 1, "usage: fill-atoms"},
      {"copy-file a.txt\n", 1, "usage: copy-file FROM TO"},
      {"set-reg HKLM\\X v\n", 1, "usage: set-reg"},
      {"set-reg X\\Y v d\n", 1, "ROOT\\KEY"},
      {"expect-no-reg HKLM\\X v d e\n", 1, "usage"},
  };
  for (const auto& c : cases) {
    ScriptError error = parse_bad(c.text);
    EXPECT_EQ(error.line, c.line) << c.text;
    EXPECT_NE(error.message.find(c.words), std::string::npos) << c.text << " -> " << error.message;
  }
}

TEST(DriverScript, ExitCodesAboveTheSignedRangeWrapAsWindowsReportsThem) {
  auto steps = parse_ok("wait-exit 4294967295\nwait-exit 0\n");
  ASSERT_EQ(steps.size(), 2u);
  EXPECT_EQ(steps[0].number, -1);
  EXPECT_EQ(steps[1].number, 0);
}

Image gradient(int32_t w, int32_t h) {
  Image image;
  image.width = w;
  image.height = h;
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      image.rgb.push_back(static_cast<uint8_t>(x * 7));
      image.rgb.push_back(static_cast<uint8_t>(y * 11));
      image.rgb.push_back(static_cast<uint8_t>(x + y));
    }
  return image;
}

TEST(DriverBitmap, RoundTripKeepsEveryPixelForOddWidths) {
  for (int32_t w : {1, 2, 3, 5, 17}) {
    Image image = gradient(w, 4);
    std::vector<uint8_t> file = encode_bmp(image);
    size_t stride = (static_cast<size_t>(w) * 3 + 3) / 4 * 4;
    ASSERT_EQ(file.size(), 54 + stride * 4) << w;
    Image back;
    ASSERT_TRUE(decode_bmp(file.data(), file.size(), back)) << w;
    EXPECT_EQ(back.width, w);
    EXPECT_EQ(back.height, 4);
    EXPECT_EQ(back.rgb, image.rgb) << w;
  }
}

TEST(DriverBitmap, PixelsAreAddressedFromTheTopLeft) {
  Image image = gradient(5, 3);
  std::vector<uint8_t> file = encode_bmp(image);
  Image back;
  ASSERT_TRUE(decode_bmp(file.data(), file.size(), back));
  uint32_t colour = 0;
  ASSERT_TRUE(pixel_at(back, 4, 2, colour));
  EXPECT_EQ(colour, (28u << 16) | (22u << 8) | 6u);
  ASSERT_TRUE(pixel_at(back, 0, 0, colour));
  EXPECT_EQ(colour, 0u);
  EXPECT_FALSE(pixel_at(back, 5, 0, colour));
  EXPECT_FALSE(pixel_at(back, 0, 3, colour));
  EXPECT_FALSE(pixel_at(back, -1, 0, colour));
}

TEST(DriverBitmap, ReadsTopDownFilesAndCapturedRows) {
  // Two pixels in one top-down row: blue, then red (stored B, G, R).
  const uint8_t rows[8] = {0xFF, 0, 0, 0, 0, 0xFF, 0, 0};
  Image image;
  ASSERT_TRUE(image_from_dib_rows(rows, sizeof rows, 2, 1, image));
  uint32_t colour;
  ASSERT_TRUE(pixel_at(image, 0, 0, colour));
  EXPECT_EQ(colour, 0x0000FFu);
  ASSERT_TRUE(pixel_at(image, 1, 0, colour));
  EXPECT_EQ(colour, 0xFF0000u);
  EXPECT_FALSE(image_from_dib_rows(rows, 7, 2, 1, image));  // one byte short of the padded row

  std::vector<uint8_t> file = encode_bmp(gradient(3, 2));
  // Make it top-down by hand: negative height, rows swapped.
  std::vector<uint8_t> flipped(file.begin(), file.begin() + 54);
  int32_t minus_two = -2;
  for (int i = 0; i < 4; ++i) flipped[22 + i] = static_cast<uint8_t>(static_cast<uint32_t>(minus_two) >> (8 * i));
  flipped.insert(flipped.end(), file.begin() + 54 + 12, file.end());
  flipped.insert(flipped.end(), file.begin() + 54, file.begin() + 54 + 12);
  Image back;
  ASSERT_TRUE(decode_bmp(flipped.data(), flipped.size(), back));
  EXPECT_EQ(back.rgb, gradient(3, 2).rgb);
}

TEST(DriverBitmap, RefusesDamagedFiles) {
  std::vector<uint8_t> good = encode_bmp(gradient(4, 4));
  Image image;
  ASSERT_TRUE(decode_bmp(good.data(), good.size(), image));
  EXPECT_FALSE(decode_bmp(good.data(), good.size() - 1, image));  // last row short
  EXPECT_FALSE(decode_bmp(good.data(), 53, image));
  auto with = [&](size_t at, uint32_t value) {
    std::vector<uint8_t> bad = good;
    for (int i = 0; i < 4; ++i) bad[at + i] = static_cast<uint8_t>(value >> (8 * i));
    return bad;
  };
  for (auto bad : {with(10, 0xFFFFFFF0u), with(10, 20), with(14, 0xFFFFFFFFu), with(18, 0), with(18, 100000),
                   with(22, 0x80000000u), with(28, 32), with(30, 1)}) {
    EXPECT_FALSE(decode_bmp(bad.data(), bad.size(), image));
  }
  std::vector<uint8_t> wrong_magic = good;
  wrong_magic[0] = 'X';
  EXPECT_FALSE(decode_bmp(wrong_magic.data(), wrong_magic.size(), image));
  Image mismatched = gradient(4, 4);
  mismatched.rgb.pop_back();
  EXPECT_TRUE(encode_bmp(mismatched).empty());
}

TEST(DriverBitmap, ColourBoxEnclosesTheMatchingPixelsInsideTheRectangle) {
  Image image;
  image.width = 6;
  image.height = 5;
  image.rgb.assign(6 * 5 * 3, 0);
  auto paint = [&](int x, int y, uint8_t red) { image.rgb[(y * 6 + x) * 3] = red; };
  paint(1, 1, 200);
  paint(3, 2, 205);
  paint(2, 3, 198);
  paint(5, 4, 200);  // outside the rectangle below
  Box box;
  ASSERT_TRUE(colour_box(image, 0, 0, 5, 4, 0xC80000, 8, box));
  EXPECT_EQ(box.left, 1);
  EXPECT_EQ(box.top, 1);
  EXPECT_EQ(box.right, 4);
  EXPECT_EQ(box.bottom, 4);
  ASSERT_TRUE(colour_box(image, 0, 0, 100, 100, 0xC80000, 8, box));  // cut to the image
  EXPECT_EQ(box.right, 6);
  EXPECT_EQ(box.bottom, 5);
  ASSERT_TRUE(colour_box(image, 0, 0, 5, 4, 0xC80000, 1, box));  // 205 and 198 are too far off
  EXPECT_EQ(box.right, 2);
  EXPECT_EQ(box.bottom, 2);
  EXPECT_FALSE(colour_box(image, 0, 0, 5, 4, 0x00FF00, 8, box));
}

TEST(DriverBitmap, ColoursCompareChannelByChannel) {
  EXPECT_TRUE(colour_close(0x102030, 0x102030, 0));
  EXPECT_FALSE(colour_close(0x102030, 0x102031, 0));
  EXPECT_TRUE(colour_close(0x102030, 0x0A2A26, 10));
  EXPECT_FALSE(colour_close(0x102030, 0x1B2030, 10));  // red 11 off
  EXPECT_FALSE(colour_close(0xFF0000, 0x000000, 254));
}

}  // namespace

namespace {

// The scenario scripts read without error with the variables that
// run-scenario sets, and wait for every program they start.
TEST(DriverScript, EveryScenarioScriptReads) {
  const std::string folder = std::string(KESTREL_SOURCE_DIR) + "/tests/scenarios";
  VariableLookup harness = [](const std::string& name, std::string& value) {
    // The harness's own, then those of Windows' environment.
    for (const char* known : {"SETUP", "SETUP_BLANKS", "STUB", "SHOTS", "WORK", "PLACED_UNINSTALLER", "NAME", "SYSTEM64",
                              "SYSTEM32", "WINDIR", "USERPROFILE", "APPDATA", "LOCALAPPDATA", "PUBLIC", "ProgramData"}) {
      if (name == known) {
        value = "Z:\\scenario\\" + name;
        return true;
      }
    }
    // Numbers that scenarios.cmake gives a scenario (dpi.script's measures).
    for (const char* number : {"PICTURE_W", "PICTURE_H", "SHADOW"}) {
      if (name == number) {
        value = "1";
        return true;
      }
    }
    return false;
  };
  int scripts = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.path().extension() != ".script") continue;
    ++scripts;
    std::ifstream in(entry.path(), std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<Step> steps;
    ScriptError error;
    ASSERT_TRUE(parse_script(text, harness, steps, error))
        << entry.path().filename() << ":" << error.line << ": " << error.message;
    int starts = 0, exits = 0;
    for (const Step& step : steps) {
      starts += step.op == Op::Start || step.op == Op::Adopt;
      // A kill or the session's end ends the program that the start began,
      // as wait-exit does.
      exits += step.op == Op::WaitExit || step.op == Op::KillAt || step.op == Op::EndSession;
    }
    EXPECT_GT(starts, 0) << entry.path().filename();
    EXPECT_EQ(starts, exits) << entry.path().filename();
  }
  EXPECT_GE(scripts, 15);
}

}  // namespace
