// Files from Macintosh archivers: the writer's OS id 'm' says nothing of
// whether it put a 128-byte MacBinary header in front of the data, so the
// host looks at the first 128 decoded bytes and strips the header only when
// every field agrees with the member: the name is the member's file name,
// the forks fill the original size, the time is the header's. The member
// is then decoded twice: once as far as those bytes, once in full with only
// the data fork put out. The CRC and the size checks cover the whole
// stream either way.
#include "extract/macbinary_host.h"

#include "base/text.h"
#include "core/workarea.h"
#include "extract/decode.h"
#include "extract/header.h"
#include "extract/levels.h"
#include "extract/olddecode_host.h"
#include "extract/walk.h"
#include "platform/posix_host.h"

namespace {

enum : uint32_t {
  MacHeaderSize = 128,
  MacNameLength = 0x01,      // the name's length, then the name
  MacNameField = 0x02,
  MacNameLimit = 63,
  MacDataForkSize = 0x53,    // big-endian 32-bit values
  MacResourceForkSize = 0x57,
  MacModified = 0x5F,        // seconds since 1904 in local time
  MacTailStart = 0x63,       // zeros to the end of the header
  ForkAlignment = 128,
  // Seconds from 1904 to 1970, and how far a Macintosh's local time may lie
  // from the header's time.
  MacEpochOffset = 2082844800u,
  MacTimeTolerance = 50400,
  InputEmpty = 0xFFFFFFFFu,
};
// Bytes that are zero in every MacBinary header without a CRC.
const uint8_t MacZeroBytes[] = {0x00, 0x4A, 0x52};

uint32_t ReadBe32(const uint8_t* p) {
  return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
}

// 1 when h is a MacBinary header that fits the current member; *keep
// receives the size of the fork that is put out.
int IsMacHeader(const uint8_t* h, uint32_t* keep) {
  for (uint8_t at : MacZeroBytes)
    if (h[at] != 0) return 0;
  for (uint32_t at = MacTailStart; at < MacHeaderSize; at++)
    if (h[at] != 0) return 0;
  uint32_t nameLength = h[MacNameLength];
  if (nameLength == 0 || nameLength > MacNameLimit || nameLength != Work->fileNameLength) return 0;
  for (uint32_t i = 0; i < MacNameLimit; i++) {
    uint8_t expected = i < nameLength ? Work->fileName[i] : 0;
    if (h[MacNameField + i] != expected) return 0;
  }
  uint64_t data = ReadBe32(h + MacDataForkSize), resource = ReadBe32(h + MacResourceForkSize);
  uint64_t total = MacHeaderSize + data + resource;
  if ((total + ForkAlignment - 1) / ForkAlignment * ForkAlignment != MemberOriginalSize()) return 0;
  uint32_t modified = ReadBe32(h + MacModified);
  if (modified < MacEpochOffset) return 0;
  int64_t apart = (int64_t)(modified - MacEpochOffset) - (int64_t)MemberTimeStamp();
  if (apart > MacTimeTolerance || apart < -(int64_t)MacTimeTolerance) return 0;
  *keep = (uint32_t)(data != 0 ? data : resource);
  return 1;
}

// Decodes the member from its first data byte, as the driver starts one.
void DecodeFromStart() {
  PlatformSeekSet(Work->archiveFile, MemberHeaderOffset() + MemberHeaderLength());
  Work->crc = 0;
  Work->inputPos = InputEmpty;
  DecodeByMethod();
}

void SetOriginalSize(uint32_t size) {
  uint8_t* field = Work->header + HdrOriginalSize;
  for (uint32_t i = 0; i < 4; i++) field[i] = (uint8_t)(size >> (8 * i));
}

}  // namespace

// Only a file written out can be narrowed; the message member's text is
// read as it stands.
int MemberMayHoldMacBinary() {
  return Work->header[HdrOsId] == OsIdMacintosh && MemberOriginalSize() >= MacHeaderSize &&
         Work->outputFile != InvalidFile;
}

void ExpandMacMember() {
  uint8_t head[MacHeaderSize] = {};
  uint32_t size = MemberOriginalSize();
  // A first pass that puts nothing out, shortened to the header's bytes.
  SetOriginalSize(MacHeaderSize);
  PlatformNarrowOutput(Work->outputFile, 0, 0, head, MacHeaderSize);
  DecodeFromStart();
  SetOriginalSize(size);
  uint32_t keep = 0;
  if (IsMacHeader(head, &keep))
    PlatformNarrowOutput(Work->outputFile, MacHeaderSize, keep, nullptr, 0);
  else
    PlatformNarrowOutput(Work->outputFile, 0, size, nullptr, 0);
  DecodeFromStart();
}
