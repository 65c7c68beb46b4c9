// What the encoder needs of a method beyond the format's numbers (which it
// shares with the decoder through base/format.h): the window and offset
// alphabet chosen by the method character, and the parsed symbol.
#pragma once
#include <cstdint>

#include "base/format.h"

// The 16-bit block size, never the 0 = 65536 form.
constexpr uint32_t MaxBlockSymbols = 65535;

// A method's window and offset code.
struct MethodParams {
  char digit;           // '5', '6' or '7'
  uint32_t windowSize;  // bytes the decoder keeps; also the largest distance
  int offsetSymbols;    // symbol k codes offsets 2^(k-1) .. 2^k - 1
  int offsetCountBits;
};

// Parameters for a method digit, or nullptr if it is not a compressed method.
inline const MethodParams* ParamsForMethod(char digit) {
  static const MethodParams lh5{MethodLh5, 1u << Lh5WindowBits, Lh5OffsetSymbols, Lh5OffsetCountBits};
  static const MethodParams lh6{MethodLh6, 1u << Lh6WindowBits, Lh6OffsetSymbols, Lh6OffsetCountBits};
  static const MethodParams lh7{MethodLh7, 1u << Lh7WindowBits, Lh6OffsetSymbols, Lh6OffsetCountBits};
  switch (digit) {
    case MethodLh5: return &lh5;
    case MethodLh6: return &lh6;
    case MethodLh7: return &lh7;
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
