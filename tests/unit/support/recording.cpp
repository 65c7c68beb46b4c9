// Recording implementations of the reporting helpers for the unit tests, the
// work-area set-up and the exit trap runner. Texts are kept as raw bytes.
#include "tests/unit/support/recording.h"

#include <setjmp.h>
#include <stdio.h>
#include <stdlib.h>

#include "platform/posix_host.h"
#include "core/messages.h"
#include "core/report.h"
#include "base/text.h"
#include "extract/admission.h"

ReportLog Reported;

void ResetReports() { Reported = ReportLog(); }

static void Record(MessageId message) {
  Reported.lastMessage = message;
  Reported.lastMethod.clear();
  if (Work->header != nullptr)
    Reported.lastMethod.assign((const char*)Work->header + HdrMethod, MethodIdLength);
  Reported.errorCount++;
}

void ShowError(MessageId message, const char* subject) {
  Record(message);
  Reported.lastSubject = subject;
  snprintf(Work->text, TextSize, "\"%s\" %s",
           subject, message < StubMessageCount ? MessageText(message) : "");
}

void ShowPlainError(MessageId message) {
  Record(message);
  Reported.lastSubject.clear();
}

void UpdateProgress(MemberSize done, MemberSize total) {
  uint32_t percent = 0;
  if (total != 0) {
    uint32_t q = total / 100;
    percent = q == 0 ? 100 : done / q;
    if (percent > 100) percent = 100;
  }
  Reported.progress.emplace_back(done, total);
  Reported.percents.push_back(percent);
  snprintf(Work->text, TextSize, TextProgressFormat, (unsigned long)percent);
  ShowPercent(Work->text);
  PumpMessages(Work->dialog);
  if (Work->cancelRequested == 1) AbortExtraction(ExitStopped);
}

void PumpMessages(WindowHandle) { Reported.pumpCount++; }

void ShowMemberPath(const char* text) { Reported.status.emplace_back(RecordedPath, text); }

void ShowPercent(const char* text) { Reported.status.emplace_back(RecordedPercent, text); }

int AskOverwrite() {
  Reported.overwriteAsked++;
  Reported.lastQuestion = Work->text;
  return Reported.overwriteAnswer;
}

int AskMessage() {
  Reported.messageAsked++;
  Reported.lastQuestion = Work->text;
  return Reported.messageAnswer;
}

int AcceptMemberPath() { return Reported.acceptPath; }

void FinishOutputPath() {}

int IsMessageMember() {
  return TextLength(Work->memberName) == 1 && Work->memberName[0] == MessageMemberName[0];
}

SfxWorkArea* NewWorkArea() {
  FreeWorkArea();
  Work = static_cast<SfxWorkArea*>(calloc(1, sizeof(SfxWorkArea)));
  if (Work == nullptr) abort();
  Work->archiveFile = InvalidFile;
  Work->outputFile = InvalidFile;
  Work->inputPos = UINT32_MAX;
  ResetReports();
  return Work;
}

void FreeWorkArea() {
  free(Work);
  Work = nullptr;
}

int RunTrapped(const std::function<void()>& body) {
  jmp_buf trap;
  jmp_buf* saved = PlatformExitTrap;
  PlatformExitTrap = &trap;
  // volatile: the value must survive the longjmp back into this frame.
  volatile int code = NoExit;
  int jumped = setjmp(trap);
  if (jumped == 0) {
    body();
  } else {
    code = jumped - ExitTrapBase;
  }
  PlatformExitTrap = saved;
  return code;
}
