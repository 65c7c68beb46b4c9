// Hash-chain match finder over a whole in-memory input. It only proposes
// matches whose source lies inside the input and at most `window` bytes back,
// so no match ever reaches into the extractor's initial fill before the data.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

struct MatchCandidate {
  uint16_t length;
  uint32_t distance;  // 1 .. window
};

class MatchFinder {
 public:
  MatchFinder(const uint8_t* data, size_t size, uint32_t window);

  // Adds position pos to the chains. Positions must be inserted in
  // increasing order, each after the searches made at it.
  void Insert(size_t pos);

  // Longest match at pos (not yet inserted) of at most maxLength bytes,
  // looking at no more than depth earlier positions and stopping once a
  // match reaches nice. Returns its length (0 if below 3) and sets distance.
  uint32_t Longest(size_t pos, uint32_t maxLength, int depth, uint32_t nice, uint32_t& distance) const;

  // Every match at pos that is longer than all nearer ones: lengths rise
  // and each is the nearest source of at least that length. Appends to out
  // and returns the number appended.
  size_t Collect(size_t pos, uint32_t maxLength, int depth, uint32_t nice,
                 std::vector<MatchCandidate>& out) const;


 private:
  uint32_t Hash(size_t pos) const;
  uint32_t MatchLength(size_t a, size_t b, uint32_t limit) const;

  const uint8_t* data_;
  size_t size_;
  uint32_t window_;
  std::vector<uint32_t> head_;  // newest position per hash, or NoPosition
  std::vector<uint32_t> prev_;  // previous position with the same hash, by pos % window
};
