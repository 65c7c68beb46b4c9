// Builds the canonical-code lookup table (and overflow trees in zeroChild /
// oneChild) from code lengths. Refuses broken length sets with "Bad table (5)".
#pragma once
#include <stdint.h>

void BuildHuffmanTable(int16_t symbolCount, const uint8_t* lengths, int16_t tableBits,
                       uint16_t* table);
