// What differs between the stub's header reading and the host tool's, chosen
// at link time: the stub links levels_stub.cpp (level-2 headers with the
// methods it decodes, nothing more), the host levels_host.cpp (levels 0 to 3,
// any method id of the form "-xxx-", the Unix records). The member walk and
// the level-2 reader call these and nothing else of either.
#pragma once
#include <stdint.h>

#include "extract/header.h"

// Reads the header at the archive file's position into the state the
// level-2 reader leaves (see ReadMemberHeader).
HeaderReadResult ReadNextHeader();
// Bytes the current header takes in the file, its records included; its
// member's data follows them.
uint32_t MemberHeaderLength();
// Where the walk starts: config.archiveOffset, or for the host a later
// member's header at which it resumes a run.
FileOffset ArchiveStartOffset();
