// Bounded operations on zero-terminated CP932 texts. Every copy stays
// within size bytes and leaves the destination terminated (when size is at
// least 1); no routine splits a double-byte character it walks over.
#include "base/text.h"

enum : uint8_t {
  AsciiCaseBit = 0x20,
  AsciiQuote = '"',
  AsciiSpace = ' ',
  AsciiTab = '\t',
  ByteSeparatorFF = 0xFF,  // the separator byte of stored directory names
};

static uint8_t FoldAscii(uint8_t c) {
  return (c >= 'A' && c <= 'Z') ? (uint8_t)(c | AsciiCaseBit) : c;
}

void CopyText(char* dest, const char* src, uint32_t size) {
  if (size == 0) return;
  uint32_t i = 0;
  for (; i + 1 < size && src[i] != 0; i++) dest[i] = src[i];
  dest[i] = 0;
}

void AppendText(char* dest, const char* src, uint32_t size) {
  uint32_t used = 0;
  while (used < size && dest[used] != 0) used++;
  if (used >= size) return;  // not terminated inside its field: leave it alone
  CopyText(dest + used, src, size - used);
}

uint32_t TextLength(const char* text) {
  uint32_t n = 0;
  while (text[n] != 0) n++;
  return n;
}

// The second byte of a CP932 pair can look like an ASCII letter; it is
// compared exactly, so two different characters never fold together.
int TextEqualNoCase(const char* a, const char* b) {
  int trail = 0;
  for (uint32_t i = 0;; i++) {
    uint8_t ca = (uint8_t)a[i];
    uint8_t cb = (uint8_t)b[i];
    if (!trail) {
      ca = FoldAscii(ca);
      cb = FoldAscii(cb);
    }
    if (ca != cb) return 0;
    if (ca == 0) return 1;
    trail = !trail && IsLeadByte(ca);
  }
}

int TextStartsNoCase(const char* text, const char* prefix) {
  int trail = 0;
  for (uint32_t i = 0; prefix[i] != 0; i++) {
    uint8_t ct = (uint8_t)text[i];
    uint8_t cp = (uint8_t)prefix[i];
    if (!trail) {
      ct = FoldAscii(ct);
      cp = FoldAscii(cp);
    }
    if (ct != cp) return 0;
    trail = !trail && IsLeadByte(cp);
  }
  return 1;
}

void CopyWholeCharacters(char* dest, const char* src, uint32_t size) {
  if (size == 0) return;
  uint32_t i = 0;
  for (;;) {
    uint8_t c = (uint8_t)src[i];
    if (c == 0) break;
    uint32_t width = (IsLeadByte(c) && src[i + 1] != 0) ? 2 : 1;
    if (i + width + 1 > size) break;
    for (uint32_t k = 0; k < width; k++) dest[i + k] = src[i + k];
    i += width;
  }
  dest[i] = 0;
}

void StripQuotes(char* dest, const char* text, uint32_t size) {
  if (size == 0) return;
  const uint8_t* p = (const uint8_t*)text;
  while (*p == AsciiSpace || *p == AsciiTab) p++;
  if (*p != AsciiQuote) {
    CopyText(dest, (const char*)p, size);
    return;
  }
  p++;
  uint32_t i = 0;
  while (p[i] != 0 && p[i] != AsciiQuote && i + 1 < size) {
    dest[i] = (char)p[i];
    i++;
  }
  dest[i] = 0;
}

void NormalizeSeparators(char* text, char separator) {
  int trail = 0;
  for (uint32_t i = 0; text[i] != 0; i++) {
    uint8_t b = (uint8_t)text[i];
    if (trail) {
      trail = 0;
    } else if (IsLeadByte(b)) {
      trail = 1;
    } else if (b == '\\' || b == '/' || b == ByteSeparatorFF) {
      text[i] = separator;
    }
  }
}
