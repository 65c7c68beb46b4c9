// Output path joining, 8.3 and long-name sanitizing, display shortening and
// directory creation, against hand-worked tables of names (CP932 bytes are
// written as escapes; a trail byte 0x5C must never act as a separator).
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "extract/outpath.h"
#include "core/workarea.h"
#include "tests/unit/support/scratch.h"

namespace {

std::string Map(const char* dest, const char* stored) {
  char output[OutputPathSize];
  MapOutputPath(output, dest, stored);
  return output;
}

// Catches a missing or doubled separator, a destination kept for rooted
// names, and a trail byte 0x5C taken for a separator.
TEST(MapOutputPath, JoinsDestinationAndStoredName) {
  struct Case {
    const char* dest;
    const char* stored;
    const char* expected;
  } cases[] = {
      {"D:\\out", "a/b.txt", "D:\\out/a/b.txt"},
      {"D:\\out\\", "a/b.txt", "D:\\out\\a/b.txt"},
      {"out/", "a", "out/a"},
      {"D:", "a/b.txt", "D:a/b.txt"},
      {"", "a/b.txt", "a/b.txt"},
      {"D:\\out", "/x/y", "D:/x/y"},
      {"D:\\out", "\\x", "D:\\x"},
      {"/home/user/out", "/etc/x", "/etc/x"},
      {"D:\\\x83\x5C", "a", "D:\\\x83\x5C/a"},  // "D:\ソ": 0x5C is a trail byte
  };
  for (const auto& c : cases) EXPECT_EQ(Map(c.dest, c.stored), c.expected) << c.dest << " + " << c.stored;
}

// Catches a case-sensitive prefix test, an inserted separator, or the
// destination being kept for the system and Windows directory prefixes.
TEST(MapOutputPath, SystemAndWindowsPrefixes) {
  setenv("LZHSFX_SYSTEMDIR", "/fake/system32", 1);
  setenv("LZHSFX_WINDIR", "/fake/windows", 1);
  EXPECT_EQ(Map("D:\\out", "%sysTEMdir%/drv.sys"), "/fake/system32/drv.sys");
  EXPECT_EQ(Map("D:\\out", "%SystemDir%drv.sys"), "/fake/system32drv.sys");
  EXPECT_EQ(Map("out", "%WINDIR%/win.ini"), "/fake/windows/win.ini");
  EXPECT_EQ(Map("out", "%WinDi/x"), "out/%WinDi/x");
  unsetenv("LZHSFX_SYSTEMDIR");
  unsetenv("LZHSFX_WINDIR");
  // Unset: the directory is empty and the rest stands alone.
  EXPECT_EQ(Map("out", "%SystemDir%/a"), "/a");
}

// Catches writing past the 516-byte buffer when both parts are at their
// longest.
TEST(MapOutputPath, LongestPartsFit) {
  std::string dest(DestDirSize - 1, 'd');
  std::string stored(MemberNameSize - 1, 's');
  std::string joined = Map(dest.c_str(), stored.c_str());
  EXPECT_EQ(joined, dest + "/" + stored);
}

// Catches a trail byte 0x5C counted as a trailing separator and a separator
// added behind an existing one.
TEST(AppendPathSeparator, OnlyWhenTheLastCharacterIsNotOne) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"abc", "abc/"}, {"abc/", "abc/"}, {"abc\\", "abc\\"}, {"\x95\x5C", "\x95\x5C/"}, {"a\x81\x5F", "a\x81\x5F/"},
  };
  for (const auto& c : cases) {
    char path[32];
    strcpy(path, c.in);
    AppendPathSeparator(path, sizeof path);
    EXPECT_STREQ(path, c.out) << c.in;
  }
}

std::string Component(const std::string& in, int longNames) {
  char buffer[600];
  strcpy(buffer, in.c_str());
  SanitizeComponent(buffer, longNames);
  return buffer;
}

// Catches wrong forbidden sets, wrong limits, base/extension mix-ups and
// CP932 pairs split at a limit, for both naming rules.
TEST(SanitizeComponent, LongAndShortNames) {
  struct Case {
    const char* in;
    int longNames;
    const char* out;
  } cases[] = {
      {"a<b>.txt", 1, "a_b_.txt"},
      {"\"*/:<>?\\|", 1, "_________"},
      {"..", 1, ".."},
      {"my file;[1].txt", 1, "my file;[1].txt"},  // legal on long-name volumes
      {"\x83\x5C\x83\x7C", 1, "\x83\x5C\x83\x7C"},  // trail 0x5C and 0x7C survive
      {"readme.html", 0, "readme.htm"},
      {"archive.tar.gz", 0, "archive_.gz"},
      {"my file.txt", 0, "my_file.txt"},
      {"longfilename", 0, "longfile"},
      {".profile", 0, ".pro"},
      {"name.", 0, "name."},
      {"..", 0, "_."},
      {"Program Files", 0, "Program_"},
      {"a+b,c=d.e;f", 0, "a_b_c_d.e_f"},
      {"[x]\xFF", 0, "_x__"},
      {"tab\there", 0, "tab_here"},
      {"abcdefg\x83\x41", 0, "abcdefg"},       // pair would straddle the limit of 8
      {"abcdef\x83\x41xyz", 0, "abcdef\x83\x41"},  // pair fits whole
      {"x.\x83\x41\x83\x42", 0, "x.\x83\x41"},    // extension limit 3 drops the lead byte
      {"\xB1\xB2\xFE.txt", 0, "\xB1\xB2\xFE.txt"},  // half-width katakana and 0xFE pass
  };
  for (const auto& c : cases)
    EXPECT_EQ(Component(c.in, c.longNames), c.out) << c.in << " long=" << c.longNames;
  EXPECT_EQ(Component(std::string(300, 'x'), 1), std::string(255, 'x'));
  EXPECT_EQ(Component(std::string(254, 'x') + "\x83\x41", 1), std::string(254, 'x'));
}

// Catches a wrong return position (callers write the '.' there) and a
// missing terminator.
TEST(SanitizeNamePart, ReturnsTheTerminatorPosition) {
  char text[] = "abcdefghij";
  char* end = SanitizeNamePart(text, 4, 0);
  EXPECT_EQ(end, text + 4);
  EXPECT_STREQ(text, "abcd");
  char pair[] = "ab\x83";  // lead byte without a trail byte
  end = SanitizeNamePart(pair, 8, 1);
  EXPECT_EQ(end, pair + 2);
  EXPECT_STREQ(pair, "ab");
}

std::string Path(const char* in, int longNames) {
  char buffer[OutputPathSize];
  strcpy(buffer, in);
  SanitizePath(buffer, longNames);
  return buffer;
}

// Catches components not closed up after shrinking, a second leading '/'
// skipped, and empty components dropped.
TEST(SanitizePath, EveryComponentInPlace) {
  EXPECT_EQ(Path("Program Files/readme.html", 0), "Program_/readme.htm");
  EXPECT_EQ(Path("/longdirectory/x/longfilename.text", 0), "/longdire/x/longfile.tex");
  EXPECT_EQ(Path("a//b", 0), "a//b");
  EXPECT_EQ(Path("//a", 0), "//a");  // one '/' stepped over, then an empty component
  EXPECT_EQ(Path("dir/", 0), "dir/");
  EXPECT_EQ(Path("a:b/c?d", 1), "a_b/c_d");
  EXPECT_EQ(Path("\x83\x5C/x", 0), "\x83\x5C/x");
}

// Catches an unbounded or unterminated title, a wrong prefix length, and a
// CP932 pair cut in half beside the ellipsis.
TEST(ShortenForDisplay, ShortPathsStayAndLongOnesAreCut) {
  char out[TextSize];
  std::string p31(31, 'p');
  ShortenForDisplay(out, p31.c_str(), 32);
  EXPECT_EQ(std::string(out), p31);

  std::string p40 = std::string(31, 'a') + "/title.tx";  // title of 8 bytes, 40 in all
  ASSERT_EQ(p40.size(), 40u);
  ShortenForDisplay(out, p40.c_str(), 32);
  EXPECT_EQ(std::string(out), std::string(19, 'a') + ".../title.tx");

  std::string longTitle(40, 't');
  std::string p = "dir/" + longTitle;
  ShortenForDisplay(out, p.c_str(), 32);
  EXPECT_EQ(std::string(out), ".../" + longTitle);

  // The 19-byte prefix would end on the lead byte of a pair at bytes 18-19.
  std::string cp = std::string(18, 'a') + "\x83\x41" + std::string(11, 'b') + "/title.tx";
  ShortenForDisplay(out, cp.c_str(), 32);
  EXPECT_EQ(std::string(out), std::string(18, 'a') + ".../title.tx");

  std::string dir = std::string(40, 'a') + "/lastdir/";
  ShortenForDisplay(out, dir.c_str(), 32);
  EXPECT_EQ(std::string(out), std::string(19, 'a') + ".../lastdir/");
}

using MakeDirs = ScratchDirTest;

// Catches the last component created as a directory, or missing levels.
TEST_F(MakeDirs, CreatesEveryLevelBeforeASlash) {
  MakeParentDirectories("a/b/c.txt");
  EXPECT_TRUE(std::filesystem::is_directory("a/b"));
  EXPECT_FALSE(std::filesystem::exists("a/b/c.txt"));
  MakeParentDirectories("d/e/");
  EXPECT_TRUE(std::filesystem::is_directory("d/e"));
  MakeParentDirectories("a/b/again.txt");  // existing levels are no failure
  EXPECT_TRUE(std::filesystem::is_directory("a/b"));
}

}  // namespace
