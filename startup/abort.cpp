// Ends the process from deep inside extraction: the partly written output is
// closed and deleted, the archive closed, both handles left invalid, and the
// process exits with the given code through the platform.
#include "startup/report.h"
#include "startup/workarea.h"

static int IsOpen(FileHandle file) { return file != nullptr && file != InvalidFile; }

[[noreturn]] void AbortExtraction(int exitCode) {
  if (IsOpen(Work->outputFile)) {
    PlatformClose(Work->outputFile);  // the file is deleted next; its close result cannot matter
    PlatformDeleteFile(Work->outputPath);
  }
  if (IsOpen(Work->archiveFile)) {
    PlatformClose(Work->archiveFile);  // read-only; nothing to lose on a failed close
  }
  Work->outputFile = InvalidFile;
  Work->archiveFile = InvalidFile;
  PlatformExitProcess(exitCode);
}
