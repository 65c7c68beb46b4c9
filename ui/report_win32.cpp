// What the user sees of the engine in the stub: message boxes owned by the
// main dialog (or by nobody before it exists), the path and percentage lines
// of the dialog, and the message pumping that keeps Cancel working while a
// member is decoded. Every text is composed within the bounds of text.
//
// The decoder reports progress after every window it fills (8 KB for
// -lh5-), far more often than the line can change or the user can click;
// each text change and each pump is a round trip through the window system.
// So the line is set only when its percentage changes, and messages are
// pumped at most every PumpInterval milliseconds: Cancel still answers
// within that interval plus one window's decoding.
#include <windows.h>

#include "core/messages.h"
#include "core/report.h"
#include "base/text.h"
#include "core/workarea.h"
#include "resources/resource.h"

enum : UINT {
  ErrorBox = MB_OK | MB_ICONERROR,                   // 0x10
  OverwriteBox = MB_YESNOCANCEL | MB_ICONQUESTION,   // 0x23
  MessageMemberBox = MB_YESNO | MB_ICONQUESTION,     // 0x24
};
static_assert(ErrorBox == 0x10 && OverwriteBox == 0x23 && MessageMemberBox == 0x24,
              "message-box styles");

void ShowError(const char* message, const char* subject) {
  char* text = Work->text;
  CopyText(text, "\"", TextSize);
  AppendText(text, subject, TextSize);
  AppendText(text, "\" ", TextSize);
  AppendText(text, message, TextSize);
  MessageBoxA((HWND)Work->dialog, text, Work->config.title, ErrorBox);
}

void ShowPlainError(const char* message) {
  MessageBoxA((HWND)Work->dialog, message, Work->config.title, ErrorBox);
}

static void SetStatusLine(int control, const char* text) {
  if (Work->dialog != nullptr) SetDlgItemTextA((HWND)Work->dialog, control, text);
}

void ShowMemberPath(const char* text) { SetStatusLine(IDC_STATUS_PATH, text); }

enum : DWORD { PumpInterval = 40 };
// One more than the percentage the line shows, 0 once anything else was
// written there (zero-initialised so that it needs no data section).
static uint32_t ShownPercentMark = 0;
static DWORD LastPump = 0;

void ShowPercent(const char* text) {
  SetStatusLine(IDC_STATUS_PERCENT, text);
  ShownPercentMark = 0;
}

void PumpMessages(WindowHandle dialog) {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (!IsDialogMessageA((HWND)dialog, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
}

void UpdateProgress(uint32_t done, uint32_t total) {
  uint32_t percent = ProgressPercent(done, total);
  if (percent + 1 != ShownPercentMark) {
    // "解凍中 100%" needs far fewer than the 1024 bytes wsprintfA may write.
    wsprintfA(Work->text, MsgProgressFormat, (unsigned long)percent);
    SetStatusLine(IDC_STATUS_PERCENT, Work->text);
    ShownPercentMark = percent + 1;
  }
  // The tick count wraps after 49 days; the unsigned difference does not mind.
  DWORD now = GetTickCount();
  if (now - LastPump < PumpInterval) return;
  LastPump = now;
  PumpMessages(Work->dialog);
  if (Work->cancelRequested == 1) AbortExtraction(1);
}

int AskOverwrite() {
  return MessageBoxA((HWND)Work->dialog, Work->text, Work->config.title, OverwriteBox);
}

int AskMessage() {
  // Asked during the scan, before the main dialog exists: no owner.
  return MessageBoxA(nullptr, Work->text, Work->config.title, MessageMemberBox);
}

int AcceptMemberPath() { return 1; }
