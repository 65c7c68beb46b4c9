// Match finders over a member's bytes as they stream past: hash chains for
// the fast level, binary trees for the cost-driven parse. Positions are the
// member's own (0 is its first byte); the caller keeps a view of the bytes
// from at least one window before the position it works at up to where it
// may look ahead, and moves the view as the member streams through. They
// only propose matches whose source lies inside the member and at most
// `window` bytes back, so no match ever reaches into the extractor's initial
// fill before the data.
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
  // maxSize: the most bytes the member may have.
  MatchFinder(uint32_t window, uint64_t maxSize);
  ~MatchFinder();
  MatchFinder(const MatchFinder&) = delete;
  MatchFinder& operator=(const MatchFinder&) = delete;

  // The member's bytes [start, end) lie at data from now on.
  void View(const uint8_t* data, uint64_t start, uint64_t end) {
    data_ = data;
    start_ = start;
    end_ = end;
  }

  // Adds position pos to the chains. Positions must be inserted in
  // increasing order, each after the searches made at it.
  void Insert(uint64_t pos);

  // Longest match at pos (not yet inserted) of at most maxLength bytes,
  // looking at no more than depth earlier positions and stopping once a
  // match reaches nice. Returns its length (0 if below 3) and sets distance.
  uint32_t Longest(uint64_t pos, uint32_t maxLength, int depth, uint32_t nice, uint32_t& distance) const;

 private:
  const uint8_t* At(uint64_t pos) const { return data_ + (pos - start_); }

  const uint8_t* data_ = nullptr;
  uint64_t start_ = 0, end_ = 0;
  uint32_t window_;
  uint64_t size_;   // maxSize
  uint64_t used_ = 0;  // positions inserted or looked at: one past the last
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
  explicit TreeMatchFinder(uint32_t window);

  // The member's bytes [start, end) lie at data from now on.
  void View(const uint8_t* data, uint64_t start, uint64_t end) {
    data_ = data;
    start_ = start;
    end_ = end;
  }

  // Every match at pos that is longer than all nearer ones (lengths rise,
  // each the nearest source of at least that length), appended to out;
  // then inserts pos. Every
  // position must be passed in increasing order, to this or to Skip.
  size_t FindAndInsert(uint64_t pos, int depth, std::vector<MatchCandidate>& out);
  // Inserts pos without reporting matches.
  void Skip(uint64_t pos, int depth);

 private:
  size_t Walk(uint64_t pos, int depth, std::vector<MatchCandidate>* out);

  const uint8_t* data_ = nullptr;
  uint64_t start_ = 0, end_ = 0;
  uint32_t window_;
  uint32_t slotMask_;           // the tree keeps two windows of slots, so a
                                // source one window back never shares a slot
                                // with the position being inserted
  std::vector<uint32_t> head_;  // root per hash
  std::vector<uint32_t> child_; // two per slot: smaller, greater
};
