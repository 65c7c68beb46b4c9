// Start-up without windows: the command-line splitter, the option walk, the
// configuration block with its special directories, the quote rule of the
// destination field and the progress percentage. Expected values are worked
// out by hand from the documented rules.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "base/text.h"
#include "core/report.h"
#include "startup/startup.h"
#include "core/workarea.h"
#include "tests/unit/support/files.h"
#include "tests/unit/support/recording.h"

namespace {

std::vector<std::string> Split(const std::string& line) {
  int count = -1;
  char** args = SplitCommandLine(line.c_str(), &count);
  std::vector<std::string> tokens;
  for (int i = 0; i < count; i++) tokens.push_back(args[i]);
  FreeArgs(args, count);
  return tokens;
}

// A token list as the splitter would hand it over, with owned storage.
struct Tokens {
  std::vector<std::string> text;
  std::vector<char*> pointers;
  explicit Tokens(std::vector<std::string> t) : text(std::move(t)) {
    for (auto& s : text) pointers.push_back(s.data());
  }
};

class Startup : public ::testing::Test {
 protected:
  void SetUp() override {
    NewWorkArea();
    AutoStartMode = 0;
    DestinationFromCommandLine = 0;
    OverwriteSilently = 0;
  }
  void TearDown() override { FreeWorkArea(); }
};

struct SplitCase {
  const char* line;
  std::vector<std::string> tokens;
};

// Catches: quote handling (start moved past the opening quote, text before
// it dropped, closing quote ends the token, unterminated quote runs to the
// end), control bytes as separators, and CP932 bytes taken as signed chars
// (which would end a token at the first byte above 0x7F).
TEST(SplitCommandLine, DocumentedExamplesAndEdges) {
  const SplitCase cases[] = {
      {"a \"b c\" d", {"a", "b c", "d"}},
      {"x\"y z\"w", {"y z", "w"}},
      {"\"open to the end", {"open to the end"}},
      {" \t lead  and\ttrail \t ", {"lead", "and", "trail"}},
      {"", {}},
      {"   ", {}},
      {"a\x01" "b", {"a", "b"}},
      {"\"\"", {""}},
      {"\x83\x65\x83\x58 z", {"\x83\x65\x83\x58", "z"}},
      {"-n \"C:\\My Files\" -n-", {"-n", "C:\\My Files", "-n-"}},
  };
  for (const auto& c : cases) EXPECT_EQ(Split(c.line), c.tokens) << "line: " << c.line;
}

// Catches: writing past the 1024-slot array when the line has more tokens.
TEST(SplitCommandLine, KeepsAtMostTheArraySize) {
  std::string line;
  for (int i = 0; i < 1100; i++) line += "t ";
  EXPECT_EQ(Split(line).size(), 1024u);
}

// Catches: the program's own name (quoted with spaces, or bare) leaking into
// the options, or the first argument being cut.
TEST(SkipProgramName, QuotedAndBareNames) {
  EXPECT_STREQ(SkipProgramName("\"C:\\Program Files\\a.exe\" -n x"), "-n x");
  EXPECT_STREQ(SkipProgramName("a.exe   -n"), "-n");
  EXPECT_STREQ(SkipProgramName("a.exe"), "");
  EXPECT_STREQ(SkipProgramName("\"unterminated name"), "");
}

struct WalkCase {
  std::vector<std::string> args;
  uint8_t flags;
  int autoStart;          // after ResolveStartMode
  const char* destination;  // nullptr: none from the command line
};

// Catches: -n/-N/-nx/-n- decoded wrongly, a later option not overriding an
// earlier one, the position-1 token taken as the destination, options after
// the destination still applied, and flags bit 0 overriding -n-.
TEST_F(Startup, OptionWalk) {
  const WalkCase cases[] = {
      {{}, 0, 0, nullptr},
      {{}, FlagAutoStart, 1, nullptr},
      {{"-n"}, 0, 1, nullptr},
      {{"-N"}, 0, 1, nullptr},
      {{"-nx"}, 0, 1, nullptr},
      {{"-n-"}, FlagAutoStart, 0, nullptr},
      {{"-N-x"}, FlagAutoStart, 0, nullptr},
      {{"-n", "-n-"}, 0, 0, nullptr},
      {{"-n-", "-n"}, 0, 1, nullptr},
      {{"-x"}, FlagAutoStart, 1, nullptr},
      {{"-"}, 0, 0, nullptr},
      {{"C:\\Dest"}, 0, 0, nullptr},
      {{"-n", "C:\\Dest"}, 0, 1, "C:\\Dest"},
      {{"-n-", "C:\\Dest", "-n"}, FlagAutoStart, 0, "C:\\Dest"},
      {{"first", "second", "third"}, 0, 0, "second"},
      {{"first", "-n", "third"}, 0, 1, "third"},
  };
  for (const auto& c : cases) {
    SetUp();
    Tokens tokens(c.args);
    Work->config.flags = c.flags;
    WalkOptions(tokens.pointers.data(), (int)tokens.pointers.size());
    ResolveStartMode();
    std::string label = ::testing::PrintToString(c.args);
    EXPECT_EQ(AutoStartMode, c.autoStart) << label;
    EXPECT_EQ(DestinationFromCommandLine, c.destination != nullptr) << label;
    if (c.destination != nullptr) EXPECT_STREQ(Work->text, c.destination) << label;
  }
}

// Catches: -s or -l missed in either case, a later -l leaving an empty
// file behind the first, an option after the destination still applied.
TEST_F(Startup, SilentAndLogOptions) {
  SilentMode = 0;
  Tokens tokens({"-S", "-lfirst.log", "-Lsecond.log", "dest", "-s"});
  WalkOptions(tokens.pointers.data(), (int)tokens.pointers.size());
  EXPECT_EQ(SilentMode, 1);
  EXPECT_TRUE(FileIsOpen(Work->logFile));
  EXPECT_EQ(access("first.log", F_OK), 0);
  EXPECT_NE(access("second.log", F_OK), 0);
  PlatformClose(Work->logFile);
  unlink("first.log");
  SilentMode = 0;
  Tokens after({"-n", "dest", "-s"});
  WalkOptions(after.pointers.data(), 3);
  EXPECT_EQ(SilentMode, 0);
}

// Catches: a "--" found inside quotes or inside a longer token, the options
// not cut there (so that the command's arguments become options or the
// destination), and the command's text changed on its way (quotes dropped
// as the stub's own splitter would drop them).
TEST(CutCommandArguments, StandaloneMarkOutsideQuotes) {
  const struct {
    const char* line;
    const char* options;    // the line after the cut
    const char* arguments;  // nullptr: none
  } cases[] = {
      {"-n C:\\d -- \"a b\" c", "-n C:\\d ", "\"a b\" c"},
      {"-s -- /S /D=\"C:\\Program Files\\x\"", "-s ", "/S /D=\"C:\\Program Files\\x\""},
      {"\"x -- y\" z", "\"x -- y\" z", nullptr},
      {"a--b --x x-- -- c", "a--b --x x-- ", "c"},
      {"--\tc", "", "c"},
      {"-n --  ", "-n ", nullptr},
      {"-n", "-n", nullptr},
  };
  for (const auto& c : cases) {
    std::string line = c.line;
    const char* arguments = CutCommandArguments(line.data());
    EXPECT_STREQ(line.c_str(), c.options) << c.line;
    if (c.arguments == nullptr)
      EXPECT_EQ(arguments, nullptr) << c.line;
    else
      EXPECT_STREQ(arguments, c.arguments) << c.line;
  }
}

// Catches: OverwriteSilently read from the wrong bit or left over.
TEST_F(Startup, OverwriteSilentlyFollowsBitOne) {
  Work->config.flags = FlagOverwriteSilently;
  ResolveStartMode();
  EXPECT_EQ(OverwriteSilently, 1);
  EXPECT_EQ(AutoStartMode, 0);
  Work->config.flags = FlagAutoStart;
  ResolveStartMode();
  EXPECT_EQ(OverwriteSilently, 0);
}

// Catches: a long destination overrunning defaultDir (255 characters), and
// the cut splitting a CP932 pair so that a lone lead byte is left at the end.
TEST_F(Startup, DestinationIsCutToWholeCharacters) {
  Tokens longName({"-n", std::string(300, 'a')});
  WalkOptions(longName.pointers.data(), 2);
  EXPECT_EQ(std::string(Work->text), std::string(255, 'a'));

  // 254 single bytes leave room for one more byte only, not the pair.
  Tokens pairAtEdge({"-n", std::string(254, 'b') + "\x82\xa0"});
  WalkOptions(pairAtEdge.pointers.data(), 2);
  EXPECT_EQ(std::string(Work->text), std::string(254, 'b'));

  Tokens pairFits({"-n", std::string(253, 'c') + "\x82\xa0"});
  WalkOptions(pairFits.pointers.data(), 2);
  EXPECT_EQ(std::string(Work->text), std::string(253, 'c') + "\x82\xa0");
}

// A program file whose configuration block holds the given defaultDir.
std::string ProgramWithConfig(const StubConfig& config) {
  std::vector<uint8_t> bytes(StubConfigOffset, 'M');
  const uint8_t* raw = reinterpret_cast<const uint8_t*>(&config);
  bytes.insert(bytes.end(), raw, raw + sizeof(config));
  bytes.resize(bytes.size() + 64, 0xEE);
  return WriteTempFile(bytes);
}

std::string LoadWithDefaultDir(const char* defaultDir) {
  StubConfig config = {};
  snprintf(config.defaultDir, sizeof config.defaultDir, "%s", defaultDir);
  std::string path = ProgramWithConfig(config);
  snprintf(Work->archivePath, ArchivePathSize, "%s", path.c_str());
  LoadStubConfig();
  return Work->config.defaultDir;
}

std::string CurrentDirectory() {
  char buffer[4096];
  return getcwd(buffer, sizeof buffer) ? buffer : "";
}

// Catches: the special names compared with case, matched as prefixes, or
// looked up for the wrong folder; an empty field not becoming the current
// directory.
TEST_F(Startup, SpecialDirectoriesInAnyCase) {
  setenv("TMPDIR", "/tmp/startup-work", 1);
  setenv("LZHSFX_WINDIR", "/win", 1);
  setenv("LZHSFX_SYSTEMDIR", "/win/system", 1);
  const struct {
    const char* field;
    std::string expected;
  } cases[] = {
      {"%WORK%", "/tmp/startup-work"},
      {"%work%", "/tmp/startup-work"},
      {"%winDIR%", "/win"},
      {"%WinDir%", "/win"},
      {"%SYSTEMDIR%", "/win/system"},
      {"%WinDir%\\sub", "%WinDir%\\sub"},
      {"%WORK", "%WORK"},
      {"C:\\Fixed", "C:\\Fixed"},
      {"", CurrentDirectory()},
  };
  for (const auto& c : cases) {
    SetUp();
    EXPECT_EQ(LoadWithDefaultDir(c.field), c.expected) << c.field;
  }
}

// Catches: a command-line destination run through the special-name lookup
// (it must be taken literally) or not replacing the configured directory.
TEST_F(Startup, CommandLineDestinationIsLiteral) {
  setenv("TMPDIR", "/tmp/startup-work", 1);
  DestinationFromCommandLine = 1;
  snprintf(Work->text, TextSize, "%%WORK%%");
  EXPECT_EQ(LoadWithDefaultDir("C:\\Configured"), "%WORK%");
  SetUp();
  DestinationFromCommandLine = 1;
  snprintf(Work->text, TextSize, "D:\\Given");
  EXPECT_EQ(LoadWithDefaultDir("%WORK%"), "D:\\Given");
}

// Catches: fields read from the wrong file offsets, and the default title
// missing or not the CP932 bytes "LZH 自己解凍書庫 V2.50.w32.0015".
TEST_F(Startup, ReadsEveryFieldAndDefaultsTheTitle) {
  StubConfig config = {};
  config.archiveOffset = 0x7000;
  snprintf(config.prompt, sizeof config.prompt, "Where to?");
  snprintf(config.defaultDir, sizeof config.defaultDir, "C:\\Out");
  snprintf(config.command, sizeof config.command, "\"setup.exe\" /q");
  config.flags = 3;
  config.restoreAttributes = 1;
  std::string path = ProgramWithConfig(config);
  snprintf(Work->archivePath, ArchivePathSize, "%s", path.c_str());
  LoadStubConfig();
  const StubConfig& got = Work->config;
  EXPECT_EQ(got.archiveOffset, 0x7000u);
  EXPECT_STREQ(got.title, "LZH \x8e\xa9\x8c\xc8\x89\xf0\x93\x80\x8f\x91\x8c\xc9 V2.50.w32.0015");
  EXPECT_STREQ(got.prompt, "Where to?");
  EXPECT_STREQ(got.defaultDir, "C:\\Out");
  EXPECT_STREQ(got.command, "\"setup.exe\" /q");
  EXPECT_EQ(got.flags, 3);
  EXPECT_EQ(got.restoreAttributes, 1);
}

// Catches: text fields without a terminator in a damaged block being read on
// into the next field (or past the block).
TEST_F(Startup, UnterminatedFieldsAreCut) {
  StubConfig config = {};
  memset(config.title, 'T', sizeof config.title);
  memset(config.prompt, 'P', sizeof config.prompt);
  memset(config.defaultDir, 'D', sizeof config.defaultDir);
  memset(config.command, 'C', sizeof config.command);
  std::string path = ProgramWithConfig(config);
  snprintf(Work->archivePath, ArchivePathSize, "%s", path.c_str());
  LoadStubConfig();
  EXPECT_EQ(std::string(Work->config.title), std::string(TitleSize - 1, 'T'));
  EXPECT_EQ(std::string(Work->config.prompt), std::string(PromptSize - 1, 'P'));
  EXPECT_EQ(std::string(Work->config.defaultDir), std::string(DefaultDirSize - 1, 'D'));
  EXPECT_EQ(std::string(Work->config.command), std::string(CommandSize - 1, 'C'));
}

// Catches: a missing program file leaving garbage or no defaults behind.
TEST_F(Startup, MissingFileGivesZeroBlockWithDefaults) {
  std::string missing = TempPath();
  snprintf(Work->archivePath, ArchivePathSize, "%s", missing.c_str());
  LoadStubConfig();
  EXPECT_EQ(Work->config.archiveOffset, 0u);
  EXPECT_EQ(Work->config.flags, 0);
  EXPECT_STREQ(Work->config.title, "LZH \x8e\xa9\x8c\xc8\x89\xf0\x93\x80\x8f\x91\x8c\xc9 V2.50.w32.0015");
  EXPECT_EQ(std::string(Work->config.defaultDir), CurrentDirectory());
}

// Catches: quotes kept, leading blanks kept, trailing blanks dropped, text
// after the closing quote kept, or the copy overrunning destDir.
TEST(StripQuotes, Cases) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"\"C:\\My Files\"", "C:\\My Files"},
      {"  \t\"C:\\a\"", "C:\\a"},
      {"\"unclosed dir", "unclosed dir"},
      {"\"a\"b", "a"},
      {"C:\\plain  ", "C:\\plain  "},
      {"   C:\\lead", "C:\\lead"},
      {"", ""},
      {"\"\"", ""},
  };
  for (const auto& c : cases) {
    char dest[DestDirSize];
    memset(dest, 'X', sizeof dest);
    StripQuotes(dest, c.in, sizeof dest);
    EXPECT_STREQ(dest, c.out) << c.in;
  }
  char small[8];
  StripQuotes(small, "\"0123456789\"", sizeof small);
  EXPECT_STREQ(small, "0123456");
  StripQuotes(small, "0123456789", sizeof small);
  EXPECT_STREQ(small, "0123456");
}

// Catches: division by zero for small totals, percentages above 100, and a
// rounding rule other than done / (total / 100).
TEST(ProgressPercent, Rule) {
  const struct {
    uint32_t done, total, percent;
  } cases[] = {
      {0, 0, 0},           {5, 0, 0},
      {0, 50, 100},        {50, 99, 100},   // total below 100 shows 100 at once
      {0, 100, 0},         {1, 100, 1},
      {0, 1000, 0},        {999, 1000, 99}, {1000, 1000, 100},
      {2000, 1000, 100},   {1, 199, 1},     // 199 / 100 = 1: one byte is 1 %
      {150, 250, 75},      // 250 / 100 = 2
      {0xFFFFFFFFu, 0xFFFFFFFFu, 100},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ProgressPercent(c.done, c.total), c.percent) << c.done << "/" << c.total;
}

}  // namespace
