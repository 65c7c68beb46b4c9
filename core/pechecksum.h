// The PE checksum, shared by stubimage (which lays out the bare stub) and
// lzhsfx create (which rebuilds the resources of a branded one), so both
// write the same sum for the same bytes.
#pragma once
#include <stddef.h>
#include <stdint.h>

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
