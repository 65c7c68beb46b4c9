// Hash chains keyed on three bytes (the shortest match). The chain of a
// position stays valid for a full window: its slot in prev_ is reused only
// when the position one window later is inserted, and no search reaches
// further back than that.
#include "compress/matcher.h"

#include <cstring>

#include "compress/format.h"

namespace {

constexpr int HashBits = 16;
constexpr uint32_t HashMultiplier = 0x9E3779B1u;
constexpr uint32_t NoPosition = 0xFFFFFFFFu;

}  // namespace

MatchFinder::MatchFinder(const uint8_t* data, size_t size, uint32_t window)
    : data_(data), size_(size), window_(window), head_(1u << HashBits, NoPosition), prev_(window, NoPosition) {}

uint32_t MatchFinder::Hash(size_t pos) const {
  const uint32_t v = data_[pos] | (data_[pos + 1] << 8) | (static_cast<uint32_t>(data_[pos + 2]) << 16);
  return (v * HashMultiplier) >> (32 - HashBits);
}

void MatchFinder::Insert(size_t pos) {
  if (pos + MinMatch > size_) return;
  const uint32_t h = Hash(pos);
  prev_[pos & (window_ - 1)] = head_[h];
  head_[h] = static_cast<uint32_t>(pos);
}

uint32_t MatchFinder::MatchLength(size_t a, size_t b, uint32_t limit) const {
  uint32_t n = 0;
  while (n + 8 <= limit) {
    uint64_t x, y;
    std::memcpy(&x, data_ + a + n, 8);
    std::memcpy(&y, data_ + b + n, 8);
    if (x != y) return n + (__builtin_ctzll(x ^ y) >> 3);
    n += 8;
  }
  while (n < limit && data_[a + n] == data_[b + n]) ++n;
  return n;
}

uint32_t MatchFinder::Longest(size_t pos, uint32_t maxLength, int depth, uint32_t nice,
                              uint32_t& distance) const {
  if (maxLength < MinMatch || pos + MinMatch > size_) return 0;
  const size_t oldest = pos > window_ ? pos - window_ : 0;
  uint32_t best = MinMatch - 1;
  for (uint32_t cand = head_[Hash(pos)]; cand != NoPosition && cand >= oldest && depth-- > 0;
       cand = prev_[cand & (window_ - 1)]) {
    // A longer match must agree at the current best length first.
    if (data_[cand + best] != data_[pos + best]) continue;
    const uint32_t len = MatchLength(cand, pos, maxLength);
    if (len > best) {
      best = len;
      distance = static_cast<uint32_t>(pos - cand);
      if (len >= nice || len >= maxLength) break;
    }
  }
  return best >= MinMatch ? best : 0;
}

size_t MatchFinder::Collect(size_t pos, uint32_t maxLength, int depth, uint32_t nice,
                            std::vector<MatchCandidate>& out) const {
  if (maxLength < MinMatch || pos + MinMatch > size_) return 0;
  const size_t oldest = pos > window_ ? pos - window_ : 0;
  const size_t before = out.size();
  uint32_t best = MinMatch - 1;
  for (uint32_t cand = head_[Hash(pos)]; cand != NoPosition && cand >= oldest && depth-- > 0;
       cand = prev_[cand & (window_ - 1)]) {
    if (data_[cand + best] != data_[pos + best]) continue;
    const uint32_t len = MatchLength(cand, pos, maxLength);
    if (len > best) {
      best = len;
      out.push_back({static_cast<uint16_t>(len), static_cast<uint32_t>(pos - cand)});
      if (len >= nice || len >= maxLength) break;
    }
  }
  return out.size() - before;
}
