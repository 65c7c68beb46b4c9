// Unix time to DOS date/time and the TZ shift, checked against hand-derived
// values and against the C library's own calendar (gmtime), which shares no
// code with the day counting under test.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <string>

#include "base/dostime.h"
#include "extract/timeconv.h"

namespace {

// The DOS packing done independently from gmtime's broken-down fields.
uint32_t PackFromGmtime(uint32_t unixTime) {
  time_t t = (time_t)unixTime;
  struct tm f;
  gmtime_r(&t, &f);
  uint32_t date = ((uint32_t)(f.tm_year + 1900 - 1980) << 9) | ((uint32_t)(f.tm_mon + 1) << 5) |
                  (uint32_t)f.tm_mday;
  uint32_t time = ((uint32_t)f.tm_hour << 11) | ((uint32_t)f.tm_min << 5) | (uint32_t)(f.tm_sec / 2);
  return (date << 16) | time;
}

struct DosCase {
  uint32_t unixTime;
  uint16_t date;
  uint16_t time;
};

// Catches wrong leap-year handling, the 2000/2100 century steps, month tables
// and the dropped odd second: values worked out by hand from the calendar.
TEST(UnixToDosDateTime, HandDerivedDates) {
  const DosCase cases[] = {
      {315532800u, 0x0021, 0x0000},   // 1980-01-01 00:00:00
      {315532801u, 0x0021, 0x0000},   // odd second dropped
      {946684800u, 0x2821, 0x0000},   // 2000-01-01
      {951782400u, 0x285D, 0x0000},   // 2000-02-29, leap day of a /400 year
      {1234567890u, 0x3A4D, 0xBBEF},  // 2009-02-13 23:31:30
      {4102444799u, 0xEF9F, 0xBF7D},  // 2099-12-31 23:59:59
      {4102444800u, 0xF021, 0x0000},  // 2100-01-01
      {4133980800u, 0xF221, 0x0000},  // 2101-01-01: 2100 has no Feb 29
      {4294967295u, 0xFC47, 0x3387},  // 2106-02-07 06:28:15, the last second
  };
  for (const DosCase& c : cases) {
    uint32_t packed = UnixToDosDateTime(c.unixTime);
    EXPECT_EQ(packed >> 16, c.date) << c.unixTime;
    EXPECT_EQ(packed & 0xFFFF, c.time) << c.unixTime;
  }
}

// Catches any drift of the day counting across 1980..2106 (every year, every
// month boundary region) by comparing with the C library on a prime stride.
TEST(UnixToDosDateTime, AgreesWithGmtimeAcrossTheRange) {
  const uint64_t stride = 86400ull * 7 + 3607;  // a week and a bit, drifts through the clock
  int checked = 0;
  for (uint64_t t = 315532800ull; t <= 0xFFFFFFFFull; t += stride, ++checked)
    ASSERT_EQ(UnixToDosDateTime((uint32_t)t), PackFromGmtime((uint32_t)t)) << t;
  // The last day of each leap February and the first of March around 2100.
  const uint32_t edges[] = {951868799u, 951868800u, 4107542399u, 4107542400u, 1582934400u};
  for (uint32_t t : edges) EXPECT_EQ(UnixToDosDateTime(t), PackFromGmtime(t)) << t;
  EXPECT_GT(checked, 6000);
}

// Catches an unpacking that drifts from the calendar (leap days, centuries,
// field order): fields packed from gmtime read back as the same second,
// rounded down to an even one.
TEST(DosDateTimeToUnix, UndoesThePackingAcrossTheRange) {
  const uint64_t stride = 86400ull * 5 + 3601;
  for (uint64_t t = 315532800ull; t <= 0xFFFFFFFFull; t += stride)
    ASSERT_EQ(DosDateTimeToUnix(PackFromGmtime((uint32_t)t)), (uint32_t)t & ~1u) << t;
}

// Catches a pre-1980 time wrapping into the 2090s: it must read back as the
// DOS epoch, 1980-01-01 00:00:00.
TEST(UnixToDosDateTime, TimesBefore1980BecomeTheDosEpoch) {
  for (uint32_t t : {0u, 1u, 86400u * 365u, 315532799u})
    EXPECT_EQ(UnixToDosDateTime(t), 0x00210000u) << t;
}

class TzShift : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = getenv("TZ");
    hadTz_ = old != nullptr;
    if (hadTz_) oldTz_ = old;
  }
  void TearDown() override {
    if (hadTz_)
      setenv("TZ", oldTz_.c_str(), 1);
    else
      unsetenv("TZ");
  }
  static uint32_t Shift(const char* tz, uint32_t t) {
    if (tz == nullptr)
      unsetenv("TZ");
    else
      setenv("TZ", tz, 1);
    ApplyTzVariable(&t);
    return t;
  }
  bool hadTz_ = false;
  std::string oldTz_;
};

// Catches a wrong sign rule, reading past the first number, or shifting when
// the variable is absent or has no digits.
TEST_F(TzShift, FirstNumberSignedByThePrecedingMark) {
  const uint32_t base = 1000000000u;
  struct Case {
    const char* tz;
    int64_t hours;
  } cases[] = {
      {nullptr, 0},    {"", 0},        {"0", 0},       {"-0", 0},      {"JST-9", 9},
      {"EST5EDT", -5}, {"5:30", -5},   {"+3", -3},     {"UTC", 0},     {"ABC-12XYZ3", 12},
      {"X+2", -2},     {"-123", 123},  {"GMT0BST", 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Shift(c.tz, base), (uint32_t)(base + c.hours * 3600)) << (c.tz ? c.tz : "(unset)");
}

// Catches signed or 64-bit arithmetic where the shift must wrap in 32 bits.
TEST_F(TzShift, WrapsInThirtyTwoBits) {
  EXPECT_EQ(Shift("1", 0), 4294963696u);
  EXPECT_EQ(Shift("-1", 4294967295u), 3599u);
}

// Catches a scan that runs past the 100-byte buffer or uses an unfilled one:
// a value that does not fit is treated as unset.
TEST_F(TzShift, OverlongValueIsIgnored) {
  std::string longValue(99, 'A');
  longValue = "-5" + longValue;  // 101 characters
  EXPECT_EQ(Shift(longValue.c_str(), 5000u), 5000u);
  std::string fits = "-5" + std::string(97, 'A');  // 99 characters: fits
  EXPECT_EQ(Shift(fits.c_str(), 5000u), 5000u + 5 * 3600u);
}

}  // namespace
