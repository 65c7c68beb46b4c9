// Host-only additions to the POSIX platform layer: a trap that turns the
// process exit into a longjmp (so tests and fuzzers survive AbortExtraction),
// and the host's safety rule for writing under the destination.
#pragma once
#include <setjmp.h>

// When set, PlatformExitProcess longjmps here with ExitTrapBase + exit code
// instead of ending the process.
extern jmp_buf* PlatformExitTrap;
enum { ExitTrapBase = 0x100 };
