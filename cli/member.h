// The member the engine has in hand, as the host tool reads and writes it
// beyond what the engine does: its time in seconds, and the steps of t, p
// and x at each member (cli/member.cpp also holds the host's side of
// extract/admission.h: which members x writes, and where).
#pragma once
#include <cstdint>

// The member's time in seconds since 1970 UTC, to the second: the Unix time
// of levels 2 and 3 and of the Unix records (up to 2106), or the MS-DOS
// fields of levels 0 and 1 read as this machine's local time, as other
// archivers on it read them (up to 2107).
int64_t MemberUnixTime();
// A member of a test, print or extraction run starts: whether it is one the
// command was asked about. p sends the selected ones to standard output;
// the run goes on past its faults unless told to stop at the first.
bool MemberStarting();
// A fault of the member in hand is about to be reported: whether it is
// passed over instead, since t and p still decode the members they were not
// asked about (the engine has no way past them) and their faults are none
// of the user's; the run then goes on.
bool MemberFaultPassedOver();
// After x's run: the directories it made for directory entries get their
// stored permissions and times, the deepest first, once nothing more is
// written into them (a folder stored read-only would refuse its contents).
void ApplyDirectoryFacts();
