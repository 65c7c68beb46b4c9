// CRC-16/ARC (reflected polynomial 0xA001, initial value 0, no final XOR) for
// the compressor: the same checksum the extractor verifies, kept apart from
// the engine's work-area version so host code can use it without a run.
#pragma once
#include <cstddef>
#include <cstdint>

// Folds size bytes into crc and returns the new value.
uint16_t Crc16Update(uint16_t crc, const uint8_t* bytes, size_t size);
