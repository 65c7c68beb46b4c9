// CRC-16/ARC (reflected polynomial 0xA001, initial 0, no final XOR), table
// driven, over the work area's crcTable and running crc.
#pragma once
#include <stdint.h>

enum : uint16_t { CrcPolynomial = 0xA001 };

// Fills crcTable for the reflected polynomial.
void CrcInit(uint16_t polynomial);
// Folds count bytes into crc and returns it; count <= 0 changes nothing.
uint16_t CrcUpdate(const uint8_t* bytes, int32_t count);
