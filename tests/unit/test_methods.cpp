// The host's decoders of -lh1-, -lh2-, -lh3-, -lz4-, -lz5- and -lzs- through the
// driver: members packed at test time by jlha's Java library (an LHA
// implementation of its own, in tests/peers/JlhaPack.java) and streams
// written by small LArc encoders here, each extracted and compared with
// the bytes it was made from; damaged and hostile data; and the member of a
// method the host does not decode, refused by name while the others go on.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "core/messages.h"
#include "core/report.h"
#include "core/workarea.h"
#include "extract/driver.h"
#include "tests/unit/support/bitwriter.h"
#include "tests/unit/support/lzhwriter.h"
#include "tests/unit/support/recording.h"
#include "tests/unit/support/scratch.h"

namespace fs = std::filesystem;

namespace {

// ---- Inputs -----------------------------------------------------------------

std::string TextInput(size_t words) {
  std::mt19937 random(7);
  std::vector<std::string> vocabulary;
  for (int i = 0; i < 300; ++i) {
    std::string w;
    for (int k = 0, n = 1 + (int)(random() % 8); k < n; ++k) w += (char)('a' + random() % 10);
    vocabulary.push_back(w);
  }
  std::string text;
  for (size_t i = 0; i < words; ++i) text += vocabulary[random() % vocabulary.size()] + (i % 13 ? " " : "\n");
  return text;
}

std::string BinaryInput(size_t size) {
  std::mt19937 random(11);
  std::string bytes;
  for (size_t i = 0; i < size; ++i) bytes += (char)(random() % 4 == 0 ? random() : (i * 7) & 0xFF);
  return bytes;
}

struct Input {
  const char* name;
  std::string bytes;
};

// Text long enough for -lh1-'s counts to reach their limit several times,
// binary data with short matches, one long run, a single byte.
std::vector<Input> Inputs() {
  return {{"text.txt", TextInput(60000)},
          {"mixed.bin", BinaryInput(90000)},
          {"run.bin", std::string(70000, 'r')},
          {"one", "1"}};
}

// ---- LArc streams written here ----------------------------------------------

// The -lz5- window before the first byte, in the encoder's positions 0..4095
// (the first byte goes to 4078): each byte value 13 times, the values
// rising, the values falling, 128 zeros, spaces up to 4078, zeros.
std::string Lz5Preset() {
  std::string w;
  for (int v = 0; v < 256; ++v) w += std::string(13, (char)v);
  for (int v = 0; v < 256; ++v) w += (char)v;
  for (int v = 255; v >= 0; --v) w += (char)v;
  w += std::string(128, '\0');
  w.resize(4078, ' ');
  w.resize(4096, '\0');
  return w;
}

// A greedy LArc encoder: finds the longest match (at least minMatch bytes,
// at most maxMatch) anywhere in the window as the decoder will hold it, and
// emits it by window position. lz5: flag bytes and byte pairs; lzs: bit
// items.
struct LarcEncoder {
  bool lz5;
  uint32_t windowSize, minMatch, maxMatch, start;
  std::string window;

  explicit LarcEncoder(bool isLz5)
      : lz5(isLz5),
        windowSize(isLz5 ? 4096 : 2048),
        minMatch(isLz5 ? 3 : 2),
        maxMatch(isLz5 ? 18 : 17),
        start(windowSize - maxMatch),
        window(isLz5 ? Lz5Preset() : std::string(2048, ' ')) {}

  std::string Encode(const std::string& data) {
    BitWriter bits;
    std::string bytes;           // lz5's output
    size_t flagAt = 0;
    int flagCount = 8;
    uint32_t pos = start;
    for (size_t i = 0; i < data.size();) {
      uint32_t bestLength = 0, bestPosition = 0;
      for (uint32_t p = 0; p < windowSize; ++p) {
        uint32_t length = 0;
        while (length < maxMatch && i + length < data.size()) {
          // The match may run into the bytes it writes, as the decoder copies.
          uint32_t at = (p + length) % windowSize;
          uint32_t written = (at + windowSize - pos) % windowSize;
          char c = written < length ? data[i + written] : window[at];
          if (c != data[i + length]) break;
          ++length;
        }
        if (length > bestLength) bestLength = length, bestPosition = p;
      }
      bool literal = bestLength < minMatch;
      uint32_t length = literal ? 1 : bestLength;
      if (lz5) {
        if (flagCount == 8) {
          flagAt = bytes.size();
          bytes += '\0';
          flagCount = 0;
        }
        if (literal) {
          bytes[flagAt] = (char)(bytes[flagAt] | (1 << flagCount));
          bytes += data[i];
        } else {
          bytes += (char)(bestPosition & 0xFF);
          bytes += (char)(((bestPosition >> 4) & 0xF0) | (length - minMatch));
        }
        ++flagCount;
      } else if (literal) {
        bits.Put(1, 1);
        bits.Put((uint8_t)data[i], 8);
      } else {
        bits.Put(0, 1);
        bits.Put(bestPosition, 11);
        bits.Put(length - minMatch, 4);
      }
      for (uint32_t k = 0; k < length; ++k) window[(pos + k) % windowSize] = data[i + k];
      pos = (pos + length) % windowSize;
      i += length;
    }
    if (lz5) return bytes;
    return std::string(bits.bytes.begin(), bits.bytes.end());
  }
};

LzhMember Coded(const std::string& method, const std::string& name, const std::string& original,
                const std::string& coded) {
  LzhMember m;
  m.method = method;
  m.data = coded;
  m.originalSize = (uint32_t)original.size();
  m.dataCrc = ReferenceCrc16(original);
  m.records = {FileNameRecord(name)};
  return m;
}

// ---- The fixture ---------------------------------------------------------------

class Methods : public ScratchDirTest {
 protected:
  void SetUp() override {
    ScratchDirTest::SetUp();
    NewWorkArea();
    OverwriteSilently = 1;
  }
  void TearDown() override {
    FreeWorkArea();
    ScratchDirTest::TearDown();
  }
  void UseArchive(const std::string& path) {
    strcpy(Work->archivePath, path.c_str());
    Work->config.archiveOffset = 0;
  }
  void UseArchive(const std::vector<uint8_t>& archive) {
    std::string path = root_ + "/archive.lzh";
    std::ofstream(path, std::ios::binary) << std::string(archive.begin(), archive.end());
    UseArchive(path);
  }
  // The driver's result, or -1 when the run ended through AbortExtraction.
  int Run(ExtractionMode mode) {
    int result = -1;
    int code = RunTrapped([&] { result = ExtractArchive(nullptr, mode); });
    return code == NoExit ? result : -1;
  }
  static std::string Get(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  // Compares without printing tens of kilobytes on a mismatch.
  static void ExpectBytes(const std::string& path, const std::string& expected) {
    std::string got = Get(path);
    size_t first = 0;
    while (first < got.size() && first < expected.size() && got[first] == expected[first]) ++first;
    EXPECT_TRUE(got == expected) << path << ": " << got.size() << " bytes, expected "
                                 << expected.size() << ", first difference at " << first;
  }
  // Compiles the jlha packer and writes the inputs under root_/src; false
  // when Java or jlha's library is missing.
  bool PrepareJlha() {
    std::string source = fs::path(__FILE__).parent_path().parent_path() / "peers" / "JlhaPack.java";
    std::string command = "javac -d '" + root_ + "' -cp /usr/share/java/jlha.jar '" + source +
                          "' >/dev/null 2>&1";
    if (system(command.c_str()) != 0) return false;
    fs::create_directories(root_ + "/src");
    for (const Input& input : Inputs())
      std::ofstream(root_ + "/src/" + input.name, std::ios::binary) << input.bytes;
    return true;
  }
  // Packs every input into one archive per (method, level) in one Java run.
  bool PackWithJlha(const std::vector<std::pair<std::string, int>>& archives) {
    std::ofstream list(root_ + "/list.txt");
    for (const auto& [method, level] : archives) {
      list << root_ << "/" << method << level << ".lzh\t" << method << "\t" << level;
      for (const Input& input : Inputs()) list << "\t" << input.name;
      list << "\n";
    }
    list.close();
    std::string command = "cd '" + root_ + "/src' && java -cp '/usr/share/java/jlha.jar:" + root_ +
                          "' JlhaPack '" + root_ + "/list.txt' >/dev/null 2>&1";
    return system(command.c_str()) == 0;
  }
};

// Catches any slip in the decoders of the older methods (the adaptive code's
// updates and rebuilds, the position codes, -lh3-'s blocks, LArc's window
// positions) and in reading the header levels jlha writes: every input
// packed by jlha in each method comes out byte for byte, with a clean test
// run first. (What does not shrink jlha stores as -lh0-.)
TEST_F(Methods, JlhaArchivesOfEveryMethod) {
  if (!PrepareJlha()) GTEST_SKIP() << "javac or jlha's Java library unavailable";
  const std::vector<std::pair<std::string, int>> archives = {
      {"-lh1-", 0}, {"-lh1-", 2}, {"-lh2-", 1}, {"-lh2-", 3}, {"-lh3-", 1}, {"-lh3-", 3},
      {"-lz5-", 1}, {"-lz5-", 2}, {"-lzs-", 3}, {"-lzs-", 0}};
  ASSERT_TRUE(PackWithJlha(archives));
  for (const auto& [method, level] : archives) {
    SCOPED_TRACE(method + " level " + std::to_string(level));
    UseArchive(root_ + "/" + method + std::to_string(level) + ".lzh");
    ResetReports();
    EXPECT_EQ(Run(TestMode), 1) << Reported.lastMessage;
    for (const Input& input : Inputs()) fs::remove(input.name);
    EXPECT_EQ(Run(ExtractMode), 1) << Reported.lastMessage;
    for (const Input& input : Inputs()) ExpectBytes(input.name, input.bytes);
  }
}

// Catches -lz5-'s prefilled window set up wrongly or positions counted from
// the wrong place, -lzs-'s bit items misread, and matches that overlap what
// they write: streams of the encoder here, whose matches reach into the
// prefilled window, across the window's end and into themselves. -lz4-
// (which jlha writes as -lh0-) holds the same inputs as they are.
TEST_F(Methods, LarcStreams) {
  std::string preset = Lz5Preset();
  const std::vector<Input> inputs = {
      {"preset", std::string(13, '\x41') + std::string(5, '\0') + "  " + preset.substr(3400, 60)},
      {"text", TextInput(700)},
      {"runs", std::string(40, 'a') + "ab" + std::string(30, 'b')},
      {"wraps", BinaryInput(5000) + BinaryInput(5000)},
  };
  for (const char* method : {"-lz5-", "-lzs-", "-lz4-"}) {
    bool lz5 = method[3] == '5';
    std::vector<LzhMember> members;
    for (const Input& input : inputs)
      members.push_back(Coded(method, input.name, input.bytes,
                              method[3] == '4' ? input.bytes : LarcEncoder(lz5).Encode(input.bytes)));
    UseArchive(LzhArchive(members));
    ResetReports();
    EXPECT_EQ(Run(ExtractMode), 1) << Reported.lastMessage;
    for (const Input& input : inputs) ExpectBytes(input.name, input.bytes);
  }
}

// Catches output past the original size (a last match that reaches beyond
// it) and a member whose data runs out decoded on with made-up bits, for
// every older method; and hostile data that never ends or writes out of
// bounds (run under the sanitizers by the fuzz replay as well).
TEST_F(Methods, BoundedOnShortAndHostileData) {
  // A match of 18 bytes of which only 10 belong to the member.
  std::string ten(10, 'z');
  std::string coded = LarcEncoder(true).Encode(std::string(19, 'z'));
  UseArchive(LzhArchive({Coded("-lz5-", "cut", ten, coded)}));
  EXPECT_EQ(Run(ExtractMode), 1) << Reported.lastMessage;
  EXPECT_EQ(Get("cut"), ten);

  // Data cut to a quarter: the run ends with the archive reported broken
  // (or a table refused), never with a member claiming to be whole.
  std::string text = TextInput(3000);
  LzhMember shortLzs = Coded("-lzs-", "short", text, LarcEncoder(false).Encode(text));
  shortLzs.data.resize(shortLzs.data.size() / 4);
  UseArchive(LzhArchive({shortLzs}));
  ResetReports();
  EXPECT_EQ(Run(TestMode), -1);
  EXPECT_EQ(Reported.lastMessage, MsgArchiveBroken);

  std::mt19937 random(3);
  for (const char* method : {"-lh1-", "-lh2-", "-lh3-", "-lz5-", "-lzs-", "-pm1-", "-pm2-"}) {
    for (int trial = 0; trial < 20; ++trial) {
      std::string garbage;
      for (int i = 0, n = 1 + (int)(random() % 3000); i < n; ++i) garbage += (char)random();
      LzhMember m = Coded(method, "g", std::string(), garbage);
      m.originalSize = 1 + random() % 200000;
      UseArchive(LzhArchive({m}));
      ResetReports();
      int result = Run(TestMode);
      // A whole decode can only end in a CRC mismatch or, by chance, a match.
      if (result != -1) {
        EXPECT_TRUE(result == 1 || Reported.lastMessage == MsgCrcError) << method;
      }
      uint32_t produced = Reported.progress.empty() ? 0 : Reported.progress.back().first;
      EXPECT_LE(produced, *m.originalSize) << method;
    }
  }
}

// Catches PMarc streams that name what cannot be read outside the window
// or a table: a -pm1- copy from before the first byte; -pm2- codes that
// promise more codes than bits can tell apart; a copy class beyond the last.
TEST_F(Methods, PmarcStreamsThatCannotBe) {
  const std::vector<std::pair<const char*, std::vector<std::pair<uint32_t, int>>>> cases = {
      // Literal tree 16; a copy first of all, of type 0, distance 5.
      {"-pm1-", {{16, 5}, {0, 1}, {0, 1}, {5, 6}}},
      // A passed-over bit; three symbols, floor 1, width 1, each of one bit.
      {"-pm2-", {{0, 1}, {3, 5}, {1, 3}, {1, 3}, {7, 3}}},
      // One symbol, 29: beyond the 256-byte copy.
      {"-pm2-", {{0, 1}, {30, 5}, {0, 3}}},
  };
  for (const auto& [method, fields] : cases) {
    BitWriter w;
    for (const auto& [value, bits] : fields) w.Put(value, bits);
    w.Put(0, 32);
    UseArchive(LzhArchive({Coded(method, "x", std::string(100, 'x'),
                                 std::string(w.bytes.begin(), w.bytes.end()))}));
    ResetReports();
    EXPECT_EQ(Run(TestMode), -1) << method;
    EXPECT_EQ(Reported.lastMessage, MsgArchiveBroken) << method;
  }
}

// Catches a member of a method the host does not decode taken for a broken
// archive, reported without its method or name, written anyway, or
// stopping the members after it when the host goes on past failures.
TEST_F(Methods, UnsupportedMethodsAreNamed) {
  LzhMember good = Coded("-lh0-", "good.txt", "fine", "fine");
  LzhMember after = Coded("-lh0-", "after.txt", "later", "later");
  LzhMember unknown = Coded("-lh8-", "old.lzh8", "x", "some coded bytes");
  LzhMember pm = Coded("-lk7-", "other.bin", "y", "other coded bytes");
  std::vector<uint8_t> archive = LzhArchive({good, unknown, pm, after});
  for (ExtractionMode mode : {TestMode, ExtractMode}) {
    UseArchive(archive);
    Work->continueAfterFault = 1;
    ResetReports();
    EXPECT_EQ(Run(mode), 0);
    EXPECT_EQ(Reported.errorCount, 2);
    EXPECT_EQ(Reported.lastMessage, MsgUnsupportedMethod);
    EXPECT_EQ(Reported.lastMethod, "-lk7-");
    EXPECT_EQ(Reported.lastSubject, "other.bin");
  }
  EXPECT_EQ(Get("after.txt"), "later");
  EXPECT_FALSE(fs::exists("old.lzh8"));
  EXPECT_FALSE(fs::exists("other.bin"));
  // Told to stop at the first failure, the run ends there.
  fs::remove("after.txt");
  UseArchive(archive);
  Work->continueAfterFault = 0;
  ResetReports();
  EXPECT_EQ(Run(ExtractMode), 0);
  EXPECT_EQ(Reported.errorCount, 1);
  EXPECT_EQ(Reported.lastMessage, MsgUnsupportedMethod);
  EXPECT_EQ(Reported.lastMethod, "-lh8-");
  EXPECT_FALSE(fs::exists("after.txt"));
}

// Catches output not handed over in whole windows with progress: a large
// -lzs- member reports rising progress that ends at its size.
TEST_F(Methods, ProgressInWindows) {
  std::string data = BinaryInput(20000);
  UseArchive(LzhArchive({Coded("-lzs-", "p.bin", data, LarcEncoder(false).Encode(data))}));
  EXPECT_EQ(Run(ExtractMode), 1);
  ASSERT_GE(Reported.progress.size(), 9u);  // 20000 bytes through a 2 KB window
  for (size_t i = 1; i < Reported.progress.size(); ++i)
    EXPECT_GT(Reported.progress[i].first, Reported.progress[i - 1].first);
  EXPECT_EQ(Reported.progress.back(), std::make_pair(20000u, 20000u));
  ExpectBytes("p.bin", data);
}

}  // namespace
