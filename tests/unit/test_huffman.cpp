// BuildHuffmanTable against hand-derived canonical codes, the refusal of
// broken length sets, and random complete codes decoded through the table
// and compared with codes assigned independently in the test.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "extract/huffman.h"
#include "core/messages.h"
#include "tests/unit/support/recording.h"

namespace {

class Huffman : public ::testing::Test {
 protected:
  void SetUp() override {
    NewWorkArea();
    snprintf(Work->archivePath, ArchivePathSize, "/tmp/archive.exe");
  }
  void TearDown() override { FreeWorkArea(); }
};

// Follows the table and the trees as the decoder does, for a 16-bit window.
uint32_t Lookup(const uint16_t* table, int n, int tableBits, uint32_t window) {
  uint32_t v = table[window >> (16 - tableBits)];
  uint32_t mask = 1u << (15 - tableBits);
  for (int step = 0; v >= (uint32_t)n && step < 16 - tableBits; step++) {
    v = (window & mask) ? Work->oneChild[v] : Work->zeroChild[v];
    mask >>= 1;
  }
  return v;
}

// Catches wrong canonical order, wrong table fill or wrong node linking:
// lengths 2,1,3,3 give codes 10, 0, 110, 111.
TEST_F(Huffman, WorkedExample) {
  const uint8_t lengths[] = {2, 1, 3, 3};
  uint16_t table[4];
  BuildHuffmanTable(4, lengths, 2, table);
  EXPECT_EQ(table[0], 1);
  EXPECT_EQ(table[1], 1);
  EXPECT_EQ(table[2], 0);
  EXPECT_EQ(table[3], 4);
  EXPECT_EQ(Work->zeroChild[4], 2);
  EXPECT_EQ(Work->oneChild[4], 3);
}

// Catches a builder that clears or makes nodes when the short codes already
// cover the whole table (the first code past them lies at the table's end).
TEST_F(Huffman, TwoOneBitCodesFillHalves) {
  uint8_t lengths[19] = {};
  lengths[3] = 1;
  lengths[7] = 1;
  for (auto& v : Work->zeroChild) v = 0xBEEF;
  BuildHuffmanTable(19, lengths, 8, Work->auxTable);
  for (int i = 0; i < 256; i++) ASSERT_EQ(Work->auxTable[i], i < 128 ? 3 : 7) << i;
  for (auto v : Work->zeroChild) ASSERT_EQ(v, 0xBEEF);
}

// Catches long codes that do not share their root node: lengths 1..8, 9, 10,
// 10 give codes 0, 10, ..., 11111110 (8 bits), then 111111110, 1111111110 and
// 1111111111, all three below table entry 255.
TEST_F(Huffman, LongCodesShareOneRoot) {
  const uint8_t lengths[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 10};
  BuildHuffmanTable(11, lengths, 8, Work->auxTable);
  EXPECT_EQ(Work->auxTable[0], 0);
  EXPECT_EQ(Work->auxTable[127], 0);
  EXPECT_EQ(Work->auxTable[128], 1);
  EXPECT_EQ(Work->auxTable[254], 7);
  EXPECT_EQ(Work->auxTable[255], 11);
  EXPECT_EQ(Work->zeroChild[11], 8);
  EXPECT_EQ(Work->oneChild[11], 12);
  EXPECT_EQ(Work->zeroChild[12], 9);
  EXPECT_EQ(Work->oneChild[12], 10);
}

struct BadSet {
  const char* name;
  std::vector<uint8_t> lengths;
};

// Catches any broken set slipping through: an incomplete code (sum 49152),
// an empty set, an over-full set whose sum is a multiple of 65536, and a
// length above 16 that the weighted sum would not see.
TEST_F(Huffman, BrokenSetsEndWithBadTable) {
  const BadSet cases[] = {
      {"incomplete", {1, 2, 0, 0}},
      {"all zero", {0, 0, 0, 0, 0}},
      {"over-full by 65536", {1, 1, 1, 1}},
      {"length 17", {1, 1, 17}},
      {"length 20", {1, 2, 2, 20}},
  };
  for (const BadSet& c : cases) {
    ResetReports();
    int code = RunTrapped([&] {
      BuildHuffmanTable((int16_t)c.lengths.size(), c.lengths.data(), 8, Work->auxTable);
    });
    EXPECT_EQ(code, ExitFailed) << c.name;
    EXPECT_EQ(Reported.lastMessage, MsgBadTable) << c.name;
    EXPECT_EQ(Reported.lastSubject, "/tmp/archive.exe") << c.name;
  }
}

// A random complete code: leaves split at random, up to 16 deep, given to
// random symbols.
std::vector<uint8_t> RandomCompleteLengths(std::mt19937& rng, int n, int used) {
  std::vector<int> depths = {0};
  while ((int)depths.size() < used) {
    size_t pick = rng() % depths.size();
    if (depths[pick] >= 16) continue;
    int d = ++depths[pick];
    depths.push_back(d);
  }
  std::vector<int> symbols(n);
  for (int i = 0; i < n; i++) symbols[i] = i;
  std::shuffle(symbols.begin(), symbols.end(), rng);
  std::vector<uint8_t> lengths(n, 0);
  for (int i = 0; i < used; i++) lengths[symbols[i]] = (uint8_t)depths[i];
  return lengths;
}

// Catches any fault in table filling or tree hanging: every symbol's
// canonical code (assigned here by sorting on length, then symbol), padded
// with arbitrary bits, must look up to that symbol.
TEST_F(Huffman, RandomCompleteCodesDecode) {
  std::mt19937 rng(12345);
  for (int round = 0; round < 300; round++) {
    bool literal = round % 2 == 0;
    int n = literal ? 510 : 19;
    int tableBits = literal ? 12 : 8;
    uint16_t* table = literal ? Work->literalTable : Work->auxTable;
    int used = 2 + (int)(rng() % (n - 1));
    std::vector<uint8_t> lengths = RandomCompleteLengths(rng, n, used);
    BuildHuffmanTable((int16_t)n, lengths.data(), (int16_t)tableBits, table);

    std::vector<int> order;
    for (int s = 0; s < n; s++)
      if (lengths[s] != 0) order.push_back(s);
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return lengths[a] < lengths[b]; });
    uint32_t code = 0;
    int previous = lengths[order[0]];
    for (int s : order) {
      code <<= (lengths[s] - previous);
      previous = lengths[s];
      uint32_t window = (code << (16 - lengths[s])) | (rng() & ((1u << (16 - lengths[s])) - 1));
      ASSERT_EQ(Lookup(table, n, tableBits, window), (uint32_t)s)
          << "round " << round << " length " << (int)lengths[s];
      code++;
    }
  }
}

}  // namespace
