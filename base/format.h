// The numbers of the LZH format that the decoder reads and the encoder
// writes: the level-2 header's fixed part and record types, the methods and
// their windows, the symbol alphabets and the widths of the fields that send
// the codes. Both sides take them from here, so they cannot drift apart.
#pragma once
#include <stdint.h>

// ---- Member headers --------------------------------------------------------

// Offsets of the fixed part of a level-2 header.
enum : uint32_t {
  HdrSize = 0,
  HdrMethod = 2,           // "-lh?-", 5 bytes
  HdrMethodChar = 5,       // the method character inside it
  HdrMethodEnd = 6,        // the closing '-'
  HdrCompressedSize = 7,
  HdrOriginalSize = 11,
  HdrTimeStamp = 15,
  HdrDosAttribute = 19,
  HdrLevel = 20,
  HdrDataCrc = 21,
  HdrOsId = 23,
  HdrFirstNextSize = 24,
  HdrFixedSize = 26,
  MethodIdLength = 5,
};

// Every extended record is its type byte, its data and the 16-bit size of
// the record after it.
enum : uint32_t {
  SizeFieldLength = 2,
  ExtTypeLength = 1,
  ExtMinSize = ExtTypeLength + SizeFieldLength,
  ExtWordDataSize = 2,     // the CRC and attribute records carry a 16-bit value
};

enum : uint8_t {
  ExtHeaderCrc = 0x00,
  ExtFileName = 0x01,
  ExtDirName = 0x02,
  ExtAttributes = 0x40,
  ByteSeparator = 0xFF,    // ends each level of a directory name
  HeaderLevelTwo = 2,
  OsIdWindows = 'W',
};

// The method characters of "-lh?-".
enum : char {
  MethodStored = '0',
  MethodLh4 = '4',
  MethodLh5 = '5',
  MethodLh6 = '6',
  MethodLh7 = '7',
  MethodDirectory = 'd',
};

// Attribute bits, as the header's attribute byte and record carry them;
// they are also the bits the Windows file calls use.
enum : uint32_t {
  AttrReadOnly = 0x01,
  AttrDirectory = 0x10,
  AttrArchive = 0x20,
  AttrNormal = 0x80,
};

// ---- Coded data -------------------------------------------------------------

// Window exponents of the compressed methods.
constexpr uint32_t Lh4WindowBits = 12;
constexpr uint32_t Lh5WindowBits = 13;
constexpr uint32_t Lh6WindowBits = 15;
constexpr uint32_t Lh7WindowBits = 16;
constexpr uint32_t MaxWindowSize = 1u << Lh7WindowBits;

constexpr uint32_t LiteralCount = 256;          // symbols below are literal bytes
constexpr uint32_t MinMatch = 3;
constexpr uint32_t MaxMatch = 256;
constexpr uint32_t MatchLengthBias = LiteralCount - MinMatch;  // symbol s >= 256 copies s - 253 bytes
constexpr uint32_t LiteralSymbolCount = LiteralCount + MaxMatch - MinMatch + 1;
constexpr uint32_t MaxCodeLength = 16;
constexpr uint32_t BlockSizeBits = 16;          // a block's symbol count; 0 stands for 65536
constexpr uint32_t LiteralCountBits = 9;        // count and single-symbol fields of the literal code
constexpr uint32_t CodeLengthSymbolCount = 19;  // 0, 1, 2: zero runs; 3..18: lengths 1..16
constexpr uint32_t CodeLengthCountBits = 5;
constexpr uint32_t CodeLengthZeroRunAfter = 3;  // a 2-bit zero run follows the third entry
constexpr uint32_t CodeLengthBias = 2;          // code-length symbol s means length s - 2
constexpr uint32_t Lh5OffsetSymbols = 14;       // -lh4- and -lh5-
constexpr uint32_t Lh5OffsetCountBits = 4;
constexpr uint32_t Lh6OffsetSymbols = 17;       // -lh6- and -lh7-
constexpr uint32_t Lh6OffsetCountBits = 5;
static_assert(LiteralSymbolCount == 510, "literal/length alphabet");
static_assert(MatchLengthBias + MaxMatch == LiteralSymbolCount - 1, "the last symbol is the longest match");
static_assert(CodeLengthBias + MaxCodeLength == CodeLengthSymbolCount - 1, "length symbols reach 16");

// Window exponent of a compressed method character; -lh5- for any other.
inline uint32_t WindowBitsOf(char method) {
  switch (method) {
    case MethodLh4: return Lh4WindowBits;
    case MethodLh6: return Lh6WindowBits;
    case MethodLh7: return Lh7WindowBits;
    default: return Lh5WindowBits;
  }
}

// -lh6- and -lh7- send the larger offset alphabet.
inline int HasLargeOffsets(char method) { return method == MethodLh6 || method == MethodLh7; }
