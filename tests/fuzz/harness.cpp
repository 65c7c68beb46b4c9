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

int NextHeader(const uint8_t* data, size_t total, size_t position, HeaderSpan* span) {
  if (position > total || total - position < HdrFixedSize) return 0;
  size_t size = Le16(data + position);
  if (size < HdrFixedSize || size > total - position) return 0;
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
// nextSize field and ends with the next one, s bytes further on.
size_t CrcFieldOf(const uint8_t* header, size_t size) {
  enum : size_t { RecordOverhead = 3, CrcRecordSize = RecordOverhead + 2 };
  size_t field = HdrFirstNextSize;
  size_t crcField = 0;
  while (field + 2 <= size) {
    size_t recordSize = Le16(header + field);
    if (recordSize == 0) return crcField;
    size_t record = field + 2;
    if (recordSize < RecordOverhead || recordSize > size - record) return 0;
    if (header[record] == 0x00 && recordSize >= CrcRecordSize) crcField = record + 1;
    field += recordSize;
  }
  return 0;
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
    size_t field = CrcFieldOf(header, span.size);
    if (field == 0) continue;
    uint8_t stored[2] = {header[field], header[field + 1]};
    header[field] = 0;
    header[field + 1] = 0;
    uint16_t crc = ReferenceCrc16(header, span.size);
    header[field] = (uint8_t)(crc & 0xFF);
    header[field + 1] = (uint8_t)(crc >> 8);
    if (header[field] != stored[0] || header[field + 1] != stored[1]) changed = 1;
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
