// The bit reader against the member's bytes read bit by bit in the test:
// values seen through bitWindow, the zero bits after the member's end, the
// sizes and moments of the archive reads, and a read that fails.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "extract/bitreader.h"
#include "core/messages.h"
#include "tests/unit/support/files.h"
#include "tests/unit/support/recording.h"

namespace {

class BitReader : public ::testing::Test {
 protected:
  std::vector<uint8_t> member;
  void SetUp() override {
    NewWorkArea();
    snprintf(Work->archivePath, ArchivePathSize, "/tmp/arc.exe");
  }
  void TearDown() override {
    if (Work->archiveFile != InvalidFile) PlatformClose(Work->archiveFile);
    FreeWorkArea();
  }
  // Stores the member's bytes (and trailing bytes that must never be read)
  // and primes the reader the way the decoder does.
  void Start(std::vector<uint8_t> bytes, size_t trailing = 8) {
    member = bytes;
    bytes.insert(bytes.end(), trailing, 0xEE);
    Work->archiveFile = PlatformOpenRead(WriteTempFile(bytes).c_str());
    Work->inputPos = UINT32_MAX;
    Work->compressedRemaining = (uint32_t)member.size();
    ResetBits();
    LoadBits(16);
  }
  // Bit i of the stream: the member's bits MSB first, then zeros.
  int StreamBit(size_t i) const {
    size_t byte = i / 8;
    return byte < member.size() ? (member[byte] >> (7 - i % 8)) & 1 : 0;
  }
  uint16_t Expected16(size_t at) const {
    uint16_t v = 0;
    for (int k = 0; k < 16; k++) v = (uint16_t)((v << 1) | StreamBit(at + k));
    return v;
  }
};

std::vector<uint8_t> RandomBytes(size_t n, uint32_t initial) {
  std::mt19937 rng(initial);
  std::vector<uint8_t> b(n);
  for (auto& v : b) v = (uint8_t)rng();
  return b;
}

// Catches a reader that reads when there is nothing to read or does not
// feed zero bits: compressed size 0 gives only zero bits and no file read.
TEST_F(BitReader, EmptyMemberGivesZeroBits) {
  Start({});
  EXPECT_EQ(Work->bitWindow, 0);
  EXPECT_EQ(FilePosition(Work->archiveFile), 0);
  for (int i = 0; i < 10; i++) EXPECT_EQ(TakeBits(16), 0);
  EXPECT_EQ(FilePosition(Work->archiveFile), 0);
}

// Catches a window primed with bytes beyond the member: size 1 is that byte
// followed by zero bits.
TEST_F(BitReader, OneByteMember) {
  Start({0xA5});
  EXPECT_EQ(Work->bitWindow, 0xA500);
  EXPECT_EQ(FilePosition(Work->archiveFile), 1);
  EXPECT_EQ(TakeBits(4), 0xA);
  EXPECT_EQ(Work->bitWindow, 0x5000);
}

// Catches wrong bits for any consumption pattern, counts above 16 included
// (the code-length reader consumes up to 17 at once), and TakeBits(0) or
// LoadBits(0) consuming anything.
TEST_F(BitReader, RandomConsumptionMatchesStream) {
  Start(RandomBytes(40000, 7));
  std::mt19937 rng(99);
  size_t at = 0;
  while (at < member.size() * 8 + 200) {
    ASSERT_EQ(Work->bitWindow, Expected16(at)) << "at bit " << at;
    uint32_t pick = rng() % 10;
    if (pick < 6) {
      uint8_t n = (uint8_t)(rng() % 17);
      uint16_t expected = n == 0 ? 0 : (uint16_t)(Expected16(at) >> (16 - n));
      ASSERT_EQ(TakeBits(n), expected) << "at bit " << at << " n " << (int)n;
      at += n;
    } else {
      uint8_t n = (uint8_t)(pick == 9 ? rng() % 256 : rng() % 24);
      LoadBits(n);
      at += n;
    }
  }
  EXPECT_EQ(FilePosition(Work->archiveFile), (int64_t)member.size());
}

// Catches reads that are too large, too early or past the member: 16385
// bytes are read as 16384 and then 1, the second only when the window needs
// the 16385th byte.
TEST_F(BitReader, ReadsOnlyWhenTheWindowNeedsThem) {
  Start(RandomBytes(16385, 3));
  EXPECT_EQ(FilePosition(Work->archiveFile), 16384);
  // Keep the window on the last two bytes of the first read.
  for (int i = 0; i < 16382 * 8 / 16; i++) TakeBits(16);
  EXPECT_EQ(Work->bitWindow, (member[16382] << 8) | member[16383]);
  EXPECT_EQ(FilePosition(Work->archiveFile), 16384);
  LoadBits(1);
  EXPECT_EQ(FilePosition(Work->archiveFile), 16385);
  for (int i = 0; i < 10; i++) LoadBits(16);
  EXPECT_EQ(FilePosition(Work->archiveFile), 16385);
}

// Catches a failed read taken as data: the file is shorter than the
// compressed size, so the second read comes back short and the run ends
// with "read error" for the archive and exit code 1.
TEST_F(BitReader, ShortReadEndsTheRun) {
  std::vector<uint8_t> bytes = RandomBytes(16400, 5);
  Work->archiveFile = PlatformOpenRead(WriteTempFile(bytes).c_str());
  Work->inputPos = UINT32_MAX;
  Work->compressedRemaining = 20000;
  int code = RunTrapped([] {
    ResetBits();
    LoadBits(16);
    for (int i = 0; i < 20000; i++) LoadBits(8);
  });
  EXPECT_EQ(code, ExitFailed);
  EXPECT_EQ(Reported.lastMessage, MsgReadError);
  EXPECT_EQ(Reported.lastSubject, "/tmp/arc.exe");
  EXPECT_EQ(Work->archiveFile, InvalidFile);
}

// Catches a refill that ignores the wanted count or the empty-buffer rule.
TEST_F(BitReader, ReadArchiveByteRefills) {
  std::vector<uint8_t> bytes = RandomBytes(100, 11);
  Work->archiveFile = PlatformOpenRead(WriteTempFile(bytes).c_str());
  Work->inputPos = UINT32_MAX;
  EXPECT_EQ(ReadArchiveByte(Work->archiveFile, 10), bytes[0]);
  EXPECT_EQ(FilePosition(Work->archiveFile), 10);
  for (int i = 1; i < 10; i++) EXPECT_EQ(ReadArchiveByte(Work->archiveFile, 10 - i), bytes[i]);
  Work->inputPos = InputBufferSize;
  EXPECT_EQ(ReadArchiveByte(Work->archiveFile, 200), -1);  // only 90 bytes left
}

}  // namespace
