// Hands the decoder a member's compressed bytes as a stream of bits, most
// significant first, through the 16384-byte input buffer; never reads past
// the member's compressed size and supplies zero bits after its end. The
// careful reader (LoadBits, TakeBits, RefillBits) keeps the buffer described
// here; the fast path reads inputBuffer directly and hands back a buffer in
// the same state.
//
// bitBuffer holds the next bitCount stream bits, most significant first,
// left-aligned; the bits below them are zero, so ORing a drawn byte in is
// always right and past the member's end the stream reads as zeros. Between
// decoder steps bitCount >= 16 and bitWindow equals the top 16 bits of
// bitBuffer. Bytes already in inputBuffer may be drawn ahead freely (that
// reads nothing from the file); a new file read happens only when bitCount
// would fall below 16, so the reads are exactly those of a reader that keeps
// 16 bits ahead: reads of min(bytes still to come, 16384). zeroBitsDrawn
// counts the zero bits supplied after the member's bytes ran out.
#pragma once
#include <stdint.h>
#include <string.h>

#include "core/workarea.h"
#include "platform/platform.h"

// Next archive byte (0..255), refilling up to wanted bytes; -1 on read failure.
int ReadArchiveByte(FileHandle file, MemberSize wanted);
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

// ---- Word loads for the fast path -----------------------------------------
constexpr uint32_t BufferBits = 8 * sizeof(BitWord);
constexpr uint32_t LookBytes = sizeof(BitWord);  // bytes one look at the stream reads

__attribute__((always_inline)) inline BitWord LoadBigEndian(const uint8_t* p) {
  BitWord v;
  memcpy(&v, p, sizeof v);
  if constexpr (sizeof v == 8) {
    return __builtin_bswap64(v);
  } else {
    return __builtin_bswap32(v);
  }
}

// The stream from bit pos of buf on: at least BufferBits - 7 of the bits
// returned are stream bits, read from LookBytes bytes at pos's byte.
__attribute__((always_inline)) inline BitWord LookAt(const uint8_t* buf, uint32_t pos) {
  return LoadBigEndian(buf + (pos >> 3)) << (pos & 7);
}
