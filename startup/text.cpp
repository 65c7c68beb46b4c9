// Bounded operations on zero-terminated CP932 texts. CopyText and AppendText
// never write past size bytes and always leave the destination terminated
// (when size is at least 1).
#include "startup/text.h"

enum : uint8_t { AsciiCaseBit = 0x20 };

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
