// Member decoding on hand-built blocks (written with the MSB-first bit
// writer, one commented call per field), on random valid streams whose
// output the test works out itself, on damaged streams, on stored and
// message members, and on real archives made by jlha when it is installed.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "extract/crc16.h"
#include "extract/decode.h"
#include "extract/header.h"
#include "core/messages.h"
#include "tests/unit/support/bitwriter.h"
#include "tests/unit/support/lzhwriter.h"
#include "tests/unit/support/files.h"
#include "tests/unit/support/recording.h"

namespace {

struct MemberRun {
  int exitCode = NoExit;
  std::vector<uint8_t> output;
  int64_t endPosition = -1;  // archive position after decoding
  bool outputExists = false;
};

class Decode : public ::testing::Test {
 protected:
  std::vector<uint8_t> header;
  std::string outputPath;

  void SetUp() override {
    NewWorkArea();
    CrcInit(CrcPolynomial);
    snprintf(Work->archivePath, ArchivePathSize, "/tmp/sfx.exe");
  }
  void TearDown() override {
    if (Work->archiveFile != InvalidFile) PlatformClose(Work->archiveFile);
    FreeWorkArea();
  }
  // A fixed header part carrying what ExpandMember reads from it.
  void SetHeader(char method, uint32_t compressedSize, uint32_t originalSize) {
    header.assign(26, 0);
    memcpy(&header[2], "-lh?-", 5);
    header[5] = (uint8_t)method;
    for (int i = 0; i < 4; i++) header[7 + i] = (uint8_t)(compressedSize >> (8 * i));
    for (int i = 0; i < 4; i++) header[11 + i] = (uint8_t)(originalSize >> (8 * i));
    Work->header = header.data();
  }
  // Puts data (and a few bytes that belong to the next member) in the
  // archive and opens the output (a file, or text for the message member).
  void Prepare(const std::vector<uint8_t>& data, bool toText) {
    std::vector<uint8_t> file = data;
    file.insert(file.end(), {'N', 'E', 'X', 'T'});
    Work->archiveFile = PlatformOpenRead(WriteTempFile(file).c_str());
    Work->inputPos = UINT32_MAX;
    outputPath = TempPath();
    snprintf(Work->outputPath, OutputPathSize, "%s", outputPath.c_str());
    Work->outputFile = toText ? InvalidFile : PlatformCreateWrite(outputPath.c_str());
    ResetReports();
  }
  MemberRun Finish(int code) {
    MemberRun run;
    run.exitCode = code;
    if (Work->archiveFile != InvalidFile) run.endPosition = FilePosition(Work->archiveFile);
    if (Work->outputFile != InvalidFile) {
      PlatformClose(Work->outputFile);
      PlatformCommitOutput(outputPath.c_str());
      Work->outputFile = InvalidFile;
    }
    run.outputExists = access(outputPath.c_str(), F_OK) == 0;
    run.output = ReadFileBytes(outputPath);
    return run;
  }
  MemberRun Expand(char method, const std::vector<uint8_t>& stream, uint32_t originalSize,
                   bool toText = false) {
    SetHeader(method, (uint32_t)stream.size(), originalSize);
    Prepare(stream, toText);
    return Finish(RunTrapped([] { ExpandMember(); }));
  }
  // The header claims size original bytes and packed bytes of data (the
  // data's own length unless given).
  MemberRun CopyStored(const std::vector<uint8_t>& data, uint32_t size, bool toText = false,
                       int64_t packed = -1) {
    SetHeader('0', packed < 0 ? (uint32_t)data.size() : (uint32_t)packed, size);
    Prepare(data, toText);
    return Finish(RunTrapped([size] { CopyStoredMember(size); }));
  }
};

std::vector<uint8_t> Repeat(char c, size_t n) { return std::vector<uint8_t>(n, (uint8_t)c); }

// A block whose three codes each have one symbol: no bits per symbol.
void PutSingleSymbolBlock(BitWriter& w, uint32_t blockSize, uint32_t literal,
                          uint32_t offsetSymbol, int offsetCountBits = 4) {
  w.Put(blockSize, 16);              // block size
  w.Put(0, 5);                       // code-length code: count 0 ...
  w.Put(0, 5);                       // ... its only symbol, 0
  w.Put(0, 9);                       // literal code: count 0 ...
  w.Put(literal, 9);                 // ... its only symbol
  w.Put(0, offsetCountBits);         // offset code: count 0 ...
  w.Put(offsetSymbol, offsetCountBits);  // ... its only symbol
}

// Catches single-symbol codes that consume bits or are refused, and a reader
// that does not leave the archive right after the member's data.
TEST_F(Decode, SingleSymbolCodes) {
  BitWriter w;
  PutSingleSymbolBlock(w, 5, 'x', 0);
  MemberRun run = Expand('5', w.bytes, 5);
  ASSERT_EQ(run.exitCode, NoExit);
  EXPECT_EQ(run.output, Repeat('x', 5));
  EXPECT_EQ(run.endPosition, (int64_t)w.bytes.size());
  EXPECT_EQ(Work->crc, ReferenceCrc16(run.output.data(), run.output.size()));
}

// Catches a wrong match source or a bulk copy where the copy overlaps its
// source: offset 0 and length 10 after 'a' repeat it ten times.
TEST_F(Decode, OverlappingMatchRepeats) {
  BitWriter w;
  w.Put(2, 16);        // block of 2 symbols
  w.Put(4, 5);         // code-length code: 4 entries
  w.PutLengthEntry(0); //   symbol 0 unused
  w.PutLengthEntry(0); //   symbol 1 unused
  w.PutLengthEntry(1); //   symbol 2 (long zero run): code 0
  w.Put(0, 2);         //   no zeros after the third entry
  w.PutLengthEntry(1); //   symbol 3 (length 1): code 1
  w.Put(264, 9);       // literal code: 264 entries
  w.Put(0, 1);         //   long zero run ...
  w.Put(97 - 20, 9);   //   ... of 97: symbols 0..96
  w.Put(1, 1);         //   'a' (97) has length 1: code 0
  w.Put(0, 1);         //   long zero run ...
  w.Put(165 - 20, 9);  //   ... of 165: symbols 98..262
  w.Put(1, 1);         //   symbol 263 (match of 10) has length 1: code 1
  w.Put(0, 4);         // offset code: count 0 ...
  w.Put(0, 4);         //   ... only offset symbol 0
  w.Put(0, 1);         // 'a'
  w.Put(1, 1);         // match of 10; offset symbol 0 takes no bits
  MemberRun run = Expand('5', w.bytes, 11);
  ASSERT_EQ(run.exitCode, NoExit);
  EXPECT_EQ(run.output, Repeat('a', 11));
}

// Catches a window that is not primed with spaces: a match at the very
// start copies them (offset symbol 5 with extra bits 0011: offset 19).
TEST_F(Decode, MatchAtStartCopiesSpaces) {
  BitWriter w;
  PutSingleSymbolBlock(w, 1, 258, 5);  // one match of 5, offset symbol 5
  w.Put(3, 4);                         // its 4 extra bits
  MemberRun run = Expand('5', w.bytes, 5);
  ASSERT_EQ(run.exitCode, NoExit);
  EXPECT_EQ(run.output, Repeat(' ', 5));
}

// Catches a block size of 0 taken as empty: it lasts 65536 symbols, then
// the next block header is read. Also checks the flushes of whole windows.
TEST_F(Decode, BlockSizeZeroLasts65536Symbols) {
  BitWriter w;
  PutSingleSymbolBlock(w, 0, 'z', 0);
  PutSingleSymbolBlock(w, 3, 'q', 0);
  MemberRun run = Expand('5', w.bytes, 65539);
  ASSERT_EQ(run.exitCode, NoExit);
  std::vector<uint8_t> expected = Repeat('z', 65536);
  expected.resize(65539, 'q');
  EXPECT_EQ(run.output, expected);
  std::vector<std::pair<uint32_t, uint32_t>> progress;
  for (uint32_t done = 8192; done <= 65536; done += 8192) progress.push_back({done, 65539});
  progress.push_back({65539, 65539});
  EXPECT_EQ(Reported.progress, progress);
}

// Catches an extra final write or a missing flush at the window's end, and
// progress reported for an empty member.
TEST_F(Decode, WindowSizedAndEmptyMembers) {
  BitWriter w;
  PutSingleSymbolBlock(w, 8192, 'w', 0);
  MemberRun run = Expand('5', w.bytes, 8192);
  ASSERT_EQ(run.exitCode, NoExit);
  EXPECT_EQ(run.output, Repeat('w', 8192));
  EXPECT_EQ(Reported.progress, (std::vector<std::pair<uint32_t, uint32_t>>{{8192, 8192}}));
  EXPECT_EQ(Reported.percents, std::vector<uint32_t>{100});

  MemberRun empty = Expand('5', {}, 0);
  ASSERT_EQ(empty.exitCode, NoExit);
  EXPECT_TRUE(empty.outputExists);
  EXPECT_TRUE(empty.output.empty());
  EXPECT_TRUE(Reported.progress.empty());
}

// Catches a wrong length-entry escape: 7 takes 4 bits (7, then 0) and 8
// takes 5 (7, 1, 0). The code-length code here has lengths 1..8, 8, so its
// symbol 2 is 110 and symbol 3 is 1110; any misread shifts every later field.
TEST_F(Decode, LongLengthEntries) {
  BitWriter w;
  w.Put(4, 16);          // block of 4 symbols
  w.Put(9, 5);           // code-length code: 9 entries
  w.PutLengthEntry(1);   //   symbol 0: 0
  w.PutLengthEntry(2);   //   symbol 1: 10
  w.PutLengthEntry(3);   //   symbol 2: 110
  w.Put(0, 2);           //   no zeros after the third entry
  w.PutLengthEntry(4);   //   symbol 3: 1110
  w.PutLengthEntry(5);
  w.PutLengthEntry(6);
  w.Put(0x7, 3);         //   symbol 6: length 7 ...
  w.Put(0, 1);           //   ... ended by a 0 bit (4 bits in all)
  w.Put(0x7, 3);         //   symbol 7: length 8: 7 ...
  w.Put(0x2, 2);         //   ... one 1 bit, then 0 (5 bits in all)
  w.PutLengthEntry(8);   //   symbol 8: length 8 again
  w.Put(100, 9);         // literal code: 100 entries
  w.Put(0x6, 3);         //   long zero run (110) ...
  w.Put(98 - 20, 9);     //   ... of 98: symbols 0..97
  w.Put(0xE, 4);         //   'b' (98): length 1 (1110)
  w.Put(0xE, 4);         //   'c' (99): length 1 (1110)
  w.Put(0, 4);           // offset code: count 0 ...
  w.Put(0, 4);           //   ... only offset symbol 0
  w.Put(0x6, 4);         // b c c b: 0 1 1 0
  MemberRun run = Expand('5', w.bytes, 4);
  ASSERT_EQ(run.exitCode, NoExit);
  EXPECT_EQ(run.output, (std::vector<uint8_t>{'b', 'c', 'c', 'b'}));
}

// Catches a decoder that stops, reads on into the next member, or feeds
// anything but zero bits once the member's data ends: here zero bits mean
// "match of 10 at offset 0", so x y x is followed by x repeated.
TEST_F(Decode, ZeroBitsAfterTheData) {
  BitWriter w;
  w.Put(0, 16);          // block of 65536 symbols
  w.Put(5, 5);           // code-length code: 5 entries
  w.PutLengthEntry(0);
  w.PutLengthEntry(0);
  w.PutLengthEntry(1);   //   symbol 2 (long zero run): 0
  w.Put(0, 2);
  w.PutLengthEntry(2);   //   symbol 3 (length 1): 10
  w.PutLengthEntry(2);   //   symbol 4 (length 2): 11
  w.Put(264, 9);         // literal code: 264 entries
  w.Put(0, 1);           //   long zero run ...
  w.Put(120 - 20, 9);    //   ... of 120
  w.Put(0x3, 2);         //   'x' (120): length 2
  w.Put(0x3, 2);         //   'y' (121): length 2
  w.Put(0, 1);           //   long zero run ...
  w.Put(141 - 20, 9);    //   ... of 141: symbols 122..262
  w.Put(0x2, 2);         //   symbol 263 (match of 10): length 1
  w.Put(0, 4);           // offset code: count 0 ...
  w.Put(0, 4);           //   ... only offset symbol 0
  w.Put(0x2, 2);         // x: 10 (symbol 263 is 0, x 10, y 11)
  w.Put(0x3, 2);         // y
  w.Put(0x2, 2);         // x, then the data ends
  for (uint32_t size : {3u + 10 * 20000, 3u + 10 * 6000 - 4}) {
    MemberRun run = Expand('5', w.bytes, size);
    ASSERT_EQ(run.exitCode, NoExit);
    std::vector<uint8_t> expected = {'x', 'y', 'x'};
    expected.resize(3 + (size - 3 + 9) / 10 * 10, 'x');  // the last match is written whole
    EXPECT_TRUE(run.output == expected) << size;
    EXPECT_EQ(run.endPosition, (int64_t)w.bytes.size());
  }
}

// Catches a zero run written past literalLengths: a run of 531 from
// position 99 would run over the fields behind the array; clipped, the
// code of 'a' and 'b' still decodes.
TEST_F(Decode, ZeroRunPastTheEndIsClipped) {
  BitWriter w;
  w.Put(4, 16);          // block of 4 symbols
  w.Put(4, 5);           // code-length code: 4 entries
  w.PutLengthEntry(0);
  w.PutLengthEntry(0);
  w.PutLengthEntry(1);   //   symbol 2 (long zero run): 0
  w.Put(0, 2);
  w.PutLengthEntry(1);   //   symbol 3 (length 1): 1
  w.Put(300, 9);         // literal code: 300 entries
  w.Put(0, 1);           //   long zero run ...
  w.Put(97 - 20, 9);     //   ... of 97
  w.Put(1, 1);           //   'a': length 1
  w.Put(1, 1);           //   'b': length 1
  w.Put(0, 1);           //   long zero run ...
  w.Put(511, 9);         //   ... of 531, far past the count and the array
  w.Put(0, 4);           // offset code: count 0 ...
  w.Put(0, 4);           //   ... only offset symbol 0
  w.Put(0x6, 4);         // a b b a
  MemberRun run = Expand('5', w.bytes, 4);
  ASSERT_EQ(run.exitCode, NoExit);
  EXPECT_EQ(run.output, (std::vector<uint8_t>{'a', 'b', 'b', 'a'}));
  EXPECT_EQ(Work->offsetSymbolCount, 14);
}

// Catches damaged code tables that are taken for good ones, walk out of the
// link arrays or crash: each ends with "Bad table (5)", exit code 1 and the
// partial output deleted.
TEST_F(Decode, DamagedTablesEndWithBadTable) {
  struct Case {
    const char* name;
    std::vector<uint8_t> stream;
  };
  std::vector<Case> cases;
  {
    BitWriter w;
    w.Put(1, 16);
    w.Put(0, 5);
    w.Put(0, 5);
    w.Put(511, 9);  // literal count above 510
    cases.push_back({"literal count 511", w.bytes});
  }
  {
    BitWriter w;
    PutSingleSymbolBlock(w, 1, 510, 0);  // single literal symbol out of range
    cases.push_back({"single literal 510", w.bytes});
  }
  {
    BitWriter w;
    w.Put(1, 16);
    w.Put(0, 5);
    w.Put(19, 5);  // single code-length symbol out of range
    cases.push_back({"single code-length symbol 19", w.bytes});
  }
  {
    BitWriter w;
    PutSingleSymbolBlock(w, 1, 'a', 14);  // single offset symbol out of range for -lh5-
    cases.push_back({"single offset symbol 14", w.bytes});
  }
  {
    BitWriter w;
    w.Put(1, 16);
    w.Put(1, 5);          // code-length code: one entry ...
    w.PutLengthEntry(1);  // ... of length 1: incomplete
    cases.push_back({"incomplete code-length code", w.bytes});
  }
  {
    BitWriter w;
    w.Put(1, 16);
    w.Put(2, 5);           // code-length code: two entries
    w.PutLengthEntry(1);
    w.PutLengthEntry(20);  // 7 and thirteen 1 bits: length 20
    cases.push_back({"code length 20", w.bytes});
  }
  {
    BitWriter w;
    w.Put(1, 16);
    w.Put(0, 5);
    w.Put(0, 5);   // code-length code: only symbol 0 (one zero length)
    w.Put(3, 9);   // literal code: three entries, all zero
    cases.push_back({"empty literal code", w.bytes});
  }
  for (const Case& c : cases) {
    MemberRun run = Expand('5', c.stream, 100);
    EXPECT_EQ(run.exitCode, ExitFailed) << c.name;
    EXPECT_EQ(Reported.lastMessage, MsgBadTable) << c.name;
    EXPECT_EQ(Reported.lastSubject, "/tmp/sfx.exe") << c.name;
    EXPECT_FALSE(run.outputExists) << c.name;
    EXPECT_EQ(Work->archiveFile, InvalidFile) << c.name;
  }
}

// Catches the message member reaching the file or the CRC, or its text not
// cut at 1023 bytes.
TEST_F(Decode, MessageMemberGoesToText) {
  BitWriter w;
  PutSingleSymbolBlock(w, 2000, 'm', 0);
  MemberRun run = Expand('5', w.bytes, 2000, true);
  ASSERT_EQ(run.exitCode, NoExit);
  EXPECT_EQ(std::string(Work->text), std::string(1023, 'm'));
  EXPECT_EQ(Work->messageLoaded, 1);
  EXPECT_EQ(Work->crc, 0);
  EXPECT_TRUE(Reported.progress.empty());
}

// Catches wrong chunking of stored members and progress that counts the
// chunk just written: 65537 bytes go as 65536 and 1, progress 0 then 65536.
// Catches a decoder that keeps turning the zero bits after a member's data
// into output until the claimed size is reached (4 GiB here): it must stop
// with the data error at the first block it would start from them.
TEST_F(Decode, ClaimBeyondTheDataStopsAtTheNextBlock) {
  BitWriter w;
  PutSingleSymbolBlock(w, 5, 'x', 0);
  MemberRun run = Expand('5', w.bytes, 0xFFFFFFFFu);
  EXPECT_EQ(run.exitCode, ExitFailed);
  EXPECT_EQ(Reported.lastMessage, MsgArchiveBroken);
  EXPECT_FALSE(run.outputExists);
  // Two blocks of zero bits at most (65536 symbols each) before it stops.
  uint64_t produced = 0;
  for (const auto& [done, total] : Reported.progress) produced = done > produced ? done : produced;
  EXPECT_LE(produced, 5u + 2u * 65536u * 256u);
}

TEST_F(Decode, StoredMemberChunks) {
  std::vector<uint8_t> data(65537);
  std::mt19937 rng(4);
  for (auto& b : data) b = (uint8_t)rng();
  MemberRun run = CopyStored(data, 65537);
  ASSERT_EQ(run.exitCode, NoExit);
  EXPECT_EQ(run.output, data);
  EXPECT_EQ(run.endPosition, 65537);
  EXPECT_EQ(Work->crc, ReferenceCrc16(data.data(), data.size()));
  EXPECT_EQ(Reported.progress,
            (std::vector<std::pair<uint32_t, uint32_t>>{{0, 65537}, {65536, 65537}}));

  data.resize(65536);
  run = CopyStored(data, 65536);
  EXPECT_EQ(run.output, data);
  EXPECT_EQ(Reported.progress, (std::vector<std::pair<uint32_t, uint32_t>>{{0, 65536}}));
}

// Catches a short stored member taken as complete, and a stored message
// that runs past its zero byte or reaches the CRC.
TEST_F(Decode, StoredMemberFaultsAndMessage) {
  std::vector<uint8_t> data(1000, 'k');
  MemberRun run = CopyStored(data, 70000, false, 70000);  // the archive holds 1004 bytes
  EXPECT_EQ(run.exitCode, ExitFailed);
  EXPECT_EQ(Reported.lastMessage, MsgReadError);
  EXPECT_FALSE(run.outputExists);

  // Claims more than its data: the copy stops at the data's end instead of
  // reading the next member's header as content.
  run = CopyStored(data, 70000);
  EXPECT_EQ(run.exitCode, ExitFailed);
  EXPECT_EQ(Reported.lastMessage, MsgArchiveBroken);
  EXPECT_FALSE(run.outputExists);

  std::vector<uint8_t> text = {'H', 'i', 0, 'X'};
  run = CopyStored(text, 4, true);
  ASSERT_EQ(run.exitCode, NoExit);
  EXPECT_STREQ(Work->text, "Hi");
  EXPECT_EQ(Work->crc, 0);
}

// ---- Random valid streams ---------------------------------------------

struct Token {
  bool literal;
  uint32_t value;   // byte, or match length
  uint32_t offset;
};

struct Code {
  std::vector<uint8_t> lengths;
  std::vector<uint32_t> codes;
  int single = -1;  // the only symbol, sent with count 0
};

// A third of the codes are chains (each new code splits the deepest one), so
// that 16-bit codes come up often: a long match code, a long offset code and
// 15 extra bits make the most bits one symbol can take.
std::vector<uint8_t> CompleteLengths(std::mt19937& rng, int n, const std::vector<int>& used) {
  bool chain = rng() % 3 == 0;
  std::vector<int> depths = {0};
  while (depths.size() < used.size()) {
    size_t pick = rng() % depths.size();
    size_t deepest = (size_t)(std::max_element(depths.begin(), depths.end()) - depths.begin());
    if (chain && depths[deepest] < 16) pick = deepest;
    if (depths[pick] >= 16) continue;
    int d = ++depths[pick];
    depths.push_back(d);
  }
  std::shuffle(depths.begin(), depths.end(), rng);
  std::vector<uint8_t> lengths(n, 0);
  for (size_t i = 0; i < used.size(); i++) lengths[used[i]] = (uint8_t)depths[i];
  return lengths;
}

// Canonical codes: shorter first, equal lengths in symbol order.
Code MakeCode(std::mt19937& rng, int n, std::vector<int> used) {
  std::sort(used.begin(), used.end());
  used.erase(std::unique(used.begin(), used.end()), used.end());
  Code c;
  if (used.size() == 1) {
    c.single = used[0];
    c.lengths.assign(n, 0);
    c.codes.assign(n, 0);
    return c;
  }
  c.lengths = CompleteLengths(rng, n, used);
  c.codes.assign(n, 0);
  uint32_t code = 0;
  for (int L = 1; L <= 16; L++) {
    for (int s = 0; s < n; s++)
      if (c.lengths[s] == L) c.codes[s] = code++;
    code <<= 1;
  }
  return c;
}

void PutSymbol(BitWriter& w, const Code& c, int s) {
  if (c.single < 0) w.Put(c.codes[s], c.lengths[s]);
}

int LastUsed(const std::vector<uint8_t>& lengths) {
  int last = -1;
  for (size_t i = 0; i < lengths.size(); i++)
    if (lengths[i] != 0) last = (int)i;
  return last;
}

int OffsetSymbol(uint32_t offset) {
  int s = 0;
  while (offset >> s) s++;
  return s;  // 0 for offset 0, else the bit length
}

void PutBlock(BitWriter& w, std::mt19937& rng, const std::vector<Token>& tokens,
              int offsetSymbols, int offsetCountBits) {
  std::vector<int> literalsUsed, offsetsUsed;
  for (const Token& t : tokens) {
    literalsUsed.push_back(t.literal ? (int)t.value : (int)t.value + 253);
    if (!t.literal) offsetsUsed.push_back(OffsetSymbol(t.offset));
  }
  if (offsetsUsed.empty()) offsetsUsed.push_back((int)(rng() % offsetSymbols));
  Code literal = MakeCode(rng, 510, literalsUsed);
  Code offset = MakeCode(rng, offsetSymbols, offsetsUsed);

  // Plan the literal lengths as code-length symbols (with their run values).
  std::vector<std::pair<int, uint32_t>> plan;
  int count = literal.single < 0 ? LastUsed(literal.lengths) + 1 : 0;
  for (int i = 0; i < count;) {
    if (literal.lengths[i] != 0) {
      plan.push_back({literal.lengths[i] + 2, 0});
      i++;
      continue;
    }
    int run = 0;
    while (i + run < count && literal.lengths[i + run] == 0) run++;
    int take;
    if (run >= 20 && rng() % 4) {
      take = std::min(run, 531);
      plan.push_back({2, (uint32_t)(take - 20)});
    } else if (run >= 3 && rng() % 3) {
      take = std::min(run, 18);
      plan.push_back({1, (uint32_t)(take - 3)});
    } else {
      take = 1;
      plan.push_back({0, 0});
    }
    i += take;
  }
  std::vector<int> lengthSymbolsUsed;
  for (auto& p : plan) lengthSymbolsUsed.push_back(p.first);
  if (lengthSymbolsUsed.empty()) lengthSymbolsUsed.push_back((int)(rng() % 19));
  Code lengthCode = MakeCode(rng, 19, lengthSymbolsUsed);

  w.Put((uint32_t)tokens.size(), 16);
  if (lengthCode.single >= 0) {
    w.Put(0, 5);
    w.Put(lengthCode.single, 5);
  } else {
    int n = LastUsed(lengthCode.lengths) + 1;
    w.Put(n, 5);
    for (int i = 0; i < n; i++) {
      w.PutLengthEntry(lengthCode.lengths[i]);
      if (i == 2) {
        int z = 0;
        while (z < 3 && 3 + z < n && lengthCode.lengths[3 + z] == 0) z++;
        w.Put(z, 2);
        i += z;
      }
    }
  }
  if (literal.single >= 0) {
    w.Put(0, 9);
    w.Put(literal.single, 9);
  } else {
    w.Put(count, 9);
    for (auto& [symbol, extra] : plan) {
      PutSymbol(w, lengthCode, symbol);
      if (symbol == 1) w.Put(extra, 4);
      if (symbol == 2) w.Put(extra, 9);
    }
  }
  if (offset.single >= 0) {
    w.Put(0, offsetCountBits);
    w.Put(offset.single, offsetCountBits);
  } else {
    int n = LastUsed(offset.lengths) + 1;
    w.Put(n, offsetCountBits);
    for (int i = 0; i < n; i++) w.PutLengthEntry(offset.lengths[i]);
  }
  for (const Token& t : tokens) {
    if (t.literal) {
      PutSymbol(w, literal, (int)t.value);
      continue;
    }
    PutSymbol(w, literal, (int)t.value + 253);
    int s = OffsetSymbol(t.offset);
    PutSymbol(w, offset, s);
    if (s > 1) w.Put(t.offset - (1u << (s - 1)), s - 1);
  }
}

struct Generated {
  std::vector<uint8_t> stream;
  std::vector<uint8_t> output;  // every byte produced, the last match whole
  uint32_t originalSize;
};

Generated Generate(std::mt19937& rng, char method, size_t target) {
  int windowBits = method == '4' ? 12 : method == '6' ? 15 : method == '7' ? 16 : 13;
  bool wide = method == '6' || method == '7';
  uint32_t maxOffset = wide ? 65535 : 8191;
  uint32_t mask = (1u << windowBits) - 1;
  std::vector<uint8_t> ring(mask + 1, ' ');
  uint32_t pos = 0;
  Generated g;
  BitWriter w;
  int alphabet = 2 + (int)(rng() % 255);
  while (g.output.size() < target) {
    std::vector<Token> tokens;
    size_t blockSize = 1 + rng() % (rng() % 4 == 0 ? 20 : 6000);
    for (size_t k = 0; k < blockSize && g.output.size() < target; k++) {
      Token t{};
      t.literal = rng() % 3 == 0;
      if (t.literal) {
        t.value = rng() % alphabet;
        ring[pos] = (uint8_t)t.value;
        pos = (pos + 1) & mask;
        g.output.push_back((uint8_t)t.value);
      } else {
        t.value = rng() % 4 ? 3 + rng() % 12 : 3 + rng() % 254;
        uint32_t pick = rng() % 8;
        t.offset = pick < 3 ? rng() % 8 : pick < 6 ? rng() % 1024 : rng() % (maxOffset + 1);
        uint32_t source = (pos - t.offset - 1) & mask;
        for (uint32_t j = 0; j < t.value; j++) {
          uint8_t b = ring[(source + j) & mask];
          ring[pos] = b;
          pos = (pos + 1) & mask;
          g.output.push_back(b);
        }
      }
      tokens.push_back(t);
    }
    PutBlock(w, rng, tokens, wide ? 17 : 14, wide ? 5 : 4);
    if (g.output.size() >= target && !tokens.back().literal && rng() % 2) {
      // End inside the last match: it is still written whole.
      g.originalSize = (uint32_t)(g.output.size() - rng() % tokens.back().value);
      g.stream = w.bytes;
      return g;
    }
  }
  g.originalSize = (uint32_t)g.output.size();
  g.stream = w.bytes;
  return g;
}

// Catches any disagreement between the decoder (its fast and careful paths,
// window wrap, input refills, tree walks for codes over 12 bits) and output
// worked out token by token here, for every method.
TEST_F(Decode, RandomValidStreams) {
  std::mt19937 rng(2024);
  for (char method : {'4', '5', '6', '7'}) {
    for (int round = 0; round < 6; round++) {
      size_t target = round == 0 ? 1 + rng() % 50 : 1000 + rng() % 300000;
      Generated g = Generate(rng, method, target);
      MemberRun run = Expand(method, g.stream, g.originalSize);
      ASSERT_EQ(run.exitCode, NoExit) << method << " round " << round;
      ASSERT_EQ(run.output.size(), g.output.size()) << method << " round " << round;
      ASSERT_TRUE(run.output == g.output) << method << " round " << round;
      EXPECT_EQ(run.endPosition, (int64_t)g.stream.size()) << method << " round " << round;
      EXPECT_EQ(Work->crc, ReferenceCrc16(g.output.data(), g.output.size()));
      // One report per chunk written: whole windows, each as soon as the
      // symbol that fills it is done, then the rest.
      uint32_t window = 1u << WindowBitsOf(method);
      size_t chunks = (g.output.size() + window - 1) / window;
      ASSERT_EQ(Reported.progress.size(), chunks) << method << " round " << round;
      for (size_t k = 0; k + 1 < chunks; k++) {
        uint32_t done = Reported.progress[k].first;
        EXPECT_TRUE(done >= (k + 1) * window && done < (k + 1) * window + MaxMatch)
            << method << " round " << round << " chunk " << k << " done " << done;
      }
    }
  }
}

// Catches crashes and endless loops on arbitrary input: random bytes either
// decode to something or end with exit code 1.
TEST_F(Decode, GarbageNeverCrashes) {
  std::mt19937 rng(77);
  for (int round = 0; round < 400; round++) {
    std::vector<uint8_t> junk(1 + rng() % 3000);
    for (auto& b : junk) b = (uint8_t)rng();
    char method = "4567"[round % 4];
    MemberRun run = Expand(method, junk, 1 + rng() % 100000);
    ASSERT_TRUE(run.exitCode == NoExit || run.exitCode == ExitFailed) << round;
  }
}

// ---- A slow, obvious reference decoder -----------------------------------
//
// Reads the stream one bit at a time and decodes canonical codes by their
// first code per length (no tables, no trees), with the same refusals as
// the engine. Used to check the engine on streams with random bit errors.

struct Reference {
  const std::vector<uint8_t>& in;
  size_t bit = 0;
  bool bad = false;

  int Bit() {
    size_t byte = bit / 8;
    int v = byte < in.size() ? (in[byte] >> (7 - bit % 8)) & 1 : 0;
    bit++;
    return v;
  }
  uint32_t Read(int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; i++) v = (v << 1) | Bit();
    return v;
  }

  struct Canon {
    int single = -1;
    std::vector<int> lengths;
  };

  // 1 when the lengths form a complete code with lengths up to 16.
  bool Complete(const std::vector<int>& lengths) {
    uint64_t sum = 0;
    for (int L : lengths) {
      if (L > 16) return false;
      if (L > 0) sum += 1ull << (16 - L);
    }
    return sum == 65536;
  }

  int Decode(const Canon& c) {
    if (c.single >= 0) return c.single;
    uint32_t code = 0, first = 0;
    for (int L = 1; L <= 16; L++) {
      code = (code << 1) | Bit();
      std::vector<int> ofLength;
      for (size_t s = 0; s < c.lengths.size(); s++)
        if (c.lengths[s] == L) ofLength.push_back((int)s);
      if (code - first < ofLength.size()) return ofLength[code - first];
      first = (first + (uint32_t)ofLength.size()) << 1;
    }
    bad = true;  // cannot happen for a complete code
    return 0;
  }

  int LengthEntry() {
    int v = (int)Read(3);
    if (v != 7) return v;
    int ones = 0;
    while (ones < 13 && Bit() == 1) ones++;
    if (ones == 13) Bit();  // the bit after thirteen 1 bits is consumed whatever it is
    return v + ones;
  }

  Canon Aux(int n, int countBits, int zeroRunAfter) {
    Canon c;
    int count = (int)Read(countBits);
    if (count == 0) {
      c.single = (int)Read(countBits);
      if (c.single >= n) bad = true;
      return c;
    }
    std::vector<int> lengths;
    while ((int)lengths.size() < count) {
      lengths.push_back(LengthEntry());
      if ((int)lengths.size() == zeroRunAfter) lengths.insert(lengths.end(), Read(2), 0);
    }
    lengths.resize(n, 0);  // entries past the symbol count are ignored
    if (!Complete(lengths)) bad = true;
    c.lengths = lengths;
    return c;
  }

  Canon Literal(const Canon& lengthCode) {
    Canon c;
    int count = (int)Read(9);
    if (count == 0) {
      c.single = (int)Read(9);
      if (c.single >= 510) bad = true;
      return c;
    }
    if (count > 510) {
      bad = true;
      return c;
    }
    std::vector<int> lengths;
    while ((int)lengths.size() < count && !bad) {
      int s = Decode(lengthCode);
      if (s == 0) lengths.push_back(0);
      else if (s == 1) lengths.insert(lengths.end(), Read(4) + 3, 0);
      else if (s == 2) lengths.insert(lengths.end(), Read(9) + 20, 0);
      else lengths.push_back(s - 2);
    }
    lengths.resize(510, 0);
    if (!Complete(lengths)) bad = true;
    c.lengths = lengths;
    return c;
  }

  // The bytes written for a member, or bad for a refused table.
  std::vector<uint8_t> Run(char method, uint32_t originalSize) {
    int windowBits = method == '4' ? 12 : method == '6' ? 15 : method == '7' ? 16 : 13;
    bool wide = method == '6' || method == '7';
    uint32_t mask = (1u << windowBits) - 1;
    std::vector<uint8_t> ring(mask + 1, ' '), out;
    uint32_t pos = 0, blockLeft = 0;
    Canon literal, offset;
    while (out.size() < originalSize && !bad) {
      if (blockLeft == 0) {
        blockLeft = Read(16);
        if (blockLeft == 0) blockLeft = 65536;
        Canon lengthCode = Aux(19, 5, 3);
        if (!bad) literal = Literal(lengthCode);
        if (!bad) offset = Aux(wide ? 17 : 14, wide ? 5 : 4, -1);
        if (bad) break;
      }
      blockLeft--;
      int s = Decode(literal);
      if (s < 256) {
        out.push_back((uint8_t)s);
        ring[pos] = (uint8_t)s;
        pos = (pos + 1) & mask;
        continue;
      }
      int o = Decode(offset);
      uint32_t distance = o == 0 ? 0 : (1u << (o - 1)) + Read(o - 1);
      uint32_t source = (pos - distance - 1) & mask;
      for (int j = 0; j < s - 253; j++) {
        uint8_t b = ring[(source + j) & mask];
        ring[pos] = b;
        pos = (pos + 1) & mask;
        out.push_back(b);
      }
    }
    return out;
  }
};

// Catches the fast path and the careful path parting ways on unusual but
// readable streams: valid streams with a few bits flipped decode to the
// same bytes as the reference decoder, or are refused by both.
TEST_F(Decode, AgreesWithReferenceOnDamagedStreams) {
  std::mt19937 rng(555);
  int refused = 0, decoded = 0;
  for (int round = 0; round < 120; round++) {
    char method = "4567"[round % 4];
    Generated g = Generate(rng, method, 2000 + rng() % 60000);
    std::vector<uint8_t> stream = g.stream;
    for (int flips = 1 + rng() % 3; flips > 0; flips--) {
      size_t bit = rng() % (stream.size() * 8);
      stream[bit / 8] ^= (uint8_t)(0x80 >> (bit % 8));
    }
    Reference reference{stream};
    std::vector<uint8_t> expected = reference.Run(method, g.originalSize);
    MemberRun run = Expand(method, stream, g.originalSize);
    if (reference.bad) {
      refused++;
      EXPECT_EQ(run.exitCode, ExitFailed) << "round " << round;
      EXPECT_EQ(Reported.lastMessage, MsgBadTable) << "round " << round;
    } else {
      decoded++;
      ASSERT_EQ(run.exitCode, NoExit) << "round " << round;
      ASSERT_TRUE(run.output == expected) << "round " << round;
    }
  }
  EXPECT_GT(refused, 0);
  EXPECT_GT(decoded, 0);
}

// ---- Archives made by jlha ---------------------------------------------

std::vector<uint8_t> MixedContent(size_t size) {
  std::vector<uint8_t> data;
  std::mt19937 rng(31337);
  const char* words[] = {"extract ", "window ", "member ", "header ", "table\n", "code ",
                         "\xE8\xA7\xA3\xE5\x87\x8D ", "0123456789 "};
  while (data.size() < size) {
    switch (rng() % 4) {
      case 0:  // text
        for (int i = 0; i < 200; i++) {
          const char* wd = words[rng() % 8];
          data.insert(data.end(), wd, wd + strlen(wd));
        }
        break;
      case 1:  // noise
        for (int i = 0; i < 700; i++) data.push_back((uint8_t)rng());
        break;
      case 2:  // a run
        data.insert(data.end(), 300 + rng() % 3000, (uint8_t)rng());
        break;
      default:  // a far repeat
        if (data.size() > 40000) {
          size_t from = data.size() - 1 - rng() % 40000;
          for (int i = 0; i < 500; i++) data.push_back(data[from + i]);
        }
    }
  }
  data.resize(size);
  return data;
}

// Catches decoding differences from a real encoder: files packed by jlha
// with -lh5-, -lh6- and -lh7- come back byte for byte with their CRC.
TEST_F(Decode, ArchivesMadeByJlha) {
  if (system("command -v jlha >/dev/null 2>&1") != 0) GTEST_SKIP() << "jlha not installed";
  std::string dir = TempPath();
  ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
  std::vector<uint8_t> content = MixedContent(700000);
  FILE* f = fopen((dir + "/mixed.bin").c_str(), "wb");
  ASSERT_NE(f, nullptr);
  fwrite(content.data(), 1, content.size(), f);
  fclose(f);
  for (char method : {'5', '6', '7'}) {
    std::string archive = dir + "/m" + method + ".lzh";
    std::string command = "cd " + dir + " && jlha ao" + method + " m" + method +
                          ".lzh mixed.bin >/dev/null 2>&1";
    ASSERT_EQ(system(command.c_str()), 0) << command;
    Work->archiveFile = PlatformOpenRead(archive.c_str());
    ASSERT_NE(Work->archiveFile, InvalidFile);
    ASSERT_EQ(ReadMemberHeader(), MemberReady);
    EXPECT_EQ(MemberMethod(), method);
    EXPECT_STREQ(Work->memberName, "mixed.bin");
    outputPath = dir + "/out" + method;
    snprintf(Work->outputPath, OutputPathSize, "%s", outputPath.c_str());
    Work->outputFile = PlatformCreateWrite(outputPath.c_str());
    Work->inputPos = UINT32_MAX;
    ASSERT_EQ(RunTrapped([] { ExpandMember(); }), NoExit);
    PlatformClose(Work->outputFile);
    PlatformCommitOutput(outputPath.c_str());
    Work->outputFile = InvalidFile;
    EXPECT_EQ(Work->crc, MemberDataCrc()) << method;
    EXPECT_TRUE(ReadFileBytes(outputPath) == content) << method;
    PlatformFree(Work->header);
    Work->header = nullptr;
    EXPECT_EQ(ReadMemberHeader(), EndOfArchive);  // the file stands after the data
    PlatformClose(Work->archiveFile);
    Work->archiveFile = InvalidFile;
    unlink(archive.c_str());
    unlink(outputPath.c_str());
  }
  unlink((dir + "/mixed.bin").c_str());
  rmdir(dir.c_str());
}

}  // namespace
