// Reads one level-2 member header straight from archiveFile into a buffer of
// exactly its size, checks its method and CRC, and composes memberName.
// Every read stays inside the buffer and every copy inside memberName.
#pragma once
#include <stdint.h>

enum HeaderReadResult { EndOfArchive, NoMemory, InvalidHeader, MemberReady };

// Offsets of the fixed part of a level-2 header.
enum : uint32_t {
  HdrSize = 0,
  HdrMethod = 2,           // "-lh?-", 5 bytes
  HdrMethodChar = 5,       // the method character inside it
  HdrCompressedSize = 7,
  HdrOriginalSize = 11,
  HdrTimeStamp = 15,
  HdrDosAttribute = 19,
  HdrLevel = 20,
  HdrDataCrc = 21,
  HdrOsId = 23,
  HdrFirstNextSize = 24,
  HdrFixedSize = 26,
};

HeaderReadResult ReadMemberHeader();
// Turns single-byte '/', '\' and 0xFF into separator, skipping CP932 trail bytes.
void NormalizeSeparators(char* text, char separator);

// Fields of the current header (Work->header).
char MemberMethod();                 // '0', '4'..'7' or 'd'
uint32_t MemberCompressedSize();
uint32_t MemberOriginalSize();
uint32_t MemberTimeStamp();
uint16_t MemberDataCrc();
