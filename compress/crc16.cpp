// Table-driven CRC-16/ARC, eight bytes per step ("slicing"): table k holds
// the CRC contribution of a byte followed by k zero bytes, so eight lookups
// fold eight bytes at once. The tables are built once, at first use.
#include "compress/crc16.h"

#include <array>

namespace {

constexpr uint16_t ReflectedPolynomial = 0xA001;
constexpr int Slices = 8;
using Tables = std::array<std::array<uint16_t, 256>, Slices>;

Tables MakeTables() {
  Tables t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t v = i;
    for (int bit = 0; bit < 8; ++bit) v = (v & 1) ? (v >> 1) ^ ReflectedPolynomial : v >> 1;
    t[0][i] = static_cast<uint16_t>(v);
  }
  for (int k = 1; k < Slices; ++k)
    for (uint32_t i = 0; i < 256; ++i) t[k][i] = static_cast<uint16_t>(t[0][t[k - 1][i] & 0xFF] ^ (t[k - 1][i] >> 8));
  return t;
}

}  // namespace

uint16_t Crc16Update(uint16_t crc, const uint8_t* bytes, size_t size) {
  static const Tables t = MakeTables();
  uint32_t c = crc;
  size_t i = 0;
  for (; i + Slices <= size; i += Slices) {
    const uint8_t* b = bytes + i;
    c = t[7][(c ^ b[0]) & 0xFF] ^ t[6][((c >> 8) ^ b[1]) & 0xFF] ^ t[5][b[2]] ^ t[4][b[3]] ^ t[3][b[4]] ^
        t[2][b[5]] ^ t[1][b[6]] ^ t[0][b[7]];
  }
  for (; i < size; ++i) c = t[0][(c ^ bytes[i]) & 0xFF] ^ (c >> 8);
  return static_cast<uint16_t>(c);
}
