// Writes parsed symbols as blocks of the compressed format: block size, the
// code-length code, the literal/length code, the offset code, then the
// symbols, each code built from the block's own statistics.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "compress/bitwriter.h"
#include "compress/format.h"

// Appends one block holding tokens [0, count), 1 <= count <= MaxBlockSymbols.
void WriteBlock(BitWriter& out, const Token* tokens, size_t count, const MethodParams& method);

// Exact size in bits of that block.
uint64_t BlockBits(const Token* tokens, size_t count, const MethodParams& method);

// The code lengths WriteBlock would choose for these tokens, for cost models:
// literal/length lengths (510) and offset lengths (method.offsetSymbols);
// a code with a single symbol reports length 0 for it.
void BlockCodeLengths(const Token* tokens, size_t count, const MethodParams& method,
                      std::vector<uint8_t>& litLen, std::vector<uint8_t>& offLen);

// Symbol counts of a run of tokens; the counts of two runs add up to those
// of both, so the size of a block follows from its parts' counts.
struct SymbolCounts {
  std::vector<uint32_t> lit, off;  // LiteralSymbolCount and method.offsetSymbols entries
};
void CountSymbols(const Token* tokens, size_t count, const MethodParams& method, SymbolCounts& counts);
void AddCounts(SymbolCounts& into, const SymbolCounts& more);

// BlockBits of `count` tokens with these counts.
uint64_t BlockBitsOfCounts(const SymbolCounts& counts, size_t count, const MethodParams& method);
