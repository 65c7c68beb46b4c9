// MS-DOS date and time, as member headers of levels 0 and 1 store them and
// the Windows file calls take them: the date in the high 16 bits (years
// since 1980, month, day), the time in the low 16 (hours, minutes, seconds
// halved). The one packing and the one unpacking, both by plain day counting
// with no calendar call, both over UTC: the host's platform layer and header
// reader unpack with DosDateTimeToUnix what UnixToDosDateTime packs.
#pragma once
#include <stdint.h>

// Unix seconds to the packed fields; times before 1980-01-01 00:00:00 become
// that moment, an odd second is dropped. Valid for every 32-bit time.
uint32_t UnixToDosDateTime(uint32_t unixTime);
// The packed fields to Unix seconds, counted as if they were UTC, so that
// UnixToDosDateTime gives them back. A month or day of 0 counts as 1, a
// month past 12 as 12; fields past their range otherwise carry over, and
// times past what 32 bits hold (early 2106) stay at the last one.
uint32_t DosDateTimeToUnix(uint32_t dosDateTime);

// The packed fields one by one, the month and day made valid as
// DosDateTimeToUnix makes them; for the host's conversion as local time.
struct DosFields {
  uint32_t year, month, day, hour, minute, second;
};
DosFields UnpackDosDateTime(uint32_t dosDateTime);
