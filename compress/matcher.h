// Match finders over a whole in-memory input: hash chains for the fast level,
// binary trees for the cost-driven parse. They only propose matches whose
// source lies inside the input and at most `window` bytes back, so no match
// ever reaches into the extractor's initial fill before the data.
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
  ~MatchFinder();
  MatchFinder(const MatchFinder&) = delete;
  MatchFinder& operator=(const MatchFinder&) = delete;

  // Adds position pos to the chains. Positions must be inserted in
  // increasing order, each after the searches made at it.
  void Insert(size_t pos);

  // Longest match at pos (not yet inserted) of at most maxLength bytes,
  // looking at no more than depth earlier positions and stopping once a
  // match reaches nice. Returns its length (0 if below 3) and sets distance.
  uint32_t Longest(size_t pos, uint32_t maxLength, int depth, uint32_t nice, uint32_t& distance) const;

 private:
  const uint8_t* data_;
  size_t size_;
  uint32_t window_;
  // The tables are kept per thread from one member to the next, so a member
  // costs no allocation or clearing: its positions are stored plus base_,
  // which lies above every position an earlier member stored, and a link
  // below base_ ends a chain as an empty one would.
  uint32_t base_;
  uint32_t* head_;  // newest stored position per hash
  uint32_t* prev_;  // previous stored position with the same hash, by stored % window
  bool owner_ = false;  // holds the thread's tables
  std::vector<uint32_t> ownHead_, ownPrev_;  // when it cannot use them
};

// Binary-tree match finder for the cost-driven parse: per hash of three
// bytes, a tree of earlier positions ordered by the bytes that follow them,
// so one walk down meets the nearest source of every useful length without
// scanning a long chain. Each call also inserts the position.
class TreeMatchFinder {
 public:
  TreeMatchFinder(const uint8_t* data, size_t size, uint32_t window);

  // Every match at pos that is longer than all nearer ones (lengths rise,
  // each the nearest source of at least that length), appended to out;
  // then inserts pos. Every
  // position must be passed in increasing order, to this or to Skip.
  size_t FindAndInsert(size_t pos, int depth, std::vector<MatchCandidate>& out);
  // Inserts pos without reporting matches.
  void Skip(size_t pos, int depth);

 private:
  size_t Walk(size_t pos, int depth, std::vector<MatchCandidate>* out);

  const uint8_t* data_;
  size_t size_;
  uint32_t window_;
  uint32_t slotMask_;           // the tree keeps two windows of slots, so a
                                // source one window back never shares a slot
                                // with the position being inserted
  std::vector<uint32_t> head_;  // root per hash
  std::vector<uint32_t> child_; // two per slot: smaller, greater
};
