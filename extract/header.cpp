// Reads one level-2 member header straight from archiveFile into a buffer of
// exactly its size (any length from 26 to 65535), walks its extended-header
// chain, verifies its CRC and composes memberName. Every read stays inside
// the header buffer, every walk ends, and memberName is always terminated.
#include "extract/header.h"

#include "extract/crc16.h"
#include "platform/platform.h"
#include "startup/text.h"
#include "startup/workarea.h"

enum : uint8_t {
  ExtHeaderCrc = 0x00,
  ExtFileName = 0x01,
  ExtDirName = 0x02,
  ExtAttributes = 0x40,
  ByteSeparator = 0xFF,
};

// An extended record is its type byte, its data and its own nextSize field.
enum : uint32_t {
  SizeFieldLength = 2,
  ExtTypeLength = 1,
  ExtMinSize = ExtTypeLength + SizeFieldLength,
  ExtWordDataSize = 2,  // the CRC and attribute records carry a 16-bit value
};

// The bytes of "-lh?-" other than the method character.
static const char MethodPrefix[] = "-lh";
enum : uint32_t { MethodPrefixLength = 3, HdrMethodEnd = HdrMethod + 4 };

static int IsAcceptedMethod(uint8_t c) {
  return c == '0' || c == '4' || c == '5' || c == '6' || c == '7' || c == 'd';
}

static int IsAttributeSystem(uint8_t osId) { return osId == 'M' || osId == 'W' || osId == 'w'; }

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

// Walks the chain from the nextSize field at offset 24. A record must be at
// least 3 bytes and end inside the buffer; each step moves forward by at
// least 3 bytes, so the walk ends. 0 when the chain leaves the buffer.
static int WalkExtendedHeaders(uint32_t headerSize) {
  uint8_t* buffer = Work->header;
  uint32_t pos = HdrFirstNextSize;
  for (;;) {
    if (pos + SizeFieldLength > headerSize) return 0;
    uint32_t s = ReadLe16(buffer + pos);
    if (s == 0) return 1;
    if (s < ExtMinSize || pos + SizeFieldLength + s > headerSize) return 0;
    if (!ApplyRecord(buffer + pos + SizeFieldLength, s)) return 0;
    pos += s;
  }
}

// Appends up to length bytes of part to memberName at *used, stopping at a
// zero byte (returns 0 then: the name ends there) or when memberName is full.
static int AppendNamePart(const uint8_t* part, uint32_t length, uint32_t* used) {
  for (uint32_t i = 0; i < length; i++) {
    if (part[i] == 0) return 0;
    if (*used + 1 >= MemberNameSize) return 0;
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
  uint32_t used = 0;
  int whole = 1;
  if (Work->dirNameLength != 0) whole = AppendNamePart(Work->dirName, Work->dirNameLength, &used);
  if (whole) whole = AppendNamePart(Work->fileName, Work->fileNameLength, &used);
  Work->memberName[used] = 0;
  if (used + 1 >= MemberNameSize) DropSplitPair(used);
}

HeaderReadResult ReadMemberHeader() {
  uint8_t sizeField[SizeFieldLength];
  uint32_t done = 0;
  if (!PlatformRead(Work->archiveFile, sizeField, SizeFieldLength, &done) ||
      done != SizeFieldLength) {
    return EndOfArchive;
  }
  // The length is unsigned: the level-2 format allows headers up to 65535 bytes.
  uint32_t headerSize = ReadLe16(sizeField);
  if (headerSize == 0) return EndOfArchive;
  if (headerSize < HdrFixedSize) return InvalidHeader;

  uint8_t* buffer = (uint8_t*)PlatformAlloc(headerSize);
  if (buffer == nullptr) return NoMemory;
  Work->header = buffer;
  buffer[HdrSize] = sizeField[0];
  buffer[HdrSize + 1] = sizeField[1];
  uint32_t rest = headerSize - SizeFieldLength;
  if (!PlatformRead(Work->archiveFile, buffer + SizeFieldLength, rest, &done) || done != rest) {
    return InvalidHeader;
  }

  for (uint32_t i = 0; i < MethodPrefixLength; i++) {
    if (buffer[HdrMethod + i] != (uint8_t)MethodPrefix[i]) return InvalidHeader;
  }
  if (buffer[HdrMethodEnd] != '-' || !IsAcceptedMethod(buffer[HdrMethodChar])) {
    return InvalidHeader;
  }

  Work->headerCrcField = nullptr;
  Work->dirNameLength = 0;
  Work->fileNameLength = 0;
  Work->attributes = buffer[HdrDosAttribute];
  if (!WalkExtendedHeaders(headerSize)) return InvalidHeader;
  if (Work->headerCrcField == nullptr) return InvalidHeader;

  Work->headerCrcField[0] = 0;
  Work->headerCrcField[1] = 0;
  Work->crc = 0;
  if (CrcUpdate(buffer, (int32_t)headerSize) != Work->headerCrc) return InvalidHeader;

  ComposeMemberName();
  NormalizeSeparators(Work->memberName, '/');
  return MemberReady;
}

void NormalizeSeparators(char* text, char separator) {
  int trail = 0;
  for (uint32_t i = 0; text[i] != 0; i++) {
    uint8_t b = (uint8_t)text[i];
    if (trail) {
      trail = 0;
    } else if (IsLeadByte(b)) {
      trail = 1;
    } else if (b == '\\' || b == '/' || b == ByteSeparator) {
      text[i] = separator;
    }
  }
}

char MemberMethod() { return (char)Work->header[HdrMethodChar]; }
uint32_t MemberCompressedSize() { return ReadLe32(Work->header + HdrCompressedSize); }
uint32_t MemberOriginalSize() { return ReadLe32(Work->header + HdrOriginalSize); }
uint32_t MemberTimeStamp() { return ReadLe32(Work->header + HdrTimeStamp); }
uint16_t MemberDataCrc() { return ReadLe16(Work->header + HdrDataCrc); }
