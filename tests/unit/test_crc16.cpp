// CRC-16/ARC against its published check value and hand-derived table
// entries, and the splitting and count rules of CrcUpdate. The tests' own
// bitwise CRC, which every hand-made archive relies on, is held to the same
// check value first.
#include <gtest/gtest.h>

#include "extract/crc16.h"
#include "tests/unit/support/lzhwriter.h"
#include "tests/unit/support/recording.h"

namespace {

class Crc16 : public ::testing::Test {
 protected:
  void SetUp() override {
    NewWorkArea();
    CrcInit(CrcPolynomial);
  }
  void TearDown() override { FreeWorkArea(); }
};

// Catches a fault in the tests' bitwise CRC that would make every hand-made
// header wrong in the same way as the engine: the catalogue check value, and
// a run split in two continuing from the first part's value.
TEST(ReferenceCrc16, CheckValueOfDigits) {
  EXPECT_EQ(ReferenceCrc16(std::string("123456789")), 0xBB3D);
  const uint8_t* digits = reinterpret_cast<const uint8_t*>("123456789");
  EXPECT_EQ(ReferenceCrc16(digits + 4, 5, ReferenceCrc16(digits, 4)), 0xBB3D);
  EXPECT_EQ(ReferenceCrc16(std::string()), 0);
}

// Catches a wrong polynomial, reflection or final XOR: the catalogue check value.
TEST_F(Crc16, CheckValueOfDigits) {
  Work->crc = 0;
  EXPECT_EQ(CrcUpdate(reinterpret_cast<const uint8_t*>("123456789"), 9), 0xBB3D);
  EXPECT_EQ(Work->crc, 0xBB3D);
}

// Catches a table built with the wrong shift direction or polynomial
// (entry 1 = 0xC0C1, entry 255 = 0x4040 worked out by hand for 0xA001).
TEST_F(Crc16, TableEntries) {
  EXPECT_EQ(Work->crcTable[0], 0x0000);
  EXPECT_EQ(Work->crcTable[1], 0xC0C1);
  EXPECT_EQ(Work->crcTable[128], 0xA001);
  EXPECT_EQ(Work->crcTable[255], 0x4040);
}

// Catches state lost between calls, or a count of 0 or below that still folds.
TEST_F(Crc16, SplitEmptyAndNegativeCounts) {
  std::vector<uint8_t> data(1000);
  for (size_t i = 0; i < data.size(); i++) data[i] = (uint8_t)(i * 37 + (i >> 3));
  uint16_t expected = ReferenceCrc16(data.data(), data.size());
  for (int split : {0, 1, 499, 999, 1000}) {
    Work->crc = 0;
    CrcUpdate(data.data(), split);
    EXPECT_EQ(CrcUpdate(data.data() + split, 1000 - split), expected) << "split at " << split;
  }
  Work->crc = 0;
  EXPECT_EQ(CrcUpdate(data.data(), 0), 0);
  Work->crc = 0x1234;
  EXPECT_EQ(CrcUpdate(data.data(), -5), 0x1234);
  EXPECT_EQ(Work->crc, 0x1234);
}

}  // namespace
