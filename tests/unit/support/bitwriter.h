// Test-side helpers independent of the engine: an MSB-first bit writer for
// hand-built compressed streams and a bitwise CRC-16/ARC.
#pragma once
#include <stdint.h>

#include <string>
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

// CRC-16/ARC computed bit by bit, for checking the engine's table version.
inline uint16_t ReferenceCrc16(const uint8_t* p, size_t n, uint16_t crc = 0) {
  for (size_t i = 0; i < n; i++) {
    crc ^= p[i];
    for (int b = 0; b < 8; b++) crc = (crc & 1) ? (uint16_t)((crc >> 1) ^ 0xA001) : (uint16_t)(crc >> 1);
  }
  return crc;
}
inline uint16_t ReferenceCrc16(const std::string& s) {
  return ReferenceCrc16(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}
