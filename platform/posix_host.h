// Host-only additions to the POSIX platform layer: a trap that turns the
// process exit into a longjmp (so tests and fuzzers survive AbortExtraction),
// the choice to keep the directories walked open between calls, and the
// system's reason for the last call that failed.
#pragma once
#include <setjmp.h>
#include <stdint.h>

#include "platform/platform.h"

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

// The errno of the last platform call that failed (opening, creating,
// reading, writing, seeking, closing, renaming an output into place, making
// a directory), kept until another one fails; the engine's messages carry no
// reason, so the host adds this one. Queries that merely find nothing
// (attributes of an absent file) and clean-up calls leave it alone. The host
// may clear it to 0 before a step whose failure it will report.
extern int PlatformLastError;

// Set while the member in hand has a UTF-8 name with no CP932 form: engine
// paths are then taken as the file system's UTF-8 bytes as they are, not
// converted from CP932. The engine builds a member's paths from its name
// alone, so the host sets it per member and clears it before it opens the
// archive again.
extern int PlatformUtf8Paths;

// Unix permission bits the next committed output gets (-1, the default: the
// mode a new file gets under the umask). The host sets it per member from
// the header's Unix record; set-user-id and set-group-id are never applied.
extern int PlatformOutputMode;

// Seconds since 1970 the next committed output is stamped with (-1, the
// default: the time the engine set from its DOS fields). The host sets it
// per member from the header, to the second and past 2038.
extern int64_t PlatformOutputTime;

// 1 when path names a file, link or directory this process committed as an
// output (by identity, so a name the file system takes for another, in
// another letter case for one, counts too); 0 otherwise.
int PlatformOutputWritten(const char* path);

// Gives the directory at path (never through a symlink) the permission bits
// mode, narrowed by the umask and without set-user-id and set-group-id, and
// the modification time (-1 for either: left alone). 1/0.
int PlatformSetDirectoryFacts(const char* path, int mode, int64_t time);

// Where the next committed output points (null, the default: nowhere). When
// set, the commit puts a symbolic link holding this text in the output's
// place, by the same rename that would have put the file there, so an
// existing link there is replaced, never followed; the file written (empty)
// is removed. The host sets it per member from a link entry.
extern const char* PlatformOutputLink;

// Seconds since 1970 of MS-DOS date and time fields (date in the high half)
// taken as the local time of this machine, as the older header levels store
// them (to 2107). 1, or 0 when they name no time the machine can express.
int PlatformLocalDosTimeToUnix(uint32_t dosDateTime, int64_t* seconds);

// A descriptor the discarding sink writes to instead of /dev/null (-1, the
// default: /dev/null): the host's p command sends tested members to stdout.
extern int PlatformDiscardTo;

// Narrows what later writes to file put out: of the bytes written from this
// call on, the first skip are passed over, then at most keep go out and the
// rest are dropped, every byte still counting as written; the first
// captureSize of them are also copied to capture (none when it is null).
// It lasts until the file is closed or another file is narrowed. The host
// strips a header from a member's data this way while the CRC still covers
// every byte decoded.
void PlatformNarrowOutput(FileHandle file, uint32_t skip, uint32_t keep, uint8_t* capture,
                          uint32_t captureSize);
