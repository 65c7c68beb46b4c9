// CRC-16/ARC (reflected polynomial 0xA001, initial value 0, no final XOR),
// the one checksum of the format, for headers and for data. The tables are
// the caller's: the engine keeps them in its work area, the host tools in
// their own storage. The fold gives the value of folding byte by byte,
// however a stretch is split into calls.
#pragma once
#include <stdint.h>

enum : uint16_t { CrcPolynomial = 0xA001 };
enum : uint32_t { CrcTableSize = 256, CrcSliceBytes = 8, CrcByteBits = 8, CrcByteMask = 0xFF };

// table[i] is the crc after byte i from crc 0; slices[k - 1][i] the crc after
// byte i and then k zero bytes, so eight lookups fold eight bytes at once.
void CrcBuildTables(uint16_t polynomial, uint16_t* table,
                    uint16_t (*slices)[CrcTableSize]);
// Folds count bytes into crc and returns the new value, eight bytes per step
// ("slicing"). The CRC is linear, so the crc after eight bytes is the XOR of
// the contributions of each byte followed by the bytes behind it; the running
// crc only reaches into the first two of them. Inline, so that a caller whose
// tables lie at fixed places (the work area) indexes them from one base.
inline uint16_t CrcFold(uint16_t crc, const uint8_t* bytes, uint32_t count,
                        const uint16_t* table, const uint16_t (*slices)[CrcTableSize]) {
  const uint16_t(*t)[CrcTableSize] = slices;
  const uint8_t* p = bytes;
  const uint8_t* const end = bytes + count;
  uint32_t c = crc;
  for (uint32_t steps = count / CrcSliceBytes; steps != 0; steps--, p += CrcSliceBytes) {
    // The running crc meets the first two bytes as one 16-bit value, which
    // keeps it in a register on i686 rather than on the stack.
    uint32_t head = ((uint32_t)p[0] | (uint32_t)p[1] << CrcByteBits) ^ c;
    c = t[6][head & CrcByteMask] ^ t[5][head >> CrcByteBits] ^ t[4][p[2]] ^ t[3][p[3]] ^
        t[2][p[4]] ^ t[1][p[5]] ^ t[0][p[6]] ^ table[p[7]];
  }
  for (; p < end; p++) c = table[(c ^ *p) & CrcByteMask] ^ (c >> CrcByteBits);
  return (uint16_t)c;
}

