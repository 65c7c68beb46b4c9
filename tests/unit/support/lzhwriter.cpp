// The tests' own level-2 writer and CRC-16; see lzhwriter.h.
#include "tests/unit/support/lzhwriter.h"

namespace {

void PutLe16(std::vector<uint8_t>& out, uint32_t value) {
  out.push_back((uint8_t)(value & 0xFF));
  out.push_back((uint8_t)((value >> 8) & 0xFF));
}
void PutLe32(std::vector<uint8_t>& out, uint32_t value) {
  PutLe16(out, value & 0xFFFF);
  PutLe16(out, value >> 16);
}

}  // namespace

uint16_t ReferenceCrc16(const uint8_t* bytes, size_t count, uint16_t crc) {
  for (size_t i = 0; i < count; ++i) {
    crc ^= bytes[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (uint16_t)((crc >> 1) ^ 0xA001) : (uint16_t)(crc >> 1);
  }
  return crc;
}

uint16_t ReferenceCrc16(const std::string& bytes) {
  return ReferenceCrc16(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

LzhRecord FileNameRecord(const std::string& name) { return {ExtFileName, name}; }

LzhRecord DirNameRecord(const std::string& dir) { return {ExtDirName, dir}; }

LzhRecord AttributeRecord(uint16_t attributes) {
  return {ExtAttributes, std::string{(char)(attributes & 0xFF), (char)(attributes >> 8)}};
}

void SetLe16(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
  bytes.at(at) = (uint8_t)(value & 0xFF);
  bytes.at(at + 1) = (uint8_t)((value >> 8) & 0xFF);
}

LzhRecord UnixModeRecord(uint16_t mode) {
  std::vector<uint8_t> v;
  PutLe16(v, mode);
  return {ExtUnixMode, std::string(v.begin(), v.end())};
}

LzhRecord UnixIdsRecord(uint16_t gid, uint16_t uid) {
  std::vector<uint8_t> v;
  PutLe16(v, gid);
  PutLe16(v, uid);
  return {ExtUnixIds, std::string(v.begin(), v.end())};
}

LzhRecord UnixTimeRecord(uint32_t seconds) {
  std::vector<uint8_t> v;
  PutLe32(v, seconds);
  return {ExtUnixTime, std::string(v.begin(), v.end())};
}

std::string Level0UnixExtension(uint32_t seconds, uint16_t mode, uint16_t uid, uint16_t gid) {
  std::vector<uint8_t> v{'U', 0};
  PutLe32(v, seconds);
  PutLe16(v, mode);
  PutLe16(v, uid);
  PutLe16(v, gid);
  return std::string(v.begin(), v.end());
}

namespace {

// The records with the CRC record placed as crcAt says; *crcIndex is its
// index, or records.size() when there is none.
std::vector<LzhRecord> PlacedRecords(const LzhMember& m, size_t* crcIndex) {
  std::vector<LzhRecord> records = m.records;
  *crcIndex = (size_t)-1;
  if (m.crcAt != NoCrcRecord) {
    LzhRecord crc{ExtHeaderCrc, std::string(ExtWordDataSize, '\0')};
    size_t at = m.crcAt == CrcRecordLast ? records.size() : (size_t)m.crcAt;
    records.insert(records.begin() + at, crc);
    *crcIndex = at;
  }
  return records;
}

// The fixed fields from the method to the level byte (offsets 2..20).
void PutMiddle(std::vector<uint8_t>& h, const LzhMember& m, uint32_t packed) {
  for (size_t i = 0; i < MethodIdLength; ++i) h.push_back(i < m.method.size() ? (uint8_t)m.method[i] : 0);
  PutLe32(h, packed);
  PutLe32(h, m.originalSize.value_or((uint32_t)m.data.size()));
  PutLe32(h, m.timeStamp);
  h.push_back(m.dosAttribute);
  h.push_back(m.level);
}

uint16_t DataCrcOf(const LzhMember& m) { return m.dataCrc.value_or(ReferenceCrc16(m.data)); }

void StoreHeaderCrc(std::vector<uint8_t>& h, size_t crcField, bool corrupt) {
  if (crcField == 0) return;
  uint16_t crc = ReferenceCrc16(h.data(), h.size());
  SetLe16(h, crcField, corrupt ? crc ^ 1 : crc);
}

// Levels 0 and 1: the base header, then (level 1) the records, each ended
// by the 16-bit size of the next.
std::vector<uint8_t> BaseLevelHeader(const LzhMember& m) {
  size_t crcIndex;
  std::vector<LzhRecord> records = m.level == HeaderLevelOne ? PlacedRecords(m, &crcIndex)
                                                              : std::vector<LzhRecord>{};
  if (m.level != HeaderLevelOne) crcIndex = (size_t)-1;
  uint32_t recordBytes = 0;
  for (const LzhRecord& r : records) recordBytes += ExtMinSize + (uint32_t)r.data.size();
  std::vector<uint8_t> h{0, 0};
  PutMiddle(h, m, m.compressedSize.value_or((uint32_t)m.data.size()) + recordBytes);
  h.push_back((uint8_t)m.baseName.size());
  h.insert(h.end(), m.baseName.begin(), m.baseName.end());
  PutLe16(h, DataCrcOf(m));
  if (m.level == HeaderLevelOne) {
    h.push_back(m.osId);
    PutLe16(h, records.empty() ? 0 : ExtMinSize + (uint32_t)records[0].data.size());
  } else {
    h.insert(h.end(), m.baseExtension.begin(), m.baseExtension.end());
  }
  h[HdrBaseSize] = (uint8_t)(h.size() - BaseUncounted);
  uint32_t sum = 0;
  for (size_t i = BaseUncounted; i < h.size(); ++i) sum += h[i];
  h[HdrChecksum] = (uint8_t)(sum + (m.corruptChecksum ? 1 : 0));
  size_t crcField = 0;
  for (size_t i = 0; i < records.size(); ++i) {
    if (i == crcIndex) crcField = h.size() + ExtTypeLength;
    h.push_back(records[i].type);
    h.insert(h.end(), records[i].data.begin(), records[i].data.end());
    PutLe16(h, i + 1 < records.size() ? ExtMinSize + (uint32_t)records[i + 1].data.size() : 0);
  }
  StoreHeaderCrc(h, crcField, m.corruptHeaderCrc);
  return h;
}

// Level 3: level 2's layout with 32-bit sizes.
std::vector<uint8_t> LongLevelHeader(const LzhMember& m) {
  size_t crcIndex;
  std::vector<LzhRecord> records = PlacedRecords(m, &crcIndex);
  std::vector<uint8_t> h;
  PutLe16(h, Level3SizeWidth);
  PutMiddle(h, m, m.compressedSize.value_or((uint32_t)m.data.size()));
  PutLe16(h, DataCrcOf(m));
  h.push_back(m.osId);
  PutLe32(h, 0);  // the total size, filled in below
  size_t crcField = 0;
  for (size_t i = 0; i < records.size(); ++i) {
    PutLe32(h, ExtLongMinSize + (uint32_t)records[i].data.size());
    if (i == crcIndex) crcField = h.size() + ExtTypeLength;
    h.push_back(records[i].type);
    h.insert(h.end(), records[i].data.begin(), records[i].data.end());
  }
  PutLe32(h, 0);
  uint32_t total = (uint32_t)h.size();
  for (int i = 0; i < 4; ++i) h[HdrTotalSize + i] = (uint8_t)(total >> (8 * i));
  StoreHeaderCrc(h, crcField, m.corruptHeaderCrc);
  return h;
}

}  // namespace

std::vector<uint8_t> LzhHeader(const LzhMember& m) {
  if (m.level == HeaderLevelZero || m.level == HeaderLevelOne) return BaseLevelHeader(m);
  if (m.level == HeaderLevelThree) return LongLevelHeader(m);
  std::vector<LzhRecord> records = m.records;
  if (m.crcAt != NoCrcRecord) {
    LzhRecord crc{ExtHeaderCrc, std::string(ExtWordDataSize, '\0')};
    if (m.crcAt == CrcRecordLast) records.push_back(crc);
    else records.insert(records.begin() + m.crcAt, crc);
  }
  std::vector<uint8_t> h;
  PutLe16(h, 0);  // the header size, filled in below
  for (size_t i = 0; i < MethodIdLength; ++i) h.push_back(i < m.method.size() ? (uint8_t)m.method[i] : 0);
  PutLe32(h, m.compressedSize.value_or((uint32_t)m.data.size()));
  PutLe32(h, m.originalSize.value_or((uint32_t)m.data.size()));
  PutLe32(h, m.timeStamp);
  h.push_back(m.dosAttribute);
  h.push_back(m.level);
  PutLe16(h, m.dataCrc.value_or(ReferenceCrc16(m.data)));
  h.push_back(m.osId);
  // Each size field gives the size of the record after it; only the CRC
  // record inserted here gets the CRC, so a test's own type-0 record stays
  // as the test wrote it.
  size_t crcField = 0;
  for (size_t i = 0; i < records.size(); ++i) {
    const LzhRecord& r = records[i];
    PutLe16(h, ExtMinSize + (uint32_t)r.data.size());
    bool inserted = m.crcAt != NoCrcRecord &&
                    i == (m.crcAt == CrcRecordLast ? records.size() - 1 : (size_t)m.crcAt);
    if (inserted) crcField = h.size() + ExtTypeLength;
    h.push_back(r.type);
    h.insert(h.end(), r.data.begin(), r.data.end());
  }
  PutLe16(h, 0);
  SetLe16(h, HdrSize, (uint32_t)h.size());
  if (crcField != 0) {
    uint16_t crc = ReferenceCrc16(h.data(), h.size());
    SetLe16(h, crcField, m.corruptHeaderCrc ? crc ^ 1 : crc);
  }
  return h;
}

std::vector<uint8_t> LzhMemberBytes(const LzhMember& member) {
  std::vector<uint8_t> bytes = LzhHeader(member);
  bytes.insert(bytes.end(), member.data.begin(), member.data.end());
  return bytes;
}

std::vector<uint8_t> LzhArchive(const std::vector<LzhMember>& members) {
  std::vector<uint8_t> archive;
  for (const LzhMember& m : members) {
    std::vector<uint8_t> bytes = LzhMemberBytes(m);
    archive.insert(archive.end(), bytes.begin(), bytes.end());
  }
  archive.push_back(0);
  return archive;
}
