// The reporting helpers as the fuzz targets need them: nothing is shown,
// every question is declined, every member path accepted. Cancel is never
// pressed, so progress only checks that the counts it is handed make sense.
#include <string.h>

#include "base/text.h"
#include "core/report.h"
#include "core/workarea.h"
#include "extract/admission.h"
#include "tests/fuzz/harness.h"

void ShowError(MessageId, const char*) {}

void ShowPlainError(MessageId) {}

void UpdateProgress(MemberSize done, MemberSize total) {
  // A match may carry the output past the member's end, but decoding stops
  // there, so the count never runs a whole window beyond it.
  FuzzCheck((uint64_t)done <= (uint64_t)total + RingBufferSize, "progress far past the member's size");
  // The 64-bit size record may declare more than the inputs are kept to
  // (LargestDeclaredSize reads the 32-bit fields); such a member is cut
  // short as a cancel would cut it.
  if (Work->cancelRequested || done > FuzzOutputLimit) AbortExtraction(ExitStopped);
}

void PumpMessages(WindowHandle) {}

void ShowMemberPath(const char*) {}
void ShowPercent(const char*) {}

int AskOverwrite() { return AnswerNo; }

int AskMessage() {
  FuzzCheck(memchr(Work->text, '\0', TextSize) != nullptr, "the message text is not terminated");
  return AnswerNo;
}

int AcceptMemberPath() { return 1; }

void FinishOutputPath() {}

int IsMessageMember() {
  return TextLength(Work->memberName) == 1 && Work->memberName[0] == MessageMemberName[0];
}
