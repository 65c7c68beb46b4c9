// CRC-16/ARC over the work area: CrcInit builds the 256-entry table for the
// reflected polynomial, CrcUpdate folds bytes into the running crc. Folding a
// stretch in pieces gives the same value as folding it at once.
#include "extract/crc16.h"

#include "startup/workarea.h"

enum : uint32_t { CrcTableSize = 256, BitsPerByte = 8, ByteMask = 0xFF };

void CrcInit(uint16_t polynomial) {
  for (uint32_t i = 0; i < CrcTableSize; i++) {
    uint32_t v = i;
    for (uint32_t bit = 0; bit < BitsPerByte; bit++) {
      v = (v & 1) ? (v >> 1) ^ polynomial : v >> 1;
    }
    Work->crcTable[i] = (uint16_t)v;
  }
}

uint16_t CrcUpdate(const uint8_t* bytes, int32_t count) {
  const uint16_t* table = Work->crcTable;
  uint32_t crc = Work->crc;
  for (int32_t i = 0; i < count; i++) {
    crc = table[(crc ^ bytes[i]) & ByteMask] ^ (crc >> BitsPerByte);
  }
  Work->crc = (uint16_t)crc;
  return Work->crc;
}
