// MSB-first bit writer for the compressed stream: the first bit written is the
// most significant bit of the first byte, as the extractor reads it. Bits are
// moved out 32 at a time; fewer than 32 stay pending between calls, so the
// 64-bit accumulator holds every bit not yet moved out.
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
    if (pending_ >= 32) {
      pending_ -= 32;
      const uint32_t word = static_cast<uint32_t>(accumulator_ >> pending_);
      const uint8_t four[4] = {static_cast<uint8_t>(word >> 24), static_cast<uint8_t>(word >> 16),
                               static_cast<uint8_t>(word >> 8), static_cast<uint8_t>(word)};
      bytes_.insert(bytes_.end(), four, four + 4);
    }
  }
  // Pads the last byte with zero bits.
  void Flush() {
    if (pending_ % 8 != 0) Put(8 - pending_ % 8, 0);
    Drain();
  }
  uint64_t BitCount() const { return bytes_.size() * 8ull + pending_; }
  // The whole bytes written so far (all of them after Flush).
  std::vector<uint8_t>& Bytes() {
    Drain();
    return bytes_;
  }
  // Moves the whole bytes written so far to the end of into; the bits of a
  // byte not yet complete stay for the next ones.
  void TakeWholeBytes(std::vector<uint8_t>& into) {
    Drain();
    into.insert(into.end(), bytes_.begin(), bytes_.end());
    bytes_.clear();
  }

 private:
  // Moves the pending whole bytes out, leaving fewer than 8 bits.
  void Drain() {
    while (pending_ >= 8) {
      pending_ -= 8;
      bytes_.push_back(static_cast<uint8_t>(accumulator_ >> pending_));
    }
  }

  std::vector<uint8_t> bytes_;
  uint64_t accumulator_ = 0;
  int pending_ = 0;
};
