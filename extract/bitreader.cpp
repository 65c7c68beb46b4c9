// The careful bit reader: draws bytes one at a time, or as many as stand in
// inputBuffer, into the bit buffer whose invariant bitreader.h states.
#include "extract/bitreader.h"

#include "core/messages.h"
#include "core/report.h"

enum : uint32_t {
  WindowBits = 16,
  ByteBits = 8,
  LastByteShift = BufferBits - ByteBits,  // where a drawn byte lands when bitCount is 0
  MaxConsumeStep = LastByteShift - WindowBits,  // keeps step + WindowBits within one refill
};
static_assert(MaxConsumeStep + WindowBits <= LastByteShift, "a refill reaches any target");

int ReadArchiveByte(FileHandle file, MemberSize wanted) {
  if (Work->inputPos >= InputBufferSize) {
    uint32_t k = wanted < InputBufferSize ? (uint32_t)wanted : InputBufferSize;
    uint32_t done = 0;
    if (!PlatformRead(file, Work->inputBuffer, k, &done) || done != k) return -1;
    Work->inputPos = 0;
  }
  return Work->inputBuffer[Work->inputPos++];
}

// Bytes of the current member that stand in inputBuffer, not yet drawn. The
// last read delivered min(remaining, 16384) bytes, so the buffer never holds
// more than compressedRemaining of them.
static uint32_t BufferedBytes() {
  if (Work->inputPos >= InputBufferSize) return 0;
  uint32_t left = InputBufferSize - Work->inputPos;
  return left < Work->compressedRemaining ? left : (uint32_t)Work->compressedRemaining;
}

[[noreturn]] static void ReadFailed() {
  ShowError(MsgReadError, Work->archivePath);
  AbortExtraction(1);
}

void RefillBits(uint32_t target) {
  SfxWorkArea* w = Work;
  while (w->bitCount < target) {
    uint32_t buffered = BufferedBytes();
    if (buffered == 0) {
      if (w->compressedRemaining == 0) {
        w->bitCount += ByteBits;  // past the member's end the stream is zero bits
        w->zeroBitsDrawn += ByteBits;
        continue;
      }
      w->compressedRemaining--;
      int b = ReadArchiveByte(w->archiveFile, w->compressedRemaining + 1);
      if (b < 0) ReadFailed();
      w->bitBuffer |= (BitWord)b << (LastByteShift - w->bitCount);
      w->bitCount += ByteBits;
      continue;
    }
    while (buffered > 0 && w->bitCount <= LastByteShift) {
      w->bitBuffer |= (BitWord)w->inputBuffer[w->inputPos++] << (LastByteShift - w->bitCount);
      w->bitCount += ByteBits;
      w->compressedRemaining--;
      buffered--;
    }
  }
  w->bitWindow = (uint16_t)(w->bitBuffer >> (BufferBits - WindowBits));
}

void ResetBits() {
  Work->bitBuffer = 0;
  Work->bitCount = WindowBits;  // an all-zero window, as if already drawn
  Work->zeroBitsDrawn = 0;
  Work->bitWindow = 0;
  Work->pendingByte = 0;
  Work->pendingBits = 0;
}

void LoadBits(uint8_t n) {
  uint32_t left = n;
  while (left > 0) {
    uint32_t step = left < MaxConsumeStep ? left : MaxConsumeStep;
    RefillBits(step + WindowBits);
    Work->bitBuffer <<= step;
    Work->bitCount -= step;
    left -= step;
  }
  Work->bitWindow = (uint16_t)(Work->bitBuffer >> (BufferBits - WindowBits));
}

uint16_t TakeBits(uint8_t n) {
  uint16_t value = n == 0 ? 0 : (uint16_t)(Work->bitWindow >> (WindowBits - n));
  LoadBits(n);
  return value;
}
