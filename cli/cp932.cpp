// CP932 <-> UTF-8 with iconv. Each call opens its own converter, so the
// functions are safe to call from anywhere (including exit paths) and keep no
// state between calls.
#include "cli/cp932.h"

#include <iconv.h>

#include <cerrno>

namespace {

constexpr const char* Cp932Name = "CP932";
constexpr const char* Utf8Name = "UTF-8";
constexpr const char* Replacement = "\xEF\xBF\xBD";  // U+FFFD in UTF-8
constexpr size_t ChunkSize = 256;

// Converts in to out; when skipBad is set, an unconvertible or truncated
// input byte is replaced and skipped, otherwise the conversion fails.
bool Convert(const char* to, const char* from, const std::string& in, std::string& out,
             bool skipBad) {
  out.clear();
  iconv_t cd = iconv_open(to, from);
  if (cd == (iconv_t)-1) return false;
  char* src = const_cast<char*>(in.data());
  size_t srcLeft = in.size();
  char chunk[ChunkSize];
  bool ok = true;
  while (srcLeft > 0) {
    char* dst = chunk;
    size_t dstLeft = sizeof chunk;
    size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    out.append(chunk, sizeof chunk - dstLeft);
    if (r != (size_t)-1) continue;
    if (errno == E2BIG) continue;
    // EILSEQ (not in the source set) or EINVAL (cut off at the end).
    if (!skipBad) {
      ok = false;
      break;
    }
    out += Replacement;
    ++src;
    --srcLeft;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  iconv_close(cd);
  return ok;
}

}  // namespace

std::string ToUtf8(const std::string& cp932) {
  std::string out;
  if (!Convert(Utf8Name, Cp932Name, cp932, out, true)) {
    // No converter at all: keep ASCII, mark the rest.
    out.clear();
    for (unsigned char c : cp932) out += c < 0x80 ? std::string(1, (char)c) : Replacement;
  }
  return out;
}

bool ToCp932(const std::string& utf8, std::string& out) {
  return Convert(Cp932Name, Utf8Name, utf8, out, false);
}
