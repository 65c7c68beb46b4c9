// The engine as the stub links it: this binary takes extract/levels_stub.cpp
// and extract/methods_stub.cpp in place of their host counterparts (see
// tests/unit/CMakeLists.txt), so the stub's reading of archives can be run
// here. It must read level-2 headers with the stub's methods exactly as
// before and refuse every other level and method as a broken header.
#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "core/messages.h"
#include "core/workarea.h"
#include "extract/driver.h"
#include "extract/walk.h"
#include "tests/unit/support/files.h"
#include "tests/unit/support/lzhwriter.h"
#include "tests/unit/support/recording.h"

namespace {

LzhMember Stored(uint8_t level, const std::string& name, const std::string& data) {
  LzhMember m;
  m.level = level;
  m.data = data;
  if (level <= HeaderLevelOne) {
    m.baseName = name;
    m.crcAt = NoCrcRecord;
  } else {
    m.records = {FileNameRecord(name)};
  }
  return m;
}

class StubEngine : public ::testing::Test {
 protected:
  void SetUp() override { NewWorkArea(); }
  void TearDown() override { FreeWorkArea(); }
  int Test(const std::vector<uint8_t>& archive) {
    std::string path = WriteTempFile(archive);
    strcpy(Work->archivePath, path.c_str());
    Work->config.archiveOffset = 0;
    ResetReports();
    int result = -1;
    EXPECT_EQ(RunTrapped([&] { result = ExtractArchive(nullptr, TestMode); }), NoExit);
    return result;
  }
};

// Catches the host's reader linked into the stub, or the stub's side of the
// link-time choice answering wrongly: what the stub reads it reads, with the
// next header found from the header's own size; everything else is a
// broken header, reported against the archive, and the run stops there.
TEST_F(StubEngine, ReadsLevelTwoWithItsMethodsOnly) {
  LzhMember lh1 = Stored(HeaderLevelTwo, "b", "x");
  lh1.method = "-lh1-";
  LzhMember lz5 = Stored(HeaderLevelTwo, "b", "x");
  lz5.method = "-lz5-";
  struct Case {
    const char* name;
    std::vector<uint8_t> archive;
    int result;
  } cases[] = {
      {"level 2, stored", LzhArchive({Stored(HeaderLevelTwo, "a", "1"), Stored(HeaderLevelTwo, "b", "2")}), 1},
      {"level 0", LzhArchive({Stored(HeaderLevelZero, "a", "1")}), 0},
      {"level 1", LzhArchive({Stored(HeaderLevelOne, "a", "1")}), 0},
      {"level 3", LzhArchive({Stored(HeaderLevelThree, "a", "1")}), 0},
      {"-lh1-", LzhArchive({Stored(HeaderLevelTwo, "a", "1"), lh1}), 0},
      {"-lz5-", LzhArchive({lz5}), 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Test(c.archive), c.result) << c.name;
    if (c.result == 0) {
      EXPECT_EQ(Reported.lastMessage, MsgInvalidHeader) << c.name;
      EXPECT_EQ(Reported.lastSubject, Work->archivePath) << c.name;
    } else {
      EXPECT_EQ(Reported.errorCount, 0) << c.name;
    }
  }
}

}  // namespace
