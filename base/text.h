// The foundation every layer stands on: bounded operations on
// zero-terminated CP932 texts, the one double-byte lead test, separator
// normalising and little-endian reads. No OS call and no work area here.
// Every copy into a fixed-size field goes through CopyText, AppendText or
// CopyWholeCharacters, which never write past the field and always
// terminate it.
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
// Copies src into dest (size bytes), cut before a character that would not
// fit whole, so a CP932 pair is never split.
void CopyWholeCharacters(char* dest, const char* src, uint32_t size);
// Copies text into dest (size bytes) without leading blanks and without a
// surrounding pair of quotes.
void StripQuotes(char* dest, const char* text, uint32_t size);
// Turns single-byte '/', '\' and 0xFF into separator, skipping CP932 trail bytes.
void NormalizeSeparators(char* text, char separator);
// 1 when the byte opens a CP932 double-byte character.
inline int IsLeadByte(uint8_t b) { return (b >= 0x80 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFD); }
// 1 when the byte may close one. '/' never can, '\' can (0x5C ends many kanji).
inline int IsTrailByte(uint8_t b) { return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC); }

// Little-endian fields inside header buffers and the config block.
inline uint16_t ReadLe16(const uint8_t* p) { return (uint16_t)(p[0] | (p[1] << 8)); }
inline uint32_t ReadLe32(const uint8_t* p) {
  return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}
