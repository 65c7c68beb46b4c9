// ReadMemberHeader on level-2 headers laid out by the tests' own writer
// (with its bitwise CRC-16), NormalizeSeparators and the bounded text
// helpers that names go through.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "extract/crc16.h"
#include "extract/header.h"
#include "base/text.h"
#include "tests/unit/support/files.h"
#include "tests/unit/support/lzhwriter.h"
#include "tests/unit/support/recording.h"

namespace {

// Most cases read a -lh5- header with its CRC record last and no data.
LzhMember Layout(std::vector<LzhRecord> records = {}) {
  LzhMember layout;
  layout.method = "-lh5-";
  layout.records = std::move(records);
  layout.crcAt = CrcRecordLast;
  return layout;
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
  LzhMember layout = Layout({FileNameRecord("c"), DirNameRecord("a\xFF" "b\xFF")});
  layout.data = "DAT";
  layout.originalSize = 1234;
  size_t headerSize = LzhHeader(layout).size();
  std::vector<uint8_t> bytes = LzhMemberBytes(layout);
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
      {"crc last", CrcRecordLast, false, MemberReady},
      {"crc between", 1, false, MemberReady},
      {"no crc record", NoCrcRecord, false, InvalidHeader},
      {"crc mismatch", CrcRecordLast, true, InvalidHeader},
  };
  for (const Case& c : cases) {
    LzhMember layout = Layout({FileNameRecord("name.txt"), DirNameRecord("dir\xFF")});
    layout.crcAt = c.crcAt;
    layout.corruptHeaderCrc = c.corrupt;
    std::vector<uint8_t> bytes = LzhHeader(layout);
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
    LzhMember layout = Layout({FileNameRecord("f")});
    layout.method = method;
    EXPECT_EQ(ReadFrom(LzhHeader(layout)), expected) << method;
  }
}

// Catches attributes taken from the wrong place: the 0x40 record counts only
// for osId M, W and w; otherwise the byte at offset 19 stays.
TEST_F(Header, AttributeRecordBySystem) {
  for (uint8_t os : {'M', 'W', 'w', 'U', 'J'}) {
    LzhMember layout = Layout({FileNameRecord("f"), AttributeRecord(0x01)});
    layout.osId = os;
    layout.dosAttribute = 0x21;
    ASSERT_EQ(ReadFrom(LzhHeader(layout)), MemberReady);
    EXPECT_EQ(Work->attributes, (os == 'U' || os == 'J') ? 0x21 : 0x01) << os;
  }
}

// Catches names carried over from the previous member or not cut at a zero
// byte: a directory entry without a file record is its directory alone.
TEST_F(Header, NamesFromTheirOwnHeader) {
  ASSERT_EQ(ReadFrom(LzhHeader(Layout({FileNameRecord("previous.txt"), DirNameRecord("old\xFF")}))),
            MemberReady);
  LzhMember dirEntry = Layout({DirNameRecord("a\xFF")});
  dirEntry.method = "-lhd-";
  ASSERT_EQ(ReadFrom(LzhHeader(dirEntry)), MemberReady);
  EXPECT_STREQ(Work->memberName, "a/");
  ASSERT_EQ(ReadFrom(LzhHeader(Layout({FileNameRecord("file.bin")}))), MemberReady);
  EXPECT_STREQ(Work->memberName, "file.bin");
  LzhMember zero = Layout({FileNameRecord("tail"), DirNameRecord(std::string("ab\0c\xFF", 5))});
  ASSERT_EQ(ReadFrom(LzhHeader(zero)), MemberReady);
  EXPECT_STREQ(Work->memberName, "ab");
}

// Catches overruns of memberName: a 200-byte directory plus a 100-byte file
// name is cut to 259 bytes, and the cut is flagged (the host refuses such a
// member rather than write it under a shorter name); a cut that would split
// a CP932 pair drops its first byte; a name of exactly 259 bytes is whole.
TEST_F(Header, LongNamesAreCut) {
  LzhMember layout = Layout({FileNameRecord(std::string(100, 'f')), DirNameRecord(std::string(200, 'd'))});
  ASSERT_EQ(ReadFrom(LzhHeader(layout)), MemberReady);
  EXPECT_EQ(strlen(Work->memberName), 259u);
  EXPECT_EQ(std::string(Work->memberName), std::string(200, 'd') + std::string(59, 'f'));
  EXPECT_EQ(Work->nameCut, 1);
  ASSERT_EQ(ReadFrom(LzhHeader(Layout({FileNameRecord(std::string(259, 'w'))}))), MemberReady);
  EXPECT_EQ(Work->nameCut, 0);
  LzhMember split = Layout({FileNameRecord("\x82\xA0" "x"), DirNameRecord(std::string(258, 'd'))});
  ASSERT_EQ(ReadFrom(LzhHeader(split)), MemberReady);
  EXPECT_EQ(std::string(Work->memberName), std::string(258, 'd'));
}

// Catches reads outside the header buffer and endless chains: each damaged
// header is refused and nothing crashes.
TEST_F(Header, DamagedChainsAreRefused) {
  std::vector<uint8_t> good = LzhHeader(Layout({FileNameRecord("name")}));  // 26 + 7 + 5 bytes
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
  };
  std::vector<Case> cases;
  {
    std::vector<uint8_t> b = good;
    SetLe16(b, HdrFirstNextSize, 2);  // first record of size 2
    cases.push_back({"record size 2", b});
  }
  {
    std::vector<uint8_t> b = good;
    SetLe16(b, HdrFirstNextSize, 1);
    cases.push_back({"record size 1", b});
  }
  {
    std::vector<uint8_t> b = good;
    SetLe16(b, HdrFirstNextSize, 300);  // reaches far past the 38-byte header
    cases.push_back({"record past the end", b});
  }
  {
    std::vector<uint8_t> b = good;
    SetLe16(b, b.size() - 2, 5);  // the last field does not end the chain
    cases.push_back({"chain never ends", b});
  }
  {
    std::vector<uint8_t> b(20, 0);  // a header size below the fixed part
    SetLe16(b, HdrSize, 20);
    memcpy(&b[HdrMethod], "-lh5-", MethodIdLength);
    cases.push_back({"header size 20", b});
  }
  {
    std::vector<uint8_t> b(good.begin(), good.end() - 4);  // file ends inside the header
    cases.push_back({"short read", b});
  }
  {
    LzhMember tiny = Layout({{ExtHeaderCrc, std::string(1, '\0')}});  // a CRC record with one data byte
    tiny.crcAt = NoCrcRecord;
    cases.push_back({"crc record too short", LzhHeader(tiny)});
  }
  for (const Case& c : cases) EXPECT_EQ(ReadFrom(c.bytes), InvalidHeader) << c.name;
}

// Catches a length taken as signed: a header of 40000 bytes (one big record
// of an unknown type) is read and verified like any other.
TEST_F(Header, HeadersAbove32KAreAccepted) {
  std::vector<uint8_t> bytes = LzhHeader(Layout({FileNameRecord("big"), {0x7F, std::string(39950, 'x')}}));
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
