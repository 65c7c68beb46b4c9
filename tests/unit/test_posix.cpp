// The POSIX platform layer: CP932 names on a UTF-8 file system, symlinks in
// the destination never followed, the attribute mapping, DOS time stamps,
// bounded texts and the exit trap. Each test runs in its own temp directory.
#include <gtest/gtest.h>
#include <setjmp.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/hostfiles.h"
#include "platform/platform.h"
#include "platform/posix_host.h"
#include "tests/unit/support/scratch.h"

namespace fs = std::filesystem;

namespace {

class Posix : public ScratchDirTest {
 protected:
  static void Put(const std::string& path, const std::string& data) { std::ofstream(path) << data; }
  static std::string Get(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
};

// Catches a private folder that is not new (the same name twice), open to
// others, or outside the temporary directory, and a tree removal that
// follows a link out of the folder or leaves the folder behind.
TEST_F(Posix, PrivateFolderAndItsRemoval) {
  setenv("TMPDIR", fs::current_path().c_str(), 1);
  char first[256], second[256];
  ASSERT_EQ(PlatformMakePrivateFolder(first, sizeof first), 1);
  ASSERT_EQ(PlatformMakePrivateFolder(second, sizeof second), 1);
  unsetenv("TMPDIR");
  EXPECT_STRNE(first, second);
  EXPECT_EQ(fs::path(first).parent_path(), fs::current_path());
  struct stat info;
  ASSERT_EQ(stat(first, &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  fs::create_directories("outside");
  Put("outside/keep", "k");
  fs::create_directories(std::string(first) + "/sub/deeper");
  Put(std::string(first) + "/sub/deeper/file", "x");
  fs::create_directory_symlink(fs::absolute("outside"), std::string(first) + "/sub/link");
  PlatformRemoveTree(first);
  EXPECT_FALSE(fs::exists(first));
  EXPECT_EQ(Get("outside/keep"), "k");
  PlatformRemoveTree(second);
  EXPECT_FALSE(fs::exists(second));
}

// Catches a read that reports failure, or a wrong count, at the end of file.
TEST_F(Posix, ShortReadAtEndReportsTheBytesMoved) {
  Put("five", "12345");
  FileHandle f = PlatformOpenRead("five");
  ASSERT_NE(f, InvalidFile);
  char buffer[10];
  uint32_t done = 99;
  EXPECT_EQ(PlatformRead(f, buffer, sizeof buffer, &done), 1);
  EXPECT_EQ(done, 5u);
  EXPECT_EQ(PlatformRead(f, buffer, sizeof buffer, &done), 1);
  EXPECT_EQ(done, 0u);
  EXPECT_TRUE(PlatformSeekSet(f, 3));
  EXPECT_TRUE(PlatformSeekForward(f, 1));
  EXPECT_EQ(PlatformRead(f, buffer, 1, &done), 1);
  EXPECT_EQ(buffer[0], '5');
  EXPECT_EQ(PlatformClose(f), 1);
}

// Catches handles colliding with descriptor 0 or with InvalidFile, and
// missing files opened as if present.
TEST_F(Posix, InvalidHandlesAreRefused) {
  EXPECT_EQ(PlatformOpenRead("missing"), InvalidFile);
  EXPECT_EQ(PlatformClose(nullptr), 0);
  EXPECT_EQ(PlatformClose(InvalidFile), 0);
  uint32_t done;
  char b;
  EXPECT_EQ(PlatformRead(InvalidFile, &b, 1, &done), 0);
  // Descriptor 0 is a real descriptor and must give a non-null handle.
  FileHandle discard = PlatformOpenDiscard();
  ASSERT_NE(discard, InvalidFile);
  ASSERT_NE(discard, nullptr);
  char block[1000] = {};
  EXPECT_EQ(PlatformWrite(discard, block, sizeof block, &done), 1);
  EXPECT_EQ(done, sizeof block);
  EXPECT_EQ(PlatformClose(discard), 1);
}

// Catches names passed through unconverted (mojibake on disk) and '\' kept
// as a name character; the CP932 name 日本\表.txt holds a trail byte 0x5C.
TEST_F(Posix, Cp932NamesBecomeUtf8) {
  PlatformCreateDirectory("\x93\xfa\x96\x7b");  // 日本
  FileHandle f = PlatformCreateWrite("\x93\xfa\x96\x7b\\\x95\x5c.txt");  // 日本\表.txt
  ASSERT_NE(f, InvalidFile);
  uint32_t done;
  EXPECT_EQ(PlatformWrite(f, "x", 1, &done), 1);
  EXPECT_EQ(PlatformClose(f), 1);
  EXPECT_EQ(PlatformCommitOutput("\x93\xfa\x96\x7b\\\x95\x5c.txt"), 1);
  EXPECT_TRUE(fs::is_regular_file("\xe6\x97\xa5\xe6\x9c\xac/\xe8\xa1\xa8.txt"));
  EXPECT_EQ(PlatformGetAttributes("\x93\xfa\x96\x7b/\x95\x5c.txt"), AttrNormal);
}

// Catches an unconvertible name being written under some substitute name.
TEST_F(Posix, UnconvertibleNameFails) {
  EXPECT_EQ(PlatformCreateWrite("bad\x85\x40name"), InvalidFile);
  EXPECT_EQ(PlatformCreateWrite("bad\xA0"), InvalidFile);
  EXPECT_TRUE(fs::is_empty("."));
}

// Catches writes that follow a symlink placed in the destination, in a
// directory component or as the last component.
TEST_F(Posix, SymlinksInTheDestinationAreNotFollowed) {
  std::string outside = root_ + "/outside";
  fs::create_directory_symlink(outside, "linkdir");
  Put(outside + "/target", "keep");
  fs::create_symlink(outside + "/target", "linkfile");

  EXPECT_EQ(PlatformCreateWrite("linkdir/x"), InvalidFile);
  PlatformCreateDirectory("linkdir/sub");
  EXPECT_FALSE(fs::exists(outside + "/x"));
  EXPECT_FALSE(fs::exists(outside + "/sub"));

  // A symlink counts as an existing file; replacing it replaces the link.
  EXPECT_EQ(PlatformGetAttributes("linkfile"), AttrNormal);
  EXPECT_EQ(PlatformGetAttributes("linkdir/target"), AttrAbsent);
  FileHandle f = PlatformCreateWrite("linkfile");
  ASSERT_NE(f, InvalidFile);
  uint32_t done;
  PlatformWrite(f, "new", 3, &done);
  PlatformClose(f);
  EXPECT_EQ(PlatformCommitOutput("linkfile"), 1);
  EXPECT_FALSE(fs::is_symlink("linkfile"));
  EXPECT_EQ(Get("linkfile"), "new");
  EXPECT_EQ(Get(outside + "/target"), "keep");

  fs::create_symlink(outside + "/target", "link2");
  PlatformSetAttributes("link2", AttrReadOnly);
  PlatformSetAttributes("linkdir/target", AttrReadOnly);
  EXPECT_TRUE((fs::status(outside + "/target").permissions() & fs::perms::owner_write) != fs::perms::none);
  PlatformDeleteFile("link2");
  EXPECT_FALSE(fs::is_symlink("link2"));
  EXPECT_TRUE(fs::exists(outside + "/target"));
  PlatformDeleteFile("linkdir/target");
  EXPECT_TRUE(fs::exists(outside + "/target"));
}

// Catches a wrong mapping of read-only to the write bits, a directory not
// reported as such, and a read-only file silently replaced.
TEST_F(Posix, AttributesMapToWriteBits) {
  Put("file", "data");
  fs::create_directory("dir");
  EXPECT_EQ(PlatformGetAttributes("dir"), AttrDirectory);
  EXPECT_EQ(PlatformGetAttributes("dir/"), AttrDirectory);
  EXPECT_EQ(PlatformGetAttributes("nothing"), AttrAbsent);
  PlatformSetAttributes("file", AttrReadOnly);
  EXPECT_EQ(fs::status("file").permissions() &
                (fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write),
            fs::perms::none);
  EXPECT_EQ(PlatformGetAttributes("file"), AttrReadOnly);
  EXPECT_EQ(PlatformCreateWrite("file"), InvalidFile);
  EXPECT_EQ(Get("file"), "data");
  PlatformSetAttributes("file", AttrNormal);
  EXPECT_EQ(PlatformGetAttributes("file"), AttrNormal);
  FileHandle f = PlatformCreateWrite("file");
  ASSERT_NE(f, InvalidFile);
  PlatformClose(f);
  EXPECT_EQ(Get("file"), "data");  // untouched until the output is committed
  EXPECT_EQ(PlatformCommitOutput("file"), 1);
  EXPECT_EQ(Get("file"), "");
  EXPECT_EQ(PlatformCreateWrite("dir"), InvalidFile);
}

// Catches local-time interpretation, a wrong field layout, or atime being
// touched: 0x3A4D/0xBBEF is 2009-02-13 23:31:30 UTC = 1234567890.
TEST_F(Posix, DosTimeIsTakenAsUtc) {
  FileHandle f = PlatformCreateWrite("stamped");
  ASSERT_NE(f, InvalidFile);
  struct stat before;
  // The output is a temporary file until committed; a handle holds its
  // descriptor plus one.
  ASSERT_EQ(fstat((int)((intptr_t)f - 1), &before), 0);
  PlatformSetFileTime(f, 0x3A4D, 0xBBEF);
  PlatformClose(f);
  ASSERT_EQ(PlatformCommitOutput("stamped"), 1);
  struct stat after;
  ASSERT_EQ(stat("stamped", &after), 0);
  EXPECT_EQ(after.st_mtime, 1234567890);
  EXPECT_EQ(after.st_atime, before.st_atime);
}

// Catches an output that shows up under a name before its commit, a commit
// that follows a symlink in its place, a run that cannot tell the files it
// wrote from those that were there, and a folder's facts applied through a
// symlink.
TEST_F(Posix, OutputsTakeTheirNameAtTheCommitAlone) {
  std::string outside = root_ + "/outside";
  Put(outside + "/target", "keep");
  fs::create_symlink(outside + "/target", "link");
  Put("before", "there already");
  FileHandle f = PlatformCreateWrite("link");
  ASSERT_NE(f, InvalidFile);
  uint32_t done;
  EXPECT_EQ(PlatformWrite(f, "new", 3, &done), 1);
  PlatformClose(f);
  EXPECT_EQ(std::distance(fs::directory_iterator("."), fs::directory_iterator()), 2);
  PlatformOutputTime = 1234567891;
  EXPECT_EQ(PlatformCommitOutput("link"), 1);
  PlatformOutputTime = -1;
  EXPECT_FALSE(fs::is_symlink("link"));
  EXPECT_EQ(Get("link"), "new");
  EXPECT_EQ(Get(outside + "/target"), "keep");
  struct stat info;
  ASSERT_EQ(stat("link", &info), 0);
  EXPECT_EQ(info.st_mtime, 1234567891);
  EXPECT_EQ(PlatformOutputWritten("link"), 1);
  EXPECT_EQ(PlatformOutputWritten("before"), 0);
  EXPECT_EQ(PlatformOutputWritten("missing/x"), 0);

  fs::create_directory_symlink(outside, "dirlink");
  fs::permissions(outside, fs::perms::owner_all);
  EXPECT_EQ(PlatformSetDirectoryFacts("dirlink", 0500, 1234567890), 0);
  EXPECT_EQ(fs::status(outside).permissions(), fs::perms::owner_all);
  fs::create_directory("folder");
  EXPECT_EQ(PlatformSetDirectoryFacts("folder", 06750, 1234567890), 1);
  ASSERT_EQ(stat("folder", &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0750 & ~CurrentUmask());
  EXPECT_EQ(info.st_mtime, 1234567890);
}

// Catches writing a value that does not fit, or reporting the wrong length.
TEST_F(Posix, EnvironmentFollowsTheFitRule) {
  setenv("LZHSFX_TEST_VAR", "abcdef", 1);
  char buffer[8];
  strcpy(buffer, "zzzzzzz");
  EXPECT_EQ(PlatformGetEnvironment("LZHSFX_TEST_VAR", buffer, 6), 6u);
  EXPECT_STREQ(buffer, "zzzzzzz");
  EXPECT_EQ(PlatformGetEnvironment("LZHSFX_TEST_VAR", buffer, 7), 6u);
  EXPECT_STREQ(buffer, "abcdef");
  unsetenv("LZHSFX_TEST_VAR");
  EXPECT_EQ(PlatformGetEnvironment("LZHSFX_TEST_VAR", buffer, 8), 0u);
}

// Catches directories returned in UTF-8 or cut without a terminator.
TEST_F(Posix, DirectoriesComeBackAsCp932) {
  fs::create_directory("\xe6\x97\xa5\xe6\x9c\xac");
  ASSERT_EQ(chdir("\xe6\x97\xa5\xe6\x9c\xac"), 0);
  char buffer[512];
  PlatformGetCurrentDirectory(buffer, sizeof buffer);
  std::string expected = root_ + "/dest/\x93\xfa\x96\x7b";
  EXPECT_EQ(std::string(buffer), expected);
  PlatformGetCurrentDirectory(buffer, 5);
  EXPECT_STREQ(buffer, "");  // does not fit: empty, never a cut half
  setenv("TMPDIR", "/var/tmpx", 1);
  PlatformGetTempDirectory(buffer, sizeof buffer);
  EXPECT_STREQ(buffer, "/var/tmpx");
  unsetenv("TMPDIR");
  PlatformGetTempDirectory(buffer, sizeof buffer);
  EXPECT_STREQ(buffer, "/tmp");
  unsetenv("LZHSFX_WINDIR");
  strcpy(buffer, "junk");
  PlatformGetWindowsDirectory(buffer, sizeof buffer);
  EXPECT_STREQ(buffer, "");
}

// The same destination with the walks to member directories kept between
// calls, as lzhsfx x runs it.
class PosixKept : public Posix {
 protected:
  void SetUp() override {
    Posix::SetUp();
    PlatformKeepDirectories(1);
  }
  void TearDown() override {
    PlatformKeepDirectories(0);
    Posix::TearDown();
  }
  static bool Write(const char* path, const char* data) {
    FileHandle f = PlatformCreateWrite(path);
    if (f == InvalidFile) return false;
    uint32_t done;
    int ok = PlatformWrite(f, data, (uint32_t)strlen(data), &done);
    return PlatformClose(f) == 1 && ok == 1 && PlatformCommitOutput(path) == 1;
  }
  static void MakeParents(const std::string& path) {
    for (size_t i = path.find('/'); i != std::string::npos; i = path.find('/', i + 1))
      PlatformCreateDirectory(path.substr(0, i).c_str());
  }
  static int OpenDescriptors() {
    int count = 0;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
      (void)entry;
      ++count;
    }
    return count;
  }
};

// Catches a kept directory reused for a path that only shares its first
// letters (a/b for a/bc), a sibling written into the directory before it,
// and absolute and relative walks mixed up.
TEST_F(PosixKept, EachPathLandsInItsOwnDirectory) {
  const char* paths[] = {"a/b/c/one", "a/bc/two", "a/b/d/three", "a/b/c/four", "a/five",
                         "six", "a/b/c/d/e/seven", "x//y/eight"};
  for (const char* p : paths) {
    MakeParents(p);
    ASSERT_TRUE(Write(p, p)) << p;
  }
  // Straight from one kept directory to its namesake with a longer name and
  // back, with no directory call in between.
  ASSERT_TRUE(Write("a/b/c/eleven", "eleven"));
  ASSERT_TRUE(Write("a/bc/twelve", "twelve"));
  ASSERT_TRUE(Write("a/b/thirteen", "thirteen"));
  EXPECT_EQ(Get("a/bc/twelve"), "twelve");
  EXPECT_EQ(Get("a/b/thirteen"), "thirteen");
  std::string absolute = root_ + "/dest/a/b/nine";
  ASSERT_TRUE(Write(absolute.c_str(), "nine"));
  ASSERT_TRUE(Write("a/b/c/ten", "ten"));
  EXPECT_EQ(Get("a/b/c/one"), "a/b/c/one");
  EXPECT_EQ(Get("a/bc/two"), "a/bc/two");
  EXPECT_EQ(Get("a/b/d/three"), "a/b/d/three");
  EXPECT_EQ(Get("a/b/c/four"), "a/b/c/four");
  EXPECT_EQ(Get("a/five"), "a/five");
  EXPECT_EQ(Get("six"), "six");
  EXPECT_EQ(Get("a/b/c/d/e/seven"), "a/b/c/d/e/seven");
  EXPECT_EQ(Get("x/y/eight"), "x//y/eight");
  EXPECT_EQ(Get("a/b/nine"), "nine");
  EXPECT_EQ(Get("a/b/c/ten"), "ten");
  EXPECT_EQ(PlatformGetAttributes("a/b/c/d"), AttrDirectory);
  EXPECT_EQ(PlatformGetAttributes("a/b/c/nothing"), AttrAbsent);
}

// Catches a path deeper than the kept levels losing its tail or its
// descriptors.
TEST_F(PosixKept, DeepPathsBeyondTheKeptLevels) {
  int before = OpenDescriptors();
  std::string deep;
  for (int i = 0; i < 100; ++i) deep += "d/";
  deep += "file";
  MakeParents(deep);
  ASSERT_TRUE(Write(deep.c_str(), "deep"));
  EXPECT_EQ(Get(deep), "deep");
  ASSERT_TRUE(Write("d/d/shallow", "shallow"));
  EXPECT_EQ(Get("d/d/shallow"), "shallow");
  EXPECT_EQ(PlatformGetAttributes(deep.c_str()), AttrNormal);
  PlatformKeepDirectories(0);
  EXPECT_EQ(OpenDescriptors(), before);
}

// Catches a symlink planted in the destination between two members being
// followed: one beside a kept directory, and one put in the place of a kept
// directory.
TEST_F(PosixKept, SymlinkPlantedBetweenMembersIsNotFollowed) {
  std::string outside = root_ + "/outside";
  MakeParents("a/b/first");
  ASSERT_TRUE(Write("a/b/first", "1"));

  fs::create_directory_symlink(outside, "a/c");
  MakeParents("a/c/sub/x");
  EXPECT_FALSE(Write("a/c/x", "2"));
  EXPECT_EQ(PlatformGetAttributes("a/c/x"), AttrAbsent);

  fs::remove_all("a/b");
  fs::create_directory_symlink(outside, "a/b");
  MakeParents("a/b/sub/x");
  EXPECT_FALSE(Write("a/b/y", "3"));
  EXPECT_TRUE(fs::is_empty(outside));
}

// Catches kept directories outliving the current directory they were walked
// from, and descriptors left open once the walk is let go.
TEST_F(PosixKept, KeepingAgainStartsFromTheCurrentDirectory) {
  int before = OpenDescriptors();
  MakeParents("k/file");
  ASSERT_TRUE(Write("k/file", "dest"));
  ASSERT_EQ(chdir((root_ + "/outside").c_str()), 0);
  PlatformKeepDirectories(1);
  MakeParents("k/file");
  ASSERT_TRUE(Write("k/file", "outside"));
  EXPECT_EQ(Get(root_ + "/dest/k/file"), "dest");
  EXPECT_EQ(Get(root_ + "/outside/k/file"), "outside");
  PlatformKeepDirectories(0);
  EXPECT_EQ(OpenDescriptors(), before);
}

// Catches a previous-character step that lands on a trail byte.
TEST(PlatformText, CharPrevNeverSplitsAPair) {
  const char* s = "a\x83\x5C\x83\x83z";  // a, ソ, ャ (trail in lead range), z
  EXPECT_EQ(PlatformCharPrev(s, s + 6), s + 5);
  EXPECT_EQ(PlatformCharPrev(s, s + 5), s + 3);
  EXPECT_EQ(PlatformCharPrev(s, s + 3), s + 1);
  EXPECT_EQ(PlatformCharPrev(s, s + 1), s);
  EXPECT_EQ(PlatformCharPrev(s, s), s);
}

// Catches a trail byte 0x5C taken for a separator and an unbounded copy.
TEST(PlatformText, FileTitleIsTheLastComponent) {
  struct Case {
    const char* path;
    uint32_t size;
    const char* title;
  } cases[] = {
      {"a/b/c.txt", 64, "c.txt"}, {"a\\b", 64, "b"},         {"dir/", 64, ""},
      {"x/\x83\x5Cy", 64, "\x83\x5Cy"}, {"plain", 64, "plain"}, {"a/abcdef", 4, "abc"},
  };
  for (const auto& c : cases) {
    char buffer[64];
    memset(buffer, 'Z', sizeof buffer);
    PlatformGetFileTitle(c.path, buffer, c.size);
    EXPECT_STREQ(buffer, c.title) << c.path;
  }
}

// Catches an exit that ends the test process instead of returning through
// the trap with the code offset by ExitTrapBase.
TEST(PlatformExit, TrapTurnsExitIntoLongjmp) {
  jmp_buf trap;
  volatile int code = setjmp(trap);
  if (code == 0) {
    PlatformExitTrap = &trap;
    PlatformExitProcess(3);
  }
  PlatformExitTrap = nullptr;
  EXPECT_EQ(code, ExitTrapBase + 3);
}

// Catches a volume query that fails for a Windows drive root.
TEST(PlatformVolume, DriveRootFallsBackToTheCurrentDirectory) {
  long expected = pathconf(".", _PC_NAME_MAX);
  EXPECT_EQ(PlatformMaxComponentLength("C:\\"), (uint32_t)expected);
  EXPECT_EQ(PlatformMaxComponentLength(nullptr), (uint32_t)expected);
}

}  // namespace
