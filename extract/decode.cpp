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
constexpr uint32_t StoredChunkSize = MaxWindowSize;
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

// A code of length L <= tableBits fills 2^(tableBits - L) entries in a
// row, so the table is packed a run at a time.
SPEED_OVER_SIZE static void PackTable(const uint16_t* table, const uint8_t* lengths,
                                      uint32_t symbolCount, uint32_t tableBits,
                                      uint16_t* packed) {
  uint32_t size = 1u << tableBits;
  for (uint32_t i = 0; i < size;) {
    uint32_t v = table[i];
    uint32_t length = 0;
    uint32_t run = 1;
    if (v < symbolCount) {
      length = lengths[v];
      if (length <= tableBits) run = 1u << (tableBits - length);
      if (run > size - i) run = size - i;
    }
    FillEntries(packed + i, run, (uint16_t)((v << PackedLengthBits) | length));
    i += run;
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
  PackTable(Work->literalTable, Work->literalLengths, LiteralSymbolCount, LiteralTableBits,
            Work->literalFast);
  PackTable(Work->auxTable, Work->auxLengths, Work->offsetSymbolCount, AuxTableBits,
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
void CopyStoredMember(MemberSize size) {
  Work->crc = 0;
  MemberSize available = MemberCompressedSize();
  MemberSize remaining = size;
  while (remaining > 0) {
    if (available == 0) DataRunsShort();
    uint32_t chunk = remaining < StoredChunkSize ? (uint32_t)remaining : StoredChunkSize;
    if (chunk > available) chunk = (uint32_t)available;
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

// The window lies in ringBuffer as a line, not a ring: the bytes a match may
// reach (the windowSize bytes before ringPos) always stand right below it,
// so a copy needs no wrap, and a match may run past the end of the chunk
// being filled (which starts at flushPos) into the room behind it. When a
// chunk has filled it is written out whole; when the next one would no
// longer fit with that room behind it, the window before ringPos slides down
// to the buffer's start. Offsets of -lh6- can name more than its window
// holds; they wrap inside the window, as they would in a ring.
constexpr uint32_t MatchRoom = RingBufferSize - 2 * MaxWindowSize;
static_assert(MatchRoom >= MaxMatch + 8, "a match and a copy's overrun fit behind a chunk");

static void StartWindow() {
  SfxWorkArea* w = Work;
  // Matches that reach back before the member's start copy spaces.
  memset(w->ringBuffer, ' ', w->windowSize);
  w->flushPos = w->windowSize;
  w->ringPos = w->windowSize;
}

// Writes the chunk that has filled, reports progress with decodedCount, and
// slides the window down when the next chunk would not fit.
static void FlushChunk() {
  SfxWorkArea* w = Work;
  uint32_t size = w->windowSize;
  WriteOutput(w->ringBuffer + w->flushPos, size, w->outputFile);
  if (w->outputFile != InvalidFile) UpdateProgress(w->decodedCount, w->originalSize);
  w->flushPos += size;
  if (w->flushPos + size + MatchRoom > RingBufferSize) {
    uint32_t keep = w->flushPos - size;  // the window's first byte
    memmove(w->ringBuffer, w->ringBuffer + keep, w->ringPos - keep);
    w->ringPos -= keep;
    w->flushPos = size;
  }
}

// decodedCount counts bytes produced, a match's whole length at once; it
// stops at the largest value rather than wrapping back below originalSize.
static MemberSize AddDecoded(MemberSize count, uint32_t length) {
  const MemberSize largest = (MemberSize)~(MemberSize)0;
  return count > largest - length ? largest : count + length;
}

// How far back a match's offset reaches: offsets wrap inside the window.
static inline uint32_t MatchDistance(uint32_t offset, uint32_t windowSize) {
  return (offset & (windowSize - 1)) + 1;
}

// One symbol the careful way: every bit through LoadBits/TakeBits and every
// byte copied on its own.
static void DecodeStep() {
  SfxWorkArea* w = Work;
  uint32_t s = DecodeSymbol();
  uint8_t* ring = w->ringBuffer;
  if (s < LiteralLimit) {
    ring[w->ringPos++] = (uint8_t)s;
    w->decodedCount++;
  } else {
    uint32_t length = s - MatchLengthBias;
    uint32_t distance = MatchDistance(DecodeOffset(), w->windowSize);
    w->decodedCount = AddDecoded(w->decodedCount, length);
    uint32_t pos = w->ringPos;
    for (uint32_t j = 0; j < length; j++, pos++) ring[pos] = ring[pos - distance];
    w->ringPos = pos;
  }
  if (w->ringPos - w->flushPos >= w->windowSize) FlushChunk();
}


// ---- The fast path ------------------------------------------------------
//
// DecodeRun decodes the same bits into the same bytes as DecodeStep, with
// the same flushes and progress reports, but keeps its place in the input
// as one bit position and reads the input a machine word at a time. It stops
// before a block ends, before the member's last match, and before the bytes
// that stand in inputBuffer run short, so no block header, no file read and
// no zero bit past the member's end falls inside it; DecodeStep handles
// those (past the end at most one block, as ReadBlockHeader allows).
constexpr uint32_t MaxOffsetExtraBits = Lh6OffsetSymbols - 2;
// A look at the stream (LookAt) holds at least BufferBits - 7 stream bits.
// After a table hit (at most 12 bits) the rest still holds the next table
// index; a walked code, an offset's extra bits and the next symbol after
// them take a fresh look.
constexpr uint32_t LookBits = BufferBits - 7;
static_assert(LookBits >= LiteralTableBits + LiteralTableBits && LookBits >= WindowBits16 &&
                  LookBits >= LiteralTableBits + AuxTableBits && LookBits >= MaxOffsetExtraBits,
              "what one look must hold");

// Copies a match the way the byte-by-byte copy does, eight bytes at a time:
// a match at least eight bytes back reads, in each piece it copies, only
// bytes already in place. The last piece may run up to seven bytes past the
// match, into the room behind it, which later output overwrites.
__attribute__((always_inline)) static inline void CopyMatch(uint8_t* dst, uint32_t distance,
                                                            uint32_t length) {
  constexpr uint32_t Step = 8;
  const uint8_t* src = dst - distance;
  if (distance >= Step) {
    uint32_t j = 0;
    do {
      memcpy(dst + j, src + j, Step);
      j += Step;
    } while (j < length);
  } else if (distance == 1) {
    memset(dst, *src, length);
  } else {
    for (uint32_t j = 0; j < length; j++) dst[j] = src[j];
  }
}

SPEED_OVER_SIZE static void DecodeRun() {
  SfxWorkArea* w = Work;
  // The member's end must be more than a match away, so decodedCount
  // cannot pass originalSize (or wrap) inside a run.
  if (w->originalSize - w->decodedCount <= MaxMatchLength) return;
  const MemberSize decodedLimit = w->originalSize - MaxMatchLength;
  // Member bytes that stand in inputBuffer, not yet drawn.
  if (w->inputPos >= InputBufferSize) return;
  uint32_t buffered = InputBufferSize - w->inputPos;
  if (w->compressedRemaining < buffered) buffered = (uint32_t)w->compressedRemaining;
  // The bits in hand came from the bytes just before inputPos, unless some
  // came before the last file read (or past the member's end); then the
  // careful path goes on until they are used up.
  if (w->zeroBitsDrawn != 0 || w->bitCount > 8 * w->inputPos) return;
  const uint8_t* const input = w->inputBuffer;
  const uint32_t startByte = w->inputPos;
  const uint32_t endByte = startByte + buffered;
  uint32_t pos = 8 * startByte - w->bitCount;  // the next stream bit in inputBuffer
  if (endByte - (pos >> 3) < LookBytes) return;

  const uint32_t windowSize = w->windowSize;
  uint32_t block = w->blockRemaining;
  uint8_t* out = w->ringBuffer + w->ringPos;
  uint8_t* chunkEnd = w->ringBuffer + w->flushPos + windowSize;
  // decodedCount is decodedBase + (out - ringBuffer); a slide moves both.
  MemberSize decodedBase = w->decodedCount - w->ringPos;

  // A symbol takes at most 47 bits, under 6 bytes, and a look reads
  // LookBytes from the byte of its position, so a budget of k symbols
  // keeps every look inside the buffered bytes when 6 k + LookBytes <=
  // what is left. It also stays inside the block and the output limit, and
  // is worked out again until one of them is reached.
  constexpr uint32_t MaxSymbolBytes = 6;
  static_assert(2 * MaxCodeLength + MaxOffsetExtraBits <= 8 * MaxSymbolBytes, "bytes per symbol");
  for (;;) {
    uint32_t left = endByte - (pos >> 3);
    MemberSize decoded = decodedBase + (uint32_t)(out - w->ringBuffer);
    uint32_t budget = block;
    uint32_t byInput = left >= LookBytes ? (left - LookBytes) / MaxSymbolBytes : 0;
    if (byInput < budget) budget = byInput;
    MemberSize byOutput = decoded < decodedLimit ? (decodedLimit - decoded - 1) / MaxMatchLength + 1 : 0;
    if (byOutput < budget) budget = (uint32_t)byOutput;
    if (budget == 0) break;
    block -= budget;

    BitWord bits = LookAt(input, pos);
    uint32_t entry = w->literalFast[bits >> (BufferBits - LiteralTableBits)];
    for (; budget != 0; budget--) {
      uint32_t s = entry >> PackedLengthBits;
      uint32_t length = entry & PackedLengthMask;
      BitWord next = bits << length;  // the bits after the code
      if (s >= LiteralSymbolCount) {
        s = WalkTree(s, LiteralSymbolCount, (uint32_t)(bits >> (BufferBits - WindowBits16)),
                     LiteralTableBits);
        length = w->literalLengths[s];
        next = LookAt(input, pos + length);
      }
      pos += length;
      if (s < LiteralLimit) {
        entry = w->literalFast[next >> (BufferBits - LiteralTableBits)];
        bits = LookAt(input, pos);
        *out++ = (uint8_t)s;
      } else {
        uint32_t matchLength = s - MatchLengthBias;
        entry = w->offsetFast[next >> (BufferBits - AuxTableBits)];
        uint32_t o = entry >> PackedLengthBits;
        length = entry & PackedLengthMask;
        if (o >= w->offsetSymbolCount) {
          o = WalkTree(o, w->offsetSymbolCount,
                       (uint32_t)(LookAt(input, pos) >> (BufferBits - WindowBits16)), AuxTableBits);
          length = w->auxLengths[o];
        }
        pos += length;
        uint32_t offset = 0;
        if (o != 0) {
          uint32_t extra = o - 1;
          // Two shifts, so that extra = 0 takes nothing.
          BitWord look = LookAt(input, pos);
          offset = (1u << extra) + (uint32_t)((look >> (BufferBits / 2)) >> (BufferBits / 2 - extra));
          pos += extra;
        }
        bits = LookAt(input, pos);
        entry = w->literalFast[bits >> (BufferBits - LiteralTableBits)];
        CopyMatch(out, MatchDistance(offset, windowSize), matchLength);
        out += matchLength;
      }
      if (out >= chunkEnd) {
        uint32_t at = (uint32_t)(out - w->ringBuffer);
        w->ringPos = at;
        w->decodedCount = decodedBase + at;
        FlushChunk();
        decodedBase += at - w->ringPos;
        out = w->ringBuffer + w->ringPos;
        chunkEnd = w->ringBuffer + w->flushPos + windowSize;
      }
    }
  }

  // Back to the careful reader: the word at pos's byte is drawn, its bits
  // before pos dropped.
  uint32_t byte = pos >> 3;
  w->bitBuffer = LookAt(input, pos);
  w->bitCount = BufferBits - (pos & 7);
  w->inputPos = byte + LookBytes;
  w->compressedRemaining -= byte + LookBytes - startByte;
  w->ringPos = (uint32_t)(out - w->ringBuffer);
  w->decodedCount = decodedBase + w->ringPos;
  w->blockRemaining = (uint16_t)block;
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
  StartWindow();
  BeginDecode(method);
  w->decodedCount = 0;
  while (w->decodedCount < w->originalSize) {
    DecodeRun();
    if (w->decodedCount < w->originalSize) DecodeStep();
  }
  if (w->ringPos != w->flushPos) {
    WriteOutput(w->ringBuffer + w->flushPos, w->ringPos - w->flushPos, w->outputFile);
    if (w->outputFile != InvalidFile) UpdateProgress(w->decodedCount, w->originalSize);
  }
}
