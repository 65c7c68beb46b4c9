// The fuzz targets' common ground. The archive lives in a memfd so the
// engine reads it through its ordinary platform calls; the work area is one
// static record zeroed before every run, as start-up hands it over.
#include "tests/fuzz/harness.h"

#include <setjmp.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include "extract/driver.h"
#include "extract/header.h"
#include "platform/posix_host.h"
#include "core/workarea.h"
#include "tests/unit/support/lzhwriter.h"

namespace {

SfxWorkArea FuzzWork;
int ArchiveFd = -1;
char ArchivePathText[ArchivePathSize];

// Little-endian fields of the raw input, read only inside its bounds.
uint16_t Le16(const uint8_t* p) { return (uint16_t)(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t* p) {
  return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

int IsOpen(FileHandle file) { return file != nullptr && file != InvalidFile; }

// One header of the walk: where it starts and how long it says it is. The
// walk stops where the engine itself would stop reading members: a length
// field that is missing or 0, or a header that does not fit the input.
struct HeaderSpan {
  size_t start;
  size_t size;
};

// The header's level, as the host's reader tells them apart: 0, 1, 3 (with
// its first two bytes 4), or 2 for anything else.
uint8_t LevelAt(const uint8_t* header) {
  uint8_t level = header[HdrLevel];
  if (level == HeaderLevelZero || level == HeaderLevelOne) return level;
  if (level == HeaderLevelThree && Le16(header) == Level3SizeWidth) return level;
  return HeaderLevelTwo;
}

// The span is the header's base (levels 0 and 1, whose records are counted
// in the packed size) or whole header; the member's data, or level 1's
// records and data, follow it.
int NextHeader(const uint8_t* data, size_t total, size_t position, HeaderSpan* span) {
  if (position > total || total - position < HdrFixedSize) return 0;
  const uint8_t* header = data + position;
  size_t size;
  switch (LevelAt(header)) {
    case HeaderLevelZero:
    case HeaderLevelOne:
      size = header[HdrBaseSize] + BaseUncounted;
      if (header[HdrBaseSize] == 0 || size < HdrName) return 0;
      break;
    case HeaderLevelThree:
      if (total - position < Hdr3FixedSize) return 0;
      size = Le32(header + HdrTotalSize);
      if (size < Hdr3FixedSize) return 0;
      break;
    default:
      size = Le16(header);
      if (size < HdrFixedSize) return 0;
  }
  if (size > total - position) return 0;
  span->start = position;
  span->size = size;
  return 1;
}

// Where the member after this header begins (the header, then its data).
size_t FollowingMember(const uint8_t* data, const HeaderSpan& span) {
  return span.start + span.size + Le32(data + span.start + HdrCompressedSize);
}

// Offset of the last type-0 record's CRC value inside the header, or 0 when
// the chain holds none or leaves the header. Each record of size s follows a
// nextSize field (of width bytes) and ends with the next one, s bytes
// further on.
size_t CrcFieldOf(const uint8_t* header, size_t size, size_t first, size_t width) {
  const size_t overhead = 1 + width, crcRecordSize = overhead + 2;
  size_t field = first;
  size_t crcField = 0;
  while (field + width <= size) {
    size_t recordSize = width == 2 ? Le16(header + field) : Le32(header + field);
    if (recordSize == 0) return crcField;
    size_t record = field + width;
    if (recordSize < overhead || recordSize > size - record) return 0;
    if (header[record] == 0x00 && recordSize >= crcRecordSize) crcField = record + 1;
    field += recordSize;
  }
  return 0;
}

// Writes the CRC of count bytes at bytes (its own field counted as zero)
// into the field; 1 when that changed it.
int StoreCrc(uint8_t* bytes, size_t count, uint8_t* field) {
  uint8_t stored[2] = {field[0], field[1]};
  field[0] = field[1] = 0;
  uint16_t crc = ReferenceCrc16(bytes, count);
  field[0] = (uint8_t)(crc & 0xFF);
  field[1] = (uint8_t)(crc >> 8);
  return field[0] != stored[0] || field[1] != stored[1];
}

// Levels 0 and 1: the base header's 8-bit sum, then (level 1) the CRC record
// among the records behind it, over the base and the records. 1 when any
// byte changed.
int RepairBaseHeader(uint8_t* data, size_t total, const HeaderSpan& span) {
  uint8_t* header = data + span.start;
  uint32_t sum = 0;
  for (size_t i = BaseUncounted; i < span.size; ++i) sum += header[i];
  int changed = header[HdrChecksum] != (uint8_t)sum;
  header[HdrChecksum] = (uint8_t)sum;
  if (header[HdrLevel] != HeaderLevelOne) return changed;
  // The records run from the base's end; the chain must stay in the input.
  size_t end = span.size, crcField = 0;
  size_t next = Le16(header + span.size - SizeFieldLength);
  while (next != 0) {
    if (next < ExtMinSize || next > total - span.start - end) return changed;
    if (header[end] == 0x00 && next >= ExtMinSize + 2) crcField = end + 1;
    end += next;
    next = Le16(header + end - SizeFieldLength);
  }
  if (crcField != 0) changed |= StoreCrc(header, end, header + crcField);
  return changed;
}

}  // namespace

int FuzzInputClean = 0;

const char* PlaceArchive(const uint8_t* data, size_t size) {
  if (ArchiveFd < 0) {
    ArchiveFd = memfd_create("fuzz-archive", MFD_CLOEXEC);
    if (ArchiveFd < 0) {
      perror("memfd_create");
      abort();
    }
    snprintf(ArchivePathText, sizeof ArchivePathText, "/proc/self/fd/%d", ArchiveFd);
  }
  if (ftruncate(ArchiveFd, 0) != 0 || (size != 0 && pwrite(ArchiveFd, data, size, 0) != (ssize_t)size)) {
    perror("placing the archive");
    abort();
  }
  return ArchivePathText;
}

void ResetWorkArea() {
  memset(&FuzzWork, 0, sizeof FuzzWork);
  Work = &FuzzWork;
  SfxIcon = nullptr;
  InstanceHandle = nullptr;
  AutoStartMode = 0;
  DestinationFromCommandLine = 0;
  IsWin32s = 0;
  OverwriteSilently = 0;
  snprintf(Work->archivePath, sizeof Work->archivePath, "%s", ArchivePathText);
  Work->config.archiveOffset = 0;
  Work->archiveFile = InvalidFile;
  Work->outputFile = InvalidFile;
}

int RepairHeaderCrcs(uint8_t* data, size_t size) {
  int changed = 0;
  HeaderSpan span;
  for (size_t position = 0; NextHeader(data, size, position, &span);
       position = FollowingMember(data, span)) {
    uint8_t* header = data + span.start;
    uint8_t level = LevelAt(header);
    if (level == HeaderLevelZero || level == HeaderLevelOne) {
      changed |= RepairBaseHeader(data, size, span);
      continue;
    }
    size_t field = level == HeaderLevelThree
                       ? CrcFieldOf(header, span.size, Hdr3FirstNextSize, LongSizeFieldLength)
                       : CrcFieldOf(header, span.size, HdrFirstNextSize, SizeFieldLength);
    if (field != 0) changed |= StoreCrc(header, span.size, header + field);
  }
  return changed;
}

uint32_t LargestDeclaredSize(const uint8_t* data, size_t size) {
  uint32_t largest = 0;
  HeaderSpan span;
  for (size_t position = 0; NextHeader(data, size, position, &span);
       position = FollowingMember(data, span)) {
    uint32_t original = Le32(data + span.start + HdrOriginalSize);
    if (original > largest) largest = original;
  }
  return largest;
}

int RunDriver(int mode) {
  jmp_buf trap;
  PlatformExitTrap = &trap;
  volatile int result = -1;
  if (setjmp(trap) == 0) {
    result = ExtractArchive(nullptr, (ExtractionMode)mode);
  } else {
    // AbortExtraction closed both files; the header of the member being
    // decoded is still held.
    FuzzCheck(!IsOpen(Work->archiveFile) && !IsOpen(Work->outputFile),
              "a file stayed open after AbortExtraction");
    if (Work->header != nullptr) PlatformFree(Work->header);
    Work->header = nullptr;
  }
  PlatformExitTrap = nullptr;
  FuzzCheck(!IsOpen(Work->archiveFile), "the archive stayed open after the run");
  FuzzCheck(!IsOpen(Work->outputFile), "an output stayed open after the run");
  FuzzCheck(Work->header == nullptr, "a header buffer outlived the run");
  FuzzCheck(memchr(Work->text, '\0', sizeof Work->text) != nullptr, "text lost its terminator");
  return result;
}

void FuzzCheck(int condition, const char* what) {
  if (condition) return;
  fprintf(stderr, "fuzz invariant broken: %s\n", what);
  abort();
}

int MemberNameIsNormal() {
  const uint8_t* name = (const uint8_t*)Work->memberName;
  const void* end = memchr(name, '\0', MemberNameSize);
  if (end == nullptr) return 0;
  size_t length = (size_t)((const uint8_t*)end - name);
  for (size_t i = 0; i < length; ++i) {
    uint8_t b = name[i];
    if ((b >= 0x80 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFD)) {
      ++i;  // the byte after a lead byte is left as stored
      continue;
    }
    if (b == '\\' || b == 0xFF) return 0;
  }
  return 1;
}
