// The stub's reader admits only the methods it decodes (extract/header.cpp),
// so every member it sees is known and its own; nothing here is reached.
#include "extract/methods.h"

int MemberMethodKnown() { return 1; }

int MemberHasStubMethod() { return 1; }

void ExpandOtherMethod() {}

const char* UnsupportedMethodText() { return ""; }
