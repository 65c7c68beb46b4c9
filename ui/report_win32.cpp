// What the user sees of the engine in the stub: message boxes owned by the
// main dialog (or by nobody before it exists), the path and percentage lines
// of the dialog, and the message pumping that keeps Cancel working while a
// member is decoded. Every text is composed within the bounds of text.
//
// The decoder reports progress after every window it fills (8 KB for
// -lh5-), and a tree of small files starts a member every few hundred
// microseconds: far more often than a line can change or the user can
// click, and each text change and each pump is a round trip through the
// window system (under Wine, setting a line repaints it at once). So the
// engine's reports only record what the lines should show; at most every
// PumpInterval milliseconds the changed lines are set and messages pumped.
// Cancel still answers within that interval plus one window's decoding,
// and a message box first brings the lines up to date.
#include <windows.h>

#include "core/messages.h"
#include "core/report.h"
#include "core/runlog.h"
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

// In silent mode nothing shows, and every question counts as answered Yes:
// the message accepted, an existing file replaced.
int ShowMessageBox(HWND owner, const char* text, UINT style) {
  if (SilentMode) return AnswerYes;
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

enum : DWORD { PumpInterval = 40 };
enum : uint32_t { ProgressLineSize = 32, PathLineSize = 128 };
enum : uint32_t { NothingShown = 0xFFFFFFFF };

// What the two lines should show, and what the dialog shows now. The
// percentage line's mark is one more than a percentage, or 0 for the text
// of ShowPercent. Statics are zero-initialised and need no data section;
// LastPump 0 makes the first member's lines due at once.
static char PathLine[PathLineSize];
static char PercentLine[ProgressLineSize];
static int PathLineStale = 0;
static uint32_t WantedPercentMark = 0;
static uint32_t ShownPercentMark = 0;
static DWORD LastPump = 0;

// Brings both lines up to what the engine last reported.
static void PaintStatus() {
  HWND dialog = (HWND)Work->dialog;
  if (dialog == nullptr) return;
  if (PathLineStale) {
    SetWindowText932(GetDlgItem(dialog, IDC_STATUS_PATH), PathLine);
    PathLineStale = 0;
  }
  if (WantedPercentMark == ShownPercentMark) return;
  ShownPercentMark = WantedPercentMark;
  HWND percentLine = GetDlgItem(dialog, IDC_STATUS_PERCENT);
  if (WantedPercentMark == 0) {
    SetWindowText932(percentLine, PercentLine);
    return;
  }
  // The format is the stub's own text, so it is written out in UTF-16 and
  // needs no conversion; "解凍中 100%" fits the line many times over.
  wchar_t line[ProgressLineSize];
  wsprintfW(line, L"" TextProgressFormat, (unsigned long)(WantedPercentMark - 1));
  SetWindowTextW(percentLine, line);
}

// A message box covers the dialog: the lines behind it name the member it
// speaks of. The log takes the member's stored name where the box names its
// output path.
void ShowError(MessageId message, const char* subject) {
  const char* words = MessageText(message);
  LogLine(LogError, subject, words);
  PaintStatus();
  // A path (516 bytes at most) and a message: far within what the
  // formatted-print call writes (1024) and text holds.
  wsprintfA(Work->text, "\"%s\" %s", subject, words);
  ShowMessageBox((HWND)Work->dialog, Work->text, ErrorBox);
}

void ShowPlainError(MessageId message) {
  LogLine(LogError, Work->archivePath, MessageText(message));
  PaintStatus();
  ShowMessageBox((HWND)Work->dialog, MessageText(message), ErrorBox);
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

// Where the engine may be interrupted: at most every PumpInterval, the
// lines are repainted, pending messages handled and Cancel obeyed.
static void ProgressPoint() {
  // The tick count wraps after 49 days; the unsigned difference does not mind.
  DWORD now = GetTickCount();
  if (now - LastPump < PumpInterval) return;
  LastPump = now;
  PaintStatus();
  PumpMessages(Work->dialog);
  if (Work->cancelRequested == 1) AbortExtraction(ExitStopped);
}

void ShowMemberPath(const char* text) {
  CopyText(PathLine, text, PathLineSize);
  PathLineStale = 1;
}

// Every member, directories too, starts with its path and then this, before
// its output is opened: Cancel here leaves no partial file, and a run of
// empty members still answers it.
void ShowPercent(const char* text) {
  CopyText(PercentLine, text, ProgressLineSize);
  WantedPercentMark = 0;
  ShownPercentMark = NothingShown;
  ProgressPoint();
}

void UpdateProgress(MemberSize done, MemberSize total) {
  WantedPercentMark = ProgressPercent(done, total) + 1;
  ProgressPoint();
}

int AskOverwrite() {
  PaintStatus();
  return ShowMessageBox((HWND)Work->dialog, Work->text, OverwriteBox);
}

int AskMessage() {
  // Asked during the scan, before the main dialog exists: no owner.
  return ShowMessageBox(nullptr, Work->text, MessageMemberBox);
}
