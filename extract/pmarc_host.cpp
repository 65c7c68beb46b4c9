// -pm1- and -pm2-, PMarc's methods. Both code a literal as its position in
// a list of the 256 byte values, and every byte output, copies included,
// moves to the front of that list; a copy reaches back a distance from the
// byte about to be written. Neither has an end code: decoding stops at the
// original size.
//
// -pm1- codes a literal's position by a class read through one of 32 fixed
// trees (the member names one at its start) and bits within the class;
// literals come in runs, and each run shorter than the longest is followed
// by a copy at once. How a copy's type, count and distance are read depends
// on how much has been output, so that no distance reaches before the start.
//
// -pm2- sends canonical codes: one for literal classes and copy counts, one
// for the offset classes, and sends them again at fixed points of the
// output. Its window starts as spaces, so a distance may reach before the
// first byte.
//
// Every table read here is indexed by a value checked against its size;
// every loop ends at the original size or at a code's longest length.
#include "extract/olddecode_host.h"

#include "base/format.h"
#include "core/workarea.h"
#include "extract/bitreader.h"
#include "extract/window_host.h"

namespace {

// ---- The byte list ----------------------------------------------------------

// The list's starting order, as runs of byte values.
const uint8_t ListRuns[][2] = {{0x20, 0x7F}, {0x00, 0x1F}, {0xA0, 0xDF}, {0x80, 0x9F}, {0xE0, 0xFF}};

void StartList() {
  uint32_t at = 0;
  for (const auto& run : ListRuns)
    for (uint32_t b = run[0]; b <= run[1]; b++) Work->pmList[at++] = (uint8_t)b;
}

// Outputs b and moves it to the front of the list. The list holds every
// byte value once, so the search ends inside it.
void PutListed(uint8_t b) {
  PutByte(b);
  uint8_t* list = Work->pmList;
  uint32_t at = 0;
  while (list[at] != b) at++;
  for (; at > 0; at--) list[at] = list[at - 1];
  list[0] = b;
}

// A literal's position: a class, then base + bits.
struct PositionClass {
  uint8_t base;
  uint8_t bits;
};

void PutLiteral(const PositionClass& c) {
  uint32_t position = c.base + TakeBits(c.bits);
  PutListed(Work->pmList[position & (PmListSize - 1)]);
}

// ---- -pm1- -----------------------------------------------------------------

const PositionClass Pm1Classes[Pm1LiteralClasses] = {{0, 4}, {16, 4}, {32, 5}, {64, 6}, {128, 6}, {192, 6}};
static_assert(192 + (1u << 6) == PmListSize, "the last class ends the list");

// The 32 trees of the literal classes: each class's code as bits in the
// order read, "-" for a class a tree cannot reach, "," between two codes of
// one class. The last tree reads no bits and always gives class 0.
const char* const Pm1Trees[Pm1TreeCount][Pm1LiteralClasses] = {
    {"0000", "0001", "001", "01", "10", "11"},     {"000", "001", "010", "10", "11", "011"},
    {"000", "001", "01", "10", "110", "111"},      {"00", "010", "011", "10", "110", "111"},
    {"00", "010", "10", "011", "110", "111"},      {"00", "010", "10", "11", "0110", "0111"},
    {"00", "01", "100", "101", "110", "111"},      {"00", "01", "100", "11", "1010", "1011"},
    {"00", "01", "10", "110", "1110", "1111"},     {"0", "1000", "101", "110", "111", "1001"},
    {"0", "1000", "101", "11", "10010", "10011"},  {"0", "1000", "1001", "101", "110", "111"},
    {"0", "100", "1010", "110", "111", "1011"},    {"0", "100", "101", "110", "1110", "1111"},
    {"0", "100", "11", "1010", "10110", "10111"},  {"0", "10", "1100", "1101", "1110", "1111"},
    {"0", "10", "110", "1110", "11110", "11111"},  {"-", "-", "01", "000,10", "001,11", "-"},
    {"00", "010", "10", "11", "011", "-"},         {"00", "01", "10", "110", "111", "-"},
    {"0", "1000", "101", "11", "1001", "-"},       {"0", "100", "101", "110", "111", "-"},
    {"0", "100", "11", "1010", "1011", "-"},       {"0", "10", "110", "1110", "1111", "-"},
    {"000", "001", "01", "1", "-", "-"},           {"00", "010", "1", "011", "-", "-"},
    {"00", "01", "10", "11", "-", "-"},            {"0", "100", "11", "101", "-", "-"},
    {"0", "10", "110", "111", "-", "-"},           {"0", "10", "11", "-", "-", "-"},
    {"0", "1", "-", "-", "-", "-"},                {"", "-", "-", "-", "-", "-"},
};

enum : uint8_t {
  CodeLengthShift = 4,
  ClassMask = 0x0F,
  NoClass = 0xFF,       // bits no code of the tree starts with
};
constexpr uint32_t ByteCodeEntries = 1u << Pm1LongestByteCode;
static_assert(Pm1LiteralClasses <= ClassMask && Pm1LongestByteCode < (NoClass >> CodeLengthShift),
              "a class and a code length share one byte");

// Fills pm1ByteCode for the tree: each entry, indexed by the next five bits,
// holds the class whose code they start with and that code's length.
void ReadByteTree() {
  uint8_t* table = Work->pm1ByteCode;
  for (uint32_t i = 0; i < ByteCodeEntries; i++) table[i] = NoClass;
  const char* const* tree = Pm1Trees[TakeBits(Pm1SelectorBits)];
  for (uint32_t k = 0; k < Pm1LiteralClasses; k++) {
    for (const char* code = tree[k]; *code != '-';) {
      uint32_t length = 0, bits = 0;
      for (; *code == '0' || *code == '1'; code++, length++) bits = bits << 1 | (uint32_t)(*code - '0');
      uint32_t spare = Pm1LongestByteCode - length;
      for (uint32_t s = 0; s < (1u << spare); s++)
        table[bits << spare | s] = (uint8_t)(k | length << CodeLengthShift);
      if (*code != ',') break;
      code++;
    }
  }
}

// bitWindow holds the next 16 bits, most significant first.
constexpr uint32_t WindowBitsAhead = 16;

uint32_t ReadClass() {
  uint8_t entry = Work->pm1ByteCode[Work->bitWindow >> (WindowBitsAhead - Pm1LongestByteCode)];
  if (entry == NoClass) DataBroken();
  LoadBits((uint8_t)(entry >> CodeLengthShift));
  return entry & ClassMask;
}

// A bit that the stream sends only once pos has reached threshold;
// before, it takes its default.
uint32_t BitFrom(uint32_t pos, uint32_t threshold, uint32_t otherwise) {
  return pos >= threshold ? TakeBits(1) : otherwise;
}

enum : uint32_t {
  Pm1LongestRun = 216,
  Pm1ShortCopy = 2,
  Pm1ShortReach = 64,    // distances of types 0 and 2 take 6 bits
  Pm1MidReach = 576,     // type 4 starts here, type 3 ends
  Pm1FarReach = 2624,    // type 5 starts here, type 4 ends
};

// Run lengths 1..216: 2 bits for 1-3, 3 more for 4-10, 4 more for 11-24,
// then 6 or 7 bits for the longest.
uint32_t ReadRunLength() {
  uint32_t x = TakeBits(2);
  if (x < 3) return x + 1;
  x = TakeBits(3);
  if (x < 7) return x + 4;
  x = TakeBits(4);
  if (x < 14) return x + 11;
  return x == 14 ? 25 + TakeBits(6) : 89 + TakeBits(7);
}

// Copy counts 3..244 of the types beyond 1.
uint32_t ReadCopyCount() {
  uint32_t x = TakeBits(2);
  if (x < 3) return x + 3;
  x = TakeBits(3);
  if (x < 5) return x + 6;
  if (x == 5) return 11 + TakeBits(2);
  if (x == 6) return 15 + TakeBits(3);
  uint32_t y = TakeBits(6);
  if (y < 62) return y + 23;
  return y == 62 ? 85 + TakeBits(5) : 117 + TakeBits(7);
}

// The bits of a distance of type 3, 4 or 5 (whose base is base): just
// enough to reach back to the first byte from pos, at least 8, at most most.
uint32_t ReachBits(uint32_t pos, uint32_t base, uint32_t most) {
  uint32_t bits = 8;
  while (bits < most && pos >= base + (1u << bits)) bits++;
  return bits;
}

void CopyListed(uint32_t distance, uint32_t count) {
  uint32_t mask = Work->windowSize - 1;
  uint32_t from = WindowBack(distance);
  for (uint32_t j = 0; j < count && !WindowDone(); j++) PutListed(Work->ringBuffer[(from + j) & mask]);
}

void Pm1Copy() {
  // Past the farthest reach every rule reads alike: the position is kept there.
  constexpr uint32_t Beyond = 1u << Pm1WindowBits;
  uint32_t pos = Work->decodedCount < Beyond ? (uint32_t)Work->decodedCount : Beyond;
  uint32_t type;
  if (TakeBits(1) == 0)
    type = BitFrom(pos, Pm1MidReach, 0) ? 4 : BitFrom(pos, Pm1ShortReach, 0);
  else if (BitFrom(pos, Pm1ShortReach, 1) == 0)
    type = 3;
  else
    type = BitFrom(pos, Pm1FarReach, 1) ? 2 : 5;
  uint32_t count = type <= 1 ? Pm1ShortCopy : ReadCopyCount();
  uint32_t distance;
  switch (type) {
    case 0:
    case 2: distance = TakeBits(6); break;
    case 1: distance = Pm1ShortReach + TakeBits(8); break;
    case 3: distance = Pm1ShortReach + TakeBits((uint8_t)ReachBits(pos, Pm1ShortReach, 9)); break;
    case 4: distance = Pm1MidReach + TakeBits((uint8_t)ReachBits(pos, Pm1MidReach, 11)); break;
    default: distance = Pm1FarReach + TakeBits((uint8_t)ReachBits(pos, Pm1FarReach, 13)); break;
  }
  if (distance >= pos) DataBroken();
  CopyListed(distance, count);
}

// ---- -pm2- -----------------------------------------------------------------

const PositionClass Pm2Classes[Pm2LiteralClasses] = {{0, 3},  {8, 3},  {16, 4},  {32, 5},
                                                     {64, 5}, {96, 5}, {128, 6}, {192, 6}};
static_assert(192 + (1u << 6) == PmListSize, "the last class ends the list");

enum : uint32_t {
  Pm2LongestCopyClass = 20,    // copies 256 bytes at distance 0
  Pm2DirectCounts = 15,        // classes below count c + 2
  Pm2FirstOffsetTree = 5,      // offset classes sent at the start
  Pm2FullOffsetTree = 8,       // from 4096 bytes on
  Pm2SmallOffsetBits = 6,
  Pm2OffsetLengthBits = 3,
  Pm2CodeFloorBits = 3,
  Pm2CodeLengthWidthBits = 3,
  Pm2TreeEvery = 4096,         // from here on a new code tree may follow
  Pm2OffsetsFrom = 10,         // fewer code symbols reach no copy that reads an offset
  Pm2AllSingle = 29,           // one symbol, the 256-byte copy: no offsets either
};
static_assert(Pm2LiteralClasses + Pm2LongestCopyClass + 1 == Pm2AllSingle, "code symbols");
// Copy counts of classes 15..19: base + bits.
const PositionClass Pm2LongCounts[] = {{17, 3}, {25, 3}, {33, 5}, {65, 6}, {129, 7}};

// Builds code from lengths[0..n) (0: the symbol is absent) in canonical
// order. With oneIsSingle, a code of one symbol takes no bits. Refuses a
// length beyond PmLongestCode and lengths that promise more codes than bits
// can tell apart; an incomplete code is kept, and fails when its gap is met.
void BuildCode(PmCode* code, const uint8_t* lengths, uint32_t n, int oneIsSingle) {
  for (uint32_t l = 0; l <= PmLongestCode; l++) code->count[l] = 0;
  uint32_t present = 0, last = 0;
  for (uint32_t s = 0; s < n; s++) {
    if (lengths[s] > PmLongestCode) DataBroken();
    code->count[lengths[s]]++;
    if (lengths[s] != 0) present++, last = s;
  }
  code->single = oneIsSingle && present == 1;
  code->singleSymbol = (uint8_t)last;
  int64_t left = 1;
  for (uint32_t l = 1; l <= PmLongestCode; l++) {
    left = 2 * left - code->count[l];
    if (left < 0) DataBroken();
  }
  uint32_t at = 0;
  for (uint32_t l = 1; l <= PmLongestCode; l++)
    for (uint32_t s = 0; s < n; s++)
      if (lengths[s] == l) code->symbol[at++] = (uint8_t)s;
}

// Reads one symbol a bit at a time: codes of each length are consecutive,
// the first of a length follows the last of the one before, doubled.
uint32_t ReadSymbol(const PmCode* code) {
  if (code->single) return code->singleSymbol;
  int64_t value = 0, first = 0;
  uint32_t index = 0;
  for (uint32_t l = 1; l <= PmLongestCode; l++) {
    value |= TakeBits(1);
    uint32_t count = code->count[l];
    if (value - first < count) return code->symbol[index + (uint32_t)(value - first)];
    index += count;
    first = (first + count) << 1;
    value <<= 1;
  }
  DataBroken();
}

// The code tree: its symbol count N and floor M; M = 0 sends one symbol,
// N - 1; otherwise each length is the floor plus a width-B value less one,
// 0 for an absent symbol.
void ReadCodeTree() {
  uint8_t lengths[Pm2SymbolLimit];
  uint32_t n = TakeBits(Pm2CodeCountBits);
  uint32_t floor = TakeBits(Pm2CodeFloorBits);
  PmCode* code = &Work->pm2Code;
  if (floor == 0) {
    code->single = 1;
    code->singleSymbol = (uint8_t)(n == 0 ? 0 : n - 1);
    if (n == 0) DataBroken();
  } else {
    uint32_t width = TakeBits(Pm2CodeLengthWidthBits);
    for (uint32_t s = 0; s < n; s++) {
      uint32_t v = TakeBits((uint8_t)width);
      lengths[s] = (uint8_t)(v == 0 ? 0 : floor + v - 1);
    }
    BuildCode(code, lengths, n, 0);
  }
  Work->pm2NeedOffset = n >= Pm2OffsetsFrom && !(n == Pm2AllSingle && floor == 0);
  // Without offsets the offset code has no symbols: a copy that needs one fails.
  if (!Work->pm2NeedOffset) BuildCode(&Work->pm2Offset, lengths, 0, 0);
}

void ReadOffsetTree(uint32_t classes) {
  if (!Work->pm2NeedOffset) return;
  uint8_t lengths[Pm2OffsetSymbolLimit];
  for (uint32_t s = 0; s < classes; s++) lengths[s] = (uint8_t)TakeBits(Pm2OffsetLengthBits);
  BuildCode(&Work->pm2Offset, lengths, classes, 1);
}

// The codes sent again once the output has reached count bytes, unless it
// is complete.
void ReadTreesAt(MemberSize count) {
  if (WindowDone()) return;
  if (count == 1024 || count == 2048) {
    ReadOffsetTree(count == 1024 ? Pm2FirstOffsetTree + 1 : Pm2FirstOffsetTree + 2);
  } else if (count % Pm2TreeEvery == 0) {
    int newCode = TakeBits(1);
    if (newCode) ReadCodeTree();
    if (newCode || count == Pm2TreeEvery) ReadOffsetTree(Pm2FullOffsetTree);
  }
}

void PutPm2(uint8_t b) {
  PutListed(b);
  ReadTreesAt(Work->decodedCount);
}

}  // namespace

void DecodePm1() {
  BeginWindow(Pm1WindowBits, 0);
  StartList();
  ReadByteTree();
  while (!WindowDone()) {
    StopPastData();
    if (TakeBits(1) == 0) {
      Pm1Copy();
      continue;
    }
    uint32_t run = ReadRunLength();
    for (uint32_t i = 0; i < run && !WindowDone(); i++) PutLiteral(Pm1Classes[ReadClass()]);
    if (run < Pm1LongestRun && !WindowDone()) Pm1Copy();
  }
  EndWindow();
}

void DecodePm2() {
  BeginWindow(Pm2WindowBits, ' ');
  StartList();
  TakeBits(1);
  ReadCodeTree();
  ReadOffsetTree(Pm2FirstOffsetTree);
  uint32_t mask = Work->windowSize - 1;
  while (!WindowDone()) {
    StopPastData();
    uint32_t s = ReadSymbol(&Work->pm2Code);
    if (s < Pm2LiteralClasses) {
      uint32_t position = Pm2Classes[s].base + TakeBits(Pm2Classes[s].bits);
      PutPm2(Work->pmList[position & (PmListSize - 1)]);
      continue;
    }
    uint32_t c = s - Pm2LiteralClasses;
    if (c > Pm2LongestCopyClass) DataBroken();
    uint32_t count = c < Pm2DirectCounts     ? c + 2
                     : c < Pm2LongestCopyClass ? Pm2LongCounts[c - Pm2DirectCounts].base +
                                                     TakeBits(Pm2LongCounts[c - Pm2DirectCounts].bits)
                                               : 256;
    uint32_t distance = 0;
    if (c == 0) {
      distance = TakeBits(Pm2SmallOffsetBits);
    } else if (c < Pm2LongestCopyClass) {
      uint32_t t = ReadSymbol(&Work->pm2Offset);
      distance = t == 0 ? TakeBits(Pm2SmallOffsetBits)
                        : (1u << (t + 5)) + TakeBits((uint8_t)(t + 5));
    }
    // A rebuild between the copied bytes leaves the copy as it was read.
    uint32_t from = WindowBack(distance);
    for (uint32_t j = 0; j < count && !WindowDone(); j++) PutPm2(Work->ringBuffer[(from + j) & mask]);
  }
  EndWindow();
}
