// Holds the compressor's CRC tables, built once at first use (thread-safe:
// the packer checksums on worker threads), and hands bytes to the format's
// one CRC routine in pieces its 32-bit count can take.
#include "compress/crc16.h"

#include "base/crc16.h"

namespace {

struct Tables {
  uint16_t table[CrcTableSize];
  uint16_t slices[CrcSliceBytes - 1][CrcTableSize];
  Tables() { CrcBuildTables(CrcPolynomial, table, slices); }
};

constexpr size_t MaxPiece = 1u << 30;

}  // namespace

uint16_t Crc16Update(uint16_t crc, const uint8_t* bytes, size_t size) {
  static const Tables t;
  while (size > 0) {
    uint32_t piece = (uint32_t)(size < MaxPiece ? size : MaxPiece);
    crc = CrcFold(crc, bytes, piece, t.table, t.slices);
    bytes += piece;
    size -= piece;
  }
  return crc;
}
