// What the user sees of the engine in the stub: message boxes owned by the
// main dialog (or by nobody before it exists), the path and percentage lines
// of the dialog, and the message pumping that keeps Cancel working while a
// member is decoded. Every text is composed within the bounds of text.
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

void ShowPercent(const char* text) { SetStatusLine(IDC_STATUS_PERCENT, text); }

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
  // "解凍中 100%" needs far fewer than the 1024 bytes wsprintfA may write.
  wsprintfA(Work->text, MsgProgressFormat, (unsigned long)ProgressPercent(done, total));
  ShowPercent(Work->text);
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
