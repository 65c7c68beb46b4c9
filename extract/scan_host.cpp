// Finding the archive inside another maker's self-extracting program, which
// names its start nowhere the host can read. Other readers take the first
// offset whose bytes look like a method id; here each such candidate must
// also be a whole header as the member walk reads it (its level, its
// checksum or CRC, its sizes), or the scan goes on past it, so a stray
// "-lh5-" in the program's code or data does not hide the archive behind.
#include "extract/scan_host.h"

#include "core/workarea.h"
#include "extract/header.h"
#include "extract/methods.h"
#include "extract/walk.h"
#include "platform/platform.h"

namespace {

// Offsets below this are tried, as the other readers try them; the bytes
// looked at run to the method id's end.
constexpr uint32_t ScanLimit = 262152;
constexpr uint32_t ScanBytes = ScanLimit + HdrMethod + MethodIdLength;

// The method ids other readers look for: "-lh?-", "-lz4-", "-lz5-", "-lzs-",
// and "-pm?-" but for PMarc's own self-extractor id "-pms-".
int LooksLikeMethodId(const uint8_t* id) {
  if (id[0] != '-' || id[MethodIdLength - 1] != '-') return 0;
  uint8_t a = id[1], b = id[2], c = id[3];
  if (a == 'l' && b == 'h') return 1;
  if (a == 'l' && b == 'z') return c == MethodLzStored || c == MethodLz5 || c == MethodLzs;
  return a == 'p' && b == 'm' && c != 's';
}

// A stored member's data is its contents and a directory has none; any
// archiver's header says so.
int SizesAgree() {
  const uint8_t* id = Work->header + HdrMethod;
  if (MemberMethod() == MethodDirectory) return MemberCompressedSize() == 0;
  int stored = MethodIdIs(id, "lh", MethodStored) || MethodIdIs(id, "lz", MethodLzStored) ||
               MethodIdIs(id, "pm", MethodPmStored);
  return !stored || MemberCompressedSize() == MemberOriginalSize();
}

// 1 when a member of a known level whose data ends inside the file starts
// at offset.
int MemberStartsAt(uint32_t offset) {
  Work->nextHeaderOffset = offset;
  if (NextMember() != MemberReady || Work->headerLevel > HeaderLevelThree) return 0;
  return Work->nextHeaderOffset <= Work->archiveSize && SizesAgree();
}

}  // namespace

int FindArchiveInProgram(uint32_t* offset) {
  uint8_t* bytes = (uint8_t*)PlatformAlloc(ScanBytes);
  if (bytes == nullptr) return 0;
  Work->config.archiveOffset = 0;
  int found = 0;
  uint32_t size = 0;
  if (OpenArchiveRun() && PlatformRead(Work->archiveFile, bytes, ScanBytes, &size)) {
    for (uint32_t at = 0; !found && at < ScanLimit && at + HdrMethod + MethodIdLength <= size; at++) {
      if (!LooksLikeMethodId(bytes + at + HdrMethod) || !MemberStartsAt(at)) continue;
      *offset = at;
      found = 1;
    }
  }
  CloseArchiveRun();
  PlatformFree(bytes);
  return found;
}
