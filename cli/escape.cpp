#include "cli/escape.h"

#include <cstdint>

#include "cli/utf8.h"
#include "platform/cp932.h"

namespace {

constexpr uint8_t Del = 0x7F;
constexpr char32_t FirstC1 = 0x80, LastC1 = 0x9F;

void PutHex(std::string& out, uint8_t b) {
  static const char digits[] = "0123456789abcdef";
  out += "\\x";
  out += digits[b >> 4];
  out += digits[b & 0xF];
}

// Characters that move the cursor, drive the terminal, or reorder or break
// the line they are in without being seen.
bool Hidden(char32_t c) {
  return c < 0x20 || c == Del || (c >= FirstC1 && c <= LastC1) || c == 0x200E || c == 0x200F ||
         (c >= 0x2028 && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

std::string Escape(std::string_view s, bool keepLines) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    char32_t c = 0;
    size_t n = Utf8SequenceAt(s, i, &c);
    if (n == 0) {
      PutHex(out, (uint8_t)s[i++]);
      continue;
    }
    if (keepLines && (c == '\n' || (c == '\r' && i + 1 < s.size() && s[i + 1] == '\n'))) {
      if (c == '\n') out += '\n';
    } else if (c == '\\') {
      out += "\\\\";
    } else if (Hidden(c)) {
      for (size_t k = 0; k < n; ++k) PutHex(out, (uint8_t)s[i + k]);
    } else {
      out.append(s.substr(i, n));
    }
    i += n;
  }
  return out;
}

}  // namespace

std::string Escaped(std::string_view utf8) { return Escape(utf8, false); }

std::string EscapedText(std::string_view utf8) { return Escape(utf8, true); }

std::string EscapedCp932(const std::string& cp932) { return Escaped(ToUtf8(cp932)); }
