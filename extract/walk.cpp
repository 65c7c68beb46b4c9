// The one member walk: every next header is read at the previous member's
// data end, computed from its header alone, so what a decoder consumed (too
// little, or a stored copy of another length) never decides where the next
// member starts. Positions are kept in 64 bits, so no header can wrap them
// back over members already read; a data end beyond the file is reported,
// never sought to.
#include "extract/walk.h"

#include "base/text.h"
#include "core/workarea.h"
#include "extract/crc16.h"
#include "extract/levels.h"
#include "platform/platform.h"

static void ReleaseHeader() {
  if (Work->header != nullptr) PlatformFree(Work->header);
  Work->header = nullptr;
}

int OpenArchiveRun() {
  Work->header = nullptr;
  Work->archiveFile = PlatformOpenRead(Work->archivePath);
  if (Work->archiveFile == InvalidFile) return 0;
  if (!PlatformFileSize(Work->archiveFile, &Work->archiveSize)) {
    PlatformClose(Work->archiveFile);  // read-only; nothing to lose
    Work->archiveFile = InvalidFile;
    return 0;
  }
  Work->headerOffset = ArchiveStartOffset();
  Work->nextHeaderOffset = Work->headerOffset;
  CrcInit(CrcPolynomial);
  return 1;
}

HeaderReadResult NextMember() {
  ReleaseHeader();
  uint64_t at = Work->nextHeaderOffset;
  if (at > Work->archiveSize) return ArchiveBroken;
  if (!PlatformSeekSet(Work->archiveFile, (FileOffset)at)) return ArchiveBroken;
  HeaderReadResult result = ReadNextHeader();
  if (result != MemberReady) return result;
  Work->headerOffset = (FileOffset)at;
  Work->nextHeaderOffset = at + MemberHeaderLength() + MemberCompressedSize();
  return MemberReady;
}

void CloseArchiveRun() {
  if (Work->archiveFile != InvalidFile && Work->archiveFile != nullptr)
    PlatformClose(Work->archiveFile);  // read-only; nothing to lose
  Work->archiveFile = InvalidFile;
  ReleaseHeader();
}

FileOffset MemberHeaderOffset() { return Work->headerOffset; }
