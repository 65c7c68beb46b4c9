// The stub's signature as lzhsfx checks it: the headers stubimage lays out
// (core/image.h) and the notice its real-mode program prints. The notice is
// CP932 in the image; this file is compiled as UTF-8, so it is converted
// once before the comparison.
#include "cli/stubfile.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "base/text.h"
#include "platform/cp932.h"

namespace {

constexpr uint8_t ProgramMagic[] = {'M', 'Z'};
constexpr uint8_t PeSignature[] = {'P', 'E', 0, 0};
static_assert(sizeof PeSignature == PeSignatureLength, "PE signature");

const std::string& NoticeCp932() {
  static const std::string notice = [] {
    std::string cp932;
    return ToCp932(DosNoticeText, cp932) ? cp932 : std::string();
  }();
  return notice;
}

}  // namespace

bool StubImageRecognised(const uint8_t* image, size_t size) {
  if (size < StubSignatureSize) return false;
  if (std::memcmp(image, ProgramMagic, sizeof ProgramMagic) != 0) return false;
  if (ReadLe32(image + NewHeaderPointerOffset) != StubPeOffset) return false;
  if (std::memcmp(image + StubPeOffset, PeSignature, sizeof PeSignature) != 0) return false;
  const std::string& notice = NoticeCp932();
  if (notice.empty()) return false;
  const uint8_t* begin = image + RealModeOffset;
  const uint8_t* end = image + StubPeOffset;
  const uint8_t* text = (const uint8_t*)notice.data();
  return std::search(begin, end, text, text + notice.size()) != end;
}

bool StubConfigIsBlank(const uint8_t* image, size_t size) {
  if (size < StubConfigOffset + StubConfigSize) return false;
  const uint8_t* block = image + StubConfigOffset;
  return std::all_of(block, block + StubConfigSize, [](uint8_t b) { return b == 0; });
}
