// Hand-made archives for the tests, written without the product's code: a
// bitwise CRC-16/ARC and a header writer (level 2, and levels 0, 1 and 3 as
// LzhMember::level says) whose every field can be
// set on its own, so a test can lay out well-formed members as easily as
// members with a wrong CRC, no CRC record, odd record orders, unknown
// methods or sizes that do not match the data. No test framework is needed,
// so the fuzz harness uses the same writer.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <optional>
#include <string>
#include <vector>

#include "base/format.h"

// CRC-16/ARC computed bit by bit (reflected polynomial 0xA001, start 0),
// the slow obvious way, apart from the engine's table.
uint16_t ReferenceCrc16(const uint8_t* bytes, size_t count, uint16_t crc = 0);
uint16_t ReferenceCrc16(const std::string& bytes);

// One extended record: its type byte and its data (the size fields around
// it are the writer's business).
struct LzhRecord {
  uint8_t type;
  std::string data;
};

LzhRecord FileNameRecord(const std::string& name);
// The Unix records: permission bits, group and user ids, names, time.
LzhRecord UnixModeRecord(uint16_t mode);
LzhRecord UnixIdsRecord(uint16_t gid, uint16_t uid);
LzhRecord UnixTimeRecord(uint32_t seconds);
// The level-0 Unix extension: 'U', a version byte, time, mode, uid, gid.
std::string Level0UnixExtension(uint32_t seconds, uint16_t mode, uint16_t uid, uint16_t gid);
// dir holds each level followed by 0xFF, as the archive stores it.
LzhRecord DirNameRecord(const std::string& dir);
LzhRecord AttributeRecord(uint16_t attributes);

// Where the writer puts the header-CRC record among LzhMember::records: at
// an index (0 is before every other record), last, or nowhere.
enum : int { CrcRecordLast = -1, NoCrcRecord = -2 };

struct LzhMember {
  // The header's layout: 2 as described above; 0 and 1 put baseName in a
  // base header with its 8-bit checksum (level 1 then writes the records
  // behind it and counts them in the packed size, level 0 writes none but
  // baseExtension after the data CRC); 3 writes the records with 32-bit
  // sizes and the total size at offset 24. timeStamp is written as given:
  // MS-DOS date and time for levels 0 and 1.
  uint8_t level = HeaderLevelTwo;
  std::string baseName;                  // levels 0 and 1
  std::string baseExtension;             // level 0: bytes after the data CRC
  bool corruptChecksum = false;          // levels 0 and 1: a checksum one off
  std::string method = "-lh0-";          // the five bytes, taken as given
  std::string data;                      // the bytes that follow the header
  std::optional<uint32_t> compressedSize;  // stated size; data.size() when unset
  std::optional<uint32_t> originalSize;    // stated size; data.size() when unset
  std::optional<uint16_t> dataCrc;         // ReferenceCrc16(data) when unset
  uint32_t timeStamp = 0;
  uint8_t dosAttribute = AttrArchive;
  uint8_t osId = 'M';
  std::vector<LzhRecord> records;        // every record but the header CRC
  int crcAt = 0;                         // an index, CrcRecordLast or NoCrcRecord
  bool corruptHeaderCrc = false;         // store a header CRC one bit off
};

// The header alone: fixed part, then the record chain ended by a zero size
// field. The size field counts the whole header and the CRC record holds
// the CRC of the header taken with that value zeroed.
std::vector<uint8_t> LzhHeader(const LzhMember& member);
// The header followed by member.data.
std::vector<uint8_t> LzhMemberBytes(const LzhMember& member);
// The members one after the other, then the single zero byte that ends an
// archive.
std::vector<uint8_t> LzhArchive(const std::vector<LzhMember>& members);

// Overwrites the little-endian 16-bit value at an offset, for tests that
// damage a header after it was written.
void SetLe16(std::vector<uint8_t>& bytes, size_t at, uint32_t value);
