// Walks the appended archive member by member: the scan for the message
// member at start-up, the extraction into destDir, and (host only) a test run
// that decodes every member into a discarding sink.
#pragma once
#include "platform/platform.h"

enum ExtractionMode { ScanMode, ExtractMode, TestMode };

// 1 when the run completed without failure.
int ExtractArchive(WindowHandle dialog, ExtractionMode mode);
// The exit code of the extraction run that returned last: ExitExtracted,
// ExitFailed, or ExitStopped when Cancel answered an overwrite question.
int ExtractionExitCode();
// Copies the program part of command into dest (CommandSize bytes) and
// returns where the parameters begin.
const char* SplitCommand(char* dest, const char* command);
