// The PE file format as the host tools see the stub: the signatures, the
// offsets of the fields they read or rewrite in the COFF header, the
// optional header (PE32 and PE32+, whose directories sit further on) and
// the section table, little-endian field access, the alignment rule and
// the checksum. stubimage lays out the bare stub with them, create rebuilds
// a branded stub's resources, and create, info and the reading commands
// recognise a stub of ours by them (with core/image.h, the stub's own
// layout inside such a file). Callers check that a field lies inside the
// file before they touch it.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <vector>

// The DOS header opens with "MZ"; its e_lfanew (NewHeaderPointerOffset,
// core/image.h) points at "PE\0\0".
constexpr uint8_t DosMagic[] = {'M', 'Z'};
constexpr uint8_t PeSignatureBytes[] = {'P', 'E', 0, 0};
constexpr uint32_t PeSignature = 0x00004550;  // the same four bytes, read little-endian
constexpr uint32_t PeSignatureLength = sizeof PeSignatureBytes;
static_assert(PeSignatureLength == 4, "PE signature");

// The COFF header, relative to the signature, and its end.
constexpr uint32_t CoffSectionCount = 6, CoffSymbolTable = 12, CoffOptionalSize = 20;
constexpr uint32_t CoffSize = 24;

// The optional header, relative to its start.
constexpr uint32_t OptMagic = 0, OptInitializedData = 8, OptSectionAlignment = 32,
                   OptFileAlignment = 36, OptSizeOfImage = 56, OptSizeOfHeaders = 60,
                   OptCheckSum = 64;
constexpr uint16_t Pe32Magic = 0x10B, Pe32PlusMagic = 0x20B;
// The directory count and the directories: further on in PE32+ (the
// 64-bit twin of the stub that the tests may run).
constexpr uint32_t OptDirCount32 = 92, OptDirs32 = 96, OptDirCount64 = 108, OptDirs64 = 112;
constexpr uint32_t DirectoryEntrySize = 8;  // its address, then its size
constexpr uint32_t ResourceDir = 2, CertificateDir = 4, DebugDir = 6;

// The section table.
constexpr uint32_t SectionHeaderSize = 40;
constexpr uint32_t SecVirtualSize = 8, SecVirtualAddress = 12, SecRawSize = 16, SecRawPointer = 20,
                   SecCharacteristics = 36;

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

// Appends a little-endian field.
inline void Append16(std::vector<uint8_t>& b, uint16_t v) {
  b.push_back((uint8_t)v);
  b.push_back((uint8_t)(v >> 8));
}
inline void Append32(std::vector<uint8_t>& b, uint32_t v) {
  Append16(b, (uint16_t)v);
  Append16(b, (uint16_t)(v >> 16));
}
// Whether size bytes at `at` lie within the first limit bytes.
inline bool Inside(uint64_t at, uint64_t size, uint64_t limit) {
  return at <= limit && size <= limit - at;
}

// value rounded up to a multiple of alignment (not 0).
constexpr uint64_t AlignUp(uint64_t value, uint64_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}
// Zeros appended up to a multiple of alignment.
inline void PadTo(std::vector<uint8_t>& b, uint64_t alignment) {
  b.resize(AlignUp(b.size(), alignment), 0);
}

// The standard PE checksum: a 16-bit sum with the carries folded back, the
// 4-byte checksum field at checksumAt counted as zero, plus the length.
// stubimage and create write the same sum for the same bytes.
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
