// What the host's decoders of the older methods share: their output through
// the ring buffer in whole windows (WriteOutput, with progress), bounded by
// the member's original size, and the end of a member whose data runs out.
#pragma once
#include <stdint.h>

// Readies the work area for a member decoded through a window of 2^bits
// bytes whose every byte starts as fill, and the bit reader for its data.
void BeginWindow(uint32_t bits, uint8_t fill);
// 1 once the member's original size has been produced.
int WindowDone();
// Appends one byte (nothing past the original size).
void PutByte(uint8_t b);
// Appends length bytes copied from window position source on, as far as
// the original size allows; the copy may overlap what it writes.
void CopyWindow(uint32_t source, uint32_t length);
// Writes what the window still holds.
void EndWindow();
// Ends the run when the decoder has used more bits past the member's data
// than an encoder may leave out: what follows would only be made up.
void StopPastData();
// Ends the run: the member's data cannot be decoded.
[[noreturn]] void DataBroken();
// The window position a match that reaches back distance + 1 bytes starts at.
uint32_t WindowBack(uint32_t distance);
