// CRC-16/ARC over the work area: the tables in crcTable and crcSlices, the
// running value in crc.
#pragma once
#include <stdint.h>

#include "base/crc16.h"

// Fills crcTable (and the slice tables) for the reflected polynomial.
void CrcInit(uint16_t polynomial);
// Folds count bytes into crc and returns it; count <= 0 changes nothing.
uint16_t CrcUpdate(const uint8_t* bytes, int32_t count);
