// Builds the CRC-16/ARC tables: the byte table, and for each k the crc of a
// byte followed by k zero bytes.
#include "base/crc16.h"

void CrcBuildTables(uint16_t polynomial, uint16_t* table, uint16_t (*slices)[CrcTableSize]) {
  for (uint32_t i = 0; i < CrcTableSize; i++) {
    uint32_t v = i;
    for (uint32_t bit = 0; bit < CrcByteBits; bit++) {
      v = (v & 1) ? (v >> 1) ^ polynomial : v >> 1;
    }
    table[i] = (uint16_t)v;
  }
  for (uint32_t i = 0; i < CrcTableSize; i++) {
    uint32_t v = table[i];
    for (uint32_t k = 0; k + 1 < CrcSliceBytes; k++) {
      v = table[v & CrcByteMask] ^ (v >> CrcByteBits);
      slices[k][i] = (uint16_t)v;
    }
  }
}
