// The two parsers and the block loop. Fast level: lazy matching (a match is
// put off by one byte when the next position has a longer one). Level 9:
// per chunk, a shortest-path parse over the candidate matches of every
// position, costed in bits under the codes of the previous parse, repeated;
// then blocks split where that is smaller and each part parsed again.
//
// A member streams through: bytes are taken in pieces into a window that
// keeps one method window of history behind the parse and the longest match
// ahead of it, so every decision sees exactly the bytes it would see with
// the whole member in memory, and the stream is the same whatever the
// pieces. Blocks leave as soon as they are complete.
#include "compress/encoder.h"

#include <algorithm>
#include <limits>
#include <memory>

#include "compress/blockcoder.h"
#include "compress/matcher.h"

namespace {

// Fast level.
constexpr int FastDepth = 20;             // chain links looked at per search
constexpr uint32_t FastNice = 128;
constexpr uint32_t LazyLimit = 48;        // matches this long are taken at once
constexpr int CheaperOffsetBits = 1;      // a match as long one byte on wins by this many offset bits
constexpr uint32_t GoodLength = 16;       // after such a match, look less hard for a longer one
constexpr uint32_t FarShortMatch = 16384;  // a 3-byte match further back costs more than literals
constexpr size_t FastBlockSymbols = 32768;  // split further where that is smaller
constexpr int FastSplitDepth = 3;         // up to 2^3 blocks per stretch
constexpr size_t FastMinSplit = 4096;     // shorter runs of tokens stay whole

// Level 9.
constexpr int OptimalDepth = 64;
constexpr uint32_t ForcedLength = 256;    // a match this long is taken whole, no search inside it
constexpr size_t OptimalChunk = 65535;    // bytes parsed together; at most one block's worth
constexpr int OptimalPasses = 4;          // parses per chunk, each under the last one's codes
constexpr int SplitDepth = 4;             // a chunk may become up to 2^4 blocks
constexpr int SplitPasses = 2;            // parses of each part under its own codes
constexpr uint32_t UnusedExtra = 2;       // bits above the longest code for a symbol not in it
static_assert(OptimalChunk <= MaxBlockSymbols, "a chunk must fit one block");

constexpr size_t ProgressStep = 1u << 20;
// Bytes the fast parse may look at beyond a position: a lazy search one byte
// on reads a whole longest match there, and the chain hash a few bytes more.
constexpr uint64_t Lookahead = MaxMatch + 8;
// The window's bytes before the parse are let go in steps this large, so
// moving the rest down costs little per byte.
constexpr size_t SlideStep = 256u << 10;

Token Literal(uint8_t b) { return {0, b}; }
Token Match(uint32_t length, uint32_t distance) {
  return {static_cast<uint16_t>(length), static_cast<uint16_t>(distance - 1)};
}

// Size in bits of tokens as one block, or as two halves (each split further)
// when that is smaller: a change of statistics inside a stretch pays for the
// second set of codes. Appends the chosen block ends (token indexes) to cuts.
uint64_t SplitBits(const Token* t, size_t n, const MethodParams& method, int depth, std::vector<size_t>* cuts,
                   size_t offset) {
  const uint64_t whole = BlockBits(t, n, method);
  if (depth == 0 || n < 2) {
    cuts->push_back(offset + n);
    return whole;
  }
  const size_t half = n / 2;
  std::vector<size_t> mine;
  const uint64_t split = SplitBits(t, half, method, depth - 1, &mine, offset) +
                         SplitBits(t + half, n - half, method, depth - 1, &mine, offset + half);
  if (split < whole) {
    cuts->insert(cuts->end(), mine.begin(), mine.end());
    return split;
  }
  cuts->push_back(offset + n);
  return whole;
}

// SplitBits for the fast level, the same choice made from symbol counts:
// each part is counted once and a whole's counts are its halves' summed.
// Sets counts to those of the tokens.
uint64_t SplitBitsCounted(const Token* t, size_t n, const MethodParams& method, int depth, std::vector<size_t>* cuts,
                          size_t offset, SymbolCounts& counts) {
  if (depth == 0 || n < FastMinSplit) {
    CountSymbols(t, n, method, counts);
    cuts->push_back(offset + n);
    return BlockBitsOfCounts(counts, n, method);
  }
  const size_t half = n / 2;
  std::vector<size_t> mine;
  SymbolCounts second;
  const uint64_t split = SplitBitsCounted(t, half, method, depth - 1, &mine, offset, counts) +
                         SplitBitsCounted(t + half, n - half, method, depth - 1, &mine, offset + half, second);
  AddCounts(counts, second);
  const uint64_t whole = BlockBitsOfCounts(counts, n, method);
  if (split < whole) {
    cuts->insert(cuts->end(), mine.begin(), mine.end());
    return split;
  }
  cuts->push_back(offset + n);
  return whole;
}

void WriteSplit(BitWriter& out, const Token* t, size_t n, const MethodParams& method, int depth) {
  std::vector<size_t> cuts;
  SymbolCounts counts;
  SplitBitsCounted(t, n, method, depth, &cuts, 0, counts);
  size_t at = 0;
  for (size_t cut : cuts) {
    WriteBlock(out, t + at, cut - at, method);
    at = cut;
  }
}

// Costs of every literal/length symbol and offset symbol (extra bits
// included), in 1/CostScale bits.
constexpr uint32_t CostScale = 16;

struct CostModel {
  std::vector<uint32_t> lit, off;
};

void AddExtraBits(CostModel& m) {
  for (size_t k = 2; k < m.off.size(); ++k) m.off[k] += static_cast<uint32_t>(k - 1) * CostScale;
}

// From the code lengths the tokens would get. Symbols the code leaves out
// cost a little more than its longest code, so they stay possible but rare.
CostModel CostsFromTokens(const std::vector<Token>& tokens, const MethodParams& method) {
  CostModel m;
  std::vector<uint8_t> litLen, offLen;
  BlockCodeLengths(tokens.data(), tokens.size(), method, litLen, offLen);
  auto convert = [](const std::vector<uint8_t>& len, std::vector<uint32_t>& cost) {
    const uint8_t longest = *std::max_element(len.begin(), len.end());
    cost.resize(len.size());
    for (size_t s = 0; s < len.size(); ++s)
      cost[s] = CostScale * (len[s] != 0 ? len[s] : (longest == 0 ? 1u : std::min<uint32_t>(longest + UnusedExtra, 18)));
  };
  convert(litLen, m.lit);
  convert(offLen, m.off);
  AddExtraBits(m);
  return m;
}

// A neutral model for the first chunk: 8-bit literals, lengths dearer as
// they grow, offsets priced by their extra bits.
CostModel InitialCosts(const MethodParams& method) {
  CostModel m;
  m.lit.assign(LiteralSymbolCount, 8 * CostScale);
  for (uint32_t len = MinMatch; len <= MaxMatch; ++len)
    m.lit[len + MatchLengthBias] = (len < 16 ? 6 + len / 4 : 11) * CostScale;
  m.off.assign(method.offsetSymbols, 4 * CostScale);
  AddExtraBits(m);
  return m;
}

struct Chunk {
  std::vector<uint32_t> first;  // candidates of position i: cand[first[i] .. first[i+1])
  std::vector<MatchCandidate> cand;
};

void CollectCandidates(TreeMatchFinder& finder, uint64_t begin, uint64_t end, Chunk& chunk) {
  const size_t n = static_cast<size_t>(end - begin);
  chunk.first.assign(n + 1, 0);
  chunk.cand.clear();
  uint64_t skipUntil = begin;
  for (uint64_t p = begin; p < end; ++p) {
    chunk.first[p - begin] = static_cast<uint32_t>(chunk.cand.size());
    if (p < skipUntil) {
      finder.Skip(p, OptimalDepth);
      continue;
    }
    const size_t added = finder.FindAndInsert(p, OptimalDepth, chunk.cand);
    if (added != 0 && chunk.cand.back().length >= ForcedLength) {
      // Keep only the long match: the paths through its inside lose to it.
      const MatchCandidate longest = chunk.cand.back();
      chunk.cand.resize(chunk.cand.size() - added);
      chunk.cand.push_back(longest);
      skipUntil = p + longest.length;
    }
  }
  chunk.first[n] = static_cast<uint32_t>(chunk.cand.size());
}

// Cheapest parse of the chunk's bytes [from, to) under the model, by a
// forward pass over positions (each reached at its least cost) and a walk
// back. Matches are cut at `to`, so the tokens cover exactly that range.
std::vector<Token> ParseRange(const uint8_t* chunkData, size_t from, size_t to, const Chunk& chunk,
                              const CostModel& model) {
  const size_t n = to - from;
  constexpr uint32_t Unreached = std::numeric_limits<uint32_t>::max();
  std::vector<uint32_t> cost(n + 1, Unreached);
  std::vector<Token> step(n + 1);
  cost[0] = 0;
  const uint8_t* bytes = chunkData + from;
  for (size_t i = 0; i < n; ++i) {
    const uint32_t here = cost[i];
    const uint32_t lit = here + model.lit[bytes[i]];
    if (lit < cost[i + 1]) {
      cost[i + 1] = lit;
      step[i + 1] = Literal(bytes[i]);
    }
    const uint32_t room = static_cast<uint32_t>(std::min<size_t>(n - i, MaxMatch));
    // Candidates come nearest first. A farther one pays off for the lengths
    // no nearer one reaches, and for all lengths if its offset is cheaper.
    uint32_t shorter = MinMatch - 1;
    uint32_t cheapestOffset = Unreached;
    for (uint32_t c = chunk.first[from + i]; c < chunk.first[from + i + 1]; ++c) {
      const MatchCandidate& m = chunk.cand[c];
      const uint32_t offsetCost = model.off[OffsetSymbol(m.distance - 1)];
      const uint32_t base = here + offsetCost;
      const uint32_t longest = std::min<uint32_t>(m.length, room);
      const uint32_t first = offsetCost < cheapestOffset ? MinMatch : shorter + 1;
      cheapestOffset = std::min(cheapestOffset, offsetCost);
      for (uint32_t len = first; len <= longest; ++len) {
        const uint32_t total = base + model.lit[len + MatchLengthBias];
        if (total < cost[i + len]) {
          cost[i + len] = total;
          step[i + len] = Match(len, m.distance);
        }
      }
      shorter = std::max(shorter, longest);
    }
  }
  std::vector<Token> tokens;
  for (size_t i = n; i > 0;) {
    const Token t = step[i];
    tokens.push_back(t);
    i -= t.length == 0 ? 1 : t.length;
  }
  std::reverse(tokens.begin(), tokens.end());
  return tokens;
}

size_t BytesOf(const Token* t, size_t n) {
  size_t bytes = 0;
  for (size_t i = 0; i < n; ++i) bytes += t[i].length == 0 ? 1 : t[i].length;
  return bytes;
}

// Parses [from, to) `passes` times, each pass under the codes the previous
// one produced, and keeps the cheapest block. Returns its size in bits.
uint64_t RefineRange(const uint8_t* chunkData, size_t from, size_t to, const Chunk& chunk,
                     CostModel model, int passes, const MethodParams& method, std::vector<Token>& best,
                     CostModel* bestModel) {
  uint64_t bestBits = best.empty() ? std::numeric_limits<uint64_t>::max()
                                   : BlockBits(best.data(), best.size(), method);
  for (int pass = 0; pass < passes; ++pass) {
    std::vector<Token> tokens = ParseRange(chunkData, from, to, chunk, model);
    const uint64_t bits = BlockBits(tokens.data(), tokens.size(), method);
    model = CostsFromTokens(tokens, method);
    if (bits < bestBits) {
      bestBits = bits;
      best = std::move(tokens);
      if (bestModel) *bestModel = model;
    }
  }
  return bestBits;
}

}  // namespace

// The member's bytes from `start` on that the parse still needs, the
// parse's state, and the bit stream of the blocks written so far.
struct MemberEncoder::State {
  const MethodParams& method;
  const int level;
  std::vector<uint8_t> window;  // member bytes [start, start + window.size())
  uint64_t start = 0;
  bool finished = false;
  BitWriter bits;
  std::vector<uint8_t> output;
  // Fast level.
  std::unique_ptr<MatchFinder> chains;
  std::vector<Token> tokens;
  uint64_t pos = 0;  // next position to parse
  uint32_t curLen = 0, curDist = 0;
  bool carried = false;  // curLen and curDist already hold pos's match
  // Level 9.
  std::unique_ptr<TreeMatchFinder> trees;
  Chunk chunk;
  CostModel carriedCosts;
  uint64_t chunkBegin = 0;

  State(const MethodParams& m, int l, uint64_t maxSize) : method(m), level(l) {
    const uint64_t room = uint64_t{m.windowSize} + Lookahead + 2 * SlideStep;
    window.reserve(static_cast<size_t>(std::min(maxSize, room)));
    if (level >= 9) {
      trees = std::make_unique<TreeMatchFinder>(m.windowSize);
      carriedCosts = InitialCosts(m);
    } else {
      chains = std::make_unique<MatchFinder>(m.windowSize, maxSize);
      tokens.reserve(static_cast<size_t>(std::min<uint64_t>(maxSize / 3 + 16, FastBlockSymbols)));
    }
  }

  uint64_t End() const { return start + window.size(); }
  const uint8_t* At(uint64_t p) const { return window.data() + (p - start); }

  void TakeBits() { bits.TakeWholeBytes(output); }

  void ParseFast() {
    const uint64_t end = End();
    const uint64_t limit = finished ? end : (end > Lookahead ? end - Lookahead : 0);
    MatchFinder& finder = *chains;
    finder.View(window.data(), start, end);
    auto search = [&](uint64_t p, uint32_t& dist, int depth) {
      uint32_t len = finder.Longest(p, static_cast<uint32_t>(std::min<uint64_t>(MaxMatch, end - p)), depth,
                                    FastNice, dist);
      return (len == MinMatch && dist > FarShortMatch) ? 0u : len;
    };
    while (pos < limit) {
      if (!carried) curLen = search(pos, curDist, FastDepth);
      carried = false;
      finder.Insert(pos);
      if (curLen >= MinMatch && curLen < LazyLimit && pos + 1 < end) {
        uint32_t nextDist = 0;
        const uint32_t nextLen = search(pos + 1, nextDist, curLen >= GoodLength ? FastDepth / 4 : FastDepth);
        // Worth a literal first: a longer match, or one as long whose offset
        // takes several bits fewer.
        if (nextLen > curLen ||
            (nextLen == curLen && OffsetSymbol(nextDist - 1) + CheaperOffsetBits <= OffsetSymbol(curDist - 1))) {
          tokens.push_back(Literal(*At(pos)));
          ++pos;
          curLen = nextLen;
          curDist = nextDist;
          carried = true;
          if (tokens.size() == FastBlockSymbols) WriteTokens();
          continue;
        }
      }
      if (curLen >= MinMatch) {
        tokens.push_back(Match(curLen, curDist));
        for (uint64_t p = pos + 1; p < pos + curLen; ++p) finder.Insert(p);
        pos += curLen;
      } else {
        tokens.push_back(Literal(*At(pos)));
        ++pos;
      }
      if (tokens.size() == FastBlockSymbols) WriteTokens();
    }
    if (finished && !tokens.empty()) WriteTokens();
  }

  // Each stretch of FastBlockSymbols tokens, and the rest at the end, is
  // written as one or more blocks.
  void WriteTokens() {
    WriteSplit(bits, tokens.data(), tokens.size(), method, FastSplitDepth);
    tokens.clear();
    TakeBits();
  }

  void ParseOptimal() {
    const uint64_t end = End();
    TreeMatchFinder& finder = *trees;
    finder.View(window.data(), start, end);
    for (;;) {
      uint64_t chunkEnd = chunkBegin + OptimalChunk;
      if (finished) {
        if (chunkBegin >= end) break;
        chunkEnd = std::min(chunkEnd, end);
      } else if (chunkEnd + MaxMatch > end) {
        break;
      }
      CollectCandidates(finder, chunkBegin, chunkEnd, chunk);
      const uint8_t* chunkData = At(chunkBegin);
      std::vector<Token> best;
      RefineRange(chunkData, 0, static_cast<size_t>(chunkEnd - chunkBegin), chunk, carriedCosts, OptimalPasses,
                  method, best, &carriedCosts);
      // Where the statistics change inside the chunk, split it and parse each
      // part again under codes of its own.
      std::vector<size_t> cuts;
      SplitBits(best.data(), best.size(), method, SplitDepth, &cuts, 0);
      size_t at = 0, byteAt = 0;
      for (size_t cut : cuts) {
        std::vector<Token> part(best.begin() + at, best.begin() + cut);
        const size_t partBytes = BytesOf(part.data(), part.size());
        if (cuts.size() > 1)
          RefineRange(chunkData, byteAt, byteAt + partBytes, chunk, CostsFromTokens(part, method), SplitPasses,
                      method, part, nullptr);
        WriteBlock(bits, part.data(), part.size(), method);
        at = cut;
        byteAt += partBytes;
      }
      TakeBits();
      chunkBegin = chunkEnd;
    }
  }

  void Parse() {
    if (level >= 9)
      ParseOptimal();
    else
      ParseFast();
  }

  // Lets go of the bytes more than a window behind where the parse stands.
  void Slide() {
    const uint64_t at = level >= 9 ? chunkBegin : pos;
    const uint64_t keep = at > method.windowSize ? at - method.windowSize : 0;
    if (keep < start + SlideStep) return;
    const size_t drop = static_cast<size_t>(keep - start);
    window.erase(window.begin(), window.begin() + drop);
    start = keep;
  }
};

MemberEncoder::MemberEncoder(const MethodParams& method, int level, uint64_t maxSize)
    : state_(std::make_unique<State>(method, level, maxSize)) {}

MemberEncoder::~MemberEncoder() = default;

void MemberEncoder::Put(const uint8_t* data, size_t size) {
  State& s = *state_;
  while (size > 0) {
    // Room for a step's worth beyond what the parse must keep.
    const size_t room = s.window.capacity() > s.window.size() ? s.window.capacity() - s.window.size() : 0;
    const size_t take = std::min(size, std::max(room, SlideStep));
    s.window.insert(s.window.end(), data, data + take);
    data += take;
    size -= take;
    s.Parse();
    s.Slide();
  }
}

void MemberEncoder::Finish() {
  State& s = *state_;
  if (s.finished) return;
  s.finished = true;
  s.Parse();
  s.bits.Flush();
  s.TakeBits();
}

std::vector<uint8_t>& MemberEncoder::Output() { return state_->output; }

std::vector<uint8_t> EncodeMember(const uint8_t* data, size_t size, const MethodParams& method, int level,
                                  const EncodeProgress& progress) {
  if (size == 0) return {};
  MemberEncoder encoder(method, level, size);
  std::vector<uint8_t> out;
  for (size_t done = 0; done < size;) {
    const size_t piece = std::min(size - done, ProgressStep);
    encoder.Put(data + done, piece);
    done += piece;
    std::vector<uint8_t>& o = encoder.Output();
    out.insert(out.end(), o.begin(), o.end());
    o.clear();
    if (progress) progress(done);
  }
  encoder.Finish();
  std::vector<uint8_t>& o = encoder.Output();
  out.insert(out.end(), o.begin(), o.end());
  return out;
}
