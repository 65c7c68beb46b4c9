// The two parsers and the block loop. Fast level: lazy matching (a match is
// put off by one byte when the next position has a longer one). Level 9:
// per chunk, a shortest-path parse over the candidate matches of every
// position, costed in bits under the codes the chunk ended with last time.
#include "compress/encoder.h"

#include <algorithm>
#include <limits>

#include "compress/blockcoder.h"
#include "compress/matcher.h"

namespace {

// Fast level.
constexpr int FastDepth = 64;
constexpr uint32_t FastNice = 128;
constexpr uint32_t LazyLimit = 48;        // matches this long are taken at once
constexpr uint32_t FarShortMatch = 4096;  // a 3-byte match further back costs more than literals
constexpr size_t FastBlockSymbols = 16384;

// Level 9.
constexpr int OptimalDepth = 256;
constexpr uint32_t OptimalNice = 256;
constexpr uint32_t ForcedLength = 128;    // take such a match whole, skip searching inside it
constexpr size_t OptimalChunk = 32768;    // bytes per block
constexpr int OptimalPasses = 3;
static_assert(OptimalChunk <= MaxBlockSymbols, "a chunk must fit one block");

constexpr size_t ProgressStep = 1u << 20;

Token Literal(uint8_t b) { return {0, b}; }
Token Match(uint32_t length, uint32_t distance) {
  return {static_cast<uint16_t>(length), static_cast<uint16_t>(distance - 1)};
}

void WriteBlocks(BitWriter& out, const std::vector<Token>& tokens, size_t blockSymbols,
                 const MethodParams& method) {
  for (size_t i = 0; i < tokens.size(); i += blockSymbols)
    WriteBlock(out, tokens.data() + i, std::min(blockSymbols, tokens.size() - i), method);
}

std::vector<uint8_t> EncodeFast(const uint8_t* data, size_t size, const MethodParams& method,
                                const EncodeProgress& progress) {
  MatchFinder finder(data, size, method.windowSize);
  std::vector<Token> tokens;
  tokens.reserve(size / 3 + 16);
  size_t pos = 0, nextReport = ProgressStep;
  uint32_t curLen = 0, curDist = 0;
  bool carried = false;
  auto search = [&](size_t p, uint32_t& dist) {
    uint32_t len = finder.Longest(p, static_cast<uint32_t>(std::min<size_t>(MaxMatch, size - p)), FastDepth,
                                  FastNice, dist);
    return (len == MinMatch && dist > FarShortMatch) ? 0u : len;
  };
  while (pos < size) {
    if (!carried) curLen = search(pos, curDist);
    carried = false;
    finder.Insert(pos);
    if (curLen >= MinMatch && curLen < LazyLimit && pos + 1 < size) {
      uint32_t nextDist = 0;
      const uint32_t nextLen = search(pos + 1, nextDist);
      if (nextLen > curLen) {
        tokens.push_back(Literal(data[pos]));
        ++pos;
        curLen = nextLen;
        curDist = nextDist;
        carried = true;
        continue;
      }
    }
    if (curLen >= MinMatch) {
      tokens.push_back(Match(curLen, curDist));
      for (size_t p = pos + 1; p < pos + curLen; ++p) finder.Insert(p);
      pos += curLen;
    } else {
      tokens.push_back(Literal(data[pos]));
      ++pos;
    }
    if (progress && pos >= nextReport) {
      progress(pos);
      nextReport = pos + ProgressStep;
    }
  }
  BitWriter out;
  WriteBlocks(out, tokens, FastBlockSymbols, method);
  out.Flush();
  return std::move(out.Bytes());
}

// Bit costs of every literal/length symbol and offset symbol (extra bits
// included) under a set of code lengths. Symbols the code leaves out get a
// cost a little above its longest code, so new ones stay possible but rare.
struct CostModel {
  std::vector<uint32_t> lit, off;
};

CostModel CostsFromLengths(const std::vector<uint8_t>& litLen, const std::vector<uint8_t>& offLen) {
  auto convert = [](const std::vector<uint8_t>& len, std::vector<uint32_t>& cost) {
    const uint8_t longest = *std::max_element(len.begin(), len.end());
    cost.resize(len.size());
    for (size_t s = 0; s < len.size(); ++s)
      cost[s] = len[s] != 0 ? len[s] : (longest == 0 ? 1u : std::min<uint32_t>(longest + 2, 18));
  };
  CostModel m;
  convert(litLen, m.lit);
  convert(offLen, m.off);
  for (size_t k = 2; k < m.off.size(); ++k) m.off[k] += static_cast<uint32_t>(k - 1);
  return m;
}

// A neutral model for the first chunk: 8-bit literals, lengths dearer as
// they grow, offsets priced by their extra bits.
CostModel InitialCosts(const MethodParams& method) {
  CostModel m;
  m.lit.assign(LitLenSymbols, 8);
  for (int len = MinMatch; len <= MaxMatch; ++len) m.lit[len + LengthSymbolBase] = len < 16 ? 6 + len / 4 : 11;
  m.off.assign(method.offsetSymbols, 4);
  for (int k = 2; k < method.offsetSymbols; ++k) m.off[k] += k - 1;
  return m;
}

struct Chunk {
  std::vector<uint32_t> first;  // candidates of position i: cand[first[i] .. first[i+1])
  std::vector<MatchCandidate> cand;
};

void CollectCandidates(MatchFinder& finder, const uint8_t* data, size_t begin, size_t end, Chunk& chunk) {
  (void)data;
  const size_t n = end - begin;
  chunk.first.assign(n + 1, 0);
  chunk.cand.clear();
  size_t skipUntil = begin;
  for (size_t p = begin; p < end; ++p) {
    chunk.first[p - begin] = static_cast<uint32_t>(chunk.cand.size());
    if (p >= skipUntil) {
      const uint32_t maxLen = static_cast<uint32_t>(std::min<size_t>(MaxMatch, end - p));
      const size_t added = finder.Collect(p, maxLen, OptimalDepth, OptimalNice, chunk.cand);
      if (added != 0 && chunk.cand.back().length >= ForcedLength) {
        // Keep only the long match: the paths through its inside lose to it.
        const MatchCandidate longest = chunk.cand.back();
        chunk.cand.resize(chunk.cand.size() - added);
        chunk.cand.push_back(longest);
        skipUntil = p + longest.length;
      }
    }
    finder.Insert(p);
  }
  chunk.first[n] = static_cast<uint32_t>(chunk.cand.size());
}

// Cheapest parse of data[begin, end) under the model, by a forward pass over
// positions (each reached at its least cost) and a walk back.
std::vector<Token> ParseChunk(const uint8_t* data, size_t begin, size_t end, const Chunk& chunk,
                              const CostModel& model) {
  const size_t n = end - begin;
  constexpr uint32_t Unreached = std::numeric_limits<uint32_t>::max();
  std::vector<uint32_t> cost(n + 1, Unreached);
  std::vector<Token> step(n + 1);
  cost[0] = 0;
  for (size_t i = 0; i < n; ++i) {
    const uint32_t here = cost[i];
    const uint32_t lit = here + model.lit[data[begin + i]];
    if (lit < cost[i + 1]) {
      cost[i + 1] = lit;
      step[i + 1] = Literal(data[begin + i]);
    }
    uint32_t shorter = MinMatch - 1;
    for (uint32_t c = chunk.first[i]; c < chunk.first[i + 1]; ++c) {
      const MatchCandidate& m = chunk.cand[c];
      const uint32_t base = here + model.off[OffsetSymbol(m.distance - 1)];
      for (uint32_t len = shorter + 1; len <= m.length; ++len) {
        const uint32_t total = base + model.lit[len + LengthSymbolBase];
        if (total < cost[i + len]) {
          cost[i + len] = total;
          step[i + len] = Match(len, m.distance);
        }
      }
      shorter = m.length;
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

std::vector<uint8_t> EncodeOptimal(const uint8_t* data, size_t size, const MethodParams& method,
                                   const EncodeProgress& progress) {
  MatchFinder finder(data, size, method.windowSize);
  BitWriter out;
  Chunk chunk;
  CostModel carried = InitialCosts(method);
  std::vector<uint8_t> litLen, offLen;
  size_t nextReport = ProgressStep;
  for (size_t begin = 0; begin < size; begin += OptimalChunk) {
    const size_t end = std::min(size, begin + OptimalChunk);
    CollectCandidates(finder, data, begin, end, chunk);
    std::vector<Token> best;
    uint64_t bestBits = std::numeric_limits<uint64_t>::max();
    CostModel model = carried;
    for (int pass = 0; pass < OptimalPasses; ++pass) {
      std::vector<Token> tokens = ParseChunk(data, begin, end, chunk, model);
      const uint64_t bits = BlockBits(tokens.data(), tokens.size(), method);
      BlockCodeLengths(tokens.data(), tokens.size(), method, litLen, offLen);
      model = CostsFromLengths(litLen, offLen);
      if (bits < bestBits) {
        bestBits = bits;
        best = std::move(tokens);
        carried = model;
      }
    }
    WriteBlock(out, best.data(), best.size(), method);
    if (progress && end >= nextReport) {
      progress(end);
      nextReport = end + ProgressStep;
    }
  }
  out.Flush();
  return std::move(out.Bytes());
}

}  // namespace

std::vector<uint8_t> EncodeMember(const uint8_t* data, size_t size, const MethodParams& method, int level,
                                  const EncodeProgress& progress) {
  if (size == 0) return {};
  return level >= 9 ? EncodeOptimal(data, size, method, progress) : EncodeFast(data, size, method, progress);
}
