// Finding an archive inside a program that does not name where it starts
// (another maker's self-extracting file), and members behind an archive's
// end, for the host tool only.
#pragma once
#include <stdint.h>

#include "base/format.h"

// Scans archivePath from its start for the first offset, below 262,152,
// where a method id stands in its header's place and a whole member header
// reads as the walk reads it, with data that ends inside the file. 1 with
// *offset set; 0 when there is none (or the file cannot be read). Uses the
// member walk, and leaves config.archiveOffset at 0.
int FindArchiveInProgram(uint32_t* offset);
// Whether the bytes from end, where the walk found the archive's end
// marker, hold a member header after all: right there a header whose
// length byte alone was damaged to zero (whole, checksum or CRC right, once
// that byte is restored), or further on a whole header as the walk reads
// it, with data that ends inside the file (two archives joined together,
// or the members behind a damaged header). 1 with *offset where;
// 0 when the rest is no member's (a signature, padding) or cannot be read.
// Uses the member walk.
int FindHeaderAfterEnd(FileOffset end, FileOffset* offset);
