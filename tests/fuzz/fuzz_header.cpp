// Fuzz target: the member header reader (the host's, of every level) over
// arbitrary archive bytes. Every header is read as the walk reads it, its
// data skipped, its buffer freed;
// each input runs as given and again with its header CRCs repaired, so the
// name composition behind the CRC check is reached too.
#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "extract/crc16.h"
#include "extract/header.h"
#include "extract/levels.h"
#include "base/text.h"
#include "core/workarea.h"
#include "tests/fuzz/harness.h"

namespace {

int Inside(const uint8_t* p, uint32_t length, const uint8_t* buffer, uint32_t size) {
  return p >= buffer && length <= size && p - buffer <= (ptrdiff_t)(size - length);
}

// What a ready member promises: the buffer starts with its own size, the
// name records lie inside it, the method id has the form "-xxx-", and
// memberName is terminated and normalized.
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
  // The host admits any "-xxx-" of printable characters.
  const uint8_t* id = header + HdrMethod;
  FuzzCheck(id[0] == '-' && id[4] == '-', "a method id without its dashes");
  for (int i = 1; i < 4; i++) FuzzCheck(id[i] > ' ' && id[i] < 0x7F, "a method id not printable");
  FuzzCheck(Work->headerLength >= HdrName, "a header shorter than any level's fixed part");
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
  uint64_t position = 0;
  for (;;) {
    Work->header = nullptr;
    // The reader looks back at where the walk placed it.
    Work->nextHeaderOffset = position;
    result = ReadNextHeader();
    if (result == EndOfArchive) FuzzCheck(Work->header == nullptr, "end of archive with a buffer allocated");
    if (result != MemberReady) break;
    CheckReadyMember();
    position += (uint64_t)MemberHeaderLength() + MemberCompressedSize();
    PlatformFree(Work->header);
    Work->header = nullptr;
    if (position > size || !PlatformSeekSet(Work->archiveFile, (uint32_t)position)) break;
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
