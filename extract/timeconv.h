// Unix seconds to packed DOS date and time without calendar calls, and the
// TZ correction used on the 32-bit layer of 16-bit Windows.
#pragma once
#include <stdint.h>

void ApplyTzVariable(uint32_t* unixTime);
// High 16 bits: DOS date; low 16 bits: DOS time.
uint32_t UnixToDosDateTime(uint32_t unixTime);
