// Code lengths for the block codes: optimal Huffman lengths from symbol
// frequencies, limited to MaxCodeLength bits while keeping the code complete
// (Kraft sum exactly 1), and the canonical codes the extractor rebuilds from
// the lengths alone (shorter codes first, equal lengths in symbol order).
#pragma once
#include <cstdint>
#include <vector>

#include "base/format.h"


// Lengths for symbols 0..freq.size()-1; symbols of frequency 0 get 0. With
// fewer than two used symbols every length is 0 (the single-symbol form
// carries no code). Deterministic: ties are broken by symbol number.
std::vector<uint8_t> BuildCodeLengths(const std::vector<uint32_t>& freq, int maxLength = MaxCodeLength);

// Canonical code of each symbol, right-aligned in its length.
std::vector<uint16_t> CanonicalCodes(const std::vector<uint8_t>& lengths);
