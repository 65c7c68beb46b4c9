// Level-2 member headers: the 26-byte fixed part and a chain of records
// (header CRC, file name, directory name, attributes, Unix mode, and the
// 64-bit sizes of a member of 4 GiB or more), all little-endian, with the
// header CRC taken over the whole header with its own value zeroed.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "base/format.h"


struct MemberHeaderFields {
  char method = '0';           // '0', '5', '6', '7' or 'd' ("-lh?-")
  uint64_t compressedSize = 0;
  uint64_t originalSize = 0;
  uint32_t timeStamp = 0;      // Unix seconds, UTC
  uint16_t attributes = AttrArchive;
  uint16_t dataCrc = 0;
  std::string directory;       // CP932, every level followed by 0xFF; may be empty
  std::string fileName;        // CP932; empty for a directory entry
  uint16_t unixMode = 0;       // Unix permissions and type, written when not 0
};

// Largest header the writer makes: a reader that takes the size field as a
// signed number still reads every header we write.
constexpr uint32_t MaxHeaderSize = 32767;

// Appends the header to out; false (nothing appended) if it would exceed
// MaxHeaderSize.
bool AppendLevel2Header(std::vector<uint8_t>& out, const MemberHeaderFields& fields);
