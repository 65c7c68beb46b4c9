// Fuzz target: the decoders alone. The input is a method selector byte, an
// original size in three bytes (cut below FuzzOutputLimit) and the coded
// data; the target wraps it in a valid level-2 header and tests it through
// the driver, so every mutation lands in the coded data.
#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "extract/driver.h"
#include "extract/header.h"
#include "tests/fuzz/harness.h"

namespace {

const char Methods[] = "04567";
enum : size_t {
  PrefixSize = 4,
  CrcRecord = HdrFixedSize,        // type 0, CRC, nextSize: 5 bytes
  CrcRecordSize = 5,
  NameRecord = CrcRecord + CrcRecordSize,  // type 1, "f", nextSize 0: 4 bytes
  NameRecordSize = 4,
  HeaderSize = NameRecord + NameRecordSize,
};
static_assert((FuzzOutputLimit & (FuzzOutputLimit - 1)) == 0, "the limit works as a mask");
constexpr uint32_t SizeMask = FuzzOutputLimit - 1;

void PutLe16(uint8_t* p, uint32_t value) {
  p[0] = (uint8_t)value;
  p[1] = (uint8_t)(value >> 8);
}
void PutLe32(uint8_t* p, uint32_t value) {
  PutLe16(p, value & 0xFFFF);
  PutLe16(p + 2, value >> 16);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInputClean = 0;
  if (size < PrefixSize) return -1;
  char method = Methods[data[0] % (sizeof Methods - 1)];
  uint32_t original = ((uint32_t)data[1] | ((uint32_t)data[2] << 8) | ((uint32_t)data[3] << 16)) & SizeMask;
  size_t coded = size - PrefixSize;

  std::vector<uint8_t> archive(HeaderSize + coded + 1, 0);
  uint8_t* h = archive.data();
  PutLe16(h + HdrSize, HeaderSize);
  h[HdrMethod] = '-';
  h[HdrMethod + 1] = 'l';
  h[HdrMethod + 2] = 'h';
  h[HdrMethodChar] = (uint8_t)method;
  h[HdrMethodChar + 1] = '-';
  PutLe32(h + HdrCompressedSize, (uint32_t)coded);
  PutLe32(h + HdrOriginalSize, original);
  h[HdrLevel] = 2;
  h[HdrOsId] = 'U';
  PutLe16(h + HdrFirstNextSize, CrcRecordSize);
  h[CrcRecord] = 0x00;
  PutLe16(h + CrcRecord + 3, NameRecordSize);
  h[NameRecord] = 0x01;
  h[NameRecord + 1] = 'f';
  uint16_t crc = ReferenceCrc16(h, HeaderSize);
  PutLe16(h + CrcRecord + 1, crc);
  for (size_t i = 0; i < coded; ++i) h[HeaderSize + i] = data[PrefixSize + i];

  PlaceArchive(archive.data(), archive.size());
  ResetWorkArea();
  // The data CRC is unknown here, so a finished decode counts as clean.
  FuzzInputClean = RunDriver(TestMode) != -1;
  return 0;
}
