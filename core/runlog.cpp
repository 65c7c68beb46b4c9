// The log of a run and the clean-up every end of a run shares: the normal
// end in start-up and the abort from deep inside decoding.
#include "core/runlog.h"

#include "base/text.h"
#include "core/report.h"
#include "core/workarea.h"

namespace {

enum : uint32_t { Decimal = 10, DigitsOfUint32 = 10 };

const char* ResultWord(int exitCode) {
  if (exitCode >= ExitCommandBase) return "command";
  if (exitCode == ExitExtracted) return LogExtracted;
  if (exitCode == ExitFailed) return "failed";
  if (exitCode == ExitStopped) return LogStopped;
  return "nothing";
}

}  // namespace

// With no log open the platform's write fails, and is passed over as any
// failed write of a log is.
void LogLine(const char* what, const char* name, const char* detail) {
  PlatformAppendLine(Work->logFile, what, name, detail);
}

void FinishRun(int exitCode) {
  if (FileIsOpen(Work->logFile)) {
    char digits[DigitsOfUint32 + 1];
    char* p = digits + sizeof digits;
    *--p = '\0';
    uint32_t value = (uint32_t)exitCode;
    do {
      *--p = (char)('0' + value % Decimal);
      value /= Decimal;
    } while (value != 0);
    PlatformAppendLine(Work->logFile, "result", ResultWord(exitCode), p);
    PlatformClose(Work->logFile);  // every line was written as it came; nothing is left to lose
  }
  if (Work->workFolder[0] != '\0') PlatformRemoveTree(Work->workFolder);
}
