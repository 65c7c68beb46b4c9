// The numbers of the compressed format that the encoder must honour so that
// the extractor reads back exactly what was written: symbol alphabets, the
// widths of the count fields, and each method's window.
#pragma once
#include <cstdint>

constexpr int LiteralCount = 256;
constexpr int MinMatch = 3;
constexpr int MaxMatch = 256;
constexpr int LengthSymbolBase = LiteralCount - MinMatch;  // symbol = length + base
constexpr int LitLenSymbols = LiteralCount + MaxMatch - MinMatch + 1;
static_assert(LitLenSymbols == 510, "literal/length alphabet");

constexpr int LitLenCountBits = 9;      // count and single-symbol fields of that code
constexpr int CodeLengthSymbols = 19;   // 0, 1, 2 zero runs; 3..18 lengths 1..16
constexpr int CodeLengthCountBits = 5;
constexpr int CodeLengthZeroRunAfter = 3;  // a 2-bit zero run follows the third entry
constexpr int MaxBlockSymbols = 65535;     // the 16-bit block size, never the 0 = 65536 form

// A method's window and offset code.
struct MethodParams {
  char digit;           // '5', '6' or '7'
  uint32_t windowSize;  // bytes the decoder keeps; also the largest distance
  int offsetSymbols;    // symbol k codes offsets 2^(k-1) .. 2^k - 1
  int offsetCountBits;
};

// Parameters for a method digit, or nullptr if it is not a compressed method.
inline const MethodParams* ParamsForMethod(char digit) {
  static const MethodParams lh5{'5', 1u << 13, 14, 4};
  static const MethodParams lh6{'6', 1u << 15, 17, 5};
  static const MethodParams lh7{'7', 1u << 16, 17, 5};
  switch (digit) {
    case '5': return &lh5;
    case '6': return &lh6;
    case '7': return &lh7;
    default: return nullptr;
  }
}

// One parsed symbol: a literal (length 0, value = the byte) or a match
// (length 3..256, value = distance - 1, the "offset value" of the format).
struct Token {
  uint16_t length;
  uint16_t value;
};

// Offset symbol of an offset value: 0 for 0, else its bit length; the
// value's bits below the top one follow as extra bits.
inline int OffsetSymbol(uint32_t offset) {
  return offset == 0 ? 0 : 32 - __builtin_clz(offset);
}
