// The window of the host's older decoders: ringBuffer, of which the first
// windowSize bytes are used, written out each time it fills, as decode.cpp
// does for -lh4- to -lh7-. Output stops at the original size, so a match
// that reaches past it, or data that decodes to more, writes nothing more.
#include "extract/window_host.h"

#include "core/messages.h"
#include "core/report.h"
#include "core/workarea.h"
#include "extract/bitreader.h"
#include "extract/decode.h"
#include "extract/header.h"

namespace {

enum : uint32_t {
  WindowBits16 = 16,
  // Bytes of zero bits at the end of a member's data that an encoder may
  // leave out, as decode.cpp allows.
  MaxImplicitBits = 8 * 8,
};

void FlushWindow() {
  WriteOutput(Work->ringBuffer, Work->ringPos, Work->outputFile);
  if (Work->outputFile != InvalidFile) UpdateProgress(Work->decodedCount, Work->originalSize);
  Work->ringPos = 0;
}

}  // namespace

void BeginWindow(uint32_t bits, uint8_t fill) {
  SfxWorkArea* w = Work;
  w->windowBits = (uint16_t)bits;
  w->windowSize = 1u << bits;
  w->originalSize = MemberOriginalSize();
  w->compressedRemaining = MemberCompressedSize();
  w->crc = 0;
  w->decodedCount = 0;
  w->ringPos = 0;
  for (uint32_t i = 0; i < w->windowSize; i++) w->ringBuffer[i] = fill;
  ResetBits();
  LoadBits(WindowBits16);
}

int WindowDone() { return Work->decodedCount >= Work->originalSize; }

void PutByte(uint8_t b) {
  SfxWorkArea* w = Work;
  if (w->decodedCount >= w->originalSize) return;
  w->ringBuffer[w->ringPos++] = b;
  w->decodedCount++;
  if (w->ringPos == w->windowSize) FlushWindow();
}

void CopyWindow(uint32_t source, uint32_t length) {
  SfxWorkArea* w = Work;
  uint32_t mask = w->windowSize - 1;
  for (uint32_t j = 0; j < length && w->decodedCount < w->originalSize; j++)
    PutByte(w->ringBuffer[(source + j) & mask]);
}

uint32_t WindowBack(uint32_t distance) {
  return (Work->ringPos - distance - 1) & (Work->windowSize - 1);
}

void EndWindow() {
  if (Work->ringPos != 0) FlushWindow();
}

void StopPastData() {
  if (BitsUsedPastData() > MaxImplicitBits) DataBroken();
}

void DataBroken() {
  ShowError(MsgArchiveBroken, Work->archivePath);
  AbortExtraction(1);
}
