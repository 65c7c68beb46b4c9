// The numbers of the LZH format that the decoder reads and the encoder
// writes: the level-2 header's fixed part and record types, the methods and
// their windows, the symbol alphabets and the widths of the fields that send
// the codes. Both sides take them from here, so they cannot drift apart.
#pragma once
#include <stdint.h>

// ---- Sizes and offsets -----------------------------------------------------

// A position or length in a file, and a member's packed or original size.
// The stub reads 32-bit header fields only and keeps them 32 bits wide,
// where wider ones would cost it code on its 32-bit machine; the host tool,
// on a 64-bit machine, reads members and archives of 4 GiB and more (the
// 64-bit size record), so there they are 64 bits.
#if UINTPTR_MAX == UINT32_MAX
typedef uint32_t FileOffset;
#else
typedef uint64_t FileOffset;
#endif
typedef FileOffset MemberSize;

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
  ExtLargeSizes = 0x42,    // 64-bit packed size, then 64-bit original size
  ExtUnixMode = 0x50,      // 16-bit permission bits
  ExtUnixIds = 0x51,       // 16-bit group id, then 16-bit user id
  ExtGroupName = 0x52,
  ExtUserName = 0x53,
  ExtUnixTime = 0x54,      // 32-bit Unix time, overriding the fixed part's
  ByteSeparator = 0xFF,    // ends each level of a directory name
  HeaderLevelZero = 0,
  HeaderLevelOne = 1,
  HeaderLevelTwo = 2,
  HeaderLevelThree = 3,
  OsIdMsdos = 'M',
  OsIdUnix = 'U',
  OsIdWindows = 'W',
  OsIdWindows95 = 'w',
  OsIdMacintosh = 'm',
};

// The other header levels, read by the host tool only. Levels 0 and 1 keep
// the level-2 offsets up to the attribute and level bytes, but their first
// byte counts the header bytes after the first two, the second is an 8-bit
// sum of those bytes, the time is a local MS-DOS time and the name follows
// its length byte at 21; the data CRC comes after the name. Level 1 then
// has the OS id and the 16-bit size of its first record; its records follow
// the base header and are counted in the packed size. A level-0 header may
// end with a Unix extension: the OS id, a version byte, the Unix time, the
// mode, the user id and the group id. Level 3 is level 2 with 32-bit sizes:
// the first two bytes hold the width of a size field (4), the total header
// size is at 24 and every record ends with a 32-bit size of the next one.
constexpr uint32_t HdrBaseSize = 0;         // levels 0 and 1: header bytes after the first two
constexpr uint32_t HdrChecksum = 1;         // levels 0 and 1: their 8-bit sum
constexpr uint32_t BaseUncounted = 2;       // the two bytes the base size does not count
constexpr uint32_t HdrNameLength = 21;
constexpr uint32_t HdrName = 22;
constexpr uint32_t BaseDataCrcSize = 2;     // the data CRC behind the name
constexpr uint32_t Level1TailSize = BaseDataCrcSize + 1 + SizeFieldLength;  // CRC, OS id, first record size
constexpr uint32_t Level0UnixExtSize = 12;  // OS id, version, time, mode, user id, group id
constexpr uint32_t Level0UnixTime = 2;      // offsets inside that extension
constexpr uint32_t Level0UnixMode = 6;
constexpr uint32_t Level0UnixUid = 8;
constexpr uint32_t Level0UnixGid = 10;
constexpr uint32_t Level3SizeWidth = 4;     // the value of a level-3 header's first two bytes
constexpr uint32_t HdrTotalSize = 24;       // level 3: the whole header's size
constexpr uint32_t Hdr3FirstNextSize = 28;
constexpr uint32_t Hdr3FixedSize = 32;
constexpr uint32_t LongSizeFieldLength = 4;
constexpr uint32_t ExtLongMinSize = ExtTypeLength + LongSizeFieldLength;

// Writers on other systems, by the OS id they store. OS-9/68k's level-2
// size field leaves out its own two bytes; Amiga writers store a directory
// as an -lh0- member of no size whose name is all directory; Macintosh
// writers may put a MacBinary header in front of a file's data.
enum : uint8_t {
  OsIdOs9 = 'K',
  OsIdAmiga = 'A',
};
constexpr uint32_t Os9SizeShortfall = SizeFieldLength;

// The 64-bit size record of members of 4 GiB and more (Amiga and MorphOS
// writers, and ours): it replaces both 32-bit size fields, which keep the
// low halves. Read at levels 2 and 3; written at level 2.
constexpr uint32_t LargeSizeLength = 8;
constexpr uint32_t LargeSizesDataSize = 2 * LargeSizeLength;
constexpr uint64_t SmallSizeLimit = 1ull << 32;  // sizes from here on need the record
// No file holds a member's data, or an archive, of this size or more; the
// host takes nothing larger, so a file offset plus a header plus a packed
// size never wraps.
constexpr uint64_t ImpossibleSize = 1ull << 62;

// A Unix symbolic link is an -lhd- entry whose Unix mode has the link type;
// its name is the link, '|' and where it points.
constexpr uint32_t UnixTypeMask = 0170000;
constexpr uint32_t UnixTypeLink = 0120000;
constexpr uint32_t UnixTypeDirectory = 0040000;
constexpr char LinkTargetMark = '|';
// The method character the host gives a link's entry in the header it hands
// the driver, which then writes the link as a member of no data rather than
// make a directory. No stored id holds it: stored ids are printable.
constexpr char MethodLinkEntry = '\x01';

// The method characters of "-lh?-".
enum : char {
  MethodStored = '0',
  MethodLh1 = '1',
  MethodLh2 = '2',
  MethodLh3 = '3',
  MethodLh4 = '4',
  MethodLh5 = '5',
  MethodLh6 = '6',
  MethodLh7 = '7',
  MethodDirectory = 'd',
};

// The methods the stub decodes: -lh0-, -lh4- to -lh7- and -lhd-. Its
// header reader refuses any other id, so these are all it ever sees.
inline int IsStubMethod(uint8_t method) {
  return method == MethodStored || method == MethodLh4 || method == MethodLh5 ||
         method == MethodLh6 || method == MethodLh7 || method == MethodDirectory;
}
// 1 when the 5-byte id is "-lh?-" with one of the stub's method characters.
inline int IsStubMethodId(const uint8_t* id) {
  return id[0] == '-' && id[1] == 'l' && id[2] == 'h' && IsStubMethod(id[3]) &&
         id[MethodIdLength - 1] == '-';
}

// The LArc methods are "-lz?-": -lz4- stored, -lz5- and -lzs- compressed.
enum : char {
  MethodLzStored = '4',
  MethodLz5 = '5',
  MethodLzs = 's',
};

// Names with a meaning of their own. A member stored first under
// MessageMemberName holds the question asked before extraction; a stored
// name or the configured destination that starts with one of the folder
// names is placed in that folder of the user's machine (the destination
// only: %WORK%, the temporary folder). Letter case does not matter.
inline constexpr char MessageMemberName[] = "!";
inline constexpr char WinDirPrefix[] = "%WinDir%";
inline constexpr char SystemDirPrefix[] = "%SystemDir%";
inline constexpr char WorkDirName[] = "%WORK%";

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

// ---- Methods the host alone decodes ----------------------------------------

// -lh1-: a 4 KB window; literals and lengths 3..60 in one adaptively coded
// alphabet whose tree is rebuilt with halved counts when the root's count
// reaches the limit; a match's position is its upper six bits in a fixed
// code of 3 to 8 bits, then its lower six bits as they are.
constexpr uint32_t Lh1WindowBits = 12;
constexpr uint32_t Lh1MaxMatch = 60;
constexpr uint32_t Lh1SymbolCount = LiteralCount + Lh1MaxMatch - MinMatch + 1;
constexpr uint32_t Lh1NodeCount = 2 * Lh1SymbolCount - 1;
constexpr uint32_t Lh1MaxFrequency = 0x8000;
constexpr uint32_t Lh1PositionLowBits = 6;
constexpr uint32_t Lh1PositionHighCount = 64;
constexpr uint32_t Lh1PositionMinLength = 3;
constexpr uint32_t Lh1PositionMaxLength = 8;
// How many of the 64 upper values have a code of 3, 4, ... 8 bits, in order.
constexpr uint8_t Lh1PositionLengthCounts[] = {1, 3, 8, 12, 24, 16};
static_assert(Lh1SymbolCount == 314, "-lh1- alphabet");

// -lh2-: an 8 KB window; literals and lengths in an adaptive code like
// -lh1-'s, with an escape symbol whose 8 extra bits reach the longer
// matches, and the position's upper six bits in a second adaptive code that
// gains a value each time the output passes another 64 bytes. Its trees are
// laid out as one array: the literal tree's nodes first, room for the
// largest such tree (-lh1-'s), then the position tree's.
constexpr uint32_t Lh2WindowBits = 13;
constexpr uint32_t Lh2SymbolCount = 286;          // the last is the escape
constexpr uint32_t Lh2EscapeBits = 8;
constexpr uint32_t Lh2PositionStep = 64;          // output bytes per new position value
constexpr uint32_t Lh2PositionCount = 1u << (Lh2WindowBits - Lh1PositionLowBits);
constexpr uint32_t DynLiteralTreeSize = 2 * Lh1SymbolCount;
constexpr uint32_t DynTreeSize = DynLiteralTreeSize + 2 * Lh2PositionCount;

// -lh3-: an 8 KB window and Huffman codes sent per block: the literal and
// length code with an escape symbol whose 8 extra bits reach the longer
// matches, and the code of a position's upper six bits, sent or fixed.
constexpr uint32_t Lh3WindowBits = 13;
constexpr uint32_t Lh3SymbolCount = 286;          // the last is the escape
constexpr uint32_t Lh3EscapeBits = 8;
constexpr uint32_t Lh3CodeLengthBits = 4;         // a sent length is 1..16
constexpr uint32_t Lh3SingleBits = 9;             // a block of one literal symbol
constexpr uint32_t Lh3PositionCount = 1u << (Lh3WindowBits - Lh1PositionLowBits);
constexpr uint32_t Lh3PositionSingleBits = Lh3WindowBits - Lh1PositionLowBits;
constexpr uint32_t Lh3PositionMinLength = 2;
// How many of the 128 upper values have a fixed code of 2, 3, ... 9 bits.
constexpr uint8_t Lh3PositionLengthCounts[] = {1, 0, 2, 3, 7, 18, 47, 50};

// -lzs- (LArc): a 2 KB window; a 1 bit announces an 8-bit literal, a 0 bit
// an 11-bit window position and a 4-bit length less two.
constexpr uint32_t LzsWindowBits = 11;
constexpr uint32_t LzsLengthBits = 4;
constexpr uint32_t LzsMinMatch = 2;
constexpr uint32_t LzsMaxMatch = LzsMinMatch + (1u << LzsLengthBits) - 1;
// -lz5- (LArc): a 4 KB window; a flag byte announces eight items, a 1 bit a
// literal byte, a 0 bit two bytes holding a 12-bit window position and a
// 4-bit length less three. The window starts filled with a fixed pattern.
constexpr uint32_t Lz5WindowBits = 12;
constexpr uint32_t Lz5MinMatch = 3;
constexpr uint32_t Lz5MaxMatch = Lz5MinMatch + 15;
// Both write their first byte this many bytes before the window's end, and
// a match names where its bytes stand in the window.
constexpr uint32_t LzsStart = (1u << LzsWindowBits) - LzsMaxMatch;
constexpr uint32_t Lz5Start = (1u << Lz5WindowBits) - Lz5MaxMatch;

// PMarc: -pm0- stored, -pm1- and -pm2- compressed. Both code a literal as
// its position in a list of the 256 byte values that moves every byte
// output to its front. -pm1- reads a 16 KB window and codes literals by one
// of 32 fixed trees that the member names; -pm2- reads an 8 KB window of
// spaces and sends its codes (canonical, of up to 29 symbols for literals
// and copies, and up to 8 for offsets), sending them again as it goes.
enum : char {
  MethodPmStored = '0',
  MethodPm1 = '1',
  MethodPm2 = '2',
};
constexpr uint32_t Pm1WindowBits = 14;
constexpr uint32_t Pm2WindowBits = 13;
constexpr uint32_t PmListSize = 256;
constexpr uint32_t Pm1SelectorBits = 5;
constexpr uint32_t Pm1TreeCount = 1u << Pm1SelectorBits;
constexpr uint32_t Pm1LiteralClasses = 6;         // the symbols of a byte tree
constexpr uint32_t Pm1LongestByteCode = 5;
constexpr uint32_t Pm2CodeCountBits = 5;          // the code tree's symbol count
constexpr uint32_t Pm2SymbolLimit = 1u << Pm2CodeCountBits;
constexpr uint32_t Pm2LiteralClasses = 8;         // code symbols below are literals
constexpr uint32_t Pm2OffsetSymbolLimit = 8;
// Longest code a sent tree may give (a complete code over 32 symbols
// needs at most 31 bits).
constexpr uint32_t PmLongestCode = Pm2SymbolLimit - 1;

