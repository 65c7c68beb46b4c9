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
