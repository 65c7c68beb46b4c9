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

std::vector<uint8_t> LzhHeader(const LzhMember& m) {
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
  h.push_back(HeaderLevelTwo);
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
