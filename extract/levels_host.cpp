// The host tool's header reader. It reads headers of levels 0 to 3 with any
// method id of the form "-xxx-" and turns each into the state the level-2
// reader leaves: a level-2 header built in Work->header (the fixed part with
// the Unix time and the size of the real data, the method id as stored, the
// name parts, attributes and Unix records as level-2 records, a CRC record),
// checked and named by the level-2 reader's own code (CheckHeaderBuffer), so
// the walk, the driver and the commands read every level alike. What only
// the host uses (the on-disk length, the level, the Unix owner and mode)
// goes into the work area's host-only fields.
//
// A level-2 header with one of the stub's methods goes to ReadMemberHeader
// itself, so the stub and the host agree on every archive the stub reads.
#include "extract/levels.h"

#include "base/dostime.h"
#include "base/text.h"
#include "core/workarea.h"
#include "extract/crc16.h"
#include "extract/methods.h"
#include "platform/platform.h"

namespace {

enum : uint32_t {
  PeekSize = HdrName,                 // the fixed bytes every level shares, name length included
  NamePartLimit = 1024,               // bytes kept of a name part: memberName holds far fewer
  BaseHeaderLimit = 255 + BaseUncounted,  // a level-0/1 header's size is one byte
  RecordLimit = 65535,                // a level-1 record's size is 16 bits
  // A level-3 header may state any 32-bit size; what is read is kept to
  // this, far beyond the names and records any archiver writes.
  LongHeaderLimit = 1u << 20,
  ByteMask = 0xFF,
  RecordHeadroom = 16,                // size fields, types and the end of the chain
};

// The parts of a header of any level that the built level-2 header carries.
struct HeaderParts {
  uint8_t fileName[NamePartLimit];
  uint32_t fileNameLength;
  uint8_t haveFileName;
  uint8_t dirName[NamePartLimit];
  uint32_t dirNameLength;
  uint8_t attributeRecord[ExtWordDataSize];
  uint8_t haveAttributeRecord;
  uint8_t largeSizes[LargeSizesDataSize];
  uint8_t haveLargeSizes;
  uint8_t mode[ExtWordDataSize];
  uint8_t ids[2 * ExtWordDataSize];
  uint8_t user[UnixNameSize];
  uint32_t userLength;
  uint8_t group[UnixNameSize];
  uint32_t groupLength;
  uint32_t unixTime;
  uint8_t haveMode;
  uint8_t haveIds;
  uint8_t haveUnixTime;
  uint8_t osId;
  // Whether a header-CRC record was met, and its value.
  uint8_t haveCrc;
  uint16_t crc;
};

HeaderReadResult Refuse(HeaderFault fault) {
  Work->headerFault = fault;
  return InvalidHeader;
}

int ReadExactly(void* buffer, uint32_t count) {
  uint32_t done = 0;
  return PlatformRead(Work->archiveFile, buffer, count, &done) && done == count;
}

// "-xxx-" with three printable ASCII characters between the dashes: any
// method an archiver may have used, shown as it is when it cannot be decoded.
int IsMethodIdForm(const uint8_t* id) {
  if (id[0] != '-' || id[MethodIdLength - 1] != '-') return 0;
  for (uint32_t i = 1; i + 1 < MethodIdLength; i++)
    if (id[i] <= ' ' || id[i] >= 0x7F) return 0;
  return 1;
}

void KeepBytes(uint8_t* dest, uint32_t* length, uint32_t limit, const uint8_t* src, uint32_t count) {
  if (count > limit) count = limit;
  for (uint32_t i = 0; i < count; i++) dest[i] = src[i];
  *length = count;
}

// Takes what one record of type record[0] with dataLength bytes of data says
// into parts; the last record of a type counts. 0 when a record is too short
// for the value its type promises.
int TakeRecord(HeaderParts* parts, const uint8_t* record, uint32_t dataLength) {
  const uint8_t* data = record + ExtTypeLength;
  switch (record[0]) {
    case ExtHeaderCrc:
      if (dataLength < ExtWordDataSize) return 0;
      parts->haveCrc = 1;
      parts->crc = ReadLe16(data);
      break;
    case ExtFileName:
      KeepBytes(parts->fileName, &parts->fileNameLength, NamePartLimit, data, dataLength);
      parts->haveFileName = 1;
      break;
    case ExtDirName:
      KeepBytes(parts->dirName, &parts->dirNameLength, NamePartLimit, data, dataLength);
      break;
    case ExtAttributes:
      if (dataLength < ExtWordDataSize) return 0;
      parts->attributeRecord[0] = data[0];
      parts->attributeRecord[1] = data[1];
      parts->haveAttributeRecord = 1;
      break;
    case ExtLargeSizes:
      if (dataLength < LargeSizesDataSize) return 0;
      for (uint32_t i = 0; i < LargeSizesDataSize; i++) parts->largeSizes[i] = data[i];
      parts->haveLargeSizes = 1;
      break;
    case ExtUnixMode:
      if (dataLength < ExtWordDataSize) return 0;
      parts->mode[0] = data[0];
      parts->mode[1] = data[1];
      parts->haveMode = 1;
      break;
    case ExtUnixIds:
      if (dataLength < 2 * ExtWordDataSize) return 0;
      for (uint32_t i = 0; i < 2 * ExtWordDataSize; i++) parts->ids[i] = data[i];
      parts->haveIds = 1;
      break;
    case ExtGroupName:
      KeepBytes(parts->group, &parts->groupLength, UnixNameSize - 1, data, dataLength);
      break;
    case ExtUserName:
      KeepBytes(parts->user, &parts->userLength, UnixNameSize - 1, data, dataLength);
      break;
    case ExtUnixTime:
      if (dataLength < 4) return 0;
      parts->unixTime = ReadLe32(data);
      parts->haveUnixTime = 1;
      break;
    default:
      break;
  }
  return 1;
}

// Takes the record chain of the header in raw[0..total) into parts: size
// fields of width bytes, the first at first; each record counts its type,
// its data and the size field behind it, and must end inside the header,
// so every step moves forward and the walk ends. *crcField is where the
// header-CRC record's value lies, or null. FaultNone when the chain is whole.
HeaderFault TakeRecordChain(uint8_t* raw, uint32_t total, uint32_t first, uint32_t width,
                            HeaderParts* parts, uint8_t** crcField) {
  *crcField = nullptr;
  uint32_t least = width == LongSizeFieldLength ? ExtLongMinSize : ExtMinSize;
  for (uint32_t pos = first;;) {
    if (pos > total || total - pos < width) return FaultChain;
    uint32_t s = width == LongSizeFieldLength ? ReadLe32(raw + pos) : ReadLe16(raw + pos);
    if (s == 0) return FaultNone;
    if (s < least || s > total - pos - width) return FaultChain;
    uint8_t* record = raw + pos + width;
    if (!TakeRecord(parts, record, s - least)) return FaultChain;
    if (record[0] == ExtHeaderCrc) *crcField = record + ExtTypeLength;
    pos += s;
  }
}

// 1 when the header in raw[0..total) has the CRC its record at field holds.
int HeaderCrcMatches(uint8_t* raw, uint32_t total, uint8_t* field) {
  uint16_t stored = ReadLe16(field);
  field[0] = field[1] = 0;
  Work->crc = 0;
  uint16_t computed = CrcUpdate(raw, (int32_t)total);
  field[0] = (uint8_t)(stored & ByteMask);
  field[1] = (uint8_t)(stored >> 8);
  return computed == stored;
}

// ---- The built level-2 header -------------------------------------------

uint8_t* PutLe16(uint8_t* p, uint32_t value) {
  p[0] = (uint8_t)(value & ByteMask);
  p[1] = (uint8_t)((value >> 8) & ByteMask);
  return p + 2;
}

uint8_t* PutLe32(uint8_t* p, uint32_t value) {
  return PutLe16(PutLe16(p, value & 0xFFFF), value >> 16);
}

// Appends one record (its type and data) behind the size field at *field,
// which it fills in, and returns the record's own trailing size field.
uint8_t* PutRecord(uint8_t* field, uint8_t type, const uint8_t* data, uint32_t length) {
  PutLe16(field, ExtMinSize + length);
  uint8_t* record = field + SizeFieldLength;
  record[0] = type;
  for (uint32_t i = 0; i < length; i++) record[ExtTypeLength + i] = data[i];
  return record + ExtTypeLength + length;
}

// Builds the level-2 header from the fixed fields of the header read (fixed
// holds its first 21 bytes: method, sizes, time, attribute, level) and its
// parts, and checks it as the level-2 reader checks its own.
HeaderReadResult BuildLevelTwoHeader(const uint8_t* fixed, uint32_t dataSize, uint32_t stamp,
                                     uint16_t dataCrc, const HeaderParts* parts) {
  // The fixed part, the CRC record, two name parts, the attribute, mode and
  // id records, the two Unix names, the 64-bit sizes.
  const uint32_t record = ExtMinSize;
  uint32_t capacity = HdrFixedSize + record + ExtWordDataSize + 2 * (record + NamePartLimit) +
                      3 * (record + 2 * ExtWordDataSize) + 2 * (record + UnixNameSize) +
                      record + LargeSizesDataSize + RecordHeadroom;
  uint8_t* buffer = (uint8_t*)PlatformAlloc(capacity);
  if (buffer == nullptr) return NoMemory;
  Work->header = buffer;
  for (uint32_t i = HdrMethod; i < HdrMethod + MethodIdLength; i++) buffer[i] = fixed[i];
  PutLe32(buffer + HdrCompressedSize, dataSize);
  PutLe32(buffer + HdrOriginalSize, ReadLe32(fixed + HdrOriginalSize));
  PutLe32(buffer + HdrTimeStamp, stamp);
  buffer[HdrDosAttribute] = fixed[HdrDosAttribute];
  buffer[HdrLevel] = fixed[HdrLevel];
  PutLe16(buffer + HdrDataCrc, dataCrc);
  buffer[HdrOsId] = parts->osId;

  static const uint8_t NoCrcYet[ExtWordDataSize] = {0, 0};
  uint8_t* field = PutRecord(buffer + HdrFirstNextSize, ExtHeaderCrc, NoCrcYet, ExtWordDataSize);
  uint8_t* crcAt = field - ExtWordDataSize;
  if (parts->haveFileName)
    field = PutRecord(field, ExtFileName, parts->fileName, parts->fileNameLength);
  if (parts->dirNameLength != 0)
    field = PutRecord(field, ExtDirName, parts->dirName, parts->dirNameLength);
  if (parts->haveAttributeRecord)
    field = PutRecord(field, ExtAttributes, parts->attributeRecord, ExtWordDataSize);
  if (parts->haveMode) field = PutRecord(field, ExtUnixMode, parts->mode, ExtWordDataSize);
  if (parts->haveIds) field = PutRecord(field, ExtUnixIds, parts->ids, 2 * ExtWordDataSize);
  if (parts->groupLength != 0) field = PutRecord(field, ExtGroupName, parts->group, parts->groupLength);
  if (parts->userLength != 0) field = PutRecord(field, ExtUserName, parts->user, parts->userLength);
  if (parts->haveLargeSizes)
    field = PutRecord(field, ExtLargeSizes, parts->largeSizes, LargeSizesDataSize);
  field = PutLe16(field, 0);
  uint32_t size = (uint32_t)(field - buffer);
  PutLe16(buffer + HdrSize, size);
  Work->crc = 0;
  PutLe16(crcAt, CrcUpdate(buffer, (int32_t)size));
  return CheckHeaderBuffer(buffer, size);
}

uint64_t ReadLe64(const uint8_t* p) { return (uint64_t)ReadLe32(p + 4) << 32 | ReadLe32(p); }

// The 64-bit sizes of a header of level 2 or 3 replace both size fields of
// the level-2 header in Work->header (the 32-bit fields may hold anything):
// their low halves go there, the upper halves beside it. 0 when the packed
// size cannot be true.
int TakeLargeSizes(const uint8_t* sizes) {
  uint64_t packed = ReadLe64(sizes);
  uint64_t original = ReadLe64(sizes + LargeSizeLength);
  if (packed >= ImpossibleSize) return 0;
  PutLe32(Work->header + HdrCompressedSize, (uint32_t)packed);
  PutLe32(Work->header + HdrOriginalSize, (uint32_t)original);
  Work->compressedHigh = (uint32_t)(packed >> 32);
  Work->originalHigh = (uint32_t)(original >> 32);
  return 1;
}

// The host-only fields from the records of the level-2 header now in
// Work->header, built or read; a Unix time record replaces the fixed part's,
// and with largeSizes the 64-bit size record the size fields (levels 2 and
// 3 only: level-1 writers disagree on what it counts). 0 when a size is
// impossible.
int TakeUnixRecords(int largeSizes) {
  HeaderParts parts;
  parts.haveMode = parts.haveIds = parts.haveUnixTime = parts.haveLargeSizes = 0;
  parts.userLength = parts.groupLength = 0;
  uint8_t* buffer = Work->header;
  uint32_t size = ReadLe16(buffer + HdrSize);
  uint32_t pos = HdrFirstNextSize;
  uint8_t* record;
  uint32_t s;
  // The chain was walked and found whole by CheckHeaderBuffer.
  while (NextRecord(buffer, size, &pos, &record, &s) == RecordFound)
    if ((record[0] >= ExtUnixMode && record[0] <= ExtUnixTime) || record[0] == ExtLargeSizes)
      TakeRecord(&parts, record, s - ExtMinSize);
  Work->hasUnixMode = parts.haveMode;
  Work->unixMode = parts.haveMode ? ReadLe16(parts.mode) : 0;
  Work->hasUnixIds = parts.haveIds;
  Work->unixGid = parts.haveIds ? ReadLe16(parts.ids) : 0;
  Work->unixUid = parts.haveIds ? ReadLe16(parts.ids + ExtWordDataSize) : 0;
  for (uint32_t i = 0; i < parts.userLength; i++) Work->unixUser[i] = (char)parts.user[i];
  Work->unixUser[parts.userLength] = 0;
  for (uint32_t i = 0; i < parts.groupLength; i++) Work->unixGroup[i] = (char)parts.group[i];
  Work->unixGroup[parts.groupLength] = 0;
  if (parts.haveUnixTime) {
    PutLe32(buffer + HdrTimeStamp, parts.unixTime);
    Work->timeIsLocal = 0;
  }
  int levelTwoOrThree = buffer[HdrLevel] == HeaderLevelTwo || buffer[HdrLevel] == HeaderLevelThree;
  if (largeSizes && parts.haveLargeSizes && levelTwoOrThree) return TakeLargeSizes(parts.largeSizes);
  return 1;
}

void ClearParts(HeaderParts* parts) {
  uint8_t* p = (uint8_t*)parts;
  for (uint32_t i = 0; i < sizeof *parts; i++) p[i] = 0;
}

// ---- Levels 0 and 1 -------------------------------------------------------

// Reads the records that follow a level-1 base header, starting with one of
// size next, into parts; adds their bytes to *recordBytes and their CRC into
// Work->crc (a CRC record's value counted as zero). At most dataLimit bytes
// of records: they are counted in the packed size.
HeaderReadResult ReadLevelOneRecords(uint32_t next, uint32_t dataLimit, HeaderParts* parts,
                                     uint32_t* recordBytes) {
  uint8_t* record = (uint8_t*)PlatformAlloc(RecordLimit);
  if (record == nullptr) return NoMemory;
  HeaderReadResult result = MemberReady;
  while (next != 0) {
    if (next < ExtMinSize || next > dataLimit - *recordBytes) {
      result = Refuse(FaultChain);
      break;
    }
    if (!ReadExactly(record, next)) {
      result = Refuse(FaultTooShort);
      break;
    }
    *recordBytes += next;
    uint32_t dataLength = next - ExtMinSize;
    if (!TakeRecord(parts, record, dataLength)) {
      result = Refuse(FaultChain);
      break;
    }
    if (record[0] == ExtHeaderCrc) record[1] = record[2] = 0;
    CrcUpdate(record, (int32_t)next);
    next = ReadLe16(record + next - SizeFieldLength);
  }
  PlatformFree(record);
  return result;
}

HeaderReadResult ReadBaseHeader(const uint8_t* peek) {
  uint8_t base[BaseHeaderLimit];
  uint32_t total = peek[HdrBaseSize] + BaseUncounted;
  uint32_t level = peek[HdrLevel];
  uint32_t nameLength = peek[HdrNameLength];
  uint32_t afterName = HdrName + nameLength;
  uint32_t tail = level == HeaderLevelZero ? BaseDataCrcSize : Level1TailSize;
  if (total < afterName + tail) return Refuse(FaultTooShort);
  for (uint32_t i = 0; i < PeekSize; i++) base[i] = peek[i];
  if (!ReadExactly(base + PeekSize, total - PeekSize)) return Refuse(FaultTooShort);
  uint32_t sum = 0;
  for (uint32_t i = BaseUncounted; i < total; i++) sum += base[i];
  if ((sum & ByteMask) != base[HdrChecksum]) return Refuse(FaultCrc);
  if (!IsMethodIdForm(base + HdrMethod)) return Refuse(FaultMethod);

  HeaderParts parts;
  ClearParts(&parts);
  KeepBytes(parts.fileName, &parts.fileNameLength, NamePartLimit, base + HdrName, nameLength);
  parts.haveFileName = 1;
  parts.osId = OsIdMsdos;
  uint16_t dataCrc = ReadLe16(base + afterName);
  uint32_t packed = ReadLe32(base + HdrCompressedSize);
  uint32_t recordBytes = 0;
  if (level == HeaderLevelZero) {
    // What follows the CRC is an extension of the system that wrote it;
    // only the Unix one is understood. PMarc keeps a comment there.
    uint32_t extension = afterName + BaseDataCrcSize;
    if (total >= extension + Level0UnixExtSize && base[extension] == OsIdUnix &&
        !MethodIdIs(base + HdrMethod, "pm", base[HdrMethodChar])) {
      const uint8_t* unix = base + extension;
      parts.osId = OsIdUnix;
      parts.unixTime = ReadLe32(unix + Level0UnixTime);
      parts.haveUnixTime = 1;
      parts.mode[0] = unix[Level0UnixMode];
      parts.mode[1] = unix[Level0UnixMode + 1];
      parts.haveMode = 1;
      // This extension holds the user id first; the 0x51 record the group id.
      parts.ids[0] = unix[Level0UnixGid];
      parts.ids[1] = unix[Level0UnixGid + 1];
      parts.ids[2] = unix[Level0UnixUid];
      parts.ids[3] = unix[Level0UnixUid + 1];
      parts.haveIds = 1;
    }
  } else {
    parts.osId = base[afterName + BaseDataCrcSize];
    Work->crc = 0;
    CrcUpdate(base, (int32_t)total);
    HeaderReadResult records =
        ReadLevelOneRecords(ReadLe16(base + total - SizeFieldLength), packed, &parts, &recordBytes);
    if (records != MemberReady) return records;
    if (parts.haveCrc && Work->crc != parts.crc) return Refuse(FaultCrc);
  }
  Work->headerLength = total + recordBytes;
  // The level-2 header's stamp holds the DOS fields counted as UTC, which
  // gives the stub's DOS packing the same fields back; the host reads them
  // as local time from dosDateTime.
  Work->dosDateTime = ReadLe32(base + HdrTimeStamp);
  uint32_t stamp = parts.haveUnixTime ? parts.unixTime : DosDateTimeToUnix(Work->dosDateTime);
  Work->timeIsLocal = !parts.haveUnixTime;
  return BuildLevelTwoHeader(base, packed - recordBytes, stamp, dataCrc, &parts);
}

// ---- Level 3 --------------------------------------------------------------

HeaderReadResult ReadLongHeader(const uint8_t* peek) {
  uint8_t fixed[Hdr3FixedSize];
  for (uint32_t i = 0; i < PeekSize; i++) fixed[i] = peek[i];
  if (!ReadExactly(fixed + PeekSize, Hdr3FixedSize - PeekSize)) return Refuse(FaultTooShort);
  uint32_t total = ReadLe32(fixed + HdrTotalSize);
  if (total < Hdr3FixedSize) return Refuse(FaultTooShort);
  if (total > LongHeaderLimit) return Refuse(FaultChain);
  if (!IsMethodIdForm(fixed + HdrMethod)) return Refuse(FaultMethod);
  uint8_t* raw = (uint8_t*)PlatformAlloc(total);
  if (raw == nullptr) return NoMemory;
  for (uint32_t i = 0; i < Hdr3FixedSize; i++) raw[i] = fixed[i];
  HeaderParts parts;
  ClearParts(&parts);
  parts.osId = fixed[HdrOsId];
  HeaderReadResult result = MemberReady;
  uint8_t* crcField = nullptr;
  if (!ReadExactly(raw + Hdr3FixedSize, total - Hdr3FixedSize)) {
    result = Refuse(FaultTooShort);
  } else {
    HeaderFault fault =
        TakeRecordChain(raw, total, Hdr3FirstNextSize, LongSizeFieldLength, &parts, &crcField);
    if (fault != FaultNone) result = Refuse(fault);
  }
  if (result == MemberReady && crcField == nullptr) result = Refuse(FaultNoCrc);
  if (result == MemberReady && !HeaderCrcMatches(raw, total, crcField)) result = Refuse(FaultCrc);
  PlatformFree(raw);
  if (result != MemberReady) return result;
  Work->headerLength = total;
  Work->timeIsLocal = 0;
  uint32_t stamp = parts.haveUnixTime ? parts.unixTime : ReadLe32(fixed + HdrTimeStamp);
  return BuildLevelTwoHeader(fixed, ReadLe32(fixed + HdrCompressedSize), stamp,
                             ReadLe16(fixed + HdrDataCrc), &parts);
}

// ---- Level 2 --------------------------------------------------------------

// A level-2 header read by the host itself: one whose method the stub does
// not decode, one without a header-CRC record (as OS-9/68k and Atari
// archivers write them: accepted with a whole record chain as the only
// check), and OS-9/68k's, whose size field leaves out its own two bytes.
// A header with a CRC record goes to the level-2 reader's checks as it is;
// one without is rebuilt with a CRC record like the other levels.
HeaderReadResult ReadOwnLevelTwo(FileOffset at) {
  uint8_t sizeField[SizeFieldLength];
  if (!PlatformSeekSet(Work->archiveFile, at) || !ReadExactly(sizeField, SizeFieldLength))
    return Refuse(FaultTooShort);
  uint32_t total = ReadLe16(sizeField);
  if (total < HdrFixedSize) return Refuse(FaultTooShort);
  uint8_t* raw = (uint8_t*)PlatformAlloc(total + Os9SizeShortfall);
  if (raw == nullptr) return NoMemory;
  Work->header = raw;
  raw[HdrSize] = sizeField[0];
  raw[HdrSize + 1] = sizeField[1];
  if (!ReadExactly(raw + SizeFieldLength, total - SizeFieldLength)) return Refuse(FaultTooShort);
  HeaderParts parts;
  ClearParts(&parts);
  uint8_t* crcField = nullptr;
  HeaderFault fault = TakeRecordChain(raw, total, HdrFirstNextSize, SizeFieldLength, &parts, &crcField);
  int checked = fault == FaultNone && crcField != nullptr && HeaderCrcMatches(raw, total, crcField);
  // OS-9/68k's size is two bytes short, but a header that is whole and
  // right as stated is taken as stated, as the stub would take it.
  if (!checked && raw[HdrOsId] == OsIdOs9) {
    if (!ReadExactly(raw + total, Os9SizeShortfall)) return Refuse(FaultTooShort);
    total += Os9SizeShortfall;
    ClearParts(&parts);
    fault = TakeRecordChain(raw, total, HdrFirstNextSize, SizeFieldLength, &parts, &crcField);
  }
  if (fault != FaultNone) return Refuse(fault);
  Work->headerLength = total;
  if (crcField != nullptr) return CheckHeaderBuffer(raw, total);
  // Unchecked, the level byte is the one sign left that this is a header.
  if (raw[HdrLevel] != HeaderLevelTwo) return Refuse(FaultNoCrc);
  parts.osId = raw[HdrOsId];
  Work->header = nullptr;
  uint32_t stamp = parts.haveUnixTime ? parts.unixTime : ReadLe32(raw + HdrTimeStamp);
  HeaderReadResult result = BuildLevelTwoHeader(raw, ReadLe32(raw + HdrCompressedSize), stamp,
                                                ReadLe16(raw + HdrDataCrc), &parts);
  PlatformFree(raw);
  return result;
}

// A level-2 header: the stub's reading first for the stub's methods, so the
// two agree on every archive the stub reads; the host's own for the rest.
HeaderReadResult ReadLevelTwo(const uint8_t* peek, FileOffset at) {
  if (IsStubMethodId(peek + HdrMethod)) {
    if (!PlatformSeekSet(Work->archiveFile, at)) return EndOfArchive;
    HeaderReadResult result = ReadMemberHeader();
    // No CRC record, or a record chain or CRC that OS-9/68k's short size
    // broke: the host's own reading decides.
    HeaderFault fault = (HeaderFault)Work->headerFault;
    if (result != InvalidHeader || (fault != FaultNoCrc && fault != FaultCrc && fault != FaultChain)) {
      if (Work->header != nullptr) Work->headerLength = ReadLe16(Work->header + HdrSize);
      return result;
    }
    PlatformFree(Work->header);
    Work->header = nullptr;
  }
  HeaderReadResult result = ReadOwnLevelTwo(at);
  // As in ReadMemberHeader: behind a zero byte a broken header is no header.
  if (result == InvalidHeader && peek[HdrSize] == 0) {
    if (Work->header != nullptr) PlatformFree(Work->header);
    Work->header = nullptr;
    Work->headerFault = FaultNone;
    Work->headerLength = 0;
    return EndOfArchive;
  }
  return result;
}

HeaderReadResult ReadAnyLevel(FileOffset at) {
  uint8_t peek[PeekSize];
  uint32_t done = 0;
  int whole = PlatformRead(Work->archiveFile, peek, PeekSize, &done) && done == PeekSize;
  uint8_t level = whole ? peek[HdrLevel] : (uint8_t)HeaderLevelTwo;
  int levelTwo = level != HeaderLevelZero && level != HeaderLevelOne && level != HeaderLevelThree;
  if (!levelTwo && peek[HdrSize] == 0) return EndOfArchive;  // the end marker
  if (level == HeaderLevelThree && ReadLe16(peek + HdrSize) == Level3SizeWidth) return ReadLongHeader(peek);
  if (level == HeaderLevelZero || level == HeaderLevelOne) return ReadBaseHeader(peek);
  if (whole && levelTwo && IsMethodIdForm(peek + HdrMethod)) return ReadLevelTwo(peek, at);
  // Everything else is read exactly as the stub reads it, from the start.
  if (!PlatformSeekSet(Work->archiveFile, at)) return EndOfArchive;
  HeaderReadResult result = ReadMemberHeader();
  if (Work->header != nullptr) Work->headerLength = ReadLe16(Work->header + HdrSize);
  return result;
}

// What the host reads into a header beyond the level-2 reader: the Unix
// records, Amiga's directories stored as empty -lh0- members, and Unix
// symbolic links, whose name holds the link and, behind the first '|',
// where it points (split as bytes: Unix writers store no CP932); a link's
// entry gets the method character MethodLinkEntry. storedMethod keeps the
// id as stored. 0 when the header claims a link but names no target.
int TakeHostFacts() {
  uint8_t* header = Work->header;
  for (uint32_t i = 0; i < MethodIdLength; i++) Work->storedMethod[i] = (char)header[HdrMethod + i];
  if (!TakeUnixRecords(1)) return 0;
  if (header[HdrOsId] == OsIdAmiga && MethodIdIs(header + HdrMethod, "lh", MethodStored) &&
      MemberOriginalSize() == 0 && Work->fileNameLength == 0)
    header[HdrMethodChar] = MethodDirectory;
  Work->isLink = 0;
  Work->linkTarget[0] = '\0';
  if (MemberMethod() != MethodDirectory || !Work->hasUnixMode ||
      (Work->unixMode & UnixTypeMask) != UnixTypeLink)
    return 1;
  char* bar = Work->memberName;
  while (*bar != '\0' && *bar != LinkTargetMark) ++bar;
  if (*bar == '\0' || bar == Work->memberName || bar[1] == '\0') return 0;
  *bar = '\0';
  CopyText(Work->linkTarget, bar + 1, MemberNameSize);
  Work->isLink = 1;
  header[HdrMethodChar] = MethodLinkEntry;
  return 1;
}

// A directory entry that names nothing (level-0 writers lose directory
// names): the destination itself, so nothing to make.
int NamesNothing() {
  return MemberMethod() == MethodDirectory && Work->memberName[0] == '\0' &&
         MemberCompressedSize() == 0;
}

}  // namespace

// Nameless directory entries are passed over here, each counted into the
// length of the header that follows, so the walk and the commands that copy
// members keep their bytes with that member. Each one moves the reading
// forward by its whole header, so the passing over ends with the file.
HeaderReadResult ReadNextHeader() {
  // The walk has just placed the file at the header it means to read.
  FileOffset at = (FileOffset)Work->nextHeaderOffset;
  uint32_t passed = 0;
  for (;;) {
    Work->headerFault = FaultNone;
    Work->headerLength = 0;
    Work->timeIsLocal = 0;
    Work->compressedHigh = Work->originalHigh = 0;
    HeaderReadResult result = Work->stubHeadersOnly ? ReadMemberHeader() : ReadAnyLevel(at + passed);
    if (Work->stubHeadersOnly && Work->header != nullptr)
      Work->headerLength = ReadLe16(Work->header + HdrSize);
    if (result != MemberReady) return result;
    Work->headerLevel = Work->header[HdrLevel];
    if (Work->stubHeadersOnly) {
      TakeUnixRecords(0);
      return MemberReady;
    }
    if (!TakeHostFacts()) return Refuse(FaultChain);
    if (!NamesNothing()) {
      Work->headerLength += passed;
      return MemberReady;
    }
    passed += Work->headerLength;
    PlatformFree(Work->header);
    Work->header = nullptr;
    if (!PlatformSeekSet(Work->archiveFile, at + passed)) return EndOfArchive;
  }
}

uint32_t MemberHeaderLength() { return Work->headerLength; }

FileOffset ArchiveStartOffset() {
  return Work->resumeOffset != 0 ? Work->resumeOffset : Work->config.archiveOffset;
}
