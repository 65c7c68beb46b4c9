// -lh2-: two adaptive codes over an 8 KB window. Both trees stand in one
// array, each in the sibling order with its root first: the literal tree at
// 0, the position tree at DynLiteralTreeSize. Nodes of equal count that
// stand next to each other form a run, whose first node is its leader; a
// node's count grows by first trading places (with its subtree) with its
// run's leader, so the order holds. The position tree starts with the one
// value 0 and gains the next value each time the output passes another 64
// bytes, by splitting its last leaf. When the literal root's count, or the
// positions counted, reach the limit, the counts are halved and the tree is
// built anew.
//
// Every index below is a node the trees themselves produced; the data only
// chooses which leaf is counted. The walks down a tree are bounded by its
// size and the run numbers by the node count.
#include "extract/olddecode_host.h"

#include "base/format.h"
#include "core/messages.h"
#include "core/report.h"
#include "core/workarea.h"
#include "extract/bitreader.h"
#include "extract/window_host.h"

namespace {

enum : uint32_t {
  LiteralRoot = 0,
  PositionRoot = DynLiteralTreeSize,
  FirstPositionSymbol = Lh1SymbolCount,  // the leaf numbers of position values follow the literals'
  Sentinel = 0xFFFF,
  NoRun = 0,
};
static_assert(FirstPositionSymbol + Lh2PositionCount <= DynTreeSize / 2, "leaf numbers fit");

[[noreturn]] void TreeBroken() {
  ShowError(MsgArchiveBroken, Work->archivePath);
  AbortExtraction(1);
}

uint16_t NewRun() {
  SfxWorkArea* w = Work;
  if (w->dynRunsUsed >= DynTreeSize) TreeBroken();
  return w->dynFreeRuns[w->dynRunsUsed++];
}

void FreeRun(uint16_t run) {
  SfxWorkArea* w = Work;
  if (w->dynRunsUsed == 0) TreeBroken();
  w->dynFreeRuns[--w->dynRunsUsed] = run;
}

// Links a node's children (or its leaf) back to it.
void Adopt(uint32_t node) {
  SfxWorkArea* w = Work;
  int32_t child = w->dynChild[node];
  if (child < 0) {
    w->dynLeaf[~child] = (uint16_t)node;
  } else {
    w->dynParent[child] = w->dynParent[child - 1] = (uint16_t)node;
  }
}

void StartTrees() {
  SfxWorkArea* w = Work;
  for (uint32_t i = 0; i < DynTreeSize; i++) {
    w->dynFreeRuns[i] = (uint16_t)i;
    w->dynBlock[i] = NoRun;
    w->dynFrequency[i] = 0;
    w->dynChild[i] = 0;
    w->dynParent[i] = 0;
    w->dynLeader[i] = 0;
  }
  // The literal leaves last, symbol 0 at the end, all of count 1, in run 1.
  const uint32_t n = Lh2SymbolCount;
  uint32_t j = 2 * n - 2;
  for (uint32_t i = 0; i < n; i++, j--) {
    w->dynFrequency[j] = 1;
    w->dynChild[j] = (int16_t)~i;
    w->dynLeaf[i] = (uint16_t)j;
    w->dynBlock[j] = 1;
  }
  w->dynRunsUsed = 2;
  w->dynLeader[1] = (uint16_t)(n - 1);
  // Each node above pairs the next two from the end.
  for (int32_t node = (int32_t)n - 2, i = (int32_t)(2 * n - 2); node >= 0; node--, i -= 2) {
    uint32_t f = (uint32_t)w->dynFrequency[i] + w->dynFrequency[i - 1];
    w->dynFrequency[node] = (uint16_t)f;
    w->dynChild[node] = (int16_t)i;
    w->dynParent[i] = w->dynParent[i - 1] = (uint16_t)node;
    if (f == w->dynFrequency[node + 1]) {
      w->dynBlock[node] = w->dynBlock[node + 1];
      w->dynLeader[w->dynBlock[node]] = (uint16_t)node;
    } else {
      w->dynBlock[node] = NewRun();
      w->dynLeader[w->dynBlock[node]] = (uint16_t)node;
    }
  }
  // The position tree: one leaf, value 0.
  w->dynFrequency[PositionRoot] = 1;
  w->dynChild[PositionRoot] = (int16_t)~FirstPositionSymbol;
  w->dynLeaf[FirstPositionSymbol] = PositionRoot;
  w->dynBlock[PositionRoot] = NewRun();
  w->dynLeader[w->dynBlock[PositionRoot]] = PositionRoot;
  w->dynLastPosition = PositionRoot;
  w->dynPositionTotal = 0;
  w->dynNextGrowth = Lh2PositionStep;
}

// Halves the counts of the leaves between start and end (rounding up) and
// builds that tree anew, each new node placed before the nodes whose count
// is not above its own; then the parents, leaves and runs again.
void Rebuild(uint32_t start, uint32_t end) {
  SfxWorkArea* w = Work;
  uint32_t j = start;
  for (uint32_t i = start; i < end; i++) {
    if (w->dynChild[i] < 0) {
      w->dynFrequency[j] = (uint16_t)((w->dynFrequency[i] + 1) / 2);
      w->dynChild[j] = w->dynChild[i];
      j++;
    }
    uint16_t run = w->dynBlock[i];
    if (w->dynLeader[run] == i) FreeRun(run);
  }
  // j - 1 is the last leaf; fill the array from its end.
  int32_t from = (int32_t)j - 1;
  int32_t to = (int32_t)end - 1;
  int32_t pair = (int32_t)end - 2;
  while (to >= (int32_t)start) {
    while (to >= pair && to >= (int32_t)start) {
      w->dynFrequency[to] = w->dynFrequency[from];
      w->dynChild[to] = w->dynChild[from];
      to--, from--;
    }
    if (to < (int32_t)start) break;
    uint32_t f = (uint32_t)w->dynFrequency[pair] + w->dynFrequency[pair + 1];
    int32_t k = (int32_t)start;
    while (k < pair && f < w->dynFrequency[k]) k++;
    while (from >= k) {
      w->dynFrequency[to] = w->dynFrequency[from];
      w->dynChild[to] = w->dynChild[from];
      to--, from--;
    }
    w->dynFrequency[to] = (uint16_t)f;
    w->dynChild[to] = (int16_t)(pair + 1);
    to--;
    pair -= 2;
  }
  uint32_t previous = Sentinel + 1;  // no count equals it
  uint16_t run = NoRun;
  for (uint32_t i = start; i < end; i++) {
    Adopt(i);
    if (w->dynFrequency[i] == previous) {
      w->dynBlock[i] = run;
    } else {
      run = NewRun();
      w->dynBlock[i] = run;
      w->dynLeader[run] = (uint16_t)i;
      previous = w->dynFrequency[i];
    }
  }
}

// Counts one more for the node p: it first trades places with its run's
// leader, then leaves its run for the next. Returns the parent of the node
// that now holds the counted subtree.
uint32_t CountUp(uint32_t p) {
  SfxWorkArea* w = Work;
  uint16_t run = w->dynBlock[p];
  uint32_t leader = w->dynLeader[run];
  int growRun = 0;
  if (leader != p) {
    int16_t mine = w->dynChild[p];
    w->dynChild[p] = w->dynChild[leader];
    w->dynChild[leader] = mine;
    Adopt(p);
    Adopt(leader);
    p = leader;
    growRun = 1;
  } else if (p + 1 < DynTreeSize && run == w->dynBlock[p + 1]) {
    growRun = 1;
  }
  if (growRun) {
    // p leaves the front of its run, which the next node now leads.
    w->dynLeader[run]++;
    if (++w->dynFrequency[p] == w->dynFrequency[p - 1]) {
      w->dynBlock[p] = w->dynBlock[p - 1];
    } else {
      uint16_t fresh = NewRun();
      w->dynBlock[p] = fresh;
      w->dynLeader[fresh] = (uint16_t)p;
    }
  } else if (++w->dynFrequency[p] == w->dynFrequency[p - 1]) {
    FreeRun(run);  // p was its run alone and joins the one before
    w->dynBlock[p] = w->dynBlock[p - 1];
  }
  return w->dynParent[p];
}

void CountLiteral(uint32_t symbol) {
  SfxWorkArea* w = Work;
  if (w->dynFrequency[LiteralRoot] == Lh1MaxFrequency) Rebuild(LiteralRoot, 2 * Lh2SymbolCount - 1);
  w->dynFrequency[LiteralRoot]++;
  uint32_t q = w->dynLeaf[symbol];
  for (uint32_t step = 0; q != LiteralRoot; step++) {
    if (step >= DynTreeSize) TreeBroken();
    q = CountUp(q);
  }
}

void CountPosition(uint32_t value) {
  SfxWorkArea* w = Work;
  if (w->dynPositionTotal == Lh1MaxFrequency) {
    if (w->dynLastPosition == PositionRoot) TreeBroken();
    Rebuild(PositionRoot, w->dynLastPosition + 1u);
    w->dynPositionTotal = w->dynFrequency[PositionRoot];
    w->dynFrequency[PositionRoot] = Sentinel;
  }
  uint32_t q = w->dynLeaf[value + FirstPositionSymbol];
  // While the tree is one leaf, that leaf (the root) counts its uses too:
  // the count it takes into the first split decides the first trades.
  if (q == PositionRoot) w->dynFrequency[PositionRoot]++;
  for (uint32_t step = 0; q != PositionRoot; step++) {
    if (step >= DynTreeSize) TreeBroken();
    q = CountUp(q);
  }
  w->dynPositionTotal++;
}

// Splits the position tree's last leaf into that leaf and a new one of count
// 0 for value, then counts value once.
void AddPosition(uint32_t value) {
  SfxWorkArea* w = Work;
  uint32_t last = w->dynLastPosition;
  uint32_t kept = last + 1, added = last + 2;
  // The last node has the lowest count, so it is a leaf.
  if (added >= DynTreeSize || w->dynChild[last] >= 0) TreeBroken();
  w->dynChild[kept] = w->dynChild[last];
  w->dynLeaf[~w->dynChild[kept]] = (uint16_t)kept;
  w->dynChild[added] = (int16_t)~(value + FirstPositionSymbol);
  w->dynChild[last] = (int16_t)added;
  w->dynFrequency[kept] = w->dynFrequency[last];
  w->dynFrequency[added] = 0;
  w->dynBlock[kept] = w->dynBlock[last];
  if (last == PositionRoot) {
    w->dynFrequency[PositionRoot] = Sentinel;
    w->dynLeader[w->dynBlock[PositionRoot]]++;
  }
  w->dynParent[kept] = w->dynParent[added] = (uint16_t)last;
  uint16_t fresh = NewRun();
  w->dynBlock[added] = fresh;
  w->dynLeader[fresh] = (uint16_t)added;
  w->dynLeaf[value + FirstPositionSymbol] = (uint16_t)added;
  w->dynLastPosition = (uint16_t)added;
  CountPosition(value);
}

// Follows the tree from root: a 0 bit takes a node's first child, a 1 bit
// the one before it.
uint32_t WalkDown(uint32_t root) {
  int32_t c = Work->dynChild[root];
  for (uint32_t step = 0; c > 0; step++) {
    if (step >= DynTreeSize || c >= (int32_t)DynTreeSize) TreeBroken();
    c = Work->dynChild[c - (int32_t)TakeBits(1)];
  }
  return (uint32_t)~c;
}

}  // namespace

void DecodeLh2() {
  BeginWindow(Lh2WindowBits, ' ');
  StartTrees();
  while (!WindowDone()) {
    StopPastData();
    uint32_t s = WalkDown(LiteralRoot);
    if (s >= Lh2SymbolCount) TreeBroken();
    CountLiteral(s);
    if (s == Lh2SymbolCount - 1) s += TakeBits(Lh2EscapeBits);
    if (s < LiteralCount) {
      PutByte((uint8_t)s);
      continue;
    }
    // The position tree grows with the output made before this match.
    while (Work->dynNextGrowth < (1u << Lh2WindowBits) && Work->decodedCount > Work->dynNextGrowth) {
      AddPosition(Work->dynNextGrowth / Lh2PositionStep);
      Work->dynNextGrowth += Lh2PositionStep;
    }
    uint32_t value = WalkDown(PositionRoot) - FirstPositionSymbol;
    if (value >= Lh2PositionCount) TreeBroken();
    CountPosition(value);
    uint32_t position = (value << Lh1PositionLowBits) | TakeBits(Lh1PositionLowBits);
    CopyWindow(WindowBack(position), s - MatchLengthBias);
  }
  EndWindow();
}
