// ReadMemberHeader on level-2 headers built here byte by byte (their CRC
// computed by the test's own bitwise CRC-16), NormalizeSeparators and the
// bounded text helpers that names go through.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "extract/crc16.h"
#include "extract/header.h"
#include "startup/text.h"
#include "tests/unit/support/bitwriter.h"
#include "tests/unit/support/files.h"
#include "tests/unit/support/recording.h"

namespace {

struct Record {
  uint8_t type;
  std::string data;
};

struct HeaderLayout {
  std::string method = "-lh5-";
  uint32_t compressedSize = 0;
  uint32_t originalSize = 0;
  uint8_t dosAttribute = 0x20;
  uint8_t osId = 'M';
  std::vector<Record> records;  // the CRC record is added where crcAt says
  int crcAt = -1;               // index among records; -1 last, -2 none
  bool corruptCrc = false;
};

void PutLe16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  b[at] = (uint8_t)v;
  b[at + 1] = (uint8_t)(v >> 8);
}

// Lays out the fixed part and the record chain, then fills in the header
// size and the CRC taken with the CRC value zeroed.
std::vector<uint8_t> BuildHeader(const HeaderLayout& layout) {
  std::vector<Record> records = layout.records;
  if (layout.crcAt != -2) {
    Record crc{0x00, std::string(2, '\0')};
    if (layout.crcAt < 0) records.push_back(crc);
    else records.insert(records.begin() + layout.crcAt, crc);
  }
  std::vector<uint8_t> h(26, 0);
  for (int i = 0; i < 5; i++) h[2 + i] = (uint8_t)layout.method[i];
  for (int i = 0; i < 4; i++) h[7 + i] = (uint8_t)(layout.compressedSize >> (8 * i));
  for (int i = 0; i < 4; i++) h[11 + i] = (uint8_t)(layout.originalSize >> (8 * i));
  h[19] = layout.dosAttribute;
  h[20] = 2;
  h[23] = layout.osId;
  size_t nextField = 24;
  size_t crcPos = 0;
  for (const Record& r : records) {
    size_t s = 1 + r.data.size() + 2;
    PutLe16(h, nextField, (uint32_t)s);
    size_t start = h.size();
    h.push_back(r.type);
    h.insert(h.end(), r.data.begin(), r.data.end());
    h.push_back(0);
    h.push_back(0);
    if (r.type == 0x00) crcPos = start + 1;
    nextField = h.size() - 2;
  }
  PutLe16(h, 0, (uint32_t)h.size());
  uint16_t crc = ReferenceCrc16(h.data(), h.size());
  if (layout.corruptCrc) crc ^= 1;
  if (crcPos != 0) PutLe16(h, crcPos, crc);
  return h;
}

class Header : public ::testing::Test {
 protected:
  void SetUp() override {
    NewWorkArea();
    CrcInit(CrcPolynomial);
  }
  void TearDown() override {
    if (Work->archiveFile != InvalidFile) PlatformClose(Work->archiveFile);
    PlatformFree(Work->header);
    FreeWorkArea();
  }
  // Opens a file holding bytes as the archive and reads one header.
  HeaderReadResult ReadFrom(const std::vector<uint8_t>& bytes) {
    if (Work->archiveFile != InvalidFile) PlatformClose(Work->archiveFile);
    PlatformFree(Work->header);
    Work->header = nullptr;
    Work->archiveFile = PlatformOpenRead(WriteTempFile(bytes).c_str());
    EXPECT_NE(Work->archiveFile, InvalidFile);
    return ReadMemberHeader();
  }
};

// Catches a missing end-of-archive rule: an empty file, one zero byte or a
// zero length field all end the archive.
TEST_F(Header, EndMarkers) {
  for (const std::vector<uint8_t>& bytes :
       {std::vector<uint8_t>{}, std::vector<uint8_t>{0}, std::vector<uint8_t>{0, 0}}) {
    EXPECT_EQ(ReadFrom(bytes), EndOfArchive) << bytes.size() << " bytes";
    EXPECT_EQ(Work->header, nullptr);
  }
}

// Catches a wrong name composition or a reader that does not stop right at
// the member's data: dir a,FF,b,FF and file c give a/b/c, and the next byte
// read from the file is the first data byte.
TEST_F(Header, ComposesNameAndStopsAtData) {
  HeaderLayout layout;
  layout.compressedSize = 3;
  layout.originalSize = 1234;
  layout.records = {{0x01, "c"}, {0x02, "a\xFF" "b\xFF"}};
  std::vector<uint8_t> bytes = BuildHeader(layout);
  size_t headerSize = bytes.size();
  bytes.insert(bytes.end(), {'D', 'A', 'T'});
  ASSERT_EQ(ReadFrom(bytes), MemberReady);
  EXPECT_STREQ(Work->memberName, "a/b/c");
  EXPECT_EQ(FilePosition(Work->archiveFile), (int64_t)headerSize);
  EXPECT_EQ(MemberMethod(), '5');
  EXPECT_EQ(MemberCompressedSize(), 3u);
  EXPECT_EQ(MemberOriginalSize(), 1234u);
  // The file then ends right after the member's data: end of archive.
  PlatformSeekForward(Work->archiveFile, 3);
  PlatformFree(Work->header);
  Work->header = nullptr;
  EXPECT_EQ(ReadMemberHeader(), EndOfArchive);
}

// Catches a CRC that is not zeroed where it stands or a CRC record that is
// optional: the record may come first or last; missing or wrong is refused.
TEST_F(Header, CrcRecordRules) {
  struct Case {
    const char* name;
    int crcAt;
    bool corrupt;
    HeaderReadResult expected;
  } cases[] = {
      {"crc first", 0, false, MemberReady},
      {"crc last", -1, false, MemberReady},
      {"crc between", 1, false, MemberReady},
      {"no crc record", -2, false, InvalidHeader},
      {"crc mismatch", -1, true, InvalidHeader},
  };
  for (const Case& c : cases) {
    HeaderLayout layout;
    layout.records = {{0x01, "name.txt"}, {0x02, "dir\xFF"}};
    layout.crcAt = c.crcAt;
    layout.corruptCrc = c.corrupt;
    std::vector<uint8_t> bytes = BuildHeader(layout);
    EXPECT_EQ(ReadFrom(bytes), c.expected) << c.name;
    if (c.expected == MemberReady) {
      EXPECT_STREQ(Work->memberName, "dir/name.txt") << c.name;
      EXPECT_EQ(Work->headerCrc, ReferenceCrc16(Work->header, bytes.size())) << c.name;
    }
  }
}

// Catches a too lenient or too strict method check.
TEST_F(Header, MethodIdentifiers) {
  const std::pair<const char*, HeaderReadResult> cases[] = {
      {"-lh0-", MemberReady},   {"-lh4-", MemberReady},   {"-lh5-", MemberReady},
      {"-lh6-", MemberReady},   {"-lh7-", MemberReady},   {"-lhd-", MemberReady},
      {"-lh1-", InvalidHeader}, {"-lh3-", InvalidHeader}, {"-lhX-", InvalidHeader},
      {"-LH5-", InvalidHeader}, {"-lH5-", InvalidHeader}, {"-lh5x", InvalidHeader},
      {"xlh5-", InvalidHeader},
  };
  for (const auto& [method, expected] : cases) {
    HeaderLayout layout;
    layout.method = method;
    layout.records = {{0x01, "f"}};
    EXPECT_EQ(ReadFrom(BuildHeader(layout)), expected) << method;
  }
}

// Catches attributes taken from the wrong place: the 0x40 record counts only
// for osId M, W and w; otherwise the byte at offset 19 stays.
TEST_F(Header, AttributeRecordBySystem) {
  for (uint8_t os : {'M', 'W', 'w', 'U', 'J'}) {
    HeaderLayout layout;
    layout.osId = os;
    layout.dosAttribute = 0x21;
    layout.records = {{0x01, "f"}, {0x40, std::string("\x01\x00", 2)}};
    ASSERT_EQ(ReadFrom(BuildHeader(layout)), MemberReady);
    EXPECT_EQ(Work->attributes, (os == 'U' || os == 'J') ? 0x21 : 0x01) << os;
  }
}

// Catches names carried over from the previous member or not cut at a zero
// byte: a directory entry without a file record is its directory alone.
TEST_F(Header, NamesFromTheirOwnHeader) {
  HeaderLayout first;
  first.records = {{0x01, "previous.txt"}, {0x02, "old\xFF"}};
  ASSERT_EQ(ReadFrom(BuildHeader(first)), MemberReady);
  HeaderLayout dirEntry;
  dirEntry.method = "-lhd-";
  dirEntry.records = {{0x02, "a\xFF"}};
  ASSERT_EQ(ReadFrom(BuildHeader(dirEntry)), MemberReady);
  EXPECT_STREQ(Work->memberName, "a/");
  HeaderLayout plain;
  plain.records = {{0x01, "file.bin"}};
  ASSERT_EQ(ReadFrom(BuildHeader(plain)), MemberReady);
  EXPECT_STREQ(Work->memberName, "file.bin");
  HeaderLayout zero;
  zero.records = {{0x01, "tail"}, {0x02, std::string("ab\0c\xFF", 5)}};
  ASSERT_EQ(ReadFrom(BuildHeader(zero)), MemberReady);
  EXPECT_STREQ(Work->memberName, "ab");
}

// Catches overruns of memberName: a 200-byte directory plus a 100-byte file
// name is cut to 259 bytes; a cut that would split a CP932 pair drops its
// first byte.
TEST_F(Header, LongNamesAreCut) {
  HeaderLayout layout;
  layout.records = {{0x01, std::string(100, 'f')}, {0x02, std::string(200, 'd')}};
  ASSERT_EQ(ReadFrom(BuildHeader(layout)), MemberReady);
  EXPECT_EQ(strlen(Work->memberName), 259u);
  EXPECT_EQ(std::string(Work->memberName), std::string(200, 'd') + std::string(59, 'f'));
  HeaderLayout split;
  split.records = {{0x01, "\x82\xA0" "x"}, {0x02, std::string(258, 'd')}};
  ASSERT_EQ(ReadFrom(BuildHeader(split)), MemberReady);
  EXPECT_EQ(std::string(Work->memberName), std::string(258, 'd'));
}

// Catches reads outside the header buffer and endless chains: each damaged
// header is refused and nothing crashes.
TEST_F(Header, DamagedChainsAreRefused) {
  HeaderLayout layout;
  layout.records = {{0x01, "name"}};
  std::vector<uint8_t> good = BuildHeader(layout);  // 26 + 7 + 5 bytes
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
  };
  std::vector<Case> cases;
  {
    std::vector<uint8_t> b = good;
    PutLe16(b, 24, 2);  // first record of size 2
    cases.push_back({"record size 2", b});
  }
  {
    std::vector<uint8_t> b = good;
    PutLe16(b, 24, 1);
    cases.push_back({"record size 1", b});
  }
  {
    std::vector<uint8_t> b = good;
    PutLe16(b, 24, 300);  // reaches far past the 38-byte header
    cases.push_back({"record past the end", b});
  }
  {
    std::vector<uint8_t> b = good;
    PutLe16(b, b.size() - 2, 5);  // the last field does not end the chain
    cases.push_back({"chain never ends", b});
  }
  {
    std::vector<uint8_t> b(20, 0);  // a header size below the fixed part
    PutLe16(b, 0, 20);
    memcpy(&b[2], "-lh5-", 5);
    cases.push_back({"header size 20", b});
  }
  {
    std::vector<uint8_t> b(good.begin(), good.end() - 4);  // file ends inside the header
    cases.push_back({"short read", b});
  }
  {
    HeaderLayout tiny;
    tiny.records = {{0x00, std::string(1, '\0')}};  // a CRC record with one data byte
    tiny.crcAt = -2;
    cases.push_back({"crc record too short", BuildHeader(tiny)});
  }
  for (const Case& c : cases) EXPECT_EQ(ReadFrom(c.bytes), InvalidHeader) << c.name;
}

// Catches a length taken as signed: a header of 40000 bytes (one big record
// of an unknown type) is read and verified like any other.
TEST_F(Header, HeadersAbove32KAreAccepted) {
  HeaderLayout layout;
  layout.records = {{0x01, "big"}, {0x7F, std::string(39950, 'x')}};
  std::vector<uint8_t> bytes = BuildHeader(layout);
  ASSERT_GT(bytes.size(), 32768u);
  ASSERT_EQ(ReadFrom(bytes), MemberReady);
  EXPECT_STREQ(Work->memberName, "big");
  EXPECT_EQ(FilePosition(Work->archiveFile), (int64_t)bytes.size());
}

// Catches separators changed inside CP932 pairs or missed single bytes.
TEST(NormalizeSeparators, Cases) {
  const std::pair<std::string, std::string> cases[] = {
      {"a\\b/c\xFF" "d", "a/b/c/d"},
      {"\x83\x5C" "x", "\x83\x5C" "x"},        // second byte 0x5C kept
      {"\xE0\xFF\xFF", "\xE0\xFF/"},           // pair, then a lone 0xFF
      {"\xA0\\", "\xA0/"},                     // half-width kana is one byte
      {"\x81", "\x81"},                        // a lead byte before the end
  };
  for (const auto& [in, out] : cases) {
    std::vector<char> text(in.begin(), in.end());
    text.push_back(0);
    NormalizeSeparators(text.data(), '/');
    EXPECT_EQ(std::string(text.data()), out) << in;
  }
}

}  // namespace

namespace {

// Catches bounded copies that overrun or leave a field unterminated.
TEST(Text, BoundedCopies) {
  char field[6];
  memset(field, 'x', sizeof field);
  CopyText(field, "abcdefgh", sizeof field);
  EXPECT_STREQ(field, "abcde");
  CopyText(field, "ab", sizeof field);
  AppendText(field, "cdefgh", sizeof field);
  EXPECT_STREQ(field, "abcde");
  AppendText(field, "z", sizeof field);  // already full: unchanged
  EXPECT_STREQ(field, "abcde");
  EXPECT_EQ(TextLength(field), 5u);
}

// Catches case folding that treats a CP932 second byte as an ASCII letter
// (0x83 0x41 and 0x83 0x61 are different characters).
TEST(Text, CaseInsensitiveCompare) {
  const struct {
    const char* a;
    const char* b;
    int equal;
  } cases[] = {
      {"Setup.EXE", "setup.exe", 1},
      {"setup", "setup.exe", 0},
      {"\x83\x41" "B", "\x83\x41" "b", 1},
      {"\x83\x41", "\x83\x61", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(TextEqualNoCase(c.a, c.b), c.equal) << c.a << " " << c.b;
  EXPECT_EQ(TextStartsNoCase("%WORK%\\x", "%work%"), 1);
  EXPECT_EQ(TextStartsNoCase("\x83\x41" "x", "\x83\x61"), 0);
  EXPECT_EQ(TextStartsNoCase("ab", "abc"), 0);
}

}  // namespace
