// -lzs- and -lz5-, the LArc methods. Both name a match by where its bytes
// stand in the window rather than how far back, counting from the window
// position at which the encoder wrote its first byte; the window here is
// written from position 0, so a stated position p is window position
// p - start. -lz5- starts with a window already holding a fixed pattern
// that matches may copy from: each byte value 13 times, the values rising,
// the values falling, 128 zeros, spaces, and zeros where the first bytes go.
#include "extract/olddecode_host.h"

#include "base/format.h"
#include "core/workarea.h"
#include "extract/bitreader.h"
#include "extract/window_host.h"

namespace {

enum : uint32_t {
  ByteBits = 8,
  Lz5RunLength = 13,   // each byte value's run at the window's start
  Lz5ZeroRun = 128,
  ByteValues = 256,
  Lz5HighPositionMask = 0xF0,
  Lz5LengthMask = 0x0F,
  Lz5HighPositionShift = 4,
};

// Places the byte the -lz5- encoder's window holds at position p where
// this decoder's positions put it.
void PresetLz5(uint32_t p, uint32_t value) {
  Work->ringBuffer[(p - Lz5Start) & (Work->windowSize - 1)] = (uint8_t)value;
}

// The -lz5- window before the first byte, in the encoder's positions 0 to
// 4095. Every position is written: those from Lz5Start on, where the first
// bytes will go, hold zeros until then, and a match may copy them first.
void FillLz5Window() {
  uint32_t p = 0;
  for (uint32_t value = 0; value < ByteValues; value++)
    for (uint32_t k = 0; k < Lz5RunLength; k++) PresetLz5(p++, value);
  for (uint32_t value = 0; value < ByteValues; value++) PresetLz5(p++, value);
  for (uint32_t value = 0; value < ByteValues; value++) PresetLz5(p++, ByteValues - 1 - value);
  for (uint32_t k = 0; k < Lz5ZeroRun; k++) PresetLz5(p++, 0);
  for (; p < Lz5Start; p++) PresetLz5(p, ' ');
  for (; p < Work->windowSize; p++) PresetLz5(p, 0);
}

}  // namespace

void DecodeLzs() {
  BeginWindow(LzsWindowBits, ' ');
  uint32_t mask = Work->windowSize - 1;
  while (!WindowDone()) {
    StopPastData();
    if (TakeBits(1)) {
      PutByte((uint8_t)TakeBits(ByteBits));
    } else {
      uint32_t position = TakeBits(LzsWindowBits);
      uint32_t length = TakeBits(LzsLengthBits) + LzsMinMatch;
      CopyWindow((position - LzsStart) & mask, length);
    }
  }
  EndWindow();
}

void DecodeLz5() {
  BeginWindow(Lz5WindowBits, ' ');
  FillLz5Window();
  uint32_t mask = Work->windowSize - 1;
  Work->lzFlagCount = 0;
  while (!WindowDone()) {
    StopPastData();
    if (Work->lzFlagCount == 0) {
      Work->lzFlags = (uint8_t)TakeBits(ByteBits);
      Work->lzFlagCount = ByteBits;
    }
    uint32_t literal = Work->lzFlags & 1;
    Work->lzFlags >>= 1;
    Work->lzFlagCount--;
    uint32_t first = TakeBits(ByteBits);
    if (literal) {
      PutByte((uint8_t)first);
    } else {
      uint32_t second = TakeBits(ByteBits);
      uint32_t position = first | ((second & Lz5HighPositionMask) << Lz5HighPositionShift);
      uint32_t length = (second & Lz5LengthMask) + Lz5MinMatch;
      CopyWindow((position - Lz5Start) & mask, length);
    }
  }
  EndWindow();
}
