// The stub's signature as lzhsfx checks it: the headers stubimage lays out
// (core/image.h, core/pe.h) and the bytes of the notice its real-mode
// program prints. This file is compiled for CP932, as stubimage is, so the
// notice here is the very bytes stubimage stored.
#include "cli/stubfile.h"

#include <algorithm>
#include <cstring>

#include "base/text.h"

namespace {

constexpr char DosNotice[] = DosNoticeText;
constexpr size_t DosNoticeSize = sizeof DosNotice - 1;

}  // namespace

bool StubImageRecognised(const uint8_t* image, size_t size) {
  if (size < StubSignatureSize) return false;
  if (std::memcmp(image, DosMagic, sizeof DosMagic) != 0) return false;
  if (ReadLe32(image + NewHeaderPointerOffset) != StubPeOffset) return false;
  if (std::memcmp(image + StubPeOffset, PeSignatureBytes, PeSignatureLength) != 0) return false;
  const uint8_t* begin = image + RealModeOffset;
  const uint8_t* end = image + StubPeOffset;
  const uint8_t* text = (const uint8_t*)DosNotice;
  return std::search(begin, end, text, text + DosNoticeSize) != end;
}

bool StubConfigIsBlank(const uint8_t* image, size_t size) {
  if (size < StubConfigOffset + StubConfigSize) return false;
  const uint8_t* block = image + StubConfigOffset;
  return std::all_of(block, block + StubConfigSize, [](uint8_t b) { return b == 0; });
}
