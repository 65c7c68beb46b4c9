// The member the engine has in hand, as the host tool reads and writes it
// beyond what the engine does: its time in UTC, and the steps of t, p and x
// at each member (cli/member.cpp also holds the host's side of
// extract/admission.h: which members x writes, and where).
#pragma once
#include <cstdint>

// The member's time stamp in seconds since 1970 UTC. The older header levels
// store the local time of the machine that packed the file; those are read
// here as this machine's local time, as other archivers on it do.
uint32_t MemberStampUtc();
// A member of a test, print or extraction run starts: whether it is one the
// command was asked about. p sends the selected ones to standard output;
// the run goes on past its faults unless told to stop at the first.
bool MemberStarting();
// A fault of the member in hand is about to be reported: whether it is
// passed over instead, since t and p still decode the members they were not
// asked about (the engine has no way past them) and their faults are none
// of the user's; the run then goes on.
bool MemberFaultPassedOver();
