// Reads one level-2 member header straight from archiveFile into a buffer of
// exactly its size, checks its method and CRC, and composes memberName.
// Every read stays inside the buffer and every copy inside memberName.
#pragma once
#include <stdint.h>

#include "base/format.h"

// ArchiveBroken comes from the walk (extract/walk.h), never from the reader:
// a member's data, or the archive's start, lies beyond the end of the file.
enum HeaderReadResult { EndOfArchive, NoMemory, InvalidHeader, MemberReady, ArchiveBroken };

// Why the last header was InvalidHeader, for tools that explain it; the
// stub reports them all alike.
enum HeaderFault : uint8_t {
  FaultNone,
  FaultTooShort,     // shorter than the fixed part, or cut off by the file's end
  FaultMethod,       // not "-lh?-" with an accepted method character (host: not "-xxx-")
  FaultChain,        // a record that is too short or leaves the header
  FaultNoCrc,        // no header-CRC record
  FaultCrc,          // the CRC does not match
};

HeaderReadResult ReadMemberHeader();
// Checks the record chain and CRC of the level-2 header of headerSize bytes
// in buffer, which is Work->header, and composes memberName, as
// ReadMemberHeader does once it has read a header and checked its method.
// The host's reader of the other levels hands it the level-2 header it
// builds from theirs, and checks their method ids itself.
HeaderReadResult CheckHeaderBuffer(uint8_t* buffer, uint32_t headerSize);

// One step of a walk over the records of the level-2 header of headerSize
// bytes in buffer. The size field at *pos (HdrFirstNextSize to begin with)
// gives the size of the record behind it: RecordFound with the record
// (type byte first) in *record and its size in *size, *pos moved to the
// record's own trailing size field; ChainEnd at a zero size; ChainBroken
// when a record is shorter than a type and a size field or leaves the header.
enum RecordStep { RecordFound, ChainEnd, ChainBroken };
RecordStep NextRecord(uint8_t* buffer, uint32_t headerSize, uint32_t* pos, uint8_t** record,
                      uint32_t* size);

// Fields of the current header (Work->header).
char MemberMethod();                 // the id's fourth byte: '0', '4'..'7' or 'd' in the stub
MemberSize MemberCompressedSize();  // with the host's 64-bit size record
MemberSize MemberOriginalSize();
uint32_t MemberTimeStamp();
uint16_t MemberDataCrc();
