// Test doubles for the reporting helpers of core/report.h: every message,
// status line and progress report is recorded (as the CP932 bytes the engine
// produced), questions are answered from settable values, and fatal paths
// can be run under the platform's exit trap.
#pragma once
#include <stdint.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "core/report.h"
#include "core/workarea.h"

// Which status line a recorded text went to.
enum : int { RecordedPath = 1, RecordedPercent = 2 };
// lastMessage before any report.
enum : int { NoMessage = -1 };

struct ReportLog {
  int lastMessage = NoMessage;  // MessageId of the last ShowError / ShowPlainError
  std::string lastMethod;    // the method id of the member in hand then ("" for none)
  std::string lastSubject;   // subject of the last ShowError ("" for plain)
  int errorCount = 0;        // ShowError and ShowPlainError calls
  std::vector<std::pair<uint32_t, uint32_t>> progress;  // UpdateProgress (done, total)
  std::vector<uint32_t> percents;                        // the percentage each one showed
  std::vector<std::pair<int, std::string>> status;       // ShowMemberPath / ShowPercent (line, text)
  int pumpCount = 0;
  int overwriteAsked = 0;
  int messageAsked = 0;
  std::string lastQuestion;  // text at the time of the last question
  // Answers.
  int overwriteAnswer = 6;   // AnswerYes
  int messageAnswer = 6;     // AnswerYes
  int acceptPath = 1;
};

extern ReportLog Reported;

// Clears the log and restores the default answers.
void ResetReports();

// Allocates a zero-filled work area, makes it Work, marks both files
// InvalidFile and the input buffer empty, and clears the log. The previous
// area, if any, is released.
SfxWorkArea* NewWorkArea();
void FreeWorkArea();

// Outcome of RunTrapped: NoExit when the callable returned normally.
enum : int { NoExit = -1 };
// Runs body with PlatformExitTrap set; returns the exit code the process
// would have ended with, or NoExit.
int RunTrapped(const std::function<void()>& body);
