// The stub writes every member where its name maps (extract/outpath), as
// its placement rules say; nothing here costs it a byte.
#include "extract/admission.h"

#include "base/text.h"
#include "core/workarea.h"

int AcceptMemberPath() { return 1; }

void FinishOutputPath() {}

int IsMessageMember() {
  return TextLength(Work->memberName) == 1 && Work->memberName[0] == MessageMemberName[0];
}
