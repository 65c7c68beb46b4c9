// Writes level-2 headers. The size field counts the whole header; if its low
// byte would be 0 one padding byte is added at the end, since readers that
// look at the first byte alone take a 0 there for the end of the archive.
// A member of 4 GiB or more keeps the low halves of its sizes in the 32-bit
// fields and the whole sizes in the 64-bit size record, which the readers
// that know it take instead.
#include "compress/header.h"

#include "compress/crc16.h"

namespace {

// The fixed part's attribute byte is always "archive": some readers only
// recognise a level-2 archive whose first header has exactly that value
// there. The true attributes travel in the attribute record, which
// extractors prefer for this system id.
constexpr uint8_t FixedAttributeByte = AttrArchive;

void Put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}
void Put64(std::vector<uint8_t>& out, uint64_t v) {
  Put32(out, static_cast<uint32_t>(v));
  Put32(out, static_cast<uint32_t>(v >> 32));
}

struct Record {
  uint8_t type;
  std::string data;
};

}  // namespace

bool AppendLevel2Header(std::vector<uint8_t>& out, const MemberHeaderFields& f) {
  const std::string attr{static_cast<char>(f.attributes & 0xFF), static_cast<char>(f.attributes >> 8)};
  // A name at the archive's root has no directory-name record at all: some
  // readers refuse an empty one as a broken header.
  std::vector<Record> records = {{ExtHeaderCrc, std::string(2, '\0')}, {ExtFileName, f.fileName}};
  if (!f.directory.empty()) records.push_back({ExtDirName, f.directory});
  records.push_back({ExtAttributes, attr});
  if (f.unixMode != 0)
    records.push_back({ExtUnixMode, {static_cast<char>(f.unixMode & 0xFF), static_cast<char>(f.unixMode >> 8)}});
  if (f.compressedSize >= SmallSizeLimit || f.originalSize >= SmallSizeLimit) {
    std::vector<uint8_t> sizes;
    Put64(sizes, f.compressedSize);
    Put64(sizes, f.originalSize);
    records.push_back({ExtLargeSizes, std::string(sizes.begin(), sizes.end())});
  }
  uint32_t size = HdrFixedSize;
  for (const Record& r : records) size += ExtMinSize + static_cast<uint32_t>(r.data.size());
  const bool pad = (size & 0xFF) == 0;
  if (pad) ++size;
  if (size > MaxHeaderSize) return false;

  std::vector<uint8_t> h;
  h.reserve(size);
  Put16(h, size);
  const char methodId[MethodIdLength] = {'-', 'l', 'h', f.method, '-'};
  h.insert(h.end(), methodId, methodId + MethodIdLength);
  Put32(h, static_cast<uint32_t>(f.compressedSize));
  Put32(h, static_cast<uint32_t>(f.originalSize));
  Put32(h, f.timeStamp);
  h.push_back(FixedAttributeByte);
  h.push_back(HeaderLevelTwo);
  Put16(h, f.dataCrc);
  h.push_back(OsIdWindows);
  // Each size field gives the size of the record that follows it.
  size_t crcAt = 0;
  for (const Record& r : records) {
    Put16(h, ExtMinSize + static_cast<uint32_t>(r.data.size()));
    h.push_back(r.type);
    if (r.type == ExtHeaderCrc) crcAt = h.size();
    h.insert(h.end(), r.data.begin(), r.data.end());
  }
  Put16(h, 0);
  if (pad) h.push_back(0);
  const uint16_t crc = Crc16Update(0, h.data(), h.size());
  h[crcAt] = static_cast<uint8_t>(crc);
  h[crcAt + 1] = static_cast<uint8_t>(crc >> 8);
  out.insert(out.end(), h.begin(), h.end());
  return true;
}
