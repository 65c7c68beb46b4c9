// The methods the host decodes beyond the stub's: -lh1-, -lh2- and -lh3-,
// the LArc methods -lz4- (stored), -lz5- and -lzs-, the PMarc methods -pm0-
// (stored), -pm1- and -pm2-. A member of any other method is refused by
// the driver with its id and name, and the walk goes on with the next
// member. Members of Macintosh archivers come here whatever their method,
// so their MacBinary header can be stripped.
#include "extract/methods.h"

#include "base/format.h"
#include "base/text.h"
#include "core/workarea.h"
#include "extract/decode.h"
#include "extract/header.h"
#include "extract/macbinary_host.h"
#include "extract/olddecode_host.h"

int MethodIdIs(const uint8_t* id, const char* family, char method) {
  return id[0] == '-' && id[1] == (uint8_t)family[0] && id[2] == (uint8_t)family[1] &&
         id[3] == (uint8_t)method && id[4] == '-';
}

namespace {

const uint8_t* MethodId() { return Work->header + HdrMethod; }

int IsLh(char method) { return MethodIdIs(MethodId(), "lh", method); }
int IsLz(char method) { return MethodIdIs(MethodId(), "lz", method); }
int IsPm(char method) { return MethodIdIs(MethodId(), "pm", method); }

int IsStubMethod() { return IsStubMethodId(MethodId()); }

}  // namespace

// A member whose output the host narrows is decoded here too.
int MemberHasStubMethod() { return IsStubMethod() && !MemberMayHoldMacBinary(); }

int MemberMethodKnown() {
  return IsStubMethod() || Work->isLink || IsLh(MethodLh1) || IsLh(MethodLh2) || IsLh(MethodLh3) ||
         IsLz(MethodLzStored) || IsLz(MethodLz5) || IsLz(MethodLzs) || IsPm(MethodPmStored) ||
         IsPm(MethodPm1) || IsPm(MethodPm2);
}

void DecodeByMethod() {
  if (IsLh(MethodStored) || IsLz(MethodLzStored) || IsPm(MethodPmStored))
    CopyStoredMember(MemberOriginalSize());
  else if (IsLh(MethodDirectory) || Work->isLink)
    return;
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
  else if (IsPm(MethodPm1))
    DecodePm1();
  else if (IsPm(MethodPm2))
    DecodePm2();
  else
    ExpandMember();
}

void ExpandOtherMethod() {
  if (MemberMayHoldMacBinary())
    ExpandMacMember();
  else
    DecodeByMethod();
}
