// What the engine shows the user, and how it ends a run from deep inside
// decoding. The stub implements these with message boxes and dialog controls
// (ui/report_win32.cpp), the host tool with the terminal (cli/report.cpp),
// the unit tests by recording them (tests/unit/support). AbortExtraction and
// ProgressPercent are the same everywhere (core/report.cpp). A fault is
// reported by its id (core/messages.h); every other text is CP932.
#pragma once
#include <stdint.h>

#include "core/messages.h"
#include "platform/platform.h"

// Answers of the questions, as the platform's message box gives them.
enum : int { AnswerYes = 6, AnswerNo = 7, AnswerCancel = 2 };

// The stub's exit codes, what a script sees of a run: nothing extracted
// (Cancel before OK, the message declined, the archive unreadable at the
// scan), an extraction that completed, one that failed (a damaged member, a
// read, write or open error), one the user stopped (Cancel while it ran or at
// an overwrite question). A command waited for ends the run with
// ExitCommandBase plus its own exit code.
enum : int {
  ExitNothingExtracted = 0,
  ExitExtracted = 1,
  ExitFailed = 2,
  ExitStopped = 3,
  ExitCommandBase = 1000,
};

// Shows "\"subject\" message" (formatted into text) with the error icon.
void ShowError(MessageId message, const char* subject);
// Shows the message alone with the error icon (the out-of-memory report).
void ShowPlainError(MessageId message);
// Closes both files, deletes the partial output and ends the process after
// FinishRun. Cancel passes ExitStopped, which stays the exit code; a fault
// deep inside decoding passes 1 and ends the process with ExitFailed, or
// with ExitNothingExtracted while the scan decodes the message member,
// since nothing was extracted then.
[[noreturn]] void AbortExtraction(int exitCode);
// Shows the percentage, pumps messages, and aborts when Cancel was pressed.
void UpdateProgress(MemberSize done, MemberSize total);
// Lets the dialog handle its pending messages without waiting.
void PumpMessages(WindowHandle dialog);
// Shows the path of the member now being written (or tested).
void ShowMemberPath(const char* text);
// Shows the progress line's text ("解凍中 N%").
void ShowPercent(const char* text);
// The percentage the progress line shows for done bytes out of total, at
// most ProgressPercentLimit.
enum : uint32_t { ProgressPercentLimit = 100 };
uint32_t ProgressPercent(MemberSize done, MemberSize total);
// The question of an existing output file; text holds it. Yes, No or Cancel.
int AskOverwrite();
// The message member's question; text holds it. Yes or No.
int AskMessage();
