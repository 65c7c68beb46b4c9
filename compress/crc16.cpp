// Table-driven CRC-16/ARC; the table is built once at first use and is
// read-only afterwards.
#include "compress/crc16.h"

#include <array>

namespace {

constexpr uint16_t ReflectedPolynomial = 0xA001;

std::array<uint16_t, 256> MakeTable() {
  std::array<uint16_t, 256> table{};
  for (uint32_t i = 0; i < table.size(); ++i) {
    uint32_t v = i;
    for (int bit = 0; bit < 8; ++bit) v = (v & 1) ? (v >> 1) ^ ReflectedPolynomial : v >> 1;
    table[i] = static_cast<uint16_t>(v);
  }
  return table;
}

}  // namespace

uint16_t Crc16Update(uint16_t crc, const uint8_t* bytes, size_t size) {
  static const std::array<uint16_t, 256> table = MakeTable();
  uint32_t c = crc;
  for (size_t i = 0; i < size; ++i) c = table[(c ^ bytes[i]) & 0xFF] ^ (c >> 8);
  return static_cast<uint16_t>(c);
}
