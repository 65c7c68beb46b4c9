// MSB-first bit writer for the compressed stream: the first bit written is the
// most significant bit of the first byte, as the extractor reads it. Pending
// bits never exceed 7 between calls, so a 64-bit accumulator cannot overflow.
#pragma once
#include <cstdint>
#include <vector>

class BitWriter {
 public:
  // Appends the low `count` bits of value (count 0 to 32), highest first.
  void Put(int count, uint32_t value) {
    if (count == 0) return;
    accumulator_ = (accumulator_ << count) | (value & (count == 32 ? ~0u : (1u << count) - 1));
    pending_ += count;
    while (pending_ >= 8) {
      pending_ -= 8;
      bytes_.push_back(static_cast<uint8_t>(accumulator_ >> pending_));
    }
  }
  // Pads the last byte with zero bits.
  void Flush() {
    if (pending_ > 0) Put(8 - pending_, 0);
  }
  uint64_t BitCount() const { return bytes_.size() * 8ull + pending_; }
  std::vector<uint8_t>& Bytes() { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
  uint64_t accumulator_ = 0;
  int pending_ = 0;
};
