// Fuzz target: the decoders alone, the stub's and the host's. The input is a
// method selector byte (its top bit: a Macintosh writer), an original size
// in three bytes (cut below FuzzOutputLimit) and the coded data; the target wraps it in a valid
// level-2 header and tests it through the driver, so every mutation lands
// in the coded data.
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "extract/driver.h"
#include "tests/fuzz/harness.h"
#include "tests/unit/support/lzhwriter.h"

namespace {

// The stub's methods first, in the order the corpus's selector bytes name
// them, then the host's older ones.
const char* const Methods[] = {"-lh0-", "-lh4-", "-lh5-", "-lh6-", "-lh7-", "-lh1-",
                               "-lh3-", "-lz5-", "-lzs-", "-lh2-", "-pm1-", "-pm2-"};
enum : size_t { PrefixSize = 4, MethodCount = sizeof Methods / sizeof Methods[0] };
constexpr uint8_t MacintoshBit = 0x80;
static_assert(MethodCount < MacintoshBit, "the selector's low bits name every method");
static_assert((FuzzOutputLimit & (FuzzOutputLimit - 1)) == 0, "the limit works as a mask");
constexpr uint32_t SizeMask = FuzzOutputLimit - 1;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInputClean = 0;
  if (size < PrefixSize) return -1;
  LzhMember member;
  member.method = Methods[(data[0] & ~MacintoshBit) % MethodCount];
  member.originalSize = ((uint32_t)data[1] | ((uint32_t)data[2] << 8) | ((uint32_t)data[3] << 16)) & SizeMask;
  member.data.assign(reinterpret_cast<const char*>(data) + PrefixSize, size - PrefixSize);
  // The selector's top bit makes the writer a Macintosh one, whose
  // members are decoded twice, to look for a MacBinary header first.
  member.osId = (data[0] & MacintoshBit) ? (uint8_t)OsIdMacintosh : (uint8_t)OsIdUnix;
  member.records = {FileNameRecord("f")};
  std::vector<uint8_t> archive = LzhArchive({member});

  PlaceArchive(archive.data(), archive.size());
  ResetWorkArea();
  // The data CRC stored is that of the coded bytes, not of what they decode
  // to, so a finished decode counts as clean whatever the CRC check said.
  FuzzInputClean = RunDriver(TestMode) != -1;
  return 0;
}
