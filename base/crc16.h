// CRC-16/ARC (reflected polynomial 0xA001, initial value 0, no final XOR),
// the one checksum of the format, for headers and for data. The tables are
// the caller's: the engine keeps them in its work area, the host tools in
// their own storage. The fold gives the value of folding byte by byte,
// however a stretch is split into calls.
#pragma once
#include <stdint.h>

enum : uint16_t { CrcPolynomial = 0xA001 };
enum : uint32_t { CrcTableSize = 256, CrcSliceBytes = 8 };

// table[i] is the crc after byte i from crc 0; slices[k - 1][i] the crc after
// byte i and then k zero bytes, so eight lookups fold eight bytes at once.
void CrcBuildTables(uint16_t polynomial, uint16_t* table,
                    uint16_t (*slices)[CrcTableSize]);
// Folds count bytes into crc and returns the new value.
uint16_t CrcFold(uint16_t crc, const uint8_t* bytes, uint32_t count, const uint16_t* table,
                 const uint16_t (*slices)[CrcTableSize]);
