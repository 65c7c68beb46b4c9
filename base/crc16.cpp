// CRC-16/ARC, table driven, eight bytes per step ("slicing"). The CRC is
// linear, so the crc after eight bytes is the XOR of the contributions of
// each byte followed by the bytes behind it; the running crc only reaches
// into the first two of them.
#include "base/crc16.h"

enum : uint32_t { BitsPerByte = 8, ByteMask = 0xFF };

void CrcBuildTables(uint16_t polynomial, uint16_t* table, uint16_t (*slices)[CrcTableSize]) {
  for (uint32_t i = 0; i < CrcTableSize; i++) {
    uint32_t v = i;
    for (uint32_t bit = 0; bit < BitsPerByte; bit++) {
      v = (v & 1) ? (v >> 1) ^ polynomial : v >> 1;
    }
    table[i] = (uint16_t)v;
  }
  for (uint32_t i = 0; i < CrcTableSize; i++) {
    uint32_t v = table[i];
    for (uint32_t k = 0; k + 1 < CrcSliceBytes; k++) {
      v = table[v & ByteMask] ^ (v >> BitsPerByte);
      slices[k][i] = (uint16_t)v;
    }
  }
}

uint16_t CrcFold(uint16_t crc, const uint8_t* bytes, uint32_t count, const uint16_t* table,
                 const uint16_t (*slices)[CrcTableSize]) {
  const uint16_t(*t)[CrcTableSize] = slices;
  uint32_t c = crc;
  uint32_t i = 0;
  for (; i + CrcSliceBytes <= count; i += CrcSliceBytes) {
    const uint8_t* p = bytes + i;
    c = t[6][(p[0] ^ c) & ByteMask] ^ t[5][p[1] ^ (c >> BitsPerByte)] ^ t[4][p[2]] ^
        t[3][p[3]] ^ t[2][p[4]] ^ t[1][p[5]] ^ t[0][p[6]] ^ table[p[7]];
  }
  for (; i < count; i++) {
    c = table[(c ^ bytes[i]) & ByteMask] ^ (c >> BitsPerByte);
  }
  return (uint16_t)c;
}
