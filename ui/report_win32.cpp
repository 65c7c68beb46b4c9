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
#include "platform/win32_host.h"
#include "resources/resource.h"
#include "ui/ui.h"

enum : UINT {
  ErrorBox = MB_OK | MB_ICONERROR,                   // 0x10
  OverwriteBox = MB_YESNOCANCEL | MB_ICONQUESTION,   // 0x23
  MessageMemberBox = MB_YESNO | MB_ICONQUESTION,     // 0x24
};
static_assert(ErrorBox == 0x10 && OverwriteBox == 0x23 && MessageMemberBox == 0x24,
              "message-box styles");
enum : UINT { Cp932 = 932 };
// NONCLIENTMETRICSW without the border padding that Vista added.
enum : UINT { NonClientMetricsSize = 500 };
static_assert(sizeof(NONCLIENTMETRICSW) - sizeof(int) == NonClientMetricsSize ||
                  sizeof(NONCLIENTMETRICSW) == NonClientMetricsSize,
              "metrics record size");

int ShowMessageBox(HWND owner, const char* text, UINT style) {
  wchar_t wideText[WideTextSize];
  wchar_t wideTitle[TitleSize];
  // Only the out-of-memory report comes before the work area exists.
  const char* title = Work != nullptr ? Work->config.title : DefaultTitle;
  return MessageBoxW(owner, ToUtf16(text, wideText, WideTextSize),
                     ToUtf16(title, wideTitle, TitleSize), style);
}

void SetWindowText932(HWND window, const char* text) {
  wchar_t wide[WideTextSize];
  SetWindowTextW(window, ToUtf16(text, wide, WideTextSize));
}

// The templates' "System" font is a bitmap font of the system's own script:
// where that is not Japanese it has no glyph for the dialogs' texts. The
// controls then take the font of message boxes, which the system completes
// with a Japanese font as it does for the stub's message boxes; a Japanese
// system keeps the templates' font. The record is asked for in its
// original size, which every system answers.
static BOOL CALLBACK SetControlFont(HWND control, LPARAM font) {
  SendMessageW(control, WM_SETFONT, (WPARAM)font, FALSE);
  return TRUE;
}

void UseJapaneseFont(HWND dialog) {
  if (GetACP() == Cp932) return;
  NONCLIENTMETRICSW metrics;
  metrics.cbSize = NonClientMetricsSize;
  if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, NonClientMetricsSize, &metrics, 0)) return;
  EnumChildWindows(dialog, SetControlFont, (LPARAM)CreateFontIndirectW(&metrics.lfMessageFont));
}

void ShowError(const char* message, const char* subject) {
  char* text = Work->text;
  CopyText(text, "\"", TextSize);
  AppendText(text, subject, TextSize);
  AppendText(text, "\" ", TextSize);
  AppendText(text, message, TextSize);
  ShowMessageBox((HWND)Work->dialog, text, ErrorBox);
}

void ShowPlainError(const char* message) {
  ShowMessageBox((HWND)Work->dialog, message, ErrorBox);
}

static void SetStatusLine(int control, const char* text) {
  if (Work->dialog != nullptr) SetWindowText932(GetDlgItem((HWND)Work->dialog, control), text);
}

void ShowMemberPath(const char* text) { SetStatusLine(IDC_STATUS_PATH, text); }

enum : DWORD { PumpInterval = 40 };
enum : uint32_t { ProgressLineSize = 32 };
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
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (!IsDialogMessageW((HWND)dialog, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
}

void UpdateProgress(uint32_t done, uint32_t total) {
  uint32_t percent = ProgressPercent(done, total);
  // The tick count wraps after 49 days; the unsigned difference does not mind.
  DWORD now = GetTickCount();
  int due = now - LastPump >= PumpInterval;
  // The line repaints as soon as its text is set, which costs more than
  // decoding a short window, so a changed percentage waits for the next
  // pump (25 a second is more than the eye follows); a member's end is
  // shown at once.
  if (percent + 1 != ShownPercentMark && (due || percent == ProgressPercentLimit)) {
    // The format is the stub's own text, so it is written out in UTF-16
    // and needs no conversion; "解凍中 100%" fits the line many times over.
    wchar_t line[ProgressLineSize];
    wsprintfW(line, L"" MsgProgressFormat, (unsigned long)percent);
    SetWindowTextW(GetDlgItem((HWND)Work->dialog, IDC_STATUS_PERCENT), line);
    ShownPercentMark = percent + 1;
  }
  if (!due) return;
  LastPump = now;
  PumpMessages(Work->dialog);
  if (Work->cancelRequested == 1) AbortExtraction(1);
}

int AskOverwrite() {
  return ShowMessageBox((HWND)Work->dialog, Work->text, OverwriteBox);
}

int AskMessage() {
  // Asked during the scan, before the main dialog exists: no owner.
  return ShowMessageBox(nullptr, Work->text, MessageMemberBox);
}

int AcceptMemberPath() { return 1; }
