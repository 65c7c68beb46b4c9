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

// Shows "\"subject\" message" (formatted into text) with the error icon.
void ShowError(MessageId message, const char* subject);
// Shows the message alone with the error icon (the out-of-memory report).
void ShowPlainError(MessageId message);
// Closes both files, deletes the partial output and ends the process.
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
