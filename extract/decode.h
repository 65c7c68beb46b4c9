// Produces one member's contents: -lh4- to -lh7- through the sliding window,
// -lh0- copied straight through, all output handed to WriteOutput.
#pragma once
#include <stdint.h>

#include "platform/platform.h"

void ExpandMember();
void CopyStoredMember(MemberSize size);
void BeginDecode(char methodDigit);
uint16_t DecodeSymbol();
uint16_t DecodeOffset();
void ReadAuxLengths(int16_t symbolCount, int16_t countBits, int16_t zeroRunPosition);
void ReadLiteralLengths();
void WriteOutput(const uint8_t* buffer, uint32_t count, FileHandle file);
