// Whole runs of the extraction driver over small archives: level-2 headers
// assembled here byte by byte (with an independent bitwise CRC-16) and one
// archive compressed by jlha. Each test extracts into its own temp directory.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "extract/driver.h"
#include "startup/messages.h"
#include "startup/report.h"
#include "startup/workarea.h"
#include "tests/unit/support/recording.h"
#include "tests/unit/support/scratch.h"

namespace fs = std::filesystem;

namespace {

// CRC-16/ARC bit by bit, the slow obvious way.
uint16_t Crc16(const std::string& bytes) {
  uint16_t crc = 0;
  for (unsigned char b : bytes) {
    crc ^= b;
    for (int i = 0; i < 8; ++i) crc = (crc & 1) ? (uint16_t)((crc >> 1) ^ 0xA001) : (uint16_t)(crc >> 1);
  }
  return crc;
}

void PutLe16(std::string& s, uint32_t v) {
  s += (char)(v & 0xFF);
  s += (char)((v >> 8) & 0xFF);
}
void PutLe32(std::string& s, uint32_t v) {
  PutLe16(s, v & 0xFFFF);
  PutLe16(s, v >> 16);
}

struct Member {
  std::string dir;         // directory record, 0xFF after each level; empty: none
  std::string name;        // file-name record
  char method = '0';       // '0' stored or 'd' directory
  std::string data;        // stored bytes
  uint32_t time = 1234567890u;
  uint16_t attributes = 0x20;
  bool badCrc = false;     // store a data CRC that does not match
  std::string extraData;   // data bytes behind a directory entry
};

// One level-2 member: fixed part, CRC record first, then name records.
std::string Encode(const Member& m) {
  std::string body = m.method == 'd' ? m.extraData : m.data;
  std::string h;
  PutLe16(h, 0);  // size, patched below
  h += std::string("-lh") + m.method + "-";
  PutLe32(h, (uint32_t)body.size());
  PutLe32(h, m.method == 'd' ? 0 : (uint32_t)m.data.size());
  PutLe32(h, m.time);
  h += (char)(m.attributes & 0xFF);
  h += (char)2;  // level
  PutLe16(h, (uint16_t)(Crc16(m.data) ^ (m.badCrc ? 0x5555 : 0)));
  h += 'M';
  std::vector<std::string> records;
  records.push_back(std::string("\x00\x00\x00", 3));
  if (!m.name.empty()) records.push_back("\x01" + m.name);
  if (!m.dir.empty()) records.push_back("\x02" + m.dir);
  std::string attr("\x40", 1);
  PutLe16(attr, m.attributes);
  records.push_back(attr);
  size_t crcAt = 0;
  for (const std::string& r : records) {
    PutLe16(h, (uint32_t)r.size() + 2);
    if (r[0] == '\0') crcAt = h.size() + 1;
    h += r;
  }
  PutLe16(h, 0);
  h[0] = (char)(h.size() & 0xFF);
  h[1] = (char)(h.size() >> 8);
  uint16_t crc = Crc16(h);
  h[crcAt] = (char)(crc & 0xFF);
  h[crcAt + 1] = (char)(crc >> 8);
  return h + body;
}

std::string Archive(const std::vector<Member>& members) {
  std::string a;
  for (const Member& m : members) a += Encode(m);
  return a + std::string(1, '\0');
}

Member File(const std::string& name, const std::string& data) {
  Member m;
  m.name = name;
  m.data = data;
  return m;
}

class Driver : public ScratchDirTest {
 protected:
  void SetUp() override {
    ScratchDirTest::SetUp();
    NewWorkArea();
    OverwriteSilently = 0;
    IsWin32s = 0;
  }
  void TearDown() override {
    FreeWorkArea();
    ScratchDirTest::TearDown();
  }
  // Writes the archive behind a prefix of junk and points the work area at it.
  void UseArchive(const std::string& archive, uint32_t prefix = 0) {
    std::string path = root_ + "/archive.bin";
    std::ofstream(path, std::ios::binary) << std::string(prefix, 'J') << archive;
    strcpy(Work->archivePath, path.c_str());
    Work->config.archiveOffset = prefix;
  }
  int Run(ExtractionMode mode) {
    int result = -1;
    int code = RunTrapped([&] { result = ExtractArchive(nullptr, mode); });
    EXPECT_EQ(code, NoExit);
    EXPECT_EQ(Work->archiveFile, InvalidFile);  // closed at the end of every run
    return result;
  }
  static std::string Get(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
};

// Catches members written to the wrong place or with wrong bytes, a missing
// time stamp, and a run that reports failure after a clean archive.
TEST_F(Driver, ExtractsFilesWithTheirTimes) {
  Member nested = File("b.txt", "nested data");
  nested.dir = "x\xFFy\xFF";
  nested.time = 946684800u;  // 2000-01-01 00:00:00 UTC
  UseArchive(Archive({File("a.txt", "hello"), nested, File("empty", "")}), 100);
  EXPECT_EQ(Run(ExtractMode), 1);
  EXPECT_EQ(Get("a.txt"), "hello");
  EXPECT_EQ(Get("x/y/b.txt"), "nested data");
  EXPECT_TRUE(fs::is_regular_file("empty"));
  struct stat info;
  ASSERT_EQ(stat("x/y/b.txt", &info), 0);
  EXPECT_EQ(info.st_mtime, 946684800);
  ASSERT_EQ(stat("a.txt", &info), 0);
  EXPECT_EQ(info.st_mtime, 1234567890);
  EXPECT_EQ(Reported.errorCount, 0);
  // The status line shows each path and resets the percentage.
  ASSERT_GE(Reported.status.size(), 2u);
  EXPECT_EQ(Reported.status[0], std::make_pair((int)StatusPathControl, std::string("a.txt")));
  EXPECT_EQ(Reported.status[1], std::make_pair((int)StatusPercentControl, std::string(MsgProgressZero)));
}

// Catches a time before 1980 written as the 2098 wrap of the DOS year.
TEST_F(Driver, TimesBefore1980BecomeTheDosEpoch) {
  Member old = File("old.txt", "x");
  old.time = 86400u;  // 1970-01-02
  UseArchive(Archive({old}));
  EXPECT_EQ(Run(ExtractMode), 1);
  struct stat info;
  ASSERT_EQ(stat("old.txt", &info), 0);
  EXPECT_EQ(info.st_mtime, 315532800);
}

// Catches a scan that asks without a message member, ignores "No", or looks
// beyond the first member; and an extraction that writes the message member.
TEST_F(Driver, ScanAsksOnlyForALeadingMessageMember) {
  UseArchive(Archive({File("a.txt", "x"), File("!", "later message")}));
  EXPECT_EQ(Run(ScanMode), 1);
  EXPECT_EQ(Reported.messageAsked, 0);
  EXPECT_EQ(Run(ExtractMode), 1);
  EXPECT_FALSE(fs::exists("!"));
  EXPECT_EQ(Get("a.txt"), "x");

  UseArchive(Archive({File("!", "Read me first?"), File("b.txt", "y")}));
  Reported.messageAnswer = AnswerYes;
  EXPECT_EQ(Run(ScanMode), 1);
  EXPECT_EQ(Reported.messageAsked, 1);
  EXPECT_EQ(Reported.lastQuestion, "Read me first?");
  Reported.messageAnswer = AnswerNo;
  EXPECT_EQ(Run(ScanMode), 0);
  EXPECT_FALSE(fs::exists("b.txt"));  // a scan writes nothing
}

// Catches a "!" inside a directory taken for the message member.
TEST_F(Driver, MessageMemberIsTheWholeName) {
  Member inDir = File("!", "not a message");
  inDir.dir = "d\xFF";
  UseArchive(Archive({inDir}));
  EXPECT_EQ(Run(ScanMode), 1);
  EXPECT_EQ(Reported.messageAsked, 0);
  EXPECT_EQ(Run(ExtractMode), 1);
  EXPECT_EQ(Get("d/!"), "not a message");
}

// Catches the wrong reaction to each overwrite answer: No skips that member
// only, Cancel stops the run with failure, Yes replaces.
TEST_F(Driver, OverwriteAnswers) {
  std::string archive = Archive({File("a.txt", "new a"), File("b.txt", "new b")});
  std::ofstream("a.txt") << "old a";

  UseArchive(archive);
  Reported.overwriteAnswer = AnswerNo;
  EXPECT_EQ(Run(ExtractMode), 1);
  EXPECT_EQ(Get("a.txt"), "old a");
  EXPECT_EQ(Get("b.txt"), "new b");
  EXPECT_EQ(Reported.lastQuestion, std::string("\"a.txt\" ") + MsgOverwrite);

  fs::remove("b.txt");
  Reported.overwriteAnswer = AnswerCancel;
  EXPECT_EQ(Run(ExtractMode), 0);
  EXPECT_EQ(Get("a.txt"), "old a");
  EXPECT_FALSE(fs::exists("b.txt"));
  EXPECT_EQ(Reported.errorCount, 0);

  Reported.overwriteAnswer = AnswerYes;
  EXPECT_EQ(Run(ExtractMode), 1);
  EXPECT_EQ(Get("a.txt"), "new a");

  // Silent overwriting never asks.
  int asked = Reported.overwriteAsked;
  OverwriteSilently = 1;
  Reported.overwriteAnswer = AnswerCancel;
  EXPECT_EQ(Run(ExtractMode), 1);
  EXPECT_EQ(Reported.overwriteAsked, asked);
}

// Catches a CRC mismatch that keeps the bad file, deletes earlier files, or
// lets the run go on.
TEST_F(Driver, CrcErrorDeletesOnlyTheCurrentFile) {
  Member bad = File("bad.txt", "corrupted");
  bad.badCrc = true;
  UseArchive(Archive({File("good.txt", "fine"), bad, File("after.txt", "never")}));
  EXPECT_EQ(Run(ExtractMode), 0);
  EXPECT_EQ(Get("good.txt"), "fine");
  EXPECT_FALSE(fs::exists("bad.txt"));
  EXPECT_FALSE(fs::exists("after.txt"));
  EXPECT_EQ(Reported.lastMessage, MsgCrcError);
  EXPECT_EQ(Reported.lastSubject, "bad.txt");
}

// Catches directory entries that are not created (with every level above),
// and a directory entry's stated data size not honoured.
TEST_F(Driver, DirectoryEntriesCreateDirectories) {
  Member dir;
  dir.method = 'd';
  dir.dir = "top\xFFmid\xFFleaf\xFF";
  Member dirWithData = dir;
  dirWithData.dir = "other\xFF";
  dirWithData.extraData = "ignored bytes";
  UseArchive(Archive({dir, dirWithData, File("f.txt", "after dirs")}));
  EXPECT_EQ(Run(ExtractMode), 1);
  EXPECT_TRUE(fs::is_directory("top/mid/leaf"));
  EXPECT_TRUE(fs::is_directory("other"));
  EXPECT_EQ(Get("f.txt"), "after dirs");
}

// Catches a symlink in the destination being followed out of it, as a
// directory component or as the file itself.
TEST_F(Driver, SymlinksInTheDestinationAreNotFollowed) {
  std::string outside = root_ + "/outside";
  fs::create_directory_symlink(outside, "evil");
  std::ofstream(outside + "/target") << "keep";
  fs::create_symlink(outside + "/target", "lnk");
  OverwriteSilently = 1;

  UseArchive(Archive({File("lnk", "replaced link")}));
  EXPECT_EQ(Run(ExtractMode), 1);
  EXPECT_FALSE(fs::is_symlink("lnk"));
  EXPECT_EQ(Get("lnk"), "replaced link");
  EXPECT_EQ(Get(outside + "/target"), "keep");

  Member through = File("x.txt", "escape");
  through.dir = "evil\xFF";
  UseArchive(Archive({through}));
  EXPECT_EQ(Run(ExtractMode), 0);
  EXPECT_EQ(Reported.lastMessage, MsgOpenError);
  EXPECT_FALSE(fs::exists(outside + "/x.txt"));
}

// Catches a refused member path being written anyway, or the refusal not
// showing in the result, or stopping the other members.
TEST_F(Driver, RefusedMemberPathIsSkipped) {
  UseArchive(Archive({File("a.txt", "one"), File("b.txt", "two")}));
  Reported.acceptPath = 0;
  EXPECT_EQ(Run(ExtractMode), 0);
  EXPECT_FALSE(fs::exists("a.txt"));
  EXPECT_FALSE(fs::exists("b.txt"));
  Reported.acceptPath = 1;
  EXPECT_EQ(Run(ExtractMode), 1);
  EXPECT_EQ(Get("b.txt"), "two");
}

// Catches a test run that writes files, misses a CRC error, or reports the
// output path instead of the member name.
TEST_F(Driver, TestModeDecodesIntoNothing) {
  Member bad = File("bad.txt", "corrupted");
  bad.badCrc = true;
  Member dir;
  dir.method = 'd';
  dir.dir = "d\xFF";
  UseArchive(Archive({File("!", "msg"), dir, File("ok.txt", "fine")}));
  EXPECT_EQ(Run(TestMode), 1);
  EXPECT_TRUE(fs::is_empty("."));
  std::vector<std::string> shown;
  for (const auto& [control, line] : Reported.status)
    if (control == StatusPathControl) shown.push_back(line);
  EXPECT_EQ(shown, std::vector<std::string>{"ok.txt"});

  UseArchive(Archive({File("ok.txt", "fine"), bad}));
  EXPECT_EQ(Run(TestMode), 0);
  EXPECT_EQ(Reported.lastMessage, MsgCrcError);
  EXPECT_EQ(Reported.lastSubject, "bad.txt");
  EXPECT_TRUE(fs::is_empty("."));
}

// Catches read-only files replaced without the attribute being cleared, and
// stored attributes not applied when asked for.
TEST_F(Driver, ReadOnlyFilesAndRestoredAttributes) {
  Member ro = File("ro.txt", "new");
  ro.attributes = 0x01;
  UseArchive(Archive({ro}));
  std::ofstream("ro.txt") << "old";
  fs::permissions("ro.txt", fs::perms::owner_read);
  OverwriteSilently = 1;

  Work->config.restoreAttributes = 0;
  EXPECT_EQ(Run(ExtractMode), 0);
  EXPECT_EQ(Reported.lastMessage, MsgOpenError);
  EXPECT_EQ(Get("ro.txt"), "old");

  Work->config.restoreAttributes = 1;
  EXPECT_EQ(Run(ExtractMode), 1);
  EXPECT_EQ(Get("ro.txt"), "new");
  EXPECT_EQ(fs::status("ro.txt").permissions() & fs::perms::owner_write, fs::perms::none);
}

// Catches header faults not reported against the archive, and an archive
// that cannot be opened reported as success.
TEST_F(Driver, ArchiveFaultsAreReported) {
  std::string archive = Archive({File("a.txt", "x")});
  archive[5] = 'X';  // method "-lhX-"
  UseArchive(archive);
  EXPECT_EQ(Run(ExtractMode), 0);
  EXPECT_EQ(Reported.lastMessage, MsgInvalidHeader);
  EXPECT_EQ(Reported.lastSubject, Work->archivePath);

  strcpy(Work->archivePath, (root_ + "/missing").c_str());
  EXPECT_EQ(Run(ExtractMode), 0);
  EXPECT_EQ(Reported.lastMessage, MsgOpenError);

  UseArchive(std::string(2, '\0'));  // a zero length field: an empty archive
  EXPECT_EQ(Run(ScanMode), 1);
  EXPECT_EQ(Run(ExtractMode), 1);
}

// Catches a -lh5- member decoded wrongly through the driver: the archive is
// made by jlha from files written here.
TEST_F(Driver, ExtractsAJlhaArchive) {
  std::string src = root_ + "/src";
  fs::create_directories(src + "/sub");
  std::string text;
  for (int i = 0; i < 400; ++i) text += "line " + std::to_string(i) + " of repetitive text\n";
  std::ofstream(src + "/sub/text.txt") << text;
  std::ofstream(src + "/short.txt") << "hi";
  std::string archive = root_ + "/made.lzh";
  std::string command = "cd '" + src + "' && jlha ao52q '" + archive +
                        "' short.txt sub/text.txt >/dev/null 2>&1";
  if (system(command.c_str()) != 0 || !fs::exists(archive)) GTEST_SKIP() << "jlha unavailable";
  strcpy(Work->archivePath, archive.c_str());
  Work->config.archiveOffset = 0;
  EXPECT_EQ(Run(TestMode), 1);
  EXPECT_EQ(Run(ExtractMode), 1);
  EXPECT_EQ(Get("sub/text.txt"), text);
  EXPECT_EQ(Get("short.txt"), "hi");
}

// Catches quotes kept in the program, parameters cut, or an overlong program
// written past the command field.
TEST(SplitCommand, ProgramAndParameters) {
  struct Case {
    const char* command;
    const char* program;
    const char* parameters;
  } cases[] = {
      {"setup.exe", "setup.exe", ""},
      {"  setup.exe /q  /x", "setup.exe", "/q  /x"},
      {"\"Program Files\\a b.exe\" -y", "Program Files\\a b.exe", "-y"},
      {"\"unterminated quote", "unterminated quote", ""},
      {"\t\"\"\tafter", "", "after"},
      {"", "", ""},
  };
  for (const auto& c : cases) {
    char program[CommandSize];
    const char* parameters = SplitCommand(program, c.command);
    EXPECT_STREQ(program, c.program) << c.command;
    EXPECT_STREQ(parameters, c.parameters) << c.command;
  }
  std::string longCommand(1000, 'p');
  char program[CommandSize + 8];
  memset(program, 'Z', sizeof program);
  SplitCommand(program, longCommand.c_str());
  EXPECT_EQ(strlen(program), CommandSize - 1);
  EXPECT_EQ(program[CommandSize], 'Z');
}

}  // namespace
