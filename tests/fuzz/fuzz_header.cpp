// Fuzz target: the member header reader over arbitrary archive bytes. Every
// header is read as the driver reads it, its data skipped, its buffer freed;
// each input runs as given and again with its header CRCs repaired, so the
// name composition behind the CRC check is reached too.
#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "extract/crc16.h"
#include "extract/header.h"
#include "base/text.h"
#include "core/workarea.h"
#include "tests/fuzz/harness.h"

namespace {

int Inside(const uint8_t* p, uint32_t length, const uint8_t* buffer, uint32_t size) {
  return p >= buffer && length <= size && p - buffer <= (ptrdiff_t)(size - length);
}

// What a ready member promises: the buffer starts with its own size, the
// name records lie inside it, the method is one of the six, and memberName
// is terminated and normalized.
void CheckReadyMember() {
  const uint8_t* header = Work->header;
  FuzzCheck(header != nullptr, "a ready member without a header buffer");
  uint32_t size = ReadLe16(header);
  FuzzCheck(size >= HdrFixedSize, "a ready member shorter than the fixed part");
  if (Work->fileNameLength != 0)
    FuzzCheck(Inside(Work->fileName, Work->fileNameLength, header, size), "file name outside the header");
  if (Work->dirNameLength != 0)
    FuzzCheck(Inside(Work->dirName, Work->dirNameLength, header, size), "directory name outside the header");
  FuzzCheck(Work->headerCrcField != nullptr && Inside(Work->headerCrcField, 2, header, size),
            "header CRC field outside the header");
  char method = MemberMethod();
  FuzzCheck(method == '0' || (method >= '4' && method <= '7') || method == 'd', "method outside the six");
  FuzzCheck(MemberNameIsNormal(), "memberName unterminated or not normalized");
}

// 1 when every header up to the end of the archive was read.
int ReadAllHeaders(const uint8_t* data, size_t size) {
  const char* path = PlaceArchive(data, size);
  ResetWorkArea();
  CrcInit(CrcPolynomial);
  Work->archiveFile = PlatformOpenRead(path);
  FuzzCheck(Work->archiveFile != InvalidFile, "the placed archive cannot be opened");
  HeaderReadResult result;
  for (;;) {
    Work->header = nullptr;
    result = ReadMemberHeader();
    if (result == EndOfArchive) FuzzCheck(Work->header == nullptr, "end of archive with a buffer allocated");
    if (result != MemberReady) break;
    CheckReadyMember();
    uint32_t skip = MemberCompressedSize();
    PlatformFree(Work->header);
    Work->header = nullptr;
    if (!PlatformSeekForward(Work->archiveFile, skip)) break;
  }
  int clean = result == EndOfArchive;
  if (Work->header != nullptr) PlatformFree(Work->header);
  Work->header = nullptr;
  PlatformClose(Work->archiveFile);  // read-only; nothing to flush
  Work->archiveFile = InvalidFile;
  return clean;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInputClean = ReadAllHeaders(data, size);
  std::vector<uint8_t> repaired(data, data + size);
  if (RepairHeaderCrcs(repaired.data(), repaired.size())) ReadAllHeaders(repaired.data(), repaired.size());
  return 0;
}
