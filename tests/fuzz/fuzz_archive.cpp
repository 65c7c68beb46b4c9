// Fuzz target: a whole archive through the driver, first the start-up scan
// (which decodes a leading message member into text) and then a test run
// that decodes every member into a discarding sink. Each input runs as given
// and again with its header CRCs repaired, so mutated headers reach the
// decoders instead of stopping at the CRC check.
#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "extract/driver.h"
#include "tests/fuzz/harness.h"

namespace {

// The test run's result: 1 when every member passed.
int RunArchive(const uint8_t* data, size_t size) {
  PlaceArchive(data, size);
  ResetWorkArea();
  RunDriver(ScanMode);
  return RunDriver(TestMode) == 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInputClean = 0;
  if (LargestDeclaredSize(data, size) > FuzzOutputLimit) return -1;
  FuzzInputClean = RunArchive(data, size);
  std::vector<uint8_t> repaired(data, data + size);
  if (RepairHeaderCrcs(repaired.data(), repaired.size())) RunArchive(repaired.data(), repaired.size());
  return 0;
}
