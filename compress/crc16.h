// The format's CRC-16 for the compressor, over tables of its own so that host
// code can checksum without an extraction run.
#pragma once
#include <cstddef>
#include <cstdint>

// Folds size bytes into crc and returns the new value.
uint16_t Crc16Update(uint16_t crc, const uint8_t* bytes, size_t size);
