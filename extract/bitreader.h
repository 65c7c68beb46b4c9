// Hands the decoder a member's compressed bytes as a stream of bits, most
// significant first, through the 16384-byte input buffer; never reads past
// the member's compressed size and supplies zero bits after its end. The
// careful reader (LoadBits, TakeBits, RefillBits) and the fast path's
// word-sized refill (RefillFast) share the one buffer described here.
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
// Draws stream bits until bitBuffer holds at least target (at most
// BufferBits - 8) of
// them, reading the archive only when inputBuffer has none left; updates
// bitWindow. Ends the process with "read error" when a read fails.
void RefillBits(uint32_t target);

// Bits the decoder has consumed beyond the member's data. The zero bits come
// after every real bit, so those still in hand are the last ones drawn.
inline uint32_t BitsUsedPastData() {
  return Work->zeroBitsDrawn > Work->bitCount ? Work->zeroBitsDrawn - Work->bitCount : 0;
}

// ---- The fast path's refill ------------------------------------------------
constexpr uint32_t BufferBits = 8 * sizeof(BitWord);
constexpr uint32_t RefillBytes = sizeof(BitWord);
constexpr uint32_t RefilledBits = BufferBits - 8;  // at least this many bits in hand after a refill
static_assert((BufferBits & (BufferBits - 1)) == 0 && BufferBits >= 16,
              "count | RefilledBits adds whole bytes to a count below BufferBits");

__attribute__((always_inline)) inline BitWord LoadBigEndian(const uint8_t* p) {
  BitWord v;
  memcpy(&v, p, sizeof v);
  if constexpr (sizeof v == 8) {
    return __builtin_bswap64(v);
  } else {
    return __builtin_bswap32(v);
  }
}

// Tops a copy of the bit buffer (bits, count) up to RefilledBits..BufferBits-1
// bits from the input at *in, a word at a time; the caller guarantees
// RefillBytes readable bytes, all of the member. The top bits do not
// change, so a table entry looked up before a refill stays valid after it.
__attribute__((always_inline)) inline void RefillFast(BitWord* bits, uint32_t* count,
                                                      const uint8_t** in) {
  *bits |= LoadBigEndian(*in) >> *count;
  *in += (BufferBits - 1 - *count) / 8;
  *count |= RefilledBits;
}
