// Builds the canonical-code lookup table (and overflow trees in zeroChild /
// oneChild) from code lengths. Refuses broken length sets with "Bad table (5)".
#pragma once
#include <stdint.h>
#include <string.h>

#include "base/format.h"

// Writes count copies of value from entry on. Tables fill in runs whose
// length is a power of two, so most runs fill whole machine words, and are
// written a word at a time.
inline void FillEntries(uint16_t* entry, uint32_t count, uint16_t value) {
  constexpr uint32_t PerWord = sizeof(uintptr_t) / sizeof(uint16_t);
  if (count % PerWord == 0) {
    uintptr_t word = (uintptr_t)value * (UINTPTR_MAX / 0xFFFF);
    for (uint32_t j = 0; j < count; j += PerWord) memcpy(entry + j, &word, sizeof word);
  } else {
    for (uint32_t j = 0; j < count; j++) entry[j] = value;
  }
}

void BuildHuffmanTable(int16_t symbolCount, const uint8_t* lengths, int16_t tableBits,
                       uint16_t* table);
// Shows "Bad table (5)" for the archive and ends the process with code 1.
[[noreturn]] void RefuseBadTable();
