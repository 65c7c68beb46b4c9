// The TZ correction of the 32-bit layer of 16-bit Windows. It reads the
// variable into a bounded buffer and never scans past it.
#include "extract/timeconv.h"

#include "platform/platform.h"

namespace {

enum : uint32_t {
  SecondsPerHour = 3600,
  TzBufferSize = 100,
};

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
