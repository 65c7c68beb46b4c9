// Reads one level-2 member header straight from archiveFile into a buffer of
// exactly its size (any length from 26 to 65535), walks its extended-header
// chain, verifies its CRC and composes memberName. Every read stays inside
// the header buffer, every walk ends, and memberName is always terminated.
#include "extract/header.h"

#include "extract/crc16.h"
#include "platform/platform.h"
#include "base/text.h"
#include "core/workarea.h"

static int IsAttributeSystem(uint8_t osId) {
  return osId == OsIdMsdos || osId == OsIdWindows || osId == OsIdWindows95;
}

// Applies one record of size s (type byte at record[0]); 0 when the record is
// too short to hold the value its type promises.
static int ApplyRecord(uint8_t* record, uint32_t s) {
  uint8_t* data = record + ExtTypeLength;
  uint32_t dataLength = s - ExtMinSize;
  switch (record[0]) {
    case ExtHeaderCrc:
      if (dataLength < ExtWordDataSize) return 0;
      Work->headerCrc = ReadLe16(data);
      Work->headerCrcField = data;
      break;
    case ExtFileName:
      Work->fileName = data;
      Work->fileNameLength = (uint16_t)dataLength;
      break;
    case ExtDirName:
      Work->dirName = data;
      Work->dirNameLength = (uint16_t)dataLength;
      break;
    case ExtAttributes:
      if (!IsAttributeSystem(Work->header[HdrOsId])) break;
      if (dataLength < ExtWordDataSize) return 0;
      Work->attributes = ReadLe16(data);
      break;
    default:
      break;
  }
  return 1;
}

// A record must be at least 3 bytes and end inside the buffer; each step
// moves forward by at least 3 bytes, so a walk ends.
RecordStep NextRecord(uint8_t* buffer, uint32_t headerSize, uint32_t* pos, uint8_t** record,
                      uint32_t* size) {
  uint32_t at = *pos;
  if (at + SizeFieldLength > headerSize) return ChainBroken;
  uint32_t s = ReadLe16(buffer + at);
  if (s == 0) return ChainEnd;
  if (s < ExtMinSize || at + SizeFieldLength + s > headerSize) return ChainBroken;
  *record = buffer + at + SizeFieldLength;
  *size = s;
  *pos = at + s;
  return RecordFound;
}

// 0 when the chain leaves the buffer or a record is too short for its value.
static int WalkExtendedHeaders(uint32_t headerSize) {
  uint32_t pos = HdrFirstNextSize;
  uint8_t* record;
  uint32_t s;
  RecordStep step;
  while ((step = NextRecord(Work->header, headerSize, &pos, &record, &s)) == RecordFound)
    if (!ApplyRecord(record, s)) return 0;
  return step == ChainEnd;
}

// Appends up to length bytes of part to memberName at *used, stopping at a
// zero byte (returns 0 then: the name ends there) or when memberName is full
// (nameCut is set then: the stored name is longer than memberName holds).
static int AppendNamePart(const uint8_t* part, uint32_t length, uint32_t* used) {
  for (uint32_t i = 0; i < length; i++) {
    if (part[i] == 0) return 0;
    if (*used + 1 >= MemberNameSize) {
      Work->nameCut = 1;
      return 0;
    }
    Work->memberName[(*used)++] = (char)part[i];
  }
  return 1;
}

// Drops a CP932 lead byte left without its second byte by the cut at the end
// of memberName.
static void DropSplitPair(uint32_t used) {
  uint32_t i = 0;
  while (i < used) {
    if (IsLeadByte((uint8_t)Work->memberName[i])) {
      if (i + 1 >= used) {
        Work->memberName[i] = 0;
        return;
      }
      i += 2;
    } else {
      i++;
    }
  }
}

static void ComposeMemberName() {
  Work->nameCut = 0;
  uint32_t used = 0;
  int whole = 1;
  if (Work->dirNameLength != 0) whole = AppendNamePart(Work->dirName, Work->dirNameLength, &used);
  if (whole) whole = AppendNamePart(Work->fileName, Work->fileNameLength, &used);
  Work->memberName[used] = 0;
  if (used + 1 >= MemberNameSize) DropSplitPair(used);
}

static HeaderReadResult Refuse(HeaderFault fault) {
  Work->headerFault = fault;
  return InvalidHeader;
}

// The record chain, the CRC and the name of a level-2 header whose method
// has been checked. Inlined into ReadHeaderBody, so the stub's reader stays
// one function.
__attribute__((always_inline)) static inline HeaderReadResult CheckRecords(uint8_t* buffer,
                                                                          uint32_t headerSize) {
  Work->headerCrcField = nullptr;
  Work->dirNameLength = 0;
  Work->fileNameLength = 0;
  Work->attributes = buffer[HdrDosAttribute];
  if (!WalkExtendedHeaders(headerSize)) return Refuse(FaultChain);
  if (Work->headerCrcField == nullptr) return Refuse(FaultNoCrc);

  Work->headerCrcField[0] = 0;
  Work->headerCrcField[1] = 0;
  Work->crc = 0;
  if (CrcUpdate(buffer, (int32_t)headerSize) != Work->headerCrc) return Refuse(FaultCrc);

  ComposeMemberName();
  NormalizeSeparators(Work->memberName, '/');
  return MemberReady;
}

// Reads and checks the header whose size field is sizeField.
static HeaderReadResult ReadHeaderBody(const uint8_t* sizeField) {
  uint32_t headerSize = ReadLe16(sizeField);
  if (headerSize < HdrFixedSize) return Refuse(FaultTooShort);

  uint8_t* buffer = (uint8_t*)PlatformAlloc(headerSize);
  if (buffer == nullptr) return NoMemory;
  Work->header = buffer;
  buffer[HdrSize] = sizeField[0];
  buffer[HdrSize + 1] = sizeField[1];
  uint32_t rest = headerSize - SizeFieldLength;
  uint32_t done = 0;
  if (!PlatformRead(Work->archiveFile, buffer + SizeFieldLength, rest, &done) || done != rest) {
    return Refuse(FaultTooShort);
  }

  if (!IsStubMethodId(buffer + HdrMethod)) return Refuse(FaultMethod);
  return CheckRecords(buffer, headerSize);
}

HeaderReadResult CheckHeaderBuffer(uint8_t* buffer, uint32_t headerSize) {
  return CheckRecords(buffer, headerSize);
}

HeaderReadResult ReadMemberHeader() {
  Work->headerFault = FaultNone;
  uint8_t sizeField[SizeFieldLength];
  uint32_t done = 0;
  if (!PlatformRead(Work->archiveFile, sizeField, SizeFieldLength, &done) ||
      done != SizeFieldLength) {
    return EndOfArchive;
  }
  // The length is unsigned: the level-2 format allows headers up to 65535 bytes.
  if (ReadLe16(sizeField) == 0) return EndOfArchive;
  HeaderReadResult result = ReadHeaderBody(sizeField);
  // A zero byte where a length begins is the end marker that many archives
  // carry, and anything may follow it (an old archiver's padding, a
  // signature appended to a signed program). It still opens a member when
  // what follows is a whole header with the right CRC: a header of a
  // multiple of 256 bytes starts with that zero byte too.
  if (result == InvalidHeader && sizeField[0] == 0) {
    if (Work->header != nullptr) PlatformFree(Work->header);
    Work->header = nullptr;
    Work->headerFault = FaultNone;
    return EndOfArchive;
  }
  return result;
}

// A size field joined with the upper half the host read from the 64-bit
// size record; where MemberSize has 32 bits (the stub) the field alone.
static inline MemberSize WithUpperHalf(uint32_t field, uint32_t upper) {
  if (sizeof(MemberSize) == sizeof(uint32_t)) return field;
  return (MemberSize)((uint64_t)upper << 32 | field);
}

char MemberMethod() { return (char)Work->header[HdrMethodChar]; }
MemberSize MemberCompressedSize() {
  return WithUpperHalf(ReadLe32(Work->header + HdrCompressedSize), Work->compressedHigh);
}
MemberSize MemberOriginalSize() {
  return WithUpperHalf(ReadLe32(Work->header + HdrOriginalSize), Work->originalHigh);
}
uint32_t MemberTimeStamp() { return ReadLe32(Work->header + HdrTimeStamp); }
uint16_t MemberDataCrc() { return ReadLe16(Work->header + HdrDataCrc); }
