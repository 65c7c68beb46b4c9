// An MSB-first bit writer for hand-built compressed streams, independent of
// the engine's own bit packing.
#pragma once
#include <stdint.h>

#include <vector>

struct BitWriter {
  std::vector<uint8_t> bytes;
  int used = 8;  // bits used in the last byte

  // Appends the low n bits of value, most significant first.
  void Put(uint32_t value, int n) {
    for (int i = n - 1; i >= 0; i--) {
      if (used == 8) {
        bytes.push_back(0);
        used = 0;
      }
      if ((value >> i) & 1) bytes.back() |= (uint8_t)(0x80 >> used);
      used++;
    }
  }
  // A length entry of the code-length and offset codes: 3 bits below 7,
  // else 7 followed by (v - 7) one bits and a zero bit.
  void PutLengthEntry(int v) {
    if (v < 7) {
      Put(v, 3);
      return;
    }
    Put(7, 3);
    for (int i = 7; i < v; i++) Put(1, 1);
    Put(0, 1);
  }
};
