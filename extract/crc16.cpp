// CRC-16/ARC over the work area: CrcInit builds its tables, CrcUpdate folds
// bytes into the running crc through the format's one CRC routine.
#include "extract/crc16.h"

#include "base/speed.h"
#include "core/workarea.h"

static_assert(sizeof(((SfxWorkArea*)nullptr)->crcTable) == CrcTableSize * sizeof(uint16_t),
              "one entry per byte value");
static_assert(sizeof(((SfxWorkArea*)nullptr)->crcSlices) ==
                  (CrcSliceBytes - 1) * CrcTableSize * sizeof(uint16_t),
              "one extra table per byte of a slice");

void CrcInit(uint16_t polynomial) { CrcBuildTables(polynomial, Work->crcTable, Work->crcSlices); }

SPEED_OVER_SIZE uint16_t CrcUpdate(const uint8_t* bytes, int32_t count) {
  if (count > 0) Work->crc = CrcFold(Work->crc, bytes, (uint32_t)count, Work->crcTable, Work->crcSlices);
  return Work->crc;
}
