// The TZ correction used on the 32-bit layer of 16-bit Windows, whose file
// times the stub sets from local time. The DOS packing itself lives in
// base/dostime.h.
#pragma once
#include <stdint.h>

void ApplyTzVariable(uint32_t* unixTime);
