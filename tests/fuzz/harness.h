// What the fuzz targets share: the input placed where the engine opens
// archives (an anonymous in-memory file reached by path), a freshly zeroed
// work area per run, header CRCs repaired so mutations reach past the CRC
// check, and the exit trap that brings AbortExtraction back to the target.
#pragma once
#include <stddef.h>
#include <stdint.h>


// The largest member a fuzz input may declare. Decoding runs on for
// originalSize bytes whatever the compressed data holds, so a mutated size
// field alone would turn one input into gigabytes of work.
enum : uint32_t { FuzzOutputLimit = 1u << 20 };

// Writes the bytes into the in-memory archive file and returns the path by
// which the platform layer opens it ("/proc/self/fd/N").
const char* PlaceArchive(const uint8_t* data, size_t size);

// Zeroes the work area and the process-wide values and points archivePath at
// the placed archive (members from offset 0). destDir stays empty: the
// targets run only the scan and the test run, which write no files.
void ResetWorkArea();

// Walks the members as the driver does (header, then compressedSize bytes of
// data; at levels 0 and 1 the base header, then the packed size) and gives
// every header whose record chain is well formed the CRC (and levels 0 and
// 1 the checksum) it needs. Returns 1 when any byte changed.
int RepairHeaderCrcs(uint8_t* data, size_t size);

// The largest originalSize any header in the walk declares.
uint32_t LargestDeclaredSize(const uint8_t* data, size_t size);

// Runs the driver in the mode; an AbortExtraction inside comes back here, and
// whatever the aborted run still held (header buffer, handles) is released.
// Returns the driver's result, or -1 when the run ended through the trap.
int RunDriver(int mode);

// Stops the process with a report when an invariant of the engine's state
// does not hold (a finding, like a sanitizer report).
void FuzzCheck(int condition, const char* what);

// 1 when memberName ends within its field and holds no single-byte '\' or
// 0xFF outside a double-byte pair (NormalizeSeparators has run over it).
int MemberNameIsNormal();

// Set by each target: 1 when the input as given went through cleanly (every
// header read up to the end; the test run passed; the data decoded without
// an abort). The replay runner checks it on inputs known to be valid.
extern int FuzzInputClean;
