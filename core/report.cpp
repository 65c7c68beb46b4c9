// The parts of reporting that are the same in every host: ending the process
// from deep inside extraction (the partly written output closed and deleted,
// the archive closed, both handles left invalid, the run's log and folder
// finished, the exit through the platform) and the percentage the progress
// line shows.
#include "core/report.h"
#include "core/runlog.h"
#include "core/workarea.h"

[[noreturn]] void AbortExtraction(int exitCode) {
  if (FileIsOpen(Work->outputFile)) {
    PlatformClose(Work->outputFile);  // the file is deleted next; its close result cannot matter
    PlatformDiscardOutput(Work->outputPath);
  }
  if (FileIsOpen(Work->archiveFile)) {
    PlatformClose(Work->archiveFile);  // read-only; nothing to lose on a failed close
  }
  Work->outputFile = InvalidFile;
  Work->archiveFile = InvalidFile;
  // A fault has shown its message, which the log has taken.
  if (exitCode == ExitStopped)
    LogLine(LogStopped, Work->memberName);
  else
    exitCode = Work->scanning ? ExitNothingExtracted : ExitFailed;
  FinishRun(exitCode);
  PlatformExitProcess(exitCode);
}
uint32_t ProgressPercent(MemberSize done, MemberSize total) {
  if (total == 0) return 0;
  MemberSize step = total / ProgressPercentLimit;
  if (step == 0) return ProgressPercentLimit;
  MemberSize percent = done / step;
  return percent > ProgressPercentLimit ? ProgressPercentLimit : (uint32_t)percent;
}
