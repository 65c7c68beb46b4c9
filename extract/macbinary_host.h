// Files from Macintosh archivers with a MacBinary header in front of their
// data: the host puts out the data fork alone (extract/macbinary_host.cpp).
#pragma once

// 1 when the current member, being written to a file, may start with a
// MacBinary header: its writer's OS id is 'm' and it holds at least one.
int MemberMayHoldMacBinary();
// Decodes the current member as the driver would, putting out only the
// data fork (the resource fork when there is no data fork) when its first
// 128 bytes are a MacBinary header that fits it, else every byte.
void ExpandMacMember();
