// Finding an archive inside a program that does not name where it starts
// (another maker's self-extracting file), for the host tool only.
#pragma once
#include <stdint.h>

// Scans archivePath from its start for the first offset, below 262,152,
// where a method id stands in its header's place and a whole member header
// reads as the walk reads it, with data that ends inside the file. 1 with
// *offset set; 0 when there is none (or the file cannot be read). Uses the
// member walk, and leaves config.archiveOffset at 0.
int FindArchiveInProgram(uint32_t* offset);
