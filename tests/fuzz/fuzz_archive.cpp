// Fuzz target: a whole archive through the driver, first the start-up scan
// (which decodes a leading message member into text) and then a test run
// that decodes every member into a discarding sink; then the host's search
// for an archive inside a program. Each input runs as given
// and again with its header CRCs repaired, so mutated headers reach the
// decoders instead of stopping at the CRC check.
#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "extract/driver.h"
#include "extract/scan_host.h"
#include "tests/fuzz/harness.h"

namespace {

// The test run's result: 1 when every member passed. The search for an
// archive inside a program reads headers at every offset that looks like one.
int RunArchive(const uint8_t* data, size_t size) {
  PlaceArchive(data, size);
  ResetWorkArea();
  RunDriver(ScanMode);
  int passed = RunDriver(TestMode) == 1;
  uint32_t found = 0;
  if (FindArchiveInProgram(&found)) FuzzCheck(found < size, "an archive found beyond the input");
  return passed;
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
