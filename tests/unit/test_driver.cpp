// Whole runs of the extraction driver over small archives: level-2 members
// laid out by the tests' own writer (with its independent bitwise CRC-16)
// and one archive compressed by jlha. Each test extracts into its own temp directory.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "extract/driver.h"
#include "core/messages.h"
#include "core/report.h"
#include "core/runlog.h"
#include "core/workarea.h"
#include "tests/unit/support/lzhwriter.h"
#include "tests/unit/support/recording.h"
#include "tests/unit/support/scratch.h"

namespace fs = std::filesystem;

namespace {

struct Member {
  std::string dir;         // directory record, 0xFF after each level; empty: none
  std::string name;        // file-name record
  char method = MethodStored;  // stored or a directory entry
  std::string data;        // stored bytes
  uint32_t time = 1234567890u;
  uint16_t attributes = AttrArchive;
  bool badCrc = false;     // store a data CRC that does not match
  std::string extraData;   // data bytes behind a directory entry
};

// The member as the writer lays it out: CRC record first, then the names
// and the attribute record.
LzhMember Level2(const Member& m) {
  LzhMember out;
  out.method = std::string("-lh") + m.method + "-";
  bool directory = m.method == MethodDirectory;
  out.data = directory ? m.extraData : m.data;
  if (directory) out.originalSize = 0;
  out.dataCrc = (uint16_t)(ReferenceCrc16(directory ? std::string() : m.data) ^ (m.badCrc ? 0x5555 : 0));
  out.timeStamp = m.time;
  out.dosAttribute = (uint8_t)(m.attributes & 0xFF);
  if (!m.name.empty()) out.records.push_back(FileNameRecord(m.name));
  if (!m.dir.empty()) out.records.push_back(DirNameRecord(m.dir));
  out.records.push_back(AttributeRecord(m.attributes));
  return out;
}

std::vector<uint8_t> Archive(const std::vector<Member>& members) {
  std::vector<LzhMember> level2;
  for (const Member& m : members) level2.push_back(Level2(m));
  return LzhArchive(level2);
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
  void UseArchive(const std::vector<uint8_t>& archive, uint32_t prefix = 0) {
    std::string path = root_ + "/archive.bin";
    std::ofstream(path, std::ios::binary)
        << std::string(prefix, 'J') << std::string(archive.begin(), archive.end());
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
  EXPECT_EQ(Reported.status[0], std::make_pair((int)RecordedPath, std::string("a.txt")));
  EXPECT_EQ(Reported.status[1], std::make_pair((int)RecordedPercent, std::string(TextProgressZero)));
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
  std::vector<uint8_t> archive = Archive({File("a.txt", "new a"), File("b.txt", "new b")});
  std::ofstream("a.txt") << "old a";

  UseArchive(archive);
  Reported.overwriteAnswer = AnswerNo;
  EXPECT_EQ(Run(ExtractMode), 1);
  EXPECT_EQ(Get("a.txt"), "old a");
  EXPECT_EQ(Get("b.txt"), "new b");
  EXPECT_EQ(Reported.lastQuestion, std::string("\"a.txt\" ") + TextOverwrite);

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

// Catches a run's outcome told wrong (Cancel at an overwrite question taken
// for a failure, a damaged member for a success, a fault while the scan
// decodes the message member counted as a failed extraction, Cancel while
// decoding as anything but a stop), and a log line missing, doubled, or
// broken by a control byte of a member name. The host writes no error
// lines: those come from the stub's message boxes.
TEST_F(Driver, ExitCodesAndTheLog) {
  Work->logFile = PlatformOpenAppend("run.log");
  std::ofstream("b.txt") << "old b";
  UseArchive(Archive({File("!", "Go?"), File("a.txt", "a"), File("b.txt", "new b"),
                      File("l\x01ne.txt", "odd")}));
  EXPECT_EQ(Run(ScanMode), 1);
  Reported.overwriteAnswer = AnswerNo;
  EXPECT_EQ(Run(ExtractMode), 1);
  EXPECT_EQ(ExtractionExitCode(), ExitExtracted);
  Reported.overwriteAnswer = AnswerCancel;  // asked first for a.txt, now there
  EXPECT_EQ(Run(ExtractMode), 0);
  EXPECT_EQ(ExtractionExitCode(), ExitStopped);
  Member bad = File("bad.txt", "x");
  bad.badCrc = true;
  UseArchive(Archive({bad}));
  EXPECT_EQ(Run(ExtractMode), 0);
  EXPECT_EQ(ExtractionExitCode(), ExitFailed);
  FinishRun(ExitFailed);
  EXPECT_EQ(Get("run.log"),
            "accepted\t!\t\r\n"
            "extracted\ta.txt\t\r\n"
            "kept\tb.txt\t\r\n"
            "extracted\tl?ne.txt\t\r\n"
            "stopped\ta.txt\t\r\n"
            "result\tfailed\t2\r\n");

  // A message member whose data ends early: the scan ends the process, and
  // nothing was extracted.
  LzhMember message = Level2(File("!", std::string(40, 'z')));
  message.method = "-lh5-";
  message.originalSize = 100000;
  UseArchive(LzhArchive({message}));
  EXPECT_EQ(RunTrapped([] { ExtractArchive(nullptr, ScanMode); }), ExitNothingExtracted);

  // Cancel while a member is copied: a stop, with its line.
  Work->logFile = PlatformOpenAppend("cancel.log");
  UseArchive(Archive({File("big.txt", std::string(100000, 'b'))}));
  Work->cancelRequested = 1;
  EXPECT_EQ(RunTrapped([] { ExtractArchive(nullptr, ExtractMode); }), ExitStopped);
  EXPECT_EQ(Get("cancel.log"), "stopped\tbig.txt\t\r\nresult\tstopped\t3\r\n");
}

// Catches a failed member that destroys the file it was to replace (the host
// writes beside it and renames only a member whose CRC is right), and a
// temporary file left behind by a member that failed or was aborted.
TEST_F(Driver, FailedMemberKeepsTheFileItWouldReplace) {
  OverwriteSilently = 1;
  std::ofstream("bad.txt") << "original";
  Member bad = File("bad.txt", "corrupted");
  bad.badCrc = true;
  UseArchive(Archive({bad}));
  EXPECT_EQ(Run(ExtractMode), 0);
  EXPECT_EQ(Reported.lastMessage, MsgCrcError);
  EXPECT_EQ(Get("bad.txt"), "original");

  // Cut short inside decoding: AbortExtraction ends the run.
  LzhMember broken = Level2(File("bad.txt", std::string(40, 'z')));
  broken.method = "-lh5-";
  broken.originalSize = 100000;
  UseArchive(LzhArchive({broken}));
  EXPECT_EQ(RunTrapped([] { ExtractArchive(nullptr, ExtractMode); }), ExitFailed);
  EXPECT_EQ(Get("bad.txt"), "original");

  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(".")) left.push_back(entry.path().filename());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, std::vector<std::string>{"bad.txt"});  // the archive lies outside
}

// Catches a host run that stops at the first failed member although told to
// go on, and one that goes on but reports success.
TEST_F(Driver, HostGoesOnAfterAFailedMemberWhenTold) {
  Member bad = File("bad.txt", "corrupted");
  bad.badCrc = true;
  std::vector<uint8_t> archive = Archive({File("a.txt", "1"), bad, File("b.txt", "2"), bad});
  for (ExtractionMode mode : {ExtractMode, TestMode}) {
    UseArchive(archive);
    Work->continueAfterFault = 1;
    ResetReports();
    EXPECT_EQ(Run(mode), 0);
    EXPECT_EQ(Reported.errorCount, 2);
    EXPECT_EQ(Reported.lastMessage, MsgCrcError);
  }
  EXPECT_EQ(Get("b.txt"), "2");
  EXPECT_FALSE(fs::exists("bad.txt"));
}

// Catches a directory entry that could not be made (a file stands in its
// way) passed over in silence when the host asks for the check.
TEST_F(Driver, HostNamesADirectoryItCannotMake) {
  std::ofstream("d") << "a file in the way";
  Member dir;
  dir.method = MethodDirectory;
  dir.dir = "d\xFF";
  UseArchive(Archive({dir}));
  EXPECT_EQ(Run(ExtractMode), 1);  // the stub's way: nothing said
  Work->checkDirectories = 1;
  EXPECT_EQ(Run(ExtractMode), 0);
  EXPECT_EQ(Reported.lastMessage, MsgOpenError);
  EXPECT_EQ(Reported.lastSubject, "d/");
}

// Catches directory entries that are not created (with every level above),
// and a directory entry's stated data size not honoured.
TEST_F(Driver, DirectoryEntriesCreateDirectories) {
  Member dir;
  dir.method = MethodDirectory;
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
  dir.method = MethodDirectory;
  dir.dir = "d\xFF";
  UseArchive(Archive({File("!", "msg"), dir, File("ok.txt", "fine")}));
  EXPECT_EQ(Run(TestMode), 1);
  EXPECT_TRUE(fs::is_empty("."));
  std::vector<std::string> shown;
  for (const auto& [control, line] : Reported.status)
    if (control == RecordedPath) shown.push_back(line);
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
  std::vector<uint8_t> archive = Archive({File("a.txt", "x")});
  archive[HdrMethodChar] = 'X';  // method "-lhX-"
  UseArchive(archive);
  EXPECT_EQ(Run(ExtractMode), 0);
  EXPECT_EQ(Reported.lastMessage, MsgInvalidHeader);
  EXPECT_EQ(Reported.lastSubject, Work->archivePath);

  strcpy(Work->archivePath, (root_ + "/missing").c_str());
  EXPECT_EQ(Run(ExtractMode), 0);
  EXPECT_EQ(Reported.lastMessage, MsgOpenError);

  UseArchive({0, 0});  // a zero length field: an empty archive
  EXPECT_EQ(Run(ScanMode), 1);
  EXPECT_EQ(Run(ExtractMode), 1);
}

// The member walk: which members a test run sees, and how it ends. Catches
// a next header read where a decoder stopped instead of where the member's
// data ends (a header hidden in a stored member's surplus data), trailing
// bytes after the end marker taken for a broken header, a header whose
// length has a zero low byte taken for the end, and data or an archive start
// beyond the file's end passed over as a clean end.
TEST_F(Driver, WalkSeesTheMembersTheHeadersDescribe) {
  std::vector<uint8_t> hidden = LzhMemberBytes(Level2(File("HIDDEN.txt", "boo")));
  LzhMember cover = Level2(File("cover.txt", "cover"));
  cover.data += std::string(hidden.begin(), hidden.end());
  cover.originalSize = 5;
  cover.dataCrc = ReferenceCrc16(std::string("cover"));
  std::vector<uint8_t> surplus = LzhArchive({cover, Level2(File("visible.txt", "v"))});

  std::vector<uint8_t> trailing = Archive({File("a.txt", "x")});
  for (char c : std::string("\x08\x01junk behind the end")) trailing.push_back((uint8_t)c);

  // A header of exactly 512 bytes: its length field starts with a zero byte.
  LzhMember wide = Level2(File("wide.txt", "w"));
  wide.records.push_back({0x7F, ""});
  size_t grow = 512 - LzhHeader(wide).size();
  wide.records.back().data.assign(grow, 'p');
  std::vector<uint8_t> zeroLow = LzhArchive({Level2(File("a.txt", "x")), wide});

  Member dir;
  dir.method = MethodDirectory;
  dir.dir = "d\xFF";
  dir.extraData = "12";
  std::vector<uint8_t> cut = Archive({dir});
  cut.resize(cut.size() - 2);  // the end marker and one data byte gone

  struct Case {
    const char* name;
    std::vector<uint8_t> archive;
    uint32_t offset;
    int result;
    std::vector<std::string> shown;
    int message;
  } cases[] = {
      {"surplus data", surplus, 0, 1, {"cover.txt", "visible.txt"}, NoMessage},
      {"trailing bytes", trailing, 0, 1, {"a.txt"}, NoMessage},
      {"zero low byte", zeroLow, 0, 1, {"a.txt", "wide.txt"}, NoMessage},
      {"data past the end", cut, 0, 0, {}, MsgArchiveBroken},
      {"start past the end", Archive({File("a.txt", "x")}), 1000, 0, {}, MsgArchiveBroken},
  };
  ASSERT_EQ(LzhHeader(wide).size(), 512u);
  for (const Case& c : cases) {
    UseArchive(c.archive);
    Work->config.archiveOffset = c.offset;
    ResetReports();
    EXPECT_EQ(Run(TestMode), c.result) << c.name;
    std::vector<std::string> shown;
    for (const auto& [line, text] : Reported.status)
      if (line == RecordedPath) shown.push_back(text);
    EXPECT_EQ(shown, c.shown) << c.name;
    EXPECT_EQ(Reported.lastMessage, c.message) << c.name;
  }
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
