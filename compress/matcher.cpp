// Hash chains and binary trees keyed on three bytes (the shortest match).
// A chain link stays valid for a full window: its slot in prev_ is reused
// only when the position one window later is inserted, and no search reaches
// further back than that. The trees keep two windows of slots for the same
// reason, since a tree walk writes the new position's slot as it goes.
#include "compress/matcher.h"

#include <algorithm>
#include <cstring>

#include "compress/format.h"

namespace {

constexpr int HashBits = 16;
constexpr uint32_t HashMultiplier = 0x9E3779B1u;
constexpr uint32_t NoPosition = 0xFFFFFFFFu;

}  // namespace

static inline uint32_t HashAt(const uint8_t* data, size_t pos) {
  const uint32_t v = data[pos] | (data[pos + 1] << 8) | (static_cast<uint32_t>(data[pos + 2]) << 16);
  return (v * HashMultiplier) >> (32 - HashBits);
}

// HashAt with one load where a fourth byte is there to read (left bytes
// from at on).
static inline uint32_t ChainHash(const uint8_t* at, uint64_t left) {
  if (left < 4) return HashAt(at, 0);
  uint32_t v;
  std::memcpy(&v, at, 4);
  if constexpr (__BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__) return HashAt(at, 0);
  return ((v & 0xFFFFFFu) * HashMultiplier) >> (32 - HashBits);
}

// Bytes that agree at a and b, at most limit; both runs lie inside the data.
static inline uint32_t CommonLength(const uint8_t* a, const uint8_t* b, uint32_t limit) {
  uint32_t n = 0;
  while (n + 8 <= limit) {
    uint64_t x, y;
    std::memcpy(&x, a + n, 8);
    std::memcpy(&y, b + n, 8);
    if (x != y) return n + (__builtin_ctzll(x ^ y) >> 3);
    n += 8;
  }
  while (n < limit && a[n] == b[n]) ++n;
  return n;
}


namespace {

struct ChainTables {
  std::vector<uint32_t> head, prev;
  uint32_t window = 0;
  uint32_t nextBase = 0;  // above every position stored so far
  bool busy = false;
};

thread_local ChainTables chainTables;

}  // namespace

MatchFinder::MatchFinder(uint32_t window, uint64_t maxSize) : window_(window), size_(maxSize) {
  ChainTables& t = chainTables;
  // Past this the stored positions could reach NoPosition: start afresh.
  constexpr uint64_t Limit = 0xF0000000u;
  const bool reuse = !t.busy && t.window == window && t.nextBase + size_ + window < Limit;
  if (!reuse) {
    if (t.busy || size_ + window >= Limit) {
      // Nested use or a huge input: tables of its own.
      ownHead_.assign(1u << HashBits, NoPosition);
      ownPrev_.assign(window, NoPosition);
      head_ = ownHead_.data();
      prev_ = ownPrev_.data();
      base_ = 0;
      return;
    }
    t.head.assign(1u << HashBits, NoPosition);
    t.prev.assign(window, NoPosition);
    t.window = window;
    t.nextBase = 0;
  }
  t.busy = true;
  owner_ = true;
  head_ = t.head.data();
  prev_ = t.prev.data();
  base_ = t.nextBase;
}

MatchFinder::~MatchFinder() {
  if (!owner_) return;
  ChainTables& t = chainTables;
  t.busy = false;
  // Only the positions this member reached were stored.
  t.nextBase = base_ + static_cast<uint32_t>(used_);
}

void MatchFinder::Insert(uint64_t pos) {
  if (pos + MinMatch > end_) return;
  used_ = pos + 1;
  const uint32_t h = ChainHash(At(pos), end_ - pos);
  const uint32_t stored = base_ + static_cast<uint32_t>(pos);
  prev_[stored & (window_ - 1)] = head_[h];
  head_[h] = stored;
}

uint32_t MatchFinder::Longest(uint64_t pos, uint32_t maxLength, int depth, uint32_t nice,
                              uint32_t& distance) const {
  if (maxLength < MinMatch || pos + MinMatch > end_) return 0;
  const uint32_t here = base_ + static_cast<uint32_t>(pos);
  const uint32_t oldest = pos > window_ ? here - window_ : base_;
  const uint8_t* const cur = At(pos);
  const uint32_t mask = window_ - 1;
  uint32_t best = MinMatch - 1;
  for (uint32_t cand = head_[ChainHash(cur, end_ - pos)]; cand != NoPosition && cand >= oldest && depth-- > 0;
       cand = prev_[cand & mask]) {
    const uint8_t* const src = At(cand - base_);
    // A longer match must agree at the current best length first.
    if (src[best] != cur[best]) continue;
    const uint32_t len = CommonLength(src, cur, maxLength);
    if (len > best) {
      best = len;
      distance = here - cand;
      if (len >= nice || len >= maxLength) break;
    }
  }
  return best >= MinMatch ? best : 0;
}

TreeMatchFinder::TreeMatchFinder(uint32_t window)
    : window_(window),
      slotMask_(2 * window - 1),
      head_(1u << HashBits, NoPosition),
      child_(4 * static_cast<size_t>(window), NoPosition) {}

size_t TreeMatchFinder::FindAndInsert(uint64_t pos, int depth, std::vector<MatchCandidate>& out) {
  return Walk(pos, depth, &out);
}

void TreeMatchFinder::Skip(uint64_t pos, int depth) { Walk(pos, depth, nullptr); }

// Walks from the root, re-hanging the tree under pos: sources whose
// following bytes sort below pos's go to its smaller side, the others to its
// greater side. The bytes known to agree on each side (lessLen, moreLen)
// let every comparison start at the shorter of the two.
size_t TreeMatchFinder::Walk(uint64_t pos, int depth, std::vector<MatchCandidate>* out) {
  if (pos + MinMatch > end_) return 0;
  const uint32_t limit = static_cast<uint32_t>(std::min<uint64_t>(MaxMatch, end_ - pos));
  const uint8_t* const cur = data_ + (pos - start_);
  const uint32_t h = HashAt(cur, 0);
  uint32_t cand = head_[h];
  head_[h] = static_cast<uint32_t>(pos);
  uint32_t* smaller = &child_[2 * (pos & slotMask_)];
  uint32_t* greater = smaller + 1;
  uint32_t lessLen = 0, moreLen = 0, best = MinMatch - 1;
  const uint64_t oldest = pos > window_ ? pos - window_ : 0;
  const size_t before = out ? out->size() : 0;
  for (;;) {
    if (cand == NoPosition || cand < oldest || depth-- <= 0) {
      *smaller = *greater = NoPosition;
      break;
    }
    uint32_t* pair = &child_[2 * (cand & slotMask_)];
    uint32_t len = std::min(lessLen, moreLen);
    const uint8_t* const src = data_ + (cand - start_);
    len += CommonLength(src + len, cur + len, limit - len);
    if (len > best) {
      best = len;
      if (out) out->push_back({static_cast<uint16_t>(len), static_cast<uint32_t>(pos - cand)});
    }
    if (len >= limit) {
      // Equal as far as we compare: pos takes over cand's place.
      *smaller = pair[0];
      *greater = pair[1];
      break;
    }
    if (src[len] < cur[len]) {
      *smaller = cand;
      smaller = &pair[1];
      cand = *smaller;
      lessLen = len;
    } else {
      *greater = cand;
      greater = &pair[0];
      cand = *greater;
      moreLen = len;
    }
  }
  return out ? out->size() - before : 0;
}
