// Bounded operations on zero-terminated CP932 texts. Every copy into a
// fixed-size field goes through CopyText or AppendText, which never write
// past the field and always terminate it.
#pragma once
#include <stdint.h>

// Copies src into dest (size bytes, terminator included); cuts if needed.
void CopyText(char* dest, const char* src, uint32_t size);
// Appends src behind the text in dest, within size bytes in all.
void AppendText(char* dest, const char* src, uint32_t size);
uint32_t TextLength(const char* text);
// 1 when a and b are equal, ignoring the case of ASCII letters.
int TextEqualNoCase(const char* a, const char* b);
// 1 when text begins with prefix, ignoring the case of ASCII letters.
int TextStartsNoCase(const char* text, const char* prefix);
// 1 when the byte opens a CP932 double-byte character.
inline int IsLeadByte(uint8_t b) { return (b >= 0x80 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFD); }

// Little-endian fields inside header buffers and the config block.
inline uint16_t ReadLe16(const uint8_t* p) { return (uint16_t)(p[0] | (p[1] << 8)); }
inline uint32_t ReadLe32(const uint8_t* p) {
  return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}
