// The methods the host decodes beyond the stub's: -lh1-, -lh2- and -lh3-, the LArc
// methods -lz4- (stored), -lz5- and -lzs-. A member of any other method is
// refused by the driver with its id and name, and the walk goes on with the
// next member.
#include "extract/methods.h"

#include "base/format.h"
#include "base/text.h"
#include "core/workarea.h"
#include "extract/decode.h"
#include "extract/header.h"
#include "extract/olddecode_host.h"

namespace {

const uint8_t* MethodId() { return Work->header + HdrMethod; }

// 1 when the id is "-" prefix letters, the method character, "-".
int IdIs(const char* prefix, char method) {
  const uint8_t* id = MethodId();
  return id[0] == '-' && id[1] == (uint8_t)prefix[0] && id[2] == (uint8_t)prefix[1] &&
         id[3] == (uint8_t)method && id[4] == '-';
}

int IsLh(char method) { return IdIs("lh", method); }
int IsLz(char method) { return IdIs("lz", method); }

}  // namespace

int MemberHasStubMethod() { return IsStubMethodId(MethodId()); }

int MemberMethodKnown() {
  return MemberHasStubMethod() || IsLh(MethodLh1) || IsLh(MethodLh2) || IsLh(MethodLh3) ||
         IsLz(MethodLzStored) ||
         IsLz(MethodLz5) || IsLz(MethodLzs);
}

void ExpandOtherMethod() {
  if (IsLz(MethodLzStored))
    CopyStoredMember(MemberOriginalSize());
  else if (IsLh(MethodLh1))
    DecodeLh1();
  else if (IsLh(MethodLh2))
    DecodeLh2();
  else if (IsLh(MethodLh3))
    DecodeLh3();
  else if (IsLz(MethodLz5))
    DecodeLz5();
  else if (IsLz(MethodLzs))
    DecodeLzs();
}
