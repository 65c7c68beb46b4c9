// The one member walk. Every reader of an archive goes through it: the stub's
// scan and extraction, lzhsfx l, t and x, create's check and info. Each next
// header is read where the previous member's data ends (its header's end plus
// its compressed size), whatever a decoder consumed, so all of them see the
// same members whether a member is decoded, copied or passed over.
//
//   if (OpenArchiveRun()) {
//     while (NextMember() == MemberReady) { ... decode it, or leave it ... }
//   }
//   CloseArchiveRun();
//
// The walk is silent; its callers report. It owns archiveFile and the header
// buffer between OpenArchiveRun and CloseArchiveRun.
#pragma once
#include <stdint.h>

#include "extract/header.h"

// Opens archivePath for reading and places the walk at its start
// (ArchiveStartOffset, extract/levels.h: config.archiveOffset);
// builds the CRC table. 0 when the file cannot be opened or measured
// (archiveFile is then InvalidFile).
int OpenArchiveRun();
// Releases the previous member's header, moves to where that member's data
// ends and reads the next header (see ReadMemberHeader). ArchiveBroken when
// the previous member's data, or the archive's start, lies beyond the end of
// the file. On MemberReady the file stands at the member's first data byte.
HeaderReadResult NextMember();
// Closes archiveFile and releases the header buffer; safe to call twice.
void CloseArchiveRun();
// File offset of the current member's header.
FileOffset MemberHeaderOffset();
