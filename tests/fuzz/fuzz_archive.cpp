// Fuzz target: a whole archive through the driver, first the start-up scan
// (which decodes a leading message member into text) and then a test run
// that decodes every member into a discarding sink; then the host's search
// for an archive inside a program and for headers behind an archive's end. Each input runs as given
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
  // Every offset is taken for an archive's end, so the search behind it
  // meets damaged headers of every kind.
  for (FileOffset end = 0; end < size; end += 1 + end / 2) {
    FileOffset behind = 0;
    if (FindHeaderAfterEnd(end, &behind)) FuzzCheck(behind >= end && behind < size, "a header found outside the search");
  }
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
