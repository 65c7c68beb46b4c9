// The compressor against an independent reference decoder: every method and
// level round-trips, the stream has exactly the structure the extractor
// reads, and the header bytes match values worked out by hand.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "base/text.h"
#include "compress/blockcoder.h"
#include "compress/crc16.h"
#include "compress/encoder.h"
#include "compress/header.h"
#include "compress/huffman.h"
#include "compress/pack.h"
#include "tests/compress/reference_decoder.h"

namespace {

std::vector<uint8_t> Random(size_t n, uint32_t start) {
  std::mt19937 rng(start);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

std::vector<uint8_t> Text(size_t n) {
  static const char* words[] = {"alpha ", "beta ", "gamma\n", "delta ", "epsilon ", "zeta, ", "eta. "};
  std::mt19937 rng(7);
  std::vector<uint8_t> v;
  while (v.size() < n) {
    const char* w = words[rng() % 7];
    v.insert(v.end(), w, w + strlen(w));
  }
  v.resize(n);
  return v;
}

struct Method {
  char digit;
  int windowBits;
  int offsetSymbols;
};
const Method Methods[] = {{'5', 13, 14}, {'6', 15, 17}, {'7', 16, 17}};

ReferenceDecoder Decoded(const std::vector<uint8_t>& packed, size_t size, const Method& m,
                         std::vector<uint8_t>& out) {
  ReferenceDecoder d(packed);
  out = d.Run(size, m.windowBits, m.offsetSymbols);
  return d;
}

// Catches any encoder fault that changes data, leans on the window's initial
// fill, breaks a code, or leaves stray bytes after the stream.
TEST(Compress, RoundTripsEveryMethodAndLevel) {
  std::vector<std::pair<std::string, std::vector<uint8_t>>> inputs = {
      {"one byte", {0x41}},
      {"two bytes", {0, 0}},
      {"random 100k", Random(100000, 1)},
      {"text 300k", Text(300000)},
      {"zeros 200k", std::vector<uint8_t>(200000, 0)},
      {"spaces 70000", std::vector<uint8_t>(70000, ' ')},
  };
  for (size_t n : {8191u, 8192u, 8193u, 32768u, 65535u, 65536u, 65537u}) inputs.push_back({"text " + std::to_string(n), Text(n)});
  for (const Method& m : Methods)
    for (int level : {0, 9})
      for (const auto& [name, data] : inputs) {
        SCOPED_TRACE(std::string("-lh") + m.digit + "- level " + std::to_string(level) + " " + name);
        const auto packed = EncodeMember(data.data(), data.size(), *ParamsForMethod(m.digit), level);
        std::vector<uint8_t> out;
        ASSERT_NO_THROW({
          ReferenceDecoder d = Decoded(packed, data.size(), m, out);
          EXPECT_EQ((d.bitPos + 7) / 8, packed.size()) << "bytes left after the last symbol";
        });
        EXPECT_TRUE(out == data);
      }
}

// Catches a block writer that miscounts symbols past 65535 or mishandles a
// block boundary inside a long run of literals.
TEST(Compress, BlocksNeverExceedTheSizeField) {
  const auto data = Random(300000, 2);
  for (int level : {0, 9}) {
    const auto packed = EncodeMember(data.data(), data.size(), *ParamsForMethod('5'), level);
    std::vector<uint8_t> out;
    ReferenceDecoder d = Decoded(packed, data.size(), Methods[0], out);
    EXPECT_TRUE(out == data);
    ASSERT_GT(d.blocks.size(), 1u);
    for (const auto& b : d.blocks) EXPECT_LE(b.symbols, 65535u);
  }
}

// Catches the single-symbol forms being wrong: a block of one literal
// symbol only, whose offset code has no symbol at all.
TEST(Compress, SingleLiteralBlockUsesSingleSymbolForms) {
  const std::vector<Token> tokens(40, Token{0, 'q'});
  BitWriter w;
  WriteBlock(w, tokens.data(), tokens.size(), *ParamsForMethod('5'));
  w.Flush();
  // Hand-derived bits: size 40 (16 bits), length code 0 + 0 (5 + 5), literal
  // code 0 + 'q' (9 + 9), offset code 0 + 0 (4 + 4), then no symbol bits.
  BitWriter expect;
  expect.Put(16, 40);
  expect.Put(5, 0), expect.Put(5, 0);
  expect.Put(9, 0), expect.Put(9, 'q');
  expect.Put(4, 0), expect.Put(4, 0);
  expect.Flush();
  EXPECT_EQ(w.Bytes(), expect.Bytes());
  std::vector<uint8_t> out;
  ReferenceDecoder d = Decoded(w.Bytes(), tokens.size(), Methods[0], out);
  EXPECT_EQ(out, std::vector<uint8_t>(40, 'q'));
  EXPECT_EQ(d.blocks[0].literalSingle, 'q');
  EXPECT_EQ(d.blocks[0].offsetSingle, 0);
}

// Catches a length limit that leaves the code incomplete or longer than 16
// bits: Fibonacci frequencies give an unlimited Huffman depth of n - 1.
TEST(Compress, FibonacciFrequenciesNeedTheSixteenBitLimit) {
  std::vector<uint32_t> freq(LiteralSymbolCount, 0);
  uint32_t a = 1, b = 1;
  for (int s = 0; s < 25; ++s) {
    freq[s] = a;
    const uint32_t c = a + b;
    a = b;
    b = c;
  }
  const auto lengths = BuildCodeLengths(freq);
  uint64_t kraft = 0;
  int longest = 0;
  for (uint8_t l : lengths)
    if (l) kraft += 1ull << (16 - l), longest = std::max<int>(longest, l);
  EXPECT_EQ(kraft, 1ull << 16);
  EXPECT_EQ(longest, 16);

  // The same distribution through a block, decoded independently.
  std::vector<Token> tokens;
  for (int s = 0; s < 25; ++s) tokens.insert(tokens.end(), freq[s], Token{0, static_cast<uint16_t>(s)});
  std::shuffle(tokens.begin(), tokens.end(), std::mt19937(3));
  tokens.resize(65535);
  BitWriter w;
  WriteBlock(w, tokens.data(), tokens.size(), *ParamsForMethod('7'));
  w.Flush();
  std::vector<uint8_t> out;
  ReferenceDecoder d = Decoded(w.Bytes(), tokens.size(), Methods[2], out);
  EXPECT_EQ(d.blocks[0].maxLiteralLength, 16);
  for (size_t i = 0; i < tokens.size(); ++i) ASSERT_EQ(out[i], tokens[i].value) << i;
}

// Catches canonical codes assigned in the wrong order (hand-derived: lengths
// 2, 1, 3, 3 give 10, 0, 110, 111).
TEST(Compress, CanonicalCodesShortestFirstThenBySymbol) {
  EXPECT_EQ(CanonicalCodes({2, 1, 3, 3}), (std::vector<uint16_t>{0b10, 0b0, 0b110, 0b111}));
  EXPECT_EQ(CanonicalCodes({0, 1, 0, 1}), (std::vector<uint16_t>{0, 0, 0, 1}));
}

// Catches matches that reach one byte too far, or never reach the last byte
// of the window: a block repeated exactly one window later must come out as
// matches at the largest offset value, windowSize - 1.
TEST(Compress, MatchesReachExactlyOneWindowBack) {
  for (const Method& m : Methods) {
    const uint32_t window = 1u << m.windowBits;
    std::vector<uint8_t> data = Random(window, 4);
    data.insert(data.end(), data.begin(), data.begin() + 1000);
    for (int level : {0, 9}) {
      const auto packed = EncodeMember(data.data(), data.size(), *ParamsForMethod(m.digit), level);
      std::vector<uint8_t> out;
      Decoded(packed, data.size(), m, out);
      EXPECT_TRUE(out == data);
      // Random bytes do not shrink; the repeat must cost little more than one window.
      EXPECT_LT(packed.size(), window + 200u) << m.digit << level;
    }
  }
}

// Catches a CRC with the wrong polynomial, reflection or initial value.
TEST(Compress, CrcCheckValue) {
  const std::string digits = "123456789";
  EXPECT_EQ(Crc16Update(0, reinterpret_cast<const uint8_t*>(digits.data()), digits.size()), 0xBB3D);
  const uint16_t half = Crc16Update(0, reinterpret_cast<const uint8_t*>(digits.data()), 4);
  EXPECT_EQ(Crc16Update(half, reinterpret_cast<const uint8_t*>(digits.data()) + 4, 5), 0xBB3D);
}

// Catches a wrong field order, size, record chain or header CRC: the header
// of a stored member "d/x" (hand-laid bytes below, CRC computed over them).
TEST(Compress, StoredMemberHeaderBytes) {
  std::vector<uint8_t> archive;
  AppendStoredMember(archive, "d/x", "hi", 0x01020304);
  std::vector<uint8_t> expect = {
      0, 0,                          // header size, filled below
      '-', 'l', 'h', '0', '-',       // method
      2, 0, 0, 0,  2, 0, 0, 0,       // compressed and original size
      4, 3, 2, 1,                    // time stamp
      0x20, 2,                       // attribute byte, level 2
      0, 0,                          // data CRC, filled below
      'W',                           // system id
      5, 0, 0x00, 0, 0,              // header CRC record
      4, 0, 0x01, 'x',               // file name record
      5, 0, 0x02, 'd', 0xFF,         // directory name record
      5, 0, 0x40, 0x20, 0,           // attribute record
      0, 0,                          // end of chain
  };
  expect[0] = static_cast<uint8_t>(expect.size());
  const uint16_t dataCrc = Crc16Update(0, reinterpret_cast<const uint8_t*>("hi"), 2);
  expect[21] = dataCrc & 0xFF, expect[22] = dataCrc >> 8;
  const uint16_t headerCrc = Crc16Update(0, expect.data(), expect.size());
  expect[27] = headerCrc & 0xFF, expect[28] = headerCrc >> 8;
  expect.push_back('h'), expect.push_back('i');
  EXPECT_EQ(archive, expect);
}

// Catches a header whose size has a zero low byte, which some readers take
// for the end of the archive: the padding byte must move it off 256.
TEST(Compress, HeaderSizeNeverEndsInZeroByte) {
  for (size_t nameLength = 150; nameLength < 300; ++nameLength) {
    std::vector<uint8_t> archive;
    AppendStoredMember(archive, std::string(nameLength, 'n'), "", 0);
    ASSERT_NE(archive[0], 0) << nameLength;
    EXPECT_EQ(archive[0] | (archive[1] << 8), archive.size());
  }
}

// Catches an encoder whose stream depends on how the member is cut into
// pieces: a decision made without the bytes it needs behind the parse (the
// window's history lost at a piece's end) or ahead of it (a match cut at the
// piece's end). Inputs cross the encoder's own slide steps several times.
TEST(Compress, PiecesGiveTheSameStream) {
  std::vector<uint8_t> text = Text(700000);
  const std::vector<uint8_t> noise = Random(90000, 5);
  text.insert(text.begin() + 300000, noise.begin(), noise.end());  // statistics change mid-member
  for (const Method& m : Methods)
    for (int level : {0, 9}) {
      SCOPED_TRACE(std::string("-lh") + m.digit + "- level " + std::to_string(level));
      const std::vector<uint8_t> whole = EncodeMember(text.data(), text.size(), *ParamsForMethod(m.digit), level);
      std::vector<uint8_t> out;
      Decoded(whole, text.size(), m, out);
      ASSERT_TRUE(out == text);
      for (size_t piece : {size_t{1} << 10, size_t{65537}, size_t{300001}}) {
        if (level == 9 && piece < 4096) continue;  // slow and says nothing more
        MemberEncoder encoder(*ParamsForMethod(m.digit), level, text.size());
        std::vector<uint8_t> streamed;
        for (size_t at = 0; at < text.size(); at += piece) {
          encoder.Put(text.data() + at, std::min(piece, text.size() - at));
          // Output is taken as it comes, as the packer does.
          streamed.insert(streamed.end(), encoder.Output().begin(), encoder.Output().end());
          encoder.Output().clear();
        }
        encoder.Finish();
        streamed.insert(streamed.end(), encoder.Output().begin(), encoder.Output().end());
        EXPECT_TRUE(streamed == whole) << "pieces of " << piece;
      }
    }
}

// Catches a member whose compressed bytes wait until its end: with pieces
// fed one after another, output must come out along the way.
TEST(Compress, OutputLeavesAsBlocksComplete) {
  const std::vector<uint8_t> text = Text(2000000);
  MemberEncoder encoder(*ParamsForMethod('5'), 0, text.size());
  size_t taken = 0, fedWhenFirst = 0;
  for (size_t at = 0; at < text.size(); at += 100000) {
    encoder.Put(text.data() + at, 100000);
    if (taken == 0 && !encoder.Output().empty()) fedWhenFirst = at + 100000;
    taken += encoder.Output().size();
    encoder.Output().clear();
  }
  EXPECT_GT(fedWhenFirst, 0u);
  EXPECT_LT(fedWhenFirst, text.size() / 2);
}

// The type bytes of the records of the first header in an archive.
std::vector<uint8_t> RecordTypes(const std::vector<uint8_t>& archive) {
  std::vector<uint8_t> types;
  const size_t size = archive[0] | (archive[1] << 8);
  for (size_t at = 24; at + 2 <= size;) {
    const size_t next = archive[at] | (archive[at + 1] << 8);
    if (next == 0) break;
    types.push_back(archive[at + 2]);
    at += next;
  }
  return types;
}

// Catches an empty directory-name record for a name at the root, which
// some readers refuse as a broken header.
TEST(Compress, RootNameHasNoDirectoryRecord) {
  std::vector<uint8_t> root, nested;
  AppendStoredMember(root, "x", "hi", 0);
  AppendStoredMember(nested, "d/x", "hi", 0);
  EXPECT_EQ(RecordTypes(root), (std::vector<uint8_t>{0x00, 0x01, 0x40}));
  EXPECT_EQ(RecordTypes(nested), (std::vector<uint8_t>{0x00, 0x01, 0x02, 0x40}));
}

// A folder of files for PlanPaths, removed afterwards.
struct Folder {
  std::filesystem::path root;
  Folder() {
    char pattern[] = "/tmp/lzhsfx-pack-XXXXXX";
    root = mkdtemp(pattern);
  }
  ~Folder() { std::filesystem::remove_all(root); }
  std::string Put(const std::string& name, const std::vector<uint8_t>& data) {
    std::filesystem::path p = root / name;
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), data.size());
    return p.string();
  }
};

// Catches the packer losing or reordering data on the ways a member can
// take: compressed in memory, stored after all (read again), and too large
// to wait in memory (through an unnamed spool file), with several workers
// finishing out of order.
TEST(Compress, PackedMembersComeOutInOrderWhateverTheirWay) {
  Folder f;
  std::vector<std::pair<std::string, std::vector<uint8_t>>> files = {
      {"a-text", Text(200000)}, {"b-random-large", Random(6u << 20, 9)},
      {"c-text-large", Text(9u << 20)}, {"d-small", {1, 2, 3}}, {"e-empty", {}}};
  for (int i = 0; i < 40; ++i) files.push_back({"f" + std::to_string(100 + i), Text(1000 + 97 * i)});
  for (const auto& [name, data] : files) f.Put("in/" + name, data);
  PackOptions options;
  options.spoolDirectory = f.root.string();
  PackPlan plan;
  std::string error;
  ASSERT_TRUE(PlanPaths({(f.root / "in").string()}, options, plan, error)) << error;
  ASSERT_EQ(plan.entries.size(), files.size() + 1);  // and the folder
  std::vector<uint8_t> archive;
  ArchiveWriter writer = [&](const uint8_t* data, size_t size, std::string&) {
    archive.insert(archive.end(), data, data + size);
    return true;
  };
  ASSERT_TRUE(PackPlanned(plan, options, writer, error)) << error;
  // Walk the members: method, sizes, name, data.
  size_t at = 0, index = 0;
  while (at < archive.size()) {
    const uint8_t* h = archive.data() + at;
    const size_t headerSize = h[0] | (h[1] << 8);
    const uint32_t packed = ReadLe32(h + 7), original = ReadLe32(h + 11);
    const std::vector<uint8_t> body(archive.begin() + at + headerSize, archive.begin() + at + headerSize + packed);
    at += headerSize + packed;
    if (index++ == 0) continue;  // the folder
    const auto& [name, data] = files[index - 2];
    SCOPED_TRACE(name);
    ASSERT_EQ(original, data.size());
    std::vector<uint8_t> out = body;
    if (h[5] == '5') Decoded(body, data.size(), Methods[0], out);
    else EXPECT_EQ(h[5], '0');
    EXPECT_TRUE(out == data);
    EXPECT_EQ(ReadLe16(h + 21), Crc16Update(0, data.data(), data.size()));
  }
  EXPECT_EQ(index, files.size() + 1);
  // The random member does not shrink and is stored; no spool file is left.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(f.root), {}), 1);
}

}  // namespace
