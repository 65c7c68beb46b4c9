// Unix seconds to packed DOS date and time by plain day counting (no calendar
// calls), valid for the whole unsigned 32-bit range; times before the DOS
// epoch become 1980-01-01 00:00:00. The TZ shift reads the variable into a
// bounded buffer and never scans past it.
#include "extract/timeconv.h"

#include "platform/platform.h"

namespace {

enum : uint32_t {
  SecondsPerDay = 86400,
  SecondsPerHour = 3600,
  SecondsPerMinute = 60,
  DaysPerCommonYear = 365,
  DaysPerLeapYear = 366,
  DaysPerFourYears = 3 * DaysPerCommonYear + DaysPerLeapYear,  // 1461
  DaysPerCentury2000 = 25 * DaysPerFourYears,                  // 36525, 2000 is leap
  DaysTo1972 = 2 * DaysPerCommonYear,                          // 730
  DaysTo2000 = DaysTo1972 + 7 * DaysPerFourYears,              // 10957
  MonthsPerYear = 12,
  // 1980-01-01 00:00:00 UTC, the first moment a DOS date can express.
  DosEpochUnixTime = 315532800,
  DosEpochYear = 1980,
  DosYearMask = 0x7F,
  TzBufferSize = 100,
};
static_assert(DaysTo2000 == 10957, "days from 1970 to 2000");
static_assert(DaysPerCentury2000 == 36525, "days from 2000 to 2100");

const uint8_t CommonMonthDays[MonthsPerYear] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
const uint8_t LeapMonthDays[MonthsPerYear] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

int IsLeapYear(uint32_t year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int IsDigit(uint8_t c) { return c >= '0' && c <= '9'; }

}  // namespace

// Only the first number counts: "-" before it moves the time forward (east of
// Greenwich), "+" or nothing moves it back. Arithmetic wraps in 32 bits.
void ApplyTzVariable(uint32_t* unixTime) {
  char value[TzBufferSize];
  uint32_t length = PlatformGetEnvironment("TZ", value, TzBufferSize);
  // A value that does not fit left the buffer untouched: treat it as unset.
  if (length == 0 || length >= TzBufferSize) return;

  const uint8_t* p = (const uint8_t*)value;
  const uint8_t* end = p + length;
  while (p < end && !IsDigit(*p) && *p != '+' && *p != '-') ++p;
  int add = 0;
  if (p < end && *p == '-') {
    add = 1;
    ++p;
  } else if (p < end && *p == '+') {
    ++p;
  }
  uint32_t hours = 0;
  while (p < end && IsDigit(*p)) {
    hours = hours * 10 + (uint32_t)(*p - '0');
    ++p;
  }
  uint32_t shift = hours * SecondsPerHour;
  *unixTime = add ? *unixTime + shift : *unixTime - shift;
}

uint32_t UnixToDosDateTime(uint32_t unixTime) {
  // A DOS year below 1980 would wrap to the 2100s when read back.
  if (unixTime < DosEpochUnixTime) unixTime = DosEpochUnixTime;

  uint32_t days = unixTime / SecondsPerDay;
  uint32_t seconds = unixTime % SecondsPerDay;

  uint32_t year;
  if (days < DaysTo1972) {
    year = 1970;
  } else {
    int fourYearSteps = 1;
    if (days < DaysTo2000) {
      year = 1972;
      days -= DaysTo1972;
    } else {
      year = 2000;
      days -= DaysTo2000;
      if (days >= DaysPerCentury2000) {
        // 2100 is a common year, so the leap-first four-year step no longer fits.
        year = 2100;
        days -= DaysPerCentury2000;
        fourYearSteps = 0;
      }
    }
    if (fourYearSteps) {
      while (days > DaysPerFourYears) {
        days -= DaysPerFourYears;
        year += 4;
      }
    }
  }
  for (;;) {
    uint32_t yearLength = IsLeapYear(year) ? DaysPerLeapYear : DaysPerCommonYear;
    if (days < yearLength) break;
    days -= yearLength;
    ++year;
  }

  const uint8_t* monthDays = IsLeapYear(year) ? LeapMonthDays : CommonMonthDays;
  uint32_t month = 0;
  while (month < MonthsPerYear && days >= monthDays[month]) {
    days -= monthDays[month];
    ++month;
  }

  uint32_t hours = seconds / SecondsPerHour;
  seconds %= SecondsPerHour;
  uint32_t minutes = seconds / SecondsPerMinute;
  seconds %= SecondsPerMinute;

  uint32_t date = (((year - DosEpochYear) & DosYearMask) << 9) | ((month + 1) << 5) | (days + 1);
  uint32_t time = (hours << 11) | (minutes << 5) | (seconds / 2);
  return (date << 16) | time;
}
