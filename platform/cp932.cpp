// CP932 <-> UTF-8 with iconv. One converter per direction is opened on first
// use and kept: a name is converted for every member, and opening a
// converter costs far more than a conversion. Each call starts the converter
// from its initial state, so no call sees another's leftovers; nothing
// converts from a signal handler, so calls never overlap.
#include "platform/cp932.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>

namespace {

constexpr const char* Cp932Name = "CP932";
constexpr const char* Utf8Name = "UTF-8";
constexpr const char* Replacement = "\xEF\xBF\xBD";  // U+FFFD in UTF-8
constexpr size_t ChunkSize = 256;

// The kept converter from `from` to `to` (one of the two directions); (iconv_t)-1
// when none can be opened, tried again on the next call.
iconv_t KeptConverter(const char* to, const char* from) {
  static iconv_t toUtf8 = (iconv_t)-1;
  static iconv_t toCp932 = (iconv_t)-1;
  iconv_t& kept = std::strcmp(to, Utf8Name) == 0 ? toUtf8 : toCp932;
  if (kept == (iconv_t)-1) kept = iconv_open(to, from);
  return kept;
}

// Converts in to out; when skipBad is set, an unconvertible or truncated
// input byte is replaced and skipped, otherwise the conversion fails.
bool Convert(const char* to, const char* from, const std::string& in, std::string& out,
             bool skipBad) {
  out.clear();
  iconv_t cd = KeptConverter(to, from);
  if (cd == (iconv_t)-1) return false;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
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

bool FromCp932(const std::string& cp932, std::string& out) {
  return Convert(Utf8Name, Cp932Name, cp932, out, false);
}
