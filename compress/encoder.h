// Compresses one member's data into the bit stream of a compressed method
// (-lh5-, -lh6-, -lh7-). The output decodes to exactly the input with the
// method's window; it uses no match that reaches before the first byte.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "compress/format.h"

// Called now and then with the number of input bytes already coded.
using EncodeProgress = std::function<void(size_t done)>;

// One member, taken in pieces of any size: the stream is the same as if the
// whole member came at once, and memory stays within a few windows whatever
// the member's size. Compressed bytes gather in Output() as blocks are
// completed; the caller takes them (and clears it) whenever it likes.
// level 0: hash chains with lazy matching; level 9: parsing chosen by bit
// cost under each block's own codes, refined over several passes.
class MemberEncoder {
 public:
  // maxSize: the most bytes the member will have.
  MemberEncoder(const MethodParams& method, int level, uint64_t maxSize);
  ~MemberEncoder();
  MemberEncoder(const MemberEncoder&) = delete;
  MemberEncoder& operator=(const MemberEncoder&) = delete;

  // The member's next bytes.
  void Put(const uint8_t* data, size_t size);
  // The member has ended: codes what is left and pads the last byte.
  void Finish();
  std::vector<uint8_t>& Output();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// A whole member in memory, in one call (empty input, empty output).
std::vector<uint8_t> EncodeMember(const uint8_t* data, size_t size, const MethodParams& method, int level,
                                  const EncodeProgress& progress = {});
