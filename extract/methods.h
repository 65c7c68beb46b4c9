// The methods the host decodes beyond the stub's, chosen at link time like
// the header levels (extract/levels.h): the stub links methods_stub.cpp,
// whose answers are constants its reader already guarantees, so the driver's
// checks fold away there; the host links methods_host.cpp and the decoders
// of the older methods (extract/*_host.cpp).
#pragma once
#include <stdint.h>

// 1 when the current member's method id is one this build decodes.
int MemberMethodKnown();
// 1 when the id is one of the stub's: -lh0-, -lh4- to -lh7-, -lhd-.
int MemberHasStubMethod();
// Decodes a known member whose method is not one of the stub's, through
// WriteOutput as ExpandMember does.
void ExpandOtherMethod();
// Host only: 1 when the method id at id is "-", family (two letters), the
// method character, "-".
int MethodIdIs(const uint8_t* id, const char* family, char method);
