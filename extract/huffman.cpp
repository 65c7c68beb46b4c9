// Turns a list of code lengths into a canonical prefix code: a direct table
// indexed by the next tableBits stream bits, with overflow trees for longer
// codes in zeroChild / oneChild. Only complete codes with lengths of 1 to 16
// are accepted, which bounds every table write, every node number and every
// tree walk; anything else ends the run with "Bad table (5)".
#include "extract/huffman.h"

#include "base/speed.h"
#include "core/messages.h"
#include "core/report.h"
#include "core/workarea.h"

// Code values are 16-bit: a code of length L covers 2^(16-L) of them, and a
// complete code covers all CodeSpace values exactly once.
enum : uint32_t { CodeSpace = 1u << MaxCodeLength, CodeTopBit = CodeSpace >> 1 };

// A table entry, and every zeroChild / oneChild link, holds a value v: when v
// is below the symbol count it is a symbol, otherwise it is a tree node whose
// children are zeroChild[v] and oneChild[v]. A complete code with k codes
// longer than tableBits makes at most k - 1 nodes, numbered from the symbol
// count up, so node numbers stay below 2 * symbolCount - 1 <= NodeCount.
static_assert(2 * LiteralSymbolCount - 1 <= NodeCount, "literal nodes fit the link arrays");

[[noreturn]] void RefuseBadTable() {
  ShowError(MsgBadTable, Work->archivePath);
  AbortExtraction(1);
}

// Counts the symbols of each length and refuses lengths above 16 and any set
// that is not exactly a complete code (an empty set included).
static void CountLengths(int16_t symbolCount, const uint8_t* lengths, uint32_t* count) {
  for (uint32_t L = 0; L <= MaxCodeLength; L++) count[L] = 0;
  for (int32_t c = 0; c < symbolCount; c++) {
    if (lengths[c] > MaxCodeLength) RefuseBadTable();
    count[lengths[c]]++;
  }
  uint32_t total = 0;
  for (uint32_t L = 1; L <= MaxCodeLength; L++) total += count[L] << (MaxCodeLength - L);
  if (total != CodeSpace) RefuseBadTable();
}

// Gives each length its first canonical code (as a 16-bit code value) and
// the span of code values one code of that length covers.
static void AssignFirstCodes(const uint32_t* count, uint32_t* next, uint32_t* weight) {
  uint32_t t = 0;
  for (uint32_t L = 1; L <= MaxCodeLength; L++) {
    next[L] = t;
    weight[L] = 1u << (MaxCodeLength - L);
    t += count[L] * weight[L];
  }
}

// Hangs the code of symbol c (length L > tableBits, first code value k)
// below its table entry, making nodes for the prefixes not yet seen.
static void HangLongCode(uint16_t* table, int32_t tableBits, uint32_t c, uint32_t L, uint32_t k,
                         uint32_t* nextNode) {
  uint32_t shift = MaxCodeLength - (uint32_t)tableBits;
  uint16_t* slot = &table[k >> shift];
  uint32_t path = k << tableBits;
  for (uint32_t step = (uint32_t)tableBits; step < L; step++) {
    if (*slot == 0) {
      Work->zeroChild[*nextNode] = 0;
      Work->oneChild[*nextNode] = 0;
      *slot = (uint16_t)*nextNode;
      (*nextNode)++;
    }
    slot = (path & CodeTopBit) ? &Work->oneChild[*slot] : &Work->zeroChild[*slot];
    path <<= 1;
  }
  *slot = (uint16_t)c;
}

SPEED_OVER_SIZE void BuildHuffmanTable(int16_t symbolCount, const uint8_t* lengths,
                                       int16_t tableBits, uint16_t* table) {
  uint32_t count[MaxCodeLength + 1];
  uint32_t next[MaxCodeLength + 1];
  uint32_t weight[MaxCodeLength + 1];
  CountLengths(symbolCount, lengths, count);
  AssignFirstCodes(count, next, weight);

  // From here on codes of at most tableBits bits count table entries.
  uint32_t shift = MaxCodeLength - (uint32_t)tableBits;
  uint32_t tableSize = 1u << tableBits;
  for (int32_t L = 1; L <= tableBits; L++) {
    next[L] >>= shift;
    weight[L] >>= shift;
  }
  // Entries past the short codes become tree roots; they start out empty.
  for (uint32_t x = next[tableBits + 1] >> shift; x < tableSize; x++) table[x] = 0;

  uint32_t nextNode = (uint32_t)symbolCount;
  for (int32_t c = 0; c < symbolCount; c++) {
    uint32_t L = lengths[c];
    if (L == 0) continue;
    uint32_t k = next[L];
    uint32_t e = k + weight[L];
    if (L <= (uint32_t)tableBits) {
      FillEntries(table + k, e - k, (uint16_t)c);
    } else {
      HangLongCode(table, tableBits, (uint32_t)c, L, k, &nextNode);
    }
    next[L] = e;
  }
}
