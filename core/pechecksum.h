// What stubimage (which lays out the bare stub) and lzhsfx create (which
// rebuilds the resources of a branded one) both do to a PE file in memory:
// little-endian field access and the checksum, so both write the same sum
// for the same bytes. Callers check that a field lies inside the file.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <vector>

inline uint16_t Get16(const std::vector<uint8_t>& b, size_t at) {
  return (uint16_t)(b[at] | (b[at + 1] << 8));
}
inline uint32_t Get32(const std::vector<uint8_t>& b, size_t at) {
  return (uint32_t)b[at] | ((uint32_t)b[at + 1] << 8) | ((uint32_t)b[at + 2] << 16) |
         ((uint32_t)b[at + 3] << 24);
}
inline void Put16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
  b[at] = (uint8_t)v;
  b[at + 1] = (uint8_t)(v >> 8);
}
inline void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; i++) b[at + i] = (uint8_t)(v >> (8 * i));
}

// The standard PE checksum: a 16-bit sum with the carries folded back, the
// 4-byte checksum field at checksumAt counted as zero, plus the length.
inline uint32_t PeChecksum(const uint8_t* file, size_t size, size_t checksumAt) {
  uint64_t sum = 0;
  for (size_t i = 0; i + 1 < size; i += 2) {
    if (i == checksumAt || i == checksumAt + 2) continue;
    sum += (uint32_t)(file[i] | (file[i + 1] << 8));
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  if (size % 2 != 0) {
    sum += file[size - 1];
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return (uint32_t)(sum + size);
}
