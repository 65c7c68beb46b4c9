// Huffman lengths by the two-queue method over frequency-sorted leaves, then a
// length limit that moves leaves between depths without changing the Kraft
// sum, then re-assignment so the most frequent symbols get the shortest codes.
#include "compress/huffman.h"

#include <algorithm>
#include <numeric>

std::vector<uint8_t> BuildCodeLengths(const std::vector<uint32_t>& freq, int maxLength) {
  const size_t n = freq.size();
  std::vector<uint8_t> lengths(n, 0);
  std::vector<uint32_t> leaves;  // used symbols, by ascending (frequency, symbol)
  for (uint32_t s = 0; s < n; ++s)
    if (freq[s] != 0) leaves.push_back(s);
  const size_t m = leaves.size();
  if (m < 2) return lengths;
  std::stable_sort(leaves.begin(), leaves.end(),
                   [&](uint32_t a, uint32_t b) { return freq[a] < freq[b]; });

  // Nodes 0..m-1 are the leaves in sorted order, m..2m-2 the merges in the
  // order made; merge weights never decrease, so two queues stay sorted.
  std::vector<uint64_t> weight(2 * m - 1);
  std::vector<uint32_t> parent(2 * m - 1, 0);
  for (size_t i = 0; i < m; ++i) weight[i] = freq[leaves[i]];
  size_t nextLeaf = 0, nextMerge = m, made = m;
  auto takeLightest = [&]() -> size_t {
    if (nextLeaf < m && (nextMerge >= made || weight[nextLeaf] <= weight[nextMerge])) return nextLeaf++;
    return nextMerge++;
  };
  while (made < 2 * m - 1) {
    size_t a = takeLightest();
    size_t b = takeLightest();
    weight[made] = weight[a] + weight[b];
    parent[a] = parent[b] = static_cast<uint32_t>(made);
    ++made;
  }
  std::vector<uint32_t> depth(2 * m - 1, 0);
  for (size_t i = 2 * m - 2; i-- > 0;) depth[i] = depth[parent[i]] + 1;

  // Leaves per depth; deeper than the limit counts at the limit, then each
  // step drops one leaf from the limit and splits a shallower leaf in two,
  // which lowers the Kraft sum (in units of 2^-maxLength) by exactly one.
  std::vector<uint32_t> perLength(maxLength + 1, 0);
  for (size_t i = 0; i < m; ++i) perLength[std::min<uint32_t>(depth[i], maxLength)]++;
  uint64_t kraft = 0;
  for (int l = 1; l <= maxLength; ++l) kraft += static_cast<uint64_t>(perLength[l]) << (maxLength - l);
  const uint64_t full = 1ull << maxLength;
  while (kraft > full) {
    perLength[maxLength]--;
    int l = maxLength - 1;
    while (perLength[l] == 0) --l;
    perLength[l]--;
    perLength[l + 1] += 2;
    --kraft;
  }
  // Least frequent leaves take the longest lengths.
  size_t next = 0;
  for (int l = maxLength; l >= 1; --l)
    for (uint32_t k = 0; k < perLength[l]; ++k) lengths[leaves[next++]] = static_cast<uint8_t>(l);
  return lengths;
}

std::vector<uint16_t> CanonicalCodes(const std::vector<uint8_t>& lengths) {
  uint32_t count[MaxCodeLength + 1] = {};
  for (uint8_t l : lengths) count[l]++;
  count[0] = 0;
  uint32_t next[MaxCodeLength + 2] = {};
  uint32_t code = 0;
  for (uint32_t l = 1; l <= MaxCodeLength; ++l) {
    code = (code + count[l - 1]) << 1;
    next[l] = code;
  }
  std::vector<uint16_t> codes(lengths.size(), 0);
  for (size_t s = 0; s < lengths.size(); ++s)
    if (lengths[s] != 0) codes[s] = static_cast<uint16_t>(next[lengths[s]]++);
  return codes;
}
