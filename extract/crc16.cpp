// CRC-16/ARC over the work area: CrcInit builds the 256-entry table for the
// reflected polynomial (and the tables that fold eight bytes per step),
// CrcUpdate folds bytes into the running crc. The value is that of folding
// byte by byte, however a stretch is split into calls.
#include "extract/crc16.h"

#include "startup/workarea.h"

enum : uint32_t { CrcTableSize = 256, BitsPerByte = 8, ByteMask = 0xFF, SliceBytes = 8 };
static_assert(sizeof(((SfxWorkArea*)nullptr)->crcSlices) ==
                  (SliceBytes - 1) * CrcTableSize * sizeof(uint16_t),
              "one extra table per byte of a slice");

// crcSlices[k - 1][i] is the crc after byte i and then k zero bytes, from
// crc 0. The CRC is linear, so the crc after eight bytes is the XOR of the
// contributions of each byte followed by the bytes behind it; the running
// crc only reaches into the first two of them.
void CrcInit(uint16_t polynomial) {
  for (uint32_t i = 0; i < CrcTableSize; i++) {
    uint32_t v = i;
    for (uint32_t bit = 0; bit < BitsPerByte; bit++) {
      v = (v & 1) ? (v >> 1) ^ polynomial : v >> 1;
    }
    Work->crcTable[i] = (uint16_t)v;
  }
  for (uint32_t i = 0; i < CrcTableSize; i++) {
    uint32_t v = Work->crcTable[i];
    for (uint32_t k = 0; k + 1 < SliceBytes; k++) {
      v = Work->crcTable[v & ByteMask] ^ (v >> BitsPerByte);
      Work->crcSlices[k][i] = (uint16_t)v;
    }
  }
}

uint16_t CrcUpdate(const uint8_t* bytes, int32_t count) {
  const uint16_t* t0 = Work->crcTable;
  const uint16_t(*t)[CrcTableSize] = Work->crcSlices;
  uint32_t crc = Work->crc;
  int32_t i = 0;
  for (; i + (int32_t)SliceBytes <= count; i += SliceBytes) {
    const uint8_t* p = bytes + i;
    crc = t[6][(p[0] ^ crc) & ByteMask] ^ t[5][p[1] ^ (crc >> BitsPerByte)] ^ t[4][p[2]] ^
          t[3][p[3]] ^ t[2][p[4]] ^ t[1][p[5]] ^ t[0][p[6]] ^ t0[p[7]];
  }
  for (; i < count; i++) {
    crc = t0[(crc ^ bytes[i]) & ByteMask] ^ (crc >> BitsPerByte);
  }
  Work->crc = (uint16_t)crc;
  return Work->crc;
}
