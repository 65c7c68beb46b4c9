// Finding the archive inside another maker's self-extracting program, which
// names its start nowhere the host can read, and headers behind an end. Other readers take the first
// offset whose bytes look like a method id; here each such candidate must
// also be a whole header as the member walk reads it (its level, its
// checksum or CRC, its sizes), or the scan goes on past it, so a stray
// "-lh5-" in the program's code or data does not hide the archive behind.
#include "extract/scan_host.h"

#include "base/text.h"
#include "core/workarea.h"
#include "extract/crc16.h"
#include "extract/header.h"
#include "extract/methods.h"
#include "extract/walk.h"
#include "platform/platform.h"

namespace {

// Offsets below this are tried, as the other readers try them; the bytes
// looked at run to the method id's end.
constexpr uint32_t ScanLimit = 262152;
constexpr uint32_t ScanBytes = ScanLimit + HdrMethod + MethodIdLength;
// Behind an end the file is read in pieces this large, each overlapping the
// next by the bytes a candidate's method id takes beyond its offset.
constexpr uint32_t EndScanPiece = 1u << 16;
constexpr uint32_t CandidateBytes = HdrLevel + 1;
static_assert(CandidateBytes > HdrMethod + MethodIdLength, "a candidate's level lies past its id");

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
int MemberStartsAt(FileOffset offset) {
  Work->nextHeaderOffset = offset;
  if (NextMember() != MemberReady || Work->headerLevel > HeaderLevelThree) return 0;
  return Work->nextHeaderOffset <= Work->archiveSize && SizesAgree();
}

// Whether the header at bytes (available of them), whose first byte, the
// low byte of its length, is zero, reads whole once that byte is restored:
// at level 2 the length its record chain gives (its high byte the one
// stored) with the CRC its record holds, at levels 0 and 1 a length its name
// gives with the checksum its second byte holds. The bytes are left as
// they were.
int DamagedLengthAt(uint8_t* bytes, uint32_t available) {
  constexpr uint32_t LevelTwoLimit = 0xFFFF;
  constexpr uint32_t ByteMask = 0xFF;
  if (available < HdrFixedSize) return 0;
  uint8_t level = bytes[HdrLevel];
  if (level == HeaderLevelZero || level == HeaderLevelOne) {
    uint32_t name = bytes[HdrNameLength];
    uint32_t base = HdrName + name - BaseUncounted;
    uint32_t sizes[2] = {base + (level == HeaderLevelOne ? Level1TailSize : BaseDataCrcSize),
                         base + BaseDataCrcSize + Level0UnixExtSize};
    for (uint32_t k = 0; k < (level == HeaderLevelZero ? 2u : 1u); k++) {
      uint32_t size = sizes[k];
      if (size > ByteMask || size + BaseUncounted > available) continue;
      uint32_t sum = 0;
      for (uint32_t i = BaseUncounted; i < size + BaseUncounted; i++) sum += bytes[i];
      if ((sum & ByteMask) == bytes[HdrChecksum]) return 1;
    }
    return 0;
  }
  if (level != HeaderLevelTwo) return 0;
  uint32_t limit = available < LevelTwoLimit ? available : LevelTwoLimit;
  uint8_t high = bytes[HdrSize + 1];
  uint32_t pos = HdrFirstNextSize;
  uint8_t* record;
  uint32_t recordSize;
  uint8_t* crcField = nullptr;
  RecordStep step;
  while ((step = NextRecord(bytes, limit, &pos, &record, &recordSize)) == RecordFound)
    if (record[0] == ExtHeaderCrc && recordSize >= ExtMinSize + ExtWordDataSize) crcField = record + ExtTypeLength;
  uint32_t size = pos + SizeFieldLength;
  if (step != ChainEnd || crcField == nullptr || (size >> 8) != high) return 0;
  uint8_t stored[ExtWordDataSize] = {crcField[0], crcField[1]};
  bytes[HdrSize] = (uint8_t)(size & ByteMask);
  crcField[0] = crcField[1] = 0;
  Work->crc = 0;
  int sound = CrcUpdate(bytes, (int32_t)size) == ReadLe16(stored);
  bytes[HdrSize] = 0;
  crcField[0] = stored[0];
  crcField[1] = stored[1];
  return sound;
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

int FindHeaderAfterEnd(FileOffset end, FileOffset* offset) {
  uint8_t* bytes = (uint8_t*)PlatformAlloc(EndScanPiece + CandidateBytes);
  if (bytes == nullptr) return 0;
  int found = 0;
  if (OpenArchiveRun()) {
    for (FileOffset at = end; !found && at < Work->archiveSize; at += EndScanPiece) {
      uint32_t got = 0;
      if (!PlatformSeekSet(Work->archiveFile, at) ||
          !PlatformRead(Work->archiveFile, bytes, EndScanPiece + CandidateBytes, &got))
        break;
      for (uint32_t i = 0; !found && i < EndScanPiece && i + CandidateBytes <= got; i++) {
        const uint8_t* candidate = bytes + i;
        if (!LooksLikeMethodId(candidate + HdrMethod)) continue;
        int damaged = at + i == end && candidate[HdrSize] == 0 && DamagedLengthAt(bytes + i, got - i);
        if (!damaged && (at + i == end || !MemberStartsAt(at + i))) continue;
        *offset = at + i;
        found = 1;
      }
    }
  }
  CloseArchiveRun();
  PlatformFree(bytes);
  return found;
}
