// Produces one member's contents. ExpandMember decodes -lh4- to -lh7- (LZ77
// over a sliding window, Huffman codes sent per block) and CopyStoredMember
// copies -lh0-; both hand their output to WriteOutput in whole windows (or
// 65536-byte chunks) and report progress only there. Damaged code tables end
// the run with "Bad table (5)"; no write leaves its array on any input.
#include "extract/decode.h"

#include <string.h>

#include "base/speed.h"
#include "extract/bitreader.h"
#include "extract/crc16.h"
#include "extract/header.h"
#include "extract/huffman.h"
#include "core/messages.h"
#include "core/report.h"
#include "core/workarea.h"

constexpr uint32_t WindowBits16 = 16;                // width of bitWindow
constexpr uint32_t ZeroRunBits = 2;
constexpr uint32_t LengthFieldBits = 3;              // a length entry starts with 3 bits
constexpr uint32_t LengthEscape = 7;                 // ... and 7 continues in unary
constexpr uint32_t LengthEscapeBits = 13;            // at most this many unary bits are examined
constexpr uint32_t ShortZeroRunBits = 4;
constexpr uint32_t ShortZeroRunBase = 3;
constexpr uint32_t LongZeroRunBits = 9;
constexpr uint32_t LongZeroRunBase = 20;
constexpr uint32_t LiteralLimit = LiteralCount;      // symbols below are literal bytes
constexpr uint32_t MaxMatchLength = LiteralSymbolCount - 1 - MatchLengthBias;
constexpr uint32_t StoredChunkSize = RingBufferSize;
constexpr uint32_t MessageTextLimit = TextSize - 1;
// Bytes of zero bits at the end of a member's data that an encoder may leave
// out; a stream that needs more than this is cut short.
constexpr uint32_t MaxImplicitBits = 8 * 8;
static_assert(MaxMatchLength == MaxMatch, "longest match");
static_assert(LengthFieldBits + LengthEscapeBits == WindowBits16, "an entry is read from one window");
// A count of up to 31 entries plus the zero run of up to 3 stays inside auxLengths.
static_assert((1u << CodeLengthCountBits) - 1 + (1u << ZeroRunBits) - 1 <= AuxLengthCount,
              "aux lengths fit");
static_assert(CodeLengthSymbolCount <= AuxTableSize && Lh6OffsetSymbols <= AuxTableSize,
              "single symbols fit the aux table");
static_assert((1u << Lh7WindowBits) == RingBufferSize, "the largest window fills the ring");

// A member whose data runs out before its output is complete.
[[noreturn]] static void DataRunsShort() {
  ShowError(MsgArchiveBroken, Work->archivePath);
  AbortExtraction(1);
}

// Follows the tree below a table entry that holds node s, steered by the
// bits of window16 below the first tableBits, until a value below limit (a
// symbol) is reached. A code is at most 16 bits, so a walk needs at most
// 16 - tableBits steps; one that needs more, or meets a value that is no
// node, can only come from a damaged table.
static uint32_t WalkTree(uint32_t s, uint32_t limit, uint32_t window16, uint32_t tableBits) {
  uint32_t mask = 1u << (WindowBits16 - 1 - tableBits);
  for (uint32_t step = tableBits; step < WindowBits16; step++) {
    if (s >= NodeCount) break;
    s = (window16 & mask) ? Work->oneChild[s] : Work->zeroChild[s];
    if (s < limit) return s;
    mask >>= 1;
  }
  RefuseBadTable();
}

void BeginDecode(char methodDigit) {
  if (HasLargeOffsets(methodDigit)) {
    Work->offsetSymbolCount = Lh6OffsetSymbols;
    Work->offsetCountBits = Lh6OffsetCountBits;
  } else {
    Work->offsetSymbolCount = Lh5OffsetSymbols;
    Work->offsetCountBits = Lh5OffsetCountBits;
  }
  ResetBits();
  LoadBits(WindowBits16);
  Work->blockRemaining = 0;
}

// Reads one length entry: 3 bits, and when they are 7, one more per 1 bit
// that follows (up to 13), ended by a 0 bit.
static uint8_t ReadLengthEntry() {
  uint32_t v = Work->bitWindow >> (WindowBits16 - LengthFieldBits);
  if (v == LengthEscape) {
    uint32_t mask = 1u << (LengthEscapeBits - 1);
    while (mask != 0 && (Work->bitWindow & mask)) {
      v++;
      mask >>= 1;
    }
  }
  LoadBits((uint8_t)(v < LengthEscape ? LengthFieldBits : v - (LengthFieldBits)));
  return (uint8_t)v;
}

void ReadAuxLengths(int16_t symbolCount, int16_t countBits, int16_t zeroRunPosition) {
  int32_t n = TakeBits((uint8_t)countBits);
  if (n == 0) {
    uint16_t v = TakeBits((uint8_t)countBits);
    if (v >= symbolCount) RefuseBadTable();
    for (int32_t i = 0; i < symbolCount; i++) Work->auxLengths[i] = 0;
    for (uint32_t i = 0; i < AuxTableSize; i++) Work->auxTable[i] = v;
    return;
  }
  int32_t i = 0;
  while (i < n) {
    Work->auxLengths[i++] = ReadLengthEntry();
    if (i == zeroRunPosition) {
      int32_t z = TakeBits(ZeroRunBits);
      while (z-- > 0) Work->auxLengths[i++] = 0;
    }
  }
  while (i < symbolCount) Work->auxLengths[i++] = 0;
  BuildHuffmanTable(symbolCount, Work->auxLengths, AuxTableBits, Work->auxTable);
}

void ReadLiteralLengths() {
  int32_t n = TakeBits(LiteralCountBits);
  if (n == 0) {
    uint16_t v = TakeBits(LiteralCountBits);
    if (v >= LiteralSymbolCount) RefuseBadTable();
    for (uint32_t i = 0; i < LiteralSymbolCount; i++) Work->literalLengths[i] = 0;
    for (uint32_t i = 0; i < LiteralTableSize; i++) Work->literalTable[i] = v;
    return;
  }
  if (n > (int32_t)LiteralSymbolCount) RefuseBadTable();
  int32_t i = 0;
  while (i < n) {
    uint32_t window = Work->bitWindow;
    uint32_t s = Work->auxTable[window >> (WindowBits16 - AuxTableBits)];
    if (s >= CodeLengthSymbolCount) s = WalkTree(s, CodeLengthSymbolCount, window, AuxTableBits);
    LoadBits(Work->auxLengths[s]);
    if (s <= CodeLengthBias) {
      int32_t r = 1;
      if (s == 1) r = TakeBits(ShortZeroRunBits) + ShortZeroRunBase;
      if (s == 2) r = TakeBits(LongZeroRunBits) + LongZeroRunBase;
      // A run may reach past the count; what lies beyond the array is dropped.
      for (; r > 0; r--, i++) {
        if (i < (int32_t)LiteralSymbolCount) Work->literalLengths[i] = 0;
      }
    } else {
      Work->literalLengths[i++] = (uint8_t)(s - CodeLengthBias);
    }
  }
  for (; i < (int32_t)LiteralSymbolCount; i++) Work->literalLengths[i] = 0;
  BuildHuffmanTable(LiteralSymbolCount, Work->literalLengths, LiteralTableBits,
                    Work->literalTable);
}

// The fast path's tables: each entry of literalTable / auxTable with the
// code length of its symbol in the low bits, so one load gives both and the
// length needs no shift. A node entry has length 0 and is resolved by a walk.
constexpr uint32_t PackedLengthBits = 5;
constexpr uint32_t PackedLengthMask = (1u << PackedLengthBits) - 1;
static_assert(MaxCodeLength <= PackedLengthMask, "lengths fit below the value");
static_assert(NodeCount <= (1u << (16 - PackedLengthBits)), "node numbers fit above the length");

static void PackTable(const uint16_t* table, const uint8_t* lengths, uint32_t symbolCount,
                      uint32_t size, uint16_t* packed) {
  for (uint32_t i = 0; i < size; i++) {
    uint32_t v = table[i];
    uint32_t length = v < symbolCount ? lengths[v] : 0;
    packed[i] = (uint16_t)((v << PackedLengthBits) | length);
  }
}

static void ReadBlockHeader() {
  // Past its data a member's stream reads as zero bits, and zero bits make
  // blocks of up to 65536 symbols; a member that starts a block after using
  // more than the few bytes an encoder may leave implicit is cut short, so
  // decoding stops here instead of producing whatever size its header claims.
  if (BitsUsedPastData() > MaxImplicitBits) DataRunsShort();
  Work->blockRemaining = TakeBits(BlockSizeBits);
  ReadAuxLengths(CodeLengthSymbolCount, CodeLengthCountBits, CodeLengthZeroRunAfter);
  ReadLiteralLengths();
  ReadAuxLengths((int16_t)Work->offsetSymbolCount, (int16_t)Work->offsetCountBits, -1);
  PackTable(Work->literalTable, Work->literalLengths, LiteralSymbolCount, LiteralTableSize,
            Work->literalFast);
  PackTable(Work->auxTable, Work->auxLengths, Work->offsetSymbolCount, AuxTableSize,
            Work->offsetFast);
}

uint16_t DecodeSymbol() {
  if (Work->blockRemaining == 0) ReadBlockHeader();
  Work->blockRemaining--;  // wraps: a block size of 0 lasts 65536 symbols
  uint32_t window = Work->bitWindow;
  uint32_t s = Work->literalTable[window >> (WindowBits16 - LiteralTableBits)];
  if (s >= LiteralSymbolCount) s = WalkTree(s, LiteralSymbolCount, window, LiteralTableBits);
  LoadBits(Work->literalLengths[s]);
  return (uint16_t)s;
}

uint16_t DecodeOffset() {
  uint32_t window = Work->bitWindow;
  uint32_t count = Work->offsetSymbolCount;
  uint32_t s = Work->auxTable[window >> (WindowBits16 - AuxTableBits)];
  if (s >= count) s = WalkTree(s, count, window, AuxTableBits);
  LoadBits(Work->auxLengths[s]);
  if (s == 0) return 0;
  return (uint16_t)((1u << (s - 1)) + TakeBits((uint8_t)(s - 1)));
}

void WriteOutput(const uint8_t* buffer, uint32_t count, FileHandle file) {
  if (file == InvalidFile) {
    if (Work->messageLoaded) return;
    uint32_t n = 0;
    while (n < count && n < MessageTextLimit && buffer[n] != 0) {
      Work->text[n] = (char)buffer[n];
      n++;
    }
    Work->text[n] = 0;
    Work->messageLoaded = 1;
    return;
  }
  uint32_t done = 0;
  if (count > 0 && (!PlatformWrite(file, buffer, count, &done) || done != count)) {
    ShowError(MsgWriteError, Work->outputPath);
    AbortExtraction(1);
  }
  CrcUpdate(buffer, (int32_t)count);  // a chunk is at most one window
}

// The member's data ends the archive's share of it: when a stored member
// claims more bytes than its data holds, the copy stops there.
void CopyStoredMember(uint32_t size) {
  Work->crc = 0;
  uint32_t available = MemberCompressedSize();
  uint32_t remaining = size;
  while (remaining > 0) {
    if (available == 0) DataRunsShort();
    uint32_t chunk = remaining < StoredChunkSize ? remaining : StoredChunkSize;
    if (chunk > available) chunk = available;
    uint32_t done = 0;
    if (!PlatformRead(Work->archiveFile, Work->ringBuffer, chunk, &done) || done != chunk) {
      ShowError(MsgReadError, Work->archivePath);
      AbortExtraction(1);
    }
    WriteOutput(Work->ringBuffer, chunk, Work->outputFile);
    if (Work->outputFile != InvalidFile) UpdateProgress(size - remaining, size);
    remaining -= chunk;
    available -= chunk;
  }
}

// Writes the full window and reports progress with done bytes produced.
static void FlushWindow(uint32_t done) {
  WriteOutput(Work->ringBuffer, Work->windowSize, Work->outputFile);
  if (Work->outputFile != InvalidFile) UpdateProgress(done, Work->originalSize);
  Work->ringPos = 0;
}

// decodedCount counts bytes produced, a match's whole length at once; it
// stops at the largest value rather than wrapping back below originalSize.
static uint32_t AddDecoded(uint32_t count, uint32_t length) {
  return count > UINT32_MAX - length ? UINT32_MAX : count + length;
}

// One symbol the careful way: every bit through LoadBits/TakeBits and every
// byte checked against the window's end.
static void DecodeStep() {
  SfxWorkArea* w = Work;
  uint32_t mask = w->windowSize - 1;
  uint32_t s = DecodeSymbol();
  if (s < LiteralLimit) {
    w->ringBuffer[w->ringPos++] = (uint8_t)s;
    if (w->ringPos == w->windowSize) FlushWindow(w->decodedCount + 1);
    w->decodedCount++;
    return;
  }
  uint32_t length = s - MatchLengthBias;
  uint32_t offset = DecodeOffset();
  uint32_t source = (w->ringPos - offset - 1) & mask;
  w->decodedCount = AddDecoded(w->decodedCount, length);
  for (uint32_t j = 0; j < length; j++) {
    w->ringBuffer[w->ringPos++] = w->ringBuffer[(source + j) & mask];
    if (w->ringPos == w->windowSize) FlushWindow(w->decodedCount);
  }
}


// ---- The fast path ------------------------------------------------------
//
// DecodeRun decodes the same bits into the same bytes as DecodeStep, with
// the same flushes and progress reports, but keeps the bit reader's state
// in registers and reads the input a machine word at a time. It stops
// before a block ends, before the member's last match, and before the bytes
// that stand in inputBuffer run short, so no block header, no file read and
// no zero bit past the member's end falls inside it; DecodeStep handles
// those (past the end at most one block, as ReadBlockHeader allows).
constexpr uint32_t MaxOffsetExtraBits = Lh6OffsetSymbols - 2;
// A refill leaves at least RefilledBits in hand by count, and in fact a
// whole word of stream bits: it loads a word from the first byte not wholly
// drawn. A 64-bit buffer then holds a whole symbol (literal code, offset
// code and extra bits) and is refilled once per symbol and once after a
// match's extra bits; a 32-bit one is refilled after each part of a symbol.
static_assert(MaxCodeLength <= RefilledBits && MaxOffsetExtraBits <= RefilledBits,
              "each part of a symbol fits one refill");
constexpr bool RefillPerPart = 2 * MaxCodeLength + MaxOffsetExtraBits > RefilledBits;

// Copies a match inside the window when neither end wraps and its source
// overlaps its destination; byte order semantics are those of the
// byte-by-byte copy.
static void CopyOverlapping(uint8_t* ring, uint32_t pos, uint32_t source, uint32_t length) {
  uint8_t* dst = ring + pos;
  const uint8_t* src = ring + source;
  if (source > pos) {
    memmove(dst, src, length);  // source ahead of pos reads only bytes not yet overwritten
    return;
  }
  uint32_t distance = pos - source;
  if (distance == 1) {
    memset(dst, *src, length);
  } else if (distance >= RefillBytes) {
    uint32_t j = 0;
    for (; j + RefillBytes <= length; j += RefillBytes) memcpy(dst + j, src + j, RefillBytes);
    for (; j < length; j++) dst[j] = src[j];
  } else {
    for (uint32_t j = 0; j < length; j++) dst[j] = src[j];
  }
}

// Copies k bytes at the start of a match and k at its end (k <= length <=
// 2k), the two pieces overlapping where the match is shorter than 2k.
__attribute__((always_inline)) static inline void CopyEnds(uint8_t* dst, const uint8_t* src,
                                                           uint32_t length, uint32_t k) {
  memcpy(dst, src, k);
  memcpy(dst + length - k, src + length - k, k);
}

// Copies a match that overlaps neither its source nor the window's end.
// Bytes beyond the match belong to the window and are never written. Short
// matches, the most frequent, take two fixed-size moves by size class; a
// block copy would cost more than the match to start.
__attribute__((always_inline)) static inline void CopyDisjoint(uint8_t* dst, const uint8_t* src,
                                                               uint32_t length) {
  constexpr uint32_t Word = sizeof(BitWord);
  static_assert(MinMatch >= 2 && (Word == 4 || Word == 8), "the size classes cover every match");
  if (length > 2 * Word) {
    memcpy(dst, src, length);
  } else if (length >= Word) {
    CopyEnds(dst, src, length, Word);
  } else if (Word == 8 && length >= 4) {
    CopyEnds(dst, src, length, 4);
  } else {
    CopyEnds(dst, src, length, 2);  // a match is at least 3 bytes long
  }
}

SPEED_OVER_SIZE static void DecodeRun() {
  SfxWorkArea* w = Work;
  // The member's end must be more than a match away, so decodedCount
  // cannot pass originalSize (or wrap) inside a run.
  if (w->originalSize - w->decodedCount <= MaxMatchLength) return;
  const uint32_t decodedLimit = w->originalSize - MaxMatchLength;
  // Member bytes that stand in inputBuffer, not yet drawn.
  if (w->inputPos >= InputBufferSize) return;
  uint32_t buffered = InputBufferSize - w->inputPos;
  if (w->compressedRemaining < buffered) buffered = w->compressedRemaining;
  const uint8_t* in = w->inputBuffer + w->inputPos;
  const uint8_t* const inStart = in;
  const uint8_t* const inEnd = in + buffered;

  const uint32_t windowSize = w->windowSize;
  BitWord bits = w->bitBuffer;
  uint32_t count = w->bitCount;
  uint32_t block = w->blockRemaining;
  uint32_t pos = w->ringPos;
  // decodedCount is decodedBase + pos; decodedBase grows by the window at
  // each flush.
  uint32_t decodedBase = w->decodedCount - pos;

  // The buffer never holds more than BufferBits bits, so after symbols that
  // took C bits in all, at most C / 8 + RefillBytes bytes have been drawn; a
  // symbol takes at most 47 bits, under 6 bytes. A budget of k symbols thus
  // keeps every load of RefillBytes inside the buffered bytes when
  // 6 (k + 1) + 2 RefillBytes <= what is left; it also stays inside the
  // block and the output limit, and is worked out again until one of them
  // is reached.
  constexpr uint32_t MaxSymbolBytes = 6;
  static_assert(2 * MaxCodeLength + MaxOffsetExtraBits <= 8 * MaxSymbolBytes, "bytes per symbol");
  for (;;) {
    uint32_t left = (uint32_t)(inEnd - in);
    uint32_t decoded = decodedBase + pos;
    uint32_t budget = block;
    uint32_t byInput = left >= MaxSymbolBytes + 2 * RefillBytes
                           ? (left - 2 * RefillBytes) / MaxSymbolBytes - 1 : 0;
    if (byInput < budget) budget = byInput;
    uint32_t byOutput = decoded < decodedLimit ? (decodedLimit - decoded - 1) / MaxMatchLength + 1 : 0;
    if (byOutput < budget) budget = byOutput;
    if (budget == 0) break;
    block -= budget;

    RefillFast(&bits, &count, &in);
    uint32_t entry = w->literalFast[bits >> (BufferBits - LiteralTableBits)];
    for (; budget != 0; budget--) {
      if (!RefillPerPart) RefillFast(&bits, &count, &in);
      // A code and its walk fit in what is in hand.
      uint32_t s = entry >> PackedLengthBits;
      uint32_t length = entry & PackedLengthMask;
      if (s >= LiteralSymbolCount) {
        s = WalkTree(s, LiteralSymbolCount, (uint32_t)(bits >> (BufferBits - WindowBits16)),
                     LiteralTableBits);
        length = w->literalLengths[s];
      }
      bits <<= length;
      count -= length;
      // The next table index is taken before the refill, off its path: the
      // top bits stay as they are, and every bit of the word loaded by the
      // last refill is a stream bit, so at least 16 are in hand here even
      // where count promises fewer.
      if (s < LiteralLimit) {
        entry = w->literalFast[bits >> (BufferBits - LiteralTableBits)];
        if (RefillPerPart) RefillFast(&bits, &count, &in);
        w->ringBuffer[pos++] = (uint8_t)s;
        if (pos == windowSize) {
          FlushWindow(decodedBase + pos);
          decodedBase += windowSize;
          pos = 0;
        }
        continue;
      }

      uint32_t matchLength = s - MatchLengthBias;
      entry = w->offsetFast[bits >> (BufferBits - AuxTableBits)];
      if (RefillPerPart) RefillFast(&bits, &count, &in);
      uint32_t o = entry >> PackedLengthBits;
      length = entry & PackedLengthMask;
      if (o >= w->offsetSymbolCount) {
        o = WalkTree(o, w->offsetSymbolCount, (uint32_t)(bits >> (BufferBits - WindowBits16)),
                     AuxTableBits);
        length = w->auxLengths[o];
      }
      bits <<= length;
      count -= length;
      if (RefillPerPart) RefillFast(&bits, &count, &in);
      uint32_t offset = 0;
      if (o != 0) {
        uint32_t extra = o - 1;
        // Two shifts, so that extra = 0 takes nothing.
        offset = (1u << extra) + (uint32_t)((bits >> (BufferBits / 2)) >> (BufferBits / 2 - extra));
        bits <<= extra;
        count -= extra;
      }
      RefillFast(&bits, &count, &in);
      entry = w->literalFast[bits >> (BufferBits - LiteralTableBits)];

      uint32_t mask = windowSize - 1;
      uint32_t source = (pos - offset - 1) & mask;
      uint8_t* ring = w->ringBuffer;
      if (source + matchLength > windowSize || pos + matchLength >= windowSize) {
        // Wraps at the source or reaches the window's end: byte by byte,
        // with the flush where the window fills.
        uint32_t matchEnd = decodedBase + pos + matchLength;
        for (uint32_t j = 0; j < matchLength; j++) {
          ring[pos++] = ring[(source + j) & mask];
          if (pos == windowSize) {
            FlushWindow(matchEnd);
            decodedBase += windowSize;
            pos = 0;
          }
        }
      } else if ((source < pos ? pos - source : source - pos) >= matchLength) {
        CopyDisjoint(ring + pos, ring + source, matchLength);
        pos += matchLength;
      } else {
        CopyOverlapping(ring, pos, source, matchLength);
        pos += matchLength;
      }
    }
  }

  w->bitBuffer = bits;
  w->bitCount = count;
  w->inputPos = (uint32_t)(in - w->inputBuffer);
  w->compressedRemaining -= (uint32_t)(in - inStart);
  w->ringPos = pos;
  w->decodedCount = decodedBase + pos;
  w->blockRemaining = (uint16_t)block;
  // Back to the careful reader's promise of 16 bits in hand; if that needs
  // a file read, the 16-bit reader would have made it for the same symbol.
  RefillBits(WindowBits16);
}

void ExpandMember() {
  SfxWorkArea* w = Work;
  char method = MemberMethod();
  w->windowBits = (uint16_t)WindowBitsOf(method);
  w->originalSize = MemberOriginalSize();
  w->compressedRemaining = MemberCompressedSize();
  w->crc = 0;
  w->windowSize = 1u << w->windowBits;
  // Matches that reach back before the member's start copy spaces.
  memset(w->ringBuffer, ' ', w->windowSize);
  BeginDecode(method);
  w->decodedCount = 0;
  w->ringPos = 0;
  while (w->decodedCount < w->originalSize) {
    DecodeRun();
    if (w->decodedCount < w->originalSize) DecodeStep();
  }
  if (w->ringPos != 0) {
    WriteOutput(w->ringBuffer, w->ringPos, w->outputFile);
    if (w->outputFile != InvalidFile) UpdateProgress(w->decodedCount, w->originalSize);
  }
}
