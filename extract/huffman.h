// Builds the canonical-code lookup table (and overflow trees in zeroChild /
// oneChild) from code lengths. Refuses broken length sets with "Bad table (5)".
#pragma once
#include <stdint.h>

#include "base/format.h"

void BuildHuffmanTable(int16_t symbolCount, const uint8_t* lengths, int16_t tableBits,
                       uint16_t* table);
// Shows "Bad table (5)" for the archive and ends the process with code 1.
[[noreturn]] void RefuseBadTable();
