// A slow, obvious decoder of the compressed format for the compressor's
// tests, written from the format's rules and nothing of the encoder: bit by
// bit, codes rebuilt by brute search over canonical codes. Its window starts
// filled with a byte other than the extractor's spaces, so output that leans
// on the initial window content shows up as a mismatch.
#pragma once
#include <cstdint>
#include <stdexcept>
#include <vector>

struct ReferenceDecoder {
  struct Code {
    std::vector<int> length;  // per symbol, 0 = absent
    int single = -1;          // the single-symbol form's symbol
  };
  struct BlockInfo {
    uint32_t symbols = 0;
    int literalSingle = -1;
    int offsetSingle = -1;
    int maxLiteralLength = 0;
  };

  const std::vector<uint8_t>& in;
  size_t bitPos = 0;
  std::vector<BlockInfo> blocks;

  explicit ReferenceDecoder(const std::vector<uint8_t>& bytes) : in(bytes) {}

  uint32_t Bit() {
    const size_t byte = bitPos / 8;
    const uint32_t b = byte < in.size() ? (in[byte] >> (7 - bitPos % 8)) & 1 : 0;
    ++bitPos;
    return b;
  }
  uint32_t Bits(int n) {
    uint32_t v = 0;
    while (n-- > 0) v = (v << 1) | Bit();
    return v;
  }

  // Canonical decoding: read bit by bit and compare with every code of the
  // current length (codes assigned shortest first, then by symbol).
  int Decode(const Code& c) {
    if (c.single >= 0) return c.single;
    uint32_t code = 0, first = 0;
    for (int len = 1; len <= 16; ++len) {
      code = (code << 1) | Bit();
      uint32_t next = first;
      for (size_t s = 0; s < c.length.size(); ++s)
        if (c.length[s] == len) {
          if (code == next) return static_cast<int>(s);
          ++next;
        }
      first = next << 1;
    }
    throw std::runtime_error("no code matches");
  }

  static void CheckComplete(const Code& c) {
    uint64_t sum = 0;
    for (int l : c.length)
      if (l > 0) sum += 1ull << (16 - l);
    if (sum != (1ull << 16)) throw std::runtime_error("incomplete or over-full code");
  }

  Code ReadSmallCode(int symbols, int countBits, int zeroRunAfter) {
    Code c;
    const int n = static_cast<int>(Bits(countBits));
    if (n == 0) {
      c.single = static_cast<int>(Bits(countBits));
      if (c.single >= symbols) throw std::runtime_error("single symbol out of range");
      return c;
    }
    if (n > symbols) throw std::runtime_error("too many lengths");
    c.length.assign(symbols, 0);
    for (int i = 0; i < n;) {
      int v = static_cast<int>(Bits(3));
      if (v == 7)
        while (Bit() == 1) ++v;
      if (v > 16) throw std::runtime_error("length above 16");
      c.length[i++] = v;
      if (i == zeroRunAfter) i += static_cast<int>(Bits(2));
    }
    CheckComplete(c);
    return c;
  }

  Code ReadLiteralCode(const Code& lengthCode) {
    constexpr int Symbols = 510;
    Code c;
    const int n = static_cast<int>(Bits(9));
    if (n == 0) {
      c.single = static_cast<int>(Bits(9));
      if (c.single >= Symbols) throw std::runtime_error("single literal out of range");
      return c;
    }
    if (n > Symbols) throw std::runtime_error("too many literal lengths");
    c.length.assign(Symbols, 0);
    for (int i = 0; i < n;) {
      const int s = Decode(lengthCode);
      int run = 0;
      if (s == 0) run = 1;
      else if (s == 1) run = static_cast<int>(Bits(4)) + 3;
      else if (s == 2) run = static_cast<int>(Bits(9)) + 20;
      if (run > 0) {
        if (i + run > n) throw std::runtime_error("zero run past the count");
        i += run;
      } else {
        c.length[i++] = s - 2;
      }
    }
    CheckComplete(c);
    return c;
  }

  // Decodes `size` bytes for a method with the given window bits and offset
  // symbol count; throws on any malformed structure.
  std::vector<uint8_t> Run(size_t size, int windowBits, int offsetSymbols) {
    const int offsetCountBits = offsetSymbols == 14 ? 4 : 5;
    const uint32_t window = 1u << windowBits;
    constexpr uint8_t InitialFill = 0xA5;
    std::vector<uint8_t> out;
    uint32_t remaining = 0;
    Code lengths, literals, offsets;
    while (out.size() < size) {
      if (remaining == 0) {
        BlockInfo info;
        remaining = Bits(16);
        if (remaining == 0) throw std::runtime_error("block size 0");
        info.symbols = remaining;
        lengths = ReadSmallCode(19, 5, 3);
        literals = ReadLiteralCode(lengths);
        offsets = ReadSmallCode(offsetSymbols, offsetCountBits, -1);
        info.literalSingle = literals.single;
        info.offsetSingle = offsets.single;
        for (int l : literals.length) info.maxLiteralLength = std::max(info.maxLiteralLength, l);
        blocks.push_back(info);
      }
      --remaining;
      const int s = Decode(literals);
      if (s < 256) {
        out.push_back(static_cast<uint8_t>(s));
        continue;
      }
      const uint32_t length = s - 253;
      const int k = Decode(offsets);
      const uint32_t offset = k == 0 ? 0 : (1u << (k - 1)) + Bits(k - 1);
      if (offset >= window) throw std::runtime_error("offset beyond the window");
      for (uint32_t j = 0; j < length; ++j) {
        const size_t distance = offset + 1;
        out.push_back(distance > out.size() ? InitialFill : out[out.size() - distance]);
      }
    }
    if (out.size() != size) throw std::runtime_error("last match runs past the end");
    if (remaining != 0) throw std::runtime_error("symbols left in the last block");
    return out;
  }
};
