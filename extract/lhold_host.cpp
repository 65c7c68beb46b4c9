// -lh1- and -lh3-, the methods before -lh4-. Both send a match's position
// as its upper six bits in a prefix code and its lower six bits as they are;
// -lh1- codes the upper bits with a fixed code and its literals and lengths
// with an adaptive one, -lh3- sends both codes per block.
//
// The adaptive code is a tree kept in the sibling order: nodes numbered by
// rising count, the two children of a node next to each other, the root
// last. Each decoded symbol adds one to the counts from its leaf up to the
// root, and a node whose count grows past a node numbered above it changes
// places with the last node of its old count, so the order holds. When the
// root's count reaches the limit, the leaves' counts are halved and the tree
// is built anew. All of it lives in the work area and every index is a node
// number the tree itself produced.
#include "extract/olddecode_host.h"

#include "base/format.h"
#include "core/workarea.h"
#include "extract/bitreader.h"
#include "extract/huffman.h"
#include "extract/window_host.h"

namespace {

enum : uint32_t {
  WindowBits16 = 16,
  PositionTableBits = AuxTableBits,     // 8
  Lh3LiteralTableBits = LiteralTableBits,  // 12
  Root = Lh1NodeCount - 1,
  Leaf = Lh1NodeCount,                  // a child value at or above it is a leaf: symbol + Leaf
  FrequencySentinel = 0xFFFF,
  Lh3SingleRun = 3,                     // three lengths of 1 announce a single symbol
};
static_assert(Lh1NodeCount + Lh1SymbolCount <= 0xFFFF, "node and leaf numbers fit 16 bits");
static_assert(Lh3SymbolCount <= LiteralSymbolCount && Lh3PositionCount <= AuxLengthCount,
              "the -lh3- codes fit the -lh5- arrays");
static_assert(Lh3PositionCount <= sizeof(((SfxWorkArea*)nullptr)->positionLengths),
              "position lengths fit");

// ---- The adaptive code of -lh1- --------------------------------------------

void StartAdaptiveTree() {
  SfxWorkArea* w = Work;
  for (uint32_t i = 0; i < Lh1SymbolCount; i++) {
    w->lh1Frequency[i] = 1;
    w->lh1Child[i] = (uint16_t)(i + Leaf);
    w->lh1Parent[i + Leaf] = (uint16_t)i;
  }
  for (uint32_t i = 0, j = Lh1SymbolCount; j <= Root; i += 2, j++) {
    w->lh1Frequency[j] = (uint16_t)(w->lh1Frequency[i] + w->lh1Frequency[i + 1]);
    w->lh1Child[j] = (uint16_t)i;
    w->lh1Parent[i] = w->lh1Parent[i + 1] = (uint16_t)j;
  }
  w->lh1Frequency[Lh1NodeCount] = FrequencySentinel;
  w->lh1Parent[Root] = 0;
}

// Halves the leaves' counts (rounding up) and builds the tree again: the
// leaves in their present order, each new node placed after every node of a
// count not above its own.
void RebuildAdaptiveTree() {
  SfxWorkArea* w = Work;
  uint32_t j = 0;
  for (uint32_t i = 0; i < Lh1NodeCount; i++) {
    if (w->lh1Child[i] >= Leaf) {
      w->lh1Frequency[j] = (uint16_t)((w->lh1Frequency[i] + 1) / 2);
      w->lh1Child[j] = w->lh1Child[i];
      j++;
    }
  }
  for (uint32_t i = 0, node = Lh1SymbolCount; node < Lh1NodeCount; i += 2, node++) {
    uint32_t f = (uint32_t)w->lh1Frequency[i] + w->lh1Frequency[i + 1];
    uint32_t k = node;
    while (k > 0 && f < w->lh1Frequency[k - 1]) k--;
    for (uint32_t m = node; m > k; m--) {
      w->lh1Frequency[m] = w->lh1Frequency[m - 1];
      w->lh1Child[m] = w->lh1Child[m - 1];
    }
    w->lh1Frequency[k] = (uint16_t)f;
    w->lh1Child[k] = (uint16_t)i;
  }
  for (uint32_t i = 0; i < Lh1NodeCount; i++) {
    uint32_t k = w->lh1Child[i];
    if (k >= Leaf) {
      w->lh1Parent[k] = (uint16_t)i;
    } else {
      w->lh1Parent[k] = w->lh1Parent[k + 1] = (uint16_t)i;
    }
  }
}

void CountSymbol(uint32_t symbol) {
  SfxWorkArea* w = Work;
  if (w->lh1Frequency[Root] == Lh1MaxFrequency) RebuildAdaptiveTree();
  uint32_t c = w->lh1Parent[symbol + Leaf];
  // Counts stay at most the limit, below the sentinel, so the search for the
  // last node of the old count stops at the root's sentinel at the latest.
  for (;;) {
    uint32_t k = ++w->lh1Frequency[c];
    uint32_t l = c + 1;
    if (k > w->lh1Frequency[l]) {
      while (k > w->lh1Frequency[l + 1]) l++;
      w->lh1Frequency[c] = w->lh1Frequency[l];
      w->lh1Frequency[l] = (uint16_t)k;
      uint32_t i = w->lh1Child[c];
      w->lh1Parent[i] = (uint16_t)l;
      if (i < Leaf) w->lh1Parent[i + 1] = (uint16_t)l;
      uint32_t j = w->lh1Child[l];
      w->lh1Child[l] = (uint16_t)i;
      w->lh1Parent[j] = (uint16_t)c;
      if (j < Leaf) w->lh1Parent[j + 1] = (uint16_t)c;
      w->lh1Child[c] = (uint16_t)j;
      c = l;
    }
    c = w->lh1Parent[c];
    if (c == 0) break;
  }
}

uint32_t DecodeAdaptiveSymbol() {
  uint32_t c = Work->lh1Child[Root];
  // The tree has at most Lh1NodeCount levels.
  for (uint32_t step = 0; c < Leaf && step < Lh1NodeCount; step++)
    c = Work->lh1Child[c + TakeBits(1)];
  uint32_t symbol = c >= Leaf ? c - Leaf : 0;
  CountSymbol(symbol);
  return symbol;
}

// ---- Position codes ---------------------------------------------------------

// The fixed position code: counts[i] values have a code of minLength + i bits.
void FixedPositionCode(const uint8_t* counts, uint32_t lengthCount, uint32_t minLength,
                       uint32_t symbolCount) {
  uint32_t symbol = 0;
  for (uint32_t i = 0; i < lengthCount; i++)
    for (uint32_t k = 0; k < counts[i] && symbol < symbolCount; k++)
      Work->positionLengths[symbol++] = (uint8_t)(minLength + i);
  BuildHuffmanTable((int16_t)symbolCount, Work->positionLengths, PositionTableBits,
                    Work->positionTable);
}

// One symbol through a table of tableBits bits and the trees below it.
uint32_t DecodeWithTable(const uint16_t* table, uint32_t tableBits, const uint8_t* lengths,
                         uint32_t symbolCount) {
  uint32_t window = Work->bitWindow;
  uint32_t s = table[window >> (WindowBits16 - tableBits)];
  uint32_t mask = 1u << (WindowBits16 - 1 - tableBits);
  for (uint32_t step = tableBits; s >= symbolCount && step < WindowBits16; step++) {
    if (s >= NodeCount) RefuseBadTable();
    s = (window & mask) ? Work->oneChild[s] : Work->zeroChild[s];
    mask >>= 1;
  }
  if (s >= symbolCount) RefuseBadTable();
  LoadBits(lengths[s]);
  return s;
}

uint32_t DecodePosition(uint32_t symbolCount) {
  uint32_t high = DecodeWithTable(Work->positionTable, PositionTableBits, Work->positionLengths,
                                  symbolCount);
  return (high << Lh1PositionLowBits) | TakeBits(Lh1PositionLowBits);
}

// ---- -lh3- blocks -----------------------------------------------------------

void FillTable(uint16_t* table, uint32_t size, uint16_t symbol) {
  for (uint32_t i = 0; i < size; i++) table[i] = symbol;
}

// The literal code: per symbol a 1 bit and a 4-bit length less one, or a 0
// bit for an unused symbol; three lengths of 1 first announce a block of a
// single symbol, sent in 9 bits.
void ReadLh3LiteralCode() {
  uint8_t* lengths = Work->literalLengths;
  for (uint32_t i = 0; i < Lh3SymbolCount; i++) {
    lengths[i] = TakeBits(1) ? (uint8_t)(TakeBits(Lh3CodeLengthBits) + 1) : 0;
    if (i + 1 == Lh3SingleRun && lengths[0] == 1 && lengths[1] == 1 && lengths[2] == 1) {
      uint32_t symbol = TakeBits(Lh3SingleBits);
      if (symbol >= Lh3SymbolCount) RefuseBadTable();
      for (uint32_t k = 0; k < Lh3SymbolCount; k++) lengths[k] = 0;
      FillTable(Work->literalTable, LiteralTableSize, (uint16_t)symbol);
      return;
    }
  }
  BuildHuffmanTable(Lh3SymbolCount, lengths, Lh3LiteralTableBits, Work->literalTable);
}

// The position code when sent: a 4-bit length per upper value, with the
// same announcement of a single value, sent in 7 bits.
void ReadLh3PositionCode() {
  uint8_t* lengths = Work->positionLengths;
  for (uint32_t i = 0; i < Lh3PositionCount; i++) {
    lengths[i] = (uint8_t)TakeBits(Lh3CodeLengthBits);
    if (i + 1 == Lh3SingleRun && lengths[0] == 1 && lengths[1] == 1 && lengths[2] == 1) {
      uint32_t symbol = TakeBits(Lh3PositionSingleBits);
      for (uint32_t k = 0; k < Lh3PositionCount; k++) lengths[k] = 0;
      FillTable(Work->positionTable, AuxTableSize, (uint16_t)symbol);
      return;
    }
  }
  BuildHuffmanTable(Lh3PositionCount, lengths, PositionTableBits, Work->positionTable);
}

void ReadLh3Block() {
  Work->blockRemaining = TakeBits(BlockSizeBits);
  ReadLh3LiteralCode();
  if (TakeBits(1))
    ReadLh3PositionCode();
  else
    FixedPositionCode(Lh3PositionLengthCounts, sizeof Lh3PositionLengthCounts, Lh3PositionMinLength,
                      Lh3PositionCount);
}

}  // namespace

void DecodeLh1() {
  BeginWindow(Lh1WindowBits, ' ');
  StartAdaptiveTree();
  FixedPositionCode(Lh1PositionLengthCounts, sizeof Lh1PositionLengthCounts, Lh1PositionMinLength,
                    Lh1PositionHighCount);
  while (!WindowDone()) {
    StopPastData();
    uint32_t s = DecodeAdaptiveSymbol();
    if (s < LiteralCount) {
      PutByte((uint8_t)s);
    } else {
      uint32_t length = s - MatchLengthBias;
      CopyWindow(WindowBack(DecodePosition(Lh1PositionHighCount)), length);
    }
  }
  EndWindow();
}

void DecodeLh3() {
  BeginWindow(Lh3WindowBits, ' ');
  Work->blockRemaining = 0;
  while (!WindowDone()) {
    StopPastData();
    if (Work->blockRemaining == 0) ReadLh3Block();
    Work->blockRemaining--;  // a block size of 0 lasts 65536 symbols
    uint32_t s = DecodeWithTable(Work->literalTable, Lh3LiteralTableBits, Work->literalLengths,
                                 Lh3SymbolCount);
    if (s == Lh3SymbolCount - 1) s += TakeBits(Lh3EscapeBits);
    if (s < LiteralCount) {
      PutByte((uint8_t)s);
    } else {
      uint32_t length = s - MatchLengthBias;
      CopyWindow(WindowBack(DecodePosition(Lh3PositionCount)), length);
    }
  }
  EndWindow();
}
