// What the driver asks its host about a member it is about to write,
// chosen at link time like the header levels (extract/levels.h): the stub
// links admission_stub.cpp, which writes every member where it maps, since
// running a self-extracting file already trusts its publisher; the host
// tool links its own (cli/member.cpp: the members asked for, the path
// policy, the name's form on its file system); the unit tests a recorder.
#pragma once

// Whether the member now in memberName is written. The host may change the
// name (a root taken off) and the header's facts (its time as UTC) first.
int AcceptMemberPath();
// outputPath is built for the member and about to be shown and made: the
// host maps it for its own file system.
void FinishOutputPath();
// Whether the member now in memberName is the message member (stored name
// "!"), whose text is the question asked before extraction rather than a
// file: in the stub always, in the host only inside a self-extracting file.
int IsMessageMember();
