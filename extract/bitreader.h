// Hands the decoder a member's compressed bytes as a stream of bits, most
// significant first, through the 16384-byte input buffer; never reads past
// the member's compressed size and supplies zero bits after its end. The
// careful reader (LoadBits, TakeBits, RefillBits) and the fast path's 8-byte
// refill (RefillFast) share the one buffer described here.
//
// bitBuffer holds the next bitCount stream bits, most significant first,
// left-aligned; the bits below them are zero, or (after a fast refill) the
// leading bits of the next member byte, exactly where drawing that byte puts
// them, so ORing a drawn byte in is always right and past the member's end
// the stream reads as zeros. Between decoder steps bitCount >= 16 and
// bitWindow equals the top 16 bits of bitBuffer. Bytes already in
// inputBuffer may be drawn ahead freely (that reads nothing from the file);
// a new file read happens only when bitCount would fall below 16, so the
// reads are exactly those of a reader that keeps 16 bits ahead: reads of
// min(bytes still to come, 16384). zeroBitsDrawn counts the zero bits
// supplied after the member's bytes ran out.
#pragma once
#include <stdint.h>
#include <string.h>

#include "core/workarea.h"
#include "platform/platform.h"

// Next archive byte (0..255), refilling up to wanted bytes; -1 on read failure.
int ReadArchiveByte(FileHandle file, uint32_t wanted);
// Drops the top n bits of bitWindow and shifts n new stream bits in.
void LoadBits(uint8_t n);
// Returns the top n bits (0..16) of bitWindow and consumes them.
uint16_t TakeBits(uint8_t n);

// Empties the bit buffer into an all-zero 16-bit window (LoadBits with 16
// then primes it with the member's first bits).
void ResetBits();
// Draws stream bits until bitBuffer holds at least target (at most 48) of
// them, reading the archive only when inputBuffer has none left; updates
// bitWindow. Ends the process with "read error" when a read fails.
void RefillBits(uint32_t target);

// Bits the decoder has consumed beyond the member's data. The zero bits come
// after every real bit, so those still in hand are the last ones drawn.
inline uint32_t BitsUsedPastData() {
  return Work->zeroBitsDrawn > Work->bitCount ? Work->zeroBitsDrawn - Work->bitCount : 0;
}

// ---- The fast path's refill ------------------------------------------------
constexpr uint32_t BufferBits = 64;
constexpr uint32_t RefillBytes = 8;
constexpr uint32_t RefilledBits = BufferBits - RefillBytes;  // bits in hand after a refill
static_assert(RefilledBits == 7 * RefillBytes, "count | 56 adds whole bytes to a count below 64");

inline uint64_t LoadBigEndian64(const uint8_t* p) {
  uint64_t v;
  memcpy(&v, p, sizeof v);
  return __builtin_bswap64(v);
}

// Tops a copy of the bit buffer (bits, count) up to 56..63 bits from the
// input at *in, 8 bytes at a time; the caller guarantees 8 readable bytes.
// The top bits do not change, so a table entry looked up before a refill
// stays valid after it. Once the member's bytes are all drawn (zeroTail),
// the bits below the count are zero and a refill only counts more of them
// in, adding them to *zeroBits.
inline void RefillFast(uint64_t* bits, uint32_t* count, const uint8_t** in, bool zeroTail,
                       uint32_t* zeroBits) {
  if (!zeroTail) {
    *bits |= LoadBigEndian64(*in) >> *count;
    *in += (BufferBits - 1 - *count) / RefillBytes;
  } else {
    *zeroBits += (*count | RefilledBits) - *count;
  }
  *count |= RefilledBits;
}
