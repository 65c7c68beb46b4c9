// The packing counts days from 1970 in steps of centuries, four years,
// years and months; the unpacking counts them back from the proleptic
// calendar with March-based years (February last, so a leap day needs no
// case of its own). Neither calls a calendar routine of the system.
#include "base/dostime.h"

namespace {

enum : uint32_t {
  SecondsPerDay = 86400, SecondsPerHour = 3600, SecondsPerMinute = 60,
  DaysPerCommonYear = 365, DaysPerLeapYear = 366,
  DaysPerFourYears = 3 * DaysPerCommonYear + DaysPerLeapYear,  // 1461
  DaysPerCentury2000 = 25 * DaysPerFourYears,                  // 36525, 2000 is leap
  DaysTo1972 = 2 * DaysPerCommonYear,                          // 730
  DaysTo2000 = DaysTo1972 + 7 * DaysPerFourYears,              // 10957
  MonthsPerYear = 12,
  // 1980-01-01 00:00:00 UTC, the first moment a DOS date can express.
  DosEpochUnixTime = 315532800,
  DosEpochYear = 1980,
  DosYearMask = 0x7F,
  // Where the fields lie in the packed value.
  DateShift = 16,
  TimeMask = 0xFFFF,
  YearShift = 9,
  MonthShift = 5,
  MonthMask = 0x0F,
  DayMask = 0x1F,
  HourShift = 11,
  MinuteShift = 5,
  MinuteMask = 0x3F,
  HalfSecondMask = 0x1F,
  // The proleptic calendar in eras of 400 years from 0000-03-01.
  YearsPerEra = 400,
  DaysPerEra = 146097,
  DaysFromEraStartTo1970 = 719468,
};
static_assert(DaysTo2000 == 10957, "days from 1970 to 2000");
static_assert(DaysPerCentury2000 == 36525, "days from 2000 to 2100");
static_assert(DaysPerEra == YearsPerEra * DaysPerCommonYear + YearsPerEra / 4 - YearsPerEra / 100 + 1,
              "days in 400 years");

const uint8_t CommonMonthDays[MonthsPerYear] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
const uint8_t LeapMonthDays[MonthsPerYear] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

int IsLeapYear(uint32_t year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

}  // namespace

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

  uint32_t date = (((year - DosEpochYear) & DosYearMask) << YearShift) | ((month + 1) << MonthShift) |
                  (days + 1);
  uint32_t time = (hours << HourShift) | (minutes << MinuteShift) | (seconds / 2);
  return (date << DateShift) | time;
}

DosFields UnpackDosDateTime(uint32_t dosDateTime) {
  uint32_t date = dosDateTime >> DateShift, time = dosDateTime & TimeMask;
  DosFields f;
  f.year = DosEpochYear + (date >> YearShift);
  f.month = (date >> MonthShift) & MonthMask;
  f.day = date & DayMask;
  if (f.month < 1) f.month = 1;
  if (f.month > MonthsPerYear) f.month = MonthsPerYear;
  if (f.day < 1) f.day = 1;
  f.hour = time >> HourShift;
  f.minute = (time >> MinuteShift) & MinuteMask;
  f.second = (time & HalfSecondMask) * 2;
  return f;
}

uint32_t DosDateTimeToUnix(uint32_t dosDateTime) {
  DosFields f = UnpackDosDateTime(dosDateTime);
  uint32_t year = f.year, month = f.month, day = f.day;
  uint32_t y = month <= 2 ? year - 1 : year;
  uint32_t era = y / YearsPerEra;
  uint32_t yearOfEra = y - era * YearsPerEra;
  // 153 days for every five months from March: 31, 30, 31, 30, 31.
  uint32_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  uint32_t dayOfEra = yearOfEra * DaysPerCommonYear + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  uint32_t days = era * DaysPerEra + dayOfEra - DaysFromEraStartTo1970;
  uint32_t seconds = f.hour * SecondsPerHour + f.minute * SecondsPerMinute + f.second;
  uint64_t total = (uint64_t)days * SecondsPerDay + seconds;
  return total > UINT32_MAX ? UINT32_MAX : (uint32_t)total;
}
