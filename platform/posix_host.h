// Host-only additions to the POSIX platform layer: a trap that turns the
// process exit into a longjmp (so tests and fuzzers survive AbortExtraction),
// and the choice to keep the directories walked open between calls.
#pragma once
#include <setjmp.h>

// When set, PlatformExitProcess longjmps here with ExitTrapBase + exit code
// instead of ending the process.
extern jmp_buf* PlatformExitTrap;
enum { ExitTrapBase = 0x100 };

// With keep set, the writing calls keep open the directories they walk (never
// through a symlink) and reuse them for later paths that share a leading
// part, instead of walking every component again on each call; off, the
// default, each call walks afresh. Either way what was kept is let go. Paths
// are matched as text, so turn it on only for a stretch in which the process
// neither changes its current directory nor removes directories.
void PlatformKeepDirectories(int keep);
