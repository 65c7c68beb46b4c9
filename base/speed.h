// SPEED_OVER_SIZE marks the few functions where the stub spends its time
// (the decoding loop, the CRC, building the code tables): in a build for
// size (the stub) they are still compiled for speed, without the
// alignment padding, which buys nothing measurable there and would cost the
// stub a file-alignment unit. Builds for speed (the host) and compilers
// without per-function optimisation leave it as it is.
#pragma once

#if defined(__OPTIMIZE_SIZE__) && !defined(__clang__)
#define SPEED_OVER_SIZE                                                                         \
  __attribute__((optimize("O2", "no-align-loops", "no-align-jumps", "no-align-functions", \
                          "no-align-labels")))
#else
#define SPEED_OVER_SIZE
#endif
