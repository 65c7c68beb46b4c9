// Block writer. The same template emits into a real bit writer or into a bit
// counter, so the size used for decisions is exactly the size written.
#include "compress/blockcoder.h"

#include <type_traits>

#include "compress/huffman.h"

namespace {

constexpr int BlockSizeBits = 16;
constexpr int ShortLengthLimit = 6;     // entries up to 6 take 3 bits; longer ones 7 + unary
constexpr int UnaryEscape = 7;
constexpr int MaxZeroRunAfterThird = 3; // the 2-bit field
constexpr int ZeroRun1Symbol = 1, ZeroRun1Bits = 4, ZeroRun1Base = 3, ZeroRun1Max = 18;
constexpr int ZeroRun2Symbol = 2, ZeroRun2Bits = 9, ZeroRun2Base = 20;
constexpr int CodeLengthBase = 2;       // code-length symbol = length + 2

class BitCounter {
 public:
  void Put(int count, uint32_t) { bits_ += count; }
  uint64_t bits_ = 0;
};

// One entry of the literal code's lengths as the code-length code sends it.
struct LengthItem {
  uint8_t symbol;
  uint8_t extraBits;
  uint16_t extra;
};

// Trimmed count: entries after the last non-zero length are not sent.
int SentCount(const std::vector<uint8_t>& lengths) {
  int n = static_cast<int>(lengths.size());
  while (n > 0 && lengths[n - 1] == 0) --n;
  return n;
}

std::vector<LengthItem> LiteralLengthItems(const std::vector<uint8_t>& lengths, int n) {
  std::vector<LengthItem> items;
  for (int i = 0; i < n;) {
    if (lengths[i] != 0) {
      items.push_back({static_cast<uint8_t>(lengths[i] + CodeLengthBase), 0, 0});
      ++i;
      continue;
    }
    int run = 0;
    while (i < n && lengths[i] == 0) ++i, ++run;
    if (run <= 2) {
      for (int k = 0; k < run; ++k) items.push_back({0, 0, 0});
    } else if (run <= ZeroRun1Max) {
      items.push_back({ZeroRun1Symbol, ZeroRun1Bits, static_cast<uint16_t>(run - ZeroRun1Base)});
    } else if (run == ZeroRun1Max + 1) {
      items.push_back({0, 0, 0});
      items.push_back({ZeroRun1Symbol, ZeroRun1Bits, ZeroRun1Max - ZeroRun1Base});
    } else {
      items.push_back({ZeroRun2Symbol, ZeroRun2Bits, static_cast<uint16_t>(run - ZeroRun2Base)});
    }
  }
  return items;
}

// Lengths of the code-length and offset codes: a count, then 3-bit entries
// (7 and up as 7 followed by one 1 bit per extra unit and a closing 0), with
// the optional 2-bit zero run after entry `zeroRunAfter`.
template <class W>
void PutLengthTable(W& out, const std::vector<uint8_t>& lengths, int countBits, int zeroRunAfter) {
  const int n = SentCount(lengths);
  out.Put(countBits, n);
  for (int i = 0; i < n;) {
    const int k = lengths[i++];
    if (k <= ShortLengthLimit)
      out.Put(3, k);
    else
      out.Put(k - 3, (1u << (k - 3)) - 2);
    if (i == zeroRunAfter) {
      int z = 0;
      while (z < MaxZeroRunAfterThird && i < n && lengths[i] == 0) ++i, ++z;
      out.Put(2, z);
    }
  }
  static_assert(UnaryEscape == ShortLengthLimit + 1);
}

int UsedSymbol(const std::vector<uint32_t>& freq, int& used) {
  used = 0;
  int last = 0;
  for (size_t s = 0; s < freq.size(); ++s)
    if (freq[s] != 0) ++used, last = static_cast<int>(s);
  return last;
}

struct BlockCodes {
  std::vector<uint32_t> litFreq, offFreq;
  std::vector<uint8_t> litLen, offLen;
  int litUsed = 0, offUsed = 0, litSingle = 0, offSingle = 0;
};

BlockCodes CodesFromCounts(std::vector<uint32_t> litFreq, std::vector<uint32_t> offFreq) {
  BlockCodes c;
  c.litFreq = std::move(litFreq);
  c.offFreq = std::move(offFreq);
  c.litSingle = UsedSymbol(c.litFreq, c.litUsed);
  c.offSingle = UsedSymbol(c.offFreq, c.offUsed);
  c.litLen = BuildCodeLengths(c.litFreq);
  c.offLen = BuildCodeLengths(c.offFreq);
  return c;
}

BlockCodes ChooseCodes(const Token* tokens, size_t count, const MethodParams& method) {
  SymbolCounts counts;
  CountSymbols(tokens, count, method, counts);
  return CodesFromCounts(std::move(counts.lit), std::move(counts.off));
}

template <class W>
void EmitBlock(W& out, const BlockCodes& c, const Token* tokens, size_t count, const MethodParams& method) {
  out.Put(BlockSizeBits, static_cast<uint32_t>(count));

  if (c.litUsed == 1) {
    // Single-symbol form: the code-length code is not needed, and the
    // literal/length code consumes no bits per symbol.
    out.Put(CodeLengthCountBits, 0);
    out.Put(CodeLengthCountBits, 0);
    out.Put(LiteralCountBits, 0);
    out.Put(LiteralCountBits, c.litSingle);
  } else {
    const int n = SentCount(c.litLen);
    const std::vector<LengthItem> items = LiteralLengthItems(c.litLen, n);
    std::vector<uint32_t> itemFreq(CodeLengthSymbolCount, 0);
    for (const LengthItem& it : items) itemFreq[it.symbol]++;
    int itemUsed = 0;
    const int itemSingle = UsedSymbol(itemFreq, itemUsed);
    const std::vector<uint8_t> itemLen = BuildCodeLengths(itemFreq);
    if (itemUsed == 1) {
      out.Put(CodeLengthCountBits, 0);
      out.Put(CodeLengthCountBits, itemSingle);
    } else {
      PutLengthTable(out, itemLen, CodeLengthCountBits, CodeLengthZeroRunAfter);
    }
    const std::vector<uint16_t> itemCode = CanonicalCodes(itemLen);
    out.Put(LiteralCountBits, n);
    for (const LengthItem& it : items) {
      out.Put(itemLen[it.symbol], itemCode[it.symbol]);
      out.Put(it.extraBits, it.extra);
    }
  }

  if (c.offUsed <= 1) {
    // No match (symbol 0 stands in) or one offset symbol: single-symbol form.
    out.Put(method.offsetCountBits, 0);
    out.Put(method.offsetCountBits, c.offSingle);
  } else {
    PutLengthTable(out, c.offLen, method.offsetCountBits, -1);
  }

  if constexpr (std::is_same_v<W, BitCounter>) {
    // Counting: the symbols' bits follow from the frequencies alone.
    for (size_t s = 0; s < c.litFreq.size(); ++s) out.bits_ += uint64_t{c.litFreq[s]} * c.litLen[s];
    for (size_t k = 0; k < c.offFreq.size(); ++k)
      out.bits_ += uint64_t{c.offFreq[k]} * (c.offLen[k] + (k > 1 ? k - 1 : 0));
    return;
  }
  const std::vector<uint16_t> litCode = CanonicalCodes(c.litLen);
  const std::vector<uint16_t> offCode = CanonicalCodes(c.offLen);
  for (size_t i = 0; i < count; ++i) {
    const Token& t = tokens[i];
    if (t.length == 0) {
      out.Put(c.litLen[t.value], litCode[t.value]);
      continue;
    }
    const int sym = t.length + MatchLengthBias;
    out.Put(c.litLen[sym], litCode[sym]);
    const int os = OffsetSymbol(t.value);
    out.Put(c.offLen[os], offCode[os]);
    if (os > 1) out.Put(os - 1, t.value & ((1u << (os - 1)) - 1));
  }
}

}  // namespace

void WriteBlock(BitWriter& out, const Token* tokens, size_t count, const MethodParams& method) {
  EmitBlock(out, ChooseCodes(tokens, count, method), tokens, count, method);
}

uint64_t BlockBits(const Token* tokens, size_t count, const MethodParams& method) {
  BitCounter counter;
  EmitBlock(counter, ChooseCodes(tokens, count, method), tokens, count, method);
  return counter.bits_;
}

void CountSymbols(const Token* tokens, size_t count, const MethodParams& method, SymbolCounts& counts) {
  counts.lit.assign(LiteralSymbolCount, 0);
  counts.off.assign(method.offsetSymbols, 0);
  uint32_t* const lit = counts.lit.data();
  uint32_t* const off = counts.off.data();
  for (size_t i = 0; i < count; ++i) {
    const Token t = tokens[i];
    if (t.length == 0) {
      lit[t.value]++;
    } else {
      lit[t.length + MatchLengthBias]++;
      off[OffsetSymbol(t.value)]++;
    }
  }
}

void AddCounts(SymbolCounts& into, const SymbolCounts& more) {
  for (size_t s = 0; s < into.lit.size(); ++s) into.lit[s] += more.lit[s];
  for (size_t s = 0; s < into.off.size(); ++s) into.off[s] += more.off[s];
}

uint64_t BlockBitsOfCounts(const SymbolCounts& counts, size_t count, const MethodParams& method) {
  BitCounter counter;
  EmitBlock(counter, CodesFromCounts(counts.lit, counts.off), nullptr, count, method);
  return counter.bits_;
}

void BlockCodeLengths(const Token* tokens, size_t count, const MethodParams& method,
                      std::vector<uint8_t>& litLen, std::vector<uint8_t>& offLen) {
  BlockCodes c = ChooseCodes(tokens, count, method);
  litLen = std::move(c.litLen);
  offLen = std::move(c.offLen);
}
