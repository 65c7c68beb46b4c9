// Hands the decoder a member's compressed bytes as a stream of bits, most
// significant first, through the 16384-byte input buffer; never reads past
// the member's compressed size and supplies zero bits after its end.
#pragma once
#include <stdint.h>

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
