// Compresses one member's data into the bit stream of a compressed method
// (-lh5-, -lh6-, -lh7-). The output decodes to exactly the input with the
// method's window; it uses no match that reaches before the first byte.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "compress/format.h"

// Called now and then with the number of input bytes already coded.
using EncodeProgress = std::function<void(size_t done)>;

// level 0: hash chains with lazy matching; level 9: parsing chosen by bit
// cost under each block's own codes, refined over several passes.
std::vector<uint8_t> EncodeMember(const uint8_t* data, size_t size, const MethodParams& method, int level,
                                  const EncodeProgress& progress = {});
