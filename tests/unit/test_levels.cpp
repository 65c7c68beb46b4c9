// The host's reader of every header level (extract/levels_host.cpp) through
// the member walk: headers of levels 0 to 3 laid out by the tests' own
// writer, each turned into the level-2 state the driver reads, and damaged
// headers refused for the right reason. Times of levels 0 and 1 are checked
// against the C library's calendar, not the engine's.
#include <gtest/gtest.h>
#include <string.h>
#include <time.h>

#include <string>
#include <vector>

#include "base/text.h"
#include "core/workarea.h"
#include "extract/header.h"
#include "extract/walk.h"
#include "tests/unit/support/files.h"
#include "tests/unit/support/lzhwriter.h"
#include "tests/unit/support/recording.h"

namespace {

const uint8_t AllLevels[] = {HeaderLevelZero, HeaderLevelOne, HeaderLevelTwo, HeaderLevelThree};

// A member at a level: the name goes where that level keeps it (the base
// header for levels 0 and 1, with a directory as "dir\" before it at level
// 0; records otherwise), the time in that level's form.
LzhMember At(uint8_t level, const std::string& dir, const std::string& name, const std::string& data,
             uint32_t unixTime, uint32_t dosTime) {
  LzhMember m;
  m.level = level;
  m.data = data;
  m.timeStamp = level <= HeaderLevelOne ? dosTime : unixTime;
  if (level == HeaderLevelZero) {
    m.baseName = dir.empty() ? name : dir + "\\" + name;
    m.crcAt = NoCrcRecord;
  } else if (level == HeaderLevelOne) {
    m.baseName = name;
    if (!dir.empty()) m.records.push_back(DirNameRecord(dir + "\xFF"));
    m.crcAt = NoCrcRecord;
  } else {
    m.records.push_back(FileNameRecord(name));
    if (!dir.empty()) m.records.push_back(DirNameRecord(dir + "\xFF"));
  }
  return m;
}

// What the walk yields for one member.
struct Seen {
  std::string name;
  std::string method;
  MemberSize compressed, original;
  uint32_t stamp, headerLength;
  uint8_t level, timeIsLocal;
  std::string data;  // the member's data bytes, read where the walk left the file
};

// The seconds of MS-DOS fields taken as UTC, by the C library; the last
// 32-bit value for times beyond it.
uint32_t DosFieldsAsUtc(uint32_t dos) {
  uint32_t date = dos >> 16, time = dos & 0xFFFF;
  struct tm t = {};
  t.tm_year = 80 + (int)(date >> 9);
  t.tm_mon = (int)((date >> 5) & 15) - 1;
  t.tm_mday = (int)(date & 31);
  t.tm_hour = (int)(time >> 11);
  t.tm_min = (int)((time >> 5) & 63);
  t.tm_sec = (int)(time & 31) * 2;
  time_t seconds = timegm(&t);
  return seconds > (time_t)UINT32_MAX ? UINT32_MAX : (uint32_t)seconds;
}

uint32_t DosFields(int year, int month, int day, int hour, int minute, int second) {
  uint32_t date = (uint32_t)(((year - 1980) << 9) | (month << 5) | day);
  uint32_t time = (uint32_t)((hour << 11) | (minute << 5) | (second / 2));
  return (date << 16) | time;
}

// Sets a level-0/1 header's checksum for what its bytes now hold.
void FixChecksum(std::vector<uint8_t>& b) {
  uint32_t sum = 0;
  for (size_t i = BaseUncounted; i < b[HdrBaseSize] + BaseUncounted; ++i) sum += b[i];
  b[HdrChecksum] = (uint8_t)sum;
}

class Levels : public ::testing::Test {
 protected:
  void SetUp() override { NewWorkArea(); }
  void TearDown() override {
    CloseArchiveRun();
    FreeWorkArea();
  }
  // Walks the archive; result is how the walk ended.
  std::vector<Seen> Walk(const std::vector<uint8_t>& archive, HeaderReadResult* result = nullptr) {
    CloseArchiveRun();
    std::string path = WriteTempFile(archive);
    CopyText(Work->archivePath, path.c_str(), ArchivePathSize);
    Work->config.archiveOffset = 0;
    std::vector<Seen> seen;
    HeaderReadResult last = ArchiveBroken;
    if (OpenArchiveRun()) {
      while ((last = NextMember()) == MemberReady) {
        Seen s{Work->memberName, std::string((const char*)Work->header + HdrMethod, MethodIdLength),
               MemberCompressedSize(), MemberOriginalSize(), MemberTimeStamp(),
               Work->headerLength, Work->headerLevel, Work->timeIsLocal, ""};
        s.data.resize(s.compressed);
        uint32_t done = 0;
        if (s.compressed != 0) PlatformRead(Work->archiveFile, s.data.data(), (uint32_t)s.compressed, &done);
        s.data.resize(done);
        seen.push_back(s);
      }
    }
    if (result != nullptr) *result = last;
    return seen;
  }
};

// Catches a level read with the wrong offsets, its data taken from the wrong
// place or with the wrong size (level 1's records counted in the packed
// size), the next header looked for in the wrong place, names not composed,
// and times not converted: two members of each level, one after the other,
// with CP932 names in a directory.
TEST_F(Levels, EveryLevelReadsAlike) {
  const uint32_t unixTime = 1000000000u;  // 2001-09-09 01:46:40 UTC
  const uint32_t dos = DosFields(2001, 9, 9, 1, 46, 40);
  ASSERT_EQ(DosFieldsAsUtc(dos), unixTime);
  const std::string kanji = "\x93\xFA\x96\x7B";  // CP932 for "Japan"
  for (uint8_t level : AllLevels) {
    SCOPED_TRACE("level " + std::to_string(level));
    LzhMember first = At(level, "sub", kanji + ".txt", "first member's data", unixTime, dos);
    LzhMember second = At(level, "", "b.bin", std::string("\0\1\2\3", 4), unixTime + 2, dos + 1);
    size_t firstHeader = LzhHeader(first).size();
    std::vector<Seen> seen = Walk(LzhArchive({first, second}));
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].name, "sub/" + kanji + ".txt");
    EXPECT_EQ(seen[0].data, first.data);
    EXPECT_EQ(seen[0].compressed, first.data.size());
    EXPECT_EQ(seen[0].original, first.data.size());
    EXPECT_EQ(seen[0].headerLength, firstHeader);
    EXPECT_EQ(seen[0].level, level);
    EXPECT_EQ(seen[0].stamp, unixTime);
    EXPECT_EQ(seen[0].timeIsLocal, level <= HeaderLevelOne);
    EXPECT_EQ(seen[1].name, "b.bin");
    EXPECT_EQ(seen[1].data, second.data);
    EXPECT_EQ(seen[1].stamp, unixTime + 2);
  }
}

// Catches the Unix records read at one level but not another, the ids
// swapped (the level-0 extension holds the user id first, the record the
// group id), a Unix time that does not replace the DOS time, and values
// carried over from the member before.
TEST_F(Levels, UnixOwnerModeAndTimeAtEveryLevel) {
  const uint32_t dos = DosFields(1999, 12, 31, 23, 59, 58);
  for (uint8_t level : AllLevels) {
    SCOPED_TRACE("level " + std::to_string(level));
    LzhMember m = At(level, "", "run.sh", "#!/bin/sh\n", 1234, dos);
    m.osId = OsIdUnix;
    if (level == HeaderLevelZero) {
      m.baseExtension = Level0UnixExtension(1600000000u, 0100751, 123, 456);
    } else {
      m.records.push_back(UnixModeRecord(0100751));
      m.records.push_back(UnixIdsRecord(456, 123));
      m.records.push_back({ExtGroupName, "staff"});
      m.records.push_back({ExtUserName, "alice"});
      m.records.push_back(UnixTimeRecord(1600000000u));
    }
    LzhMember plain = At(level, "", "plain", "x", 1234, dos);
    std::vector<Seen> seen = Walk(LzhArchive({m}));
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].stamp, 1600000000u);
    EXPECT_EQ(seen[0].timeIsLocal, 0);
    EXPECT_EQ(Work->hasUnixMode, 1);
    EXPECT_EQ(Work->unixMode, 0100751);
    EXPECT_EQ(Work->hasUnixIds, 1);
    EXPECT_EQ(Work->unixUid, 123);
    EXPECT_EQ(Work->unixGid, 456);
    EXPECT_STREQ(Work->unixUser, level == HeaderLevelZero ? "" : "alice");
    EXPECT_STREQ(Work->unixGroup, level == HeaderLevelZero ? "" : "staff");
    EXPECT_EQ(seen[0].name, "run.sh");
    // The next member of the walk has none of them.
    seen = Walk(LzhArchive({m, plain}));
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(Work->hasUnixMode, 0);
    EXPECT_EQ(Work->hasUnixIds, 0);
    EXPECT_STREQ(Work->unixUser, "");
  }
}

// Catches DOS fields converted with a wrong calendar (leap days, the turn of
// a year or a century) and times beyond 32 bits wrapped back to 1970.
TEST_F(Levels, DosTimesOfLevelsZeroAndOne) {
  const uint32_t times[] = {DosFields(1980, 1, 1, 0, 0, 0), DosFields(1996, 2, 29, 12, 30, 10),
                            DosFields(2000, 2, 29, 23, 59, 58), DosFields(2000, 3, 1, 0, 0, 2),
                            DosFields(2038, 1, 19, 3, 14, 6), DosFields(2100, 3, 1, 1, 2, 4),
                            DosFields(2106, 2, 7, 6, 28, 14), DosFields(2106, 2, 7, 6, 28, 16),
                            DosFields(2107, 12, 31, 23, 59, 58)};
  for (uint8_t level : {HeaderLevelZero, HeaderLevelOne}) {
    for (uint32_t dos : times) {
      std::vector<Seen> seen = Walk(LzhArchive({At(level, "", "t", "", 0, dos)}));
      ASSERT_EQ(seen.size(), 1u);
      EXPECT_EQ(seen[0].stamp, DosFieldsAsUtc(dos)) << std::hex << dos << " level " << (int)level;
      EXPECT_EQ(seen[0].timeIsLocal, 1);
    }
  }
}

// Catches level-1 records taken or skipped wrongly: a long name record
// replaces the base header's name, the attribute record counts for MS-DOS
// archives, records before data are not data, the header CRC record is
// checked over the base header and every record.
TEST_F(Levels, LevelOneRecords) {
  LzhMember m = At(HeaderLevelOne, "", "SHORT~1.TXT", "payload", 0, DosFields(2010, 5, 6, 7, 8, 10));
  m.records.push_back(FileNameRecord("a long file name.text"));
  m.records.push_back(AttributeRecord(AttrReadOnly | AttrArchive));
  m.records.push_back({0x7E, std::string(300, 'u')});  // unknown: passed over
  m.crcAt = 1;
  m.dosAttribute = AttrArchive;
  std::vector<Seen> seen = Walk(LzhArchive({m, At(HeaderLevelOne, "", "next", "n", 0, 0)}));
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].name, "a long file name.text");
  EXPECT_EQ(seen[0].data, "payload");
  EXPECT_EQ(seen[1].name, "next");
  m.corruptHeaderCrc = true;
  HeaderReadResult result;
  seen = Walk(LzhArchive({m}), &result);
  EXPECT_EQ(result, InvalidHeader);
  EXPECT_EQ(Work->headerFault, FaultCrc);
}

// Catches attributes taken from the wrong place at levels 0 and 1.
TEST_F(Levels, Attributes) {
  LzhMember zero = At(HeaderLevelZero, "", "ro", "", 0, 0);
  zero.dosAttribute = AttrReadOnly;
  Walk(LzhArchive({zero}));
  EXPECT_EQ(Work->attributes, AttrReadOnly);
  LzhMember one = At(HeaderLevelOne, "", "ro", "", 0, 0);
  one.dosAttribute = AttrArchive;
  one.records.push_back(AttributeRecord(AttrReadOnly));
  Walk(LzhArchive({one}));
  EXPECT_EQ(Work->attributes, AttrReadOnly);
}

// Catches damaged headers of the other levels accepted, or refused for the
// wrong reason, and reads past what a header states.
TEST_F(Levels, DamagedHeadersAreRefused) {
  auto zero = [] { return At(HeaderLevelZero, "", "name.txt", "data", 0, 0); };
  auto one = [] { return At(HeaderLevelOne, "", "name.txt", "data", 0, 0); };
  auto three = [] { return At(HeaderLevelThree, "", "name.txt", "data", 0, 0); };
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    uint8_t fault;
  };
  std::vector<Case> cases;
  {
    LzhMember m = zero();
    m.corruptChecksum = true;
    cases.push_back({"level-0 checksum", LzhMemberBytes(m), FaultCrc});
  }
  {
    LzhMember m = one();
    m.corruptChecksum = true;
    cases.push_back({"level-1 checksum", LzhMemberBytes(m), FaultCrc});
  }
  {
    std::vector<uint8_t> b = LzhMemberBytes(zero());
    b[HdrNameLength] = 200;  // a name longer than the header
    cases.push_back({"name past the header", b, FaultTooShort});
  }
  {
    LzhMember m = zero();
    m.method = "lh5--";
    cases.push_back({"no method id", LzhMemberBytes(m), FaultMethod});
  }
  {
    LzhMember m = one();
    m.records.push_back(FileNameRecord("x"));
    std::vector<uint8_t> b = LzhMemberBytes(m);
    size_t sizeField = b[HdrBaseSize] + BaseUncounted - SizeFieldLength;
    SetLe16(b, sizeField, 2);  // a record of two bytes
    FixChecksum(b);
    cases.push_back({"level-1 record of 2 bytes", b, FaultChain});
  }
  {
    LzhMember m = one();
    m.records.push_back(FileNameRecord("x"));
    m.compressedSize = 0;  // the stated packed size holds the record only
    std::vector<uint8_t> b = LzhMemberBytes(m);
    b[HdrCompressedSize] -= 1;  // and now not even that
    FixChecksum(b);
    cases.push_back({"level-1 records beyond the packed size", b, FaultChain});
  }
  {
    std::vector<uint8_t> b = LzhMemberBytes(three());
    b.resize(40);
    cases.push_back({"level-3 header cut short", b, FaultTooShort});
  }
  {
    std::vector<uint8_t> b = LzhMemberBytes(three());
    b[HdrTotalSize] = 31;
    cases.push_back({"level-3 total below the fixed part", b, FaultTooShort});
  }
  {
    std::vector<uint8_t> b = LzhMemberBytes(three());
    b[HdrTotalSize + 3] = 0x10;  // 256 MB
    cases.push_back({"level-3 total beyond reason", b, FaultChain});
  }
  {
    std::vector<uint8_t> b = LzhMemberBytes(three());
    b[Hdr3FirstNextSize] = 0xF0;  // the first record leaves the header
    cases.push_back({"level-3 record past the header", b, FaultChain});
  }
  {
    LzhMember m = three();
    m.crcAt = NoCrcRecord;
    cases.push_back({"level-3 without a CRC record", LzhMemberBytes(m), FaultNoCrc});
  }
  {
    LzhMember m = At(HeaderLevelTwo, "", "name.txt", "data", 0, 0);
    m.crcAt = NoCrcRecord;
    std::vector<uint8_t> b = LzhMemberBytes(m);
    b[HdrLevel] = 5;  // unchecked, the level byte is all that says "header"
    cases.push_back({"level-2 form, level 5, no CRC record", b, FaultNoCrc});
    b[HdrLevel] = HeaderLevelTwo;
    b[HdrFirstNextSize] = 0x40;  // the first record leaves the header
    cases.push_back({"level-2 record past the header, no CRC record", b, FaultChain});
  }
  {
    LzhMember m = At(HeaderLevelTwo, "", "no bar", "", 0, 0);
    m.method = "-lhd-";
    m.records.push_back(UnixModeRecord(0120777));
    cases.push_back({"a link with no target", LzhMemberBytes(m), FaultChain});
  }
  {
    LzhMember m = three();
    m.corruptHeaderCrc = true;
    cases.push_back({"level-3 CRC", LzhMemberBytes(m), FaultCrc});
  }
  for (const Case& c : cases) {
    HeaderReadResult result;
    std::vector<Seen> seen = Walk(c.bytes, &result);
    EXPECT_TRUE(seen.empty()) << c.name;
    EXPECT_EQ(result, InvalidHeader) << c.name;
    EXPECT_EQ(Work->headerFault, c.fault) << c.name;
  }
}

// Catches what the comparisons with lhasa cannot: an OS-9/68k header whole
// and right as stated read two bytes long (the stub reads it as stated); a
// nameless directory entry's bytes lost to the walk instead of counted with
// the member behind it; a link split at a later '|'.
TEST_F(Levels, Os9AsStatedNamelessAndLinkSplit) {
  LzhMember os9 = At(HeaderLevelTwo, "", "right.txt", "as stated", 7, 0);
  os9.osId = OsIdOs9;
  LzhMember nameless = At(HeaderLevelZero, "", "", "", 0, 0);
  nameless.method = "-lhd-";
  LzhMember link = At(HeaderLevelTwo, "", "x", "", 0, 0);
  link.method = "-lhd-";
  link.records = {FileNameRecord("b|c"), DirNameRecord("d\xFF" "a|..\xFF"), UnixModeRecord(0120777)};
  std::vector<Seen> seen = Walk(LzhArchive({os9, nameless, link}));
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].data, "as stated");
  EXPECT_EQ(seen[1].name, "d/a");
  EXPECT_EQ(seen[1].headerLength, LzhHeader(nameless).size() + LzhHeader(link).size());
  EXPECT_EQ(Work->isLink, 1);
  EXPECT_STREQ(Work->linkTarget, "../b|c");
}

// Catches the end of a level-0/1 archive (a single zero byte, or the file's
// end) taken for a broken header, and a level-3 header whose first bytes
// are not 4 read as level 3.
TEST_F(Levels, EndsAndStrayLevels) {
  HeaderReadResult result;
  std::vector<uint8_t> bytes = LzhMemberBytes(At(HeaderLevelZero, "", "a", "1", 0, 0));
  EXPECT_EQ(Walk(bytes, &result).size(), 1u);
  EXPECT_EQ(result, EndOfArchive);
  bytes.push_back(0);
  bytes.insert(bytes.end(), 30, 'j');  // junk behind the end marker
  EXPECT_EQ(Walk(bytes, &result).size(), 1u);
  EXPECT_EQ(result, EndOfArchive);
  std::vector<uint8_t> wide = LzhMemberBytes(At(HeaderLevelThree, "", "a", "1", 0, 0));
  wide[HdrSize] = 2;
  Walk(wide, &result);
  EXPECT_EQ(result, InvalidHeader);
}

// Catches a level-2 header with a method the stub does not decode refused
// as broken: the host reads it (the driver then names the method), and
// still ends the archive at a zero byte followed by junk.
TEST_F(Levels, AnyMethodIdAtLevelTwo) {
  for (const char* method : {"-lh1-", "-lzs-", "-pm2-", "-xyz-"}) {
    LzhMember m = At(HeaderLevelTwo, "d", "f", "abc", 5, 0);
    m.method = method;
    std::vector<Seen> seen = Walk(LzhArchive({m, At(HeaderLevelTwo, "", "g", "", 5, 0)}));
    ASSERT_EQ(seen.size(), 2u) << method;
    EXPECT_EQ(seen[0].name, "d/f") << method;
    EXPECT_EQ(seen[0].method, method);
    EXPECT_EQ(seen[0].data, "abc") << method;
    EXPECT_EQ(seen[1].method, "-lh0-");
  }
  for (const char* method : {"-lh\x01-", "xlh5-", "-lh5x", "-l h-"}) {
    LzhMember m = At(HeaderLevelTwo, "", "f", "abc", 5, 0);
    m.method = method;
    HeaderReadResult result;
    Walk(LzhArchive({m}), &result);
    EXPECT_EQ(result, InvalidHeader) << method;
    EXPECT_EQ(Work->headerFault, FaultMethod) << method;
  }
}

// Catches create's check reading more than the stub reads: with
// stubHeadersOnly set, a level-0 header and an -lh1- member are refused.
TEST_F(Levels, StubHeadersOnly) {
  LzhMember lh1 = At(HeaderLevelTwo, "", "f", "abc", 5, 0);
  lh1.method = "-lh1-";
  for (const std::vector<uint8_t>& archive :
       {LzhArchive({At(HeaderLevelZero, "", "a", "1", 0, 0)}), LzhArchive({lh1})}) {
    HeaderReadResult result;
    EXPECT_EQ(Walk(archive, &result).size(), 1u);
    Work->stubHeadersOnly = 1;
    EXPECT_EQ(Walk(archive, &result).size(), 0u);
    EXPECT_EQ(result, InvalidHeader);
    Work->stubHeadersOnly = 0;
  }
}

}  // namespace
