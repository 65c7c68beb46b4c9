// A sequence is read whole or not at all: its length comes from its first
// byte, every later byte must be a continuation byte inside s, and the code
// point must need that many bytes.
#include "cli/utf8.h"

#include <cstdint>

namespace {

constexpr char32_t LastCodePoint = 0x10FFFF;
constexpr char32_t FirstSurrogate = 0xD800, LastSurrogate = 0xDFFF;
// The least code point a sequence of each length may carry.
constexpr char32_t Least[] = {0, 0, 0x80, 0x800, 0x10000};

}  // namespace

size_t Utf8SequenceAt(std::string_view s, size_t i, char32_t* cp) {
  uint8_t b = (uint8_t)s[i];
  size_t n = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
  if (n == 0 || i + n > s.size()) return 0;
  char32_t c = n == 1 ? b : b & (0x7F >> n);
  for (size_t k = 1; k < n; ++k) {
    uint8_t t = (uint8_t)s[i + k];
    if ((t & 0xC0) != 0x80) return 0;
    c = (c << 6) | (t & 0x3F);
  }
  if (c < Least[n] || c > LastCodePoint || (c >= FirstSurrogate && c <= LastSurrogate)) return 0;
  *cp = c;
  return n;
}

bool IsUtf8(std::string_view s) {
  char32_t cp;
  for (size_t i = 0; i < s.size();) {
    size_t n = Utf8SequenceAt(s, i, &cp);
    if (n == 0) return false;
    i += n;
  }
  return true;
}
