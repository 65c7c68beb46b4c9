// The main dialog: proposes the destination, browses for it, runs the
// extraction from OK (or from the automatic-start timer) and turns Cancel
// into an abort while it runs. A second extraction never starts: not from a
// late timer tick, not from OK while one runs, not while the chooser is open.
// In the temporary-folder mode it is the progress window only: OK is
// pressed at once (by the timer), for the new folder the field shows.
#include <windows.h>

#include "extract/driver.h"
#include "resources/resource.h"
#include "core/messages.h"
#include "base/text.h"
#include "core/workarea.h"
#include "platform/win32_host.h"
#include "ui/ui.h"

enum : UINT_PTR { AutoStartTimer = 1 };
enum : UINT { AutoStartDelay = 700 };  // milliseconds the dialog shows first
enum : UINT { WarningBox = MB_OK | MB_ICONWARNING };
static_assert(WarningBox == 0x30, "warning box style");
enum : char { Backslash = '\\', Quote = '"', Space = ' ', LostCharacter = '?' };

// Set while the directory chooser runs: its modal loop still delivers posted
// commands to this dialog, and none of them may start an extraction.
static int ChooserOpen = 0;

// A '?' in the destination stands for a character with no CP932 form when
// a name from the system (the command line, a folder) had one; the engine
// would turn it into '_' and extract into another folder.
static int HasLostCharacter(const char* text) {
  if (!NameLost) return 0;
  for (const char* p = text; *p != 0; p++) {
    if (*p == LostCharacter) return 1;
  }
  return 0;
}

int DestinationRefused(const char* destination) {
  return HasLostCharacter(destination) ||
         (destination[0] == Backslash && destination[1] == Backslash);
}

static void OnInitDialog(HWND dialog) {
  StubConfig* config = &Work->config;
  SetWindowText932(dialog, config->title);
  if (config->prompt[0] != 0) SetWindowText932(GetDlgItem(dialog, IDC_DEST_LABEL), config->prompt);
  SetWindowText932(GetDlgItem(dialog, IDC_DESTINATION), config->defaultDir);
  // The limit counts characters; a destination whose CP932 form is longer
  // than the field holds is refused at OK.
  SendMessageW(GetDlgItem(dialog, IDC_DESTINATION), EM_LIMITTEXT, DestDirSize - 1, 0);
  UseJapaneseFont(dialog);

  RECT rect;
  GetWindowRect(dialog, &rect);
  int width = rect.right - rect.left;
  int height = rect.bottom - rect.top;
  // Integer division rounds toward zero, so a dialog larger than the screen
  // gets a negative position, centred all the same.
  int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  MoveWindow(dialog, x, y, width, height, FALSE);

  Work->busy = 0;
  Work->cancelRequested = 0;
  ChooserOpen = 0;
  SfxIcon = LoadIconW((HINSTANCE)InstanceHandle, MAKEINTRESOURCEW(IDI_ICON1));
  // The temporary-folder mode starts at once, through the timer all the
  // same: a dialog shows only once its queue is empty, and its progress is
  // to be seen.
  int temporary = Work->config.flags & FlagTemporaryFolder;
  if (AutoStartMode != 0 || temporary)
    SetTimer(dialog, AutoStartTimer, temporary ? 0u : (UINT)AutoStartDelay, nullptr);
}

static INT_PTR OnOk(HWND dialog) {
  if (Work->busy || ChooserOpen) return 0;
  KillTimer(dialog, AutoStartTimer);  // a tick after this must not press OK again

  wchar_t wide[WideTextSize];
  wide[0] = 0;
  GetDlgItemTextW(dialog, IDC_DESTINATION, wide, WideTextSize);
  // A typed character with no CP932 form, or a text longer than the
  // destination holds, would name another folder than the one shown.
  int whole = ToCp932(wide, Work->text, DestDirSize);
  StripQuotes(Work->destDir, Work->text, DestDirSize);
  if (!whole || DestinationRefused(Work->destDir)) {
    ShowMessageBox(dialog, TextBadDirectory, WarningBox);
    return 0;
  }

  EnableWindow(GetDlgItem(dialog, IDOK), FALSE);
  EnableWindow(GetDlgItem(dialog, IDC_BROWSE), FALSE);
  EnableWindow(GetDlgItem(dialog, IDC_DESTINATION), FALSE);
  SetFocus(GetDlgItem(dialog, IDCANCEL));
  SendMessageW(dialog, DM_SETDEFID, IDCANCEL, 0);
  SendMessageW(GetDlgItem(dialog, IDCANCEL), BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
  Work->busy = 1;

  // Its faults are shown to the user by the engine; the dialog ends either
  // way, with the exit code that tells how the run went.
  ExtractArchive(dialog, ExtractMode);
  EndDialog(dialog, ExtractionExitCode());
  return 1;
}

static INT_PTR OnCancel(HWND dialog) {
  if (Work->busy == 1) {
    Work->cancelRequested = 1;  // the next progress update ends the process
  } else {
    EndDialog(dialog, 0);
  }
  return 1;
}

static INT_PTR OnBrowse(HWND dialog) {
  if (Work->busy || ChooserOpen) return 0;
  // Browsing means the user is choosing: automatic start gives way.
  KillTimer(dialog, AutoStartTimer);
  ChooserOpen = 1;
  int taken = ChooseDirectory(dialog);
  ChooserOpen = 0;
  if (!taken) return 0;
  const char* chosen = Work->outputPath;
  char* text = Work->text;
  int hasSpace = 0;
  for (const char* p = chosen; *p != 0; p++) {
    if (*p == Space) hasSpace = 1;
  }
  // The chosen path (516 bytes at most) fits the formatted-print call's
  // 1024 bytes, which text holds.
  wsprintfA(text, hasSpace ? "\"%s\"" : "%s", chosen);
  SetWindowText932(GetDlgItem(dialog, IDC_DESTINATION), text);
  return 0;
}

static INT_PTR OnCommand(HWND dialog, WPARAM wParam) {
  switch (LOWORD(wParam)) {
    case IDOK: return OnOk(dialog);
    case IDCANCEL: return OnCancel(dialog);
    case IDC_BROWSE: return OnBrowse(dialog);
  }
  return 0;
}

// A tick presses OK exactly like the user would, through the same guard.
static INT_PTR OnTimer(HWND dialog, WPARAM timer) {
  if (timer != AutoStartTimer) return 0;
  KillTimer(dialog, AutoStartTimer);
  if (!Work->busy && !ChooserOpen) PostMessageW(dialog, WM_COMMAND, IDOK, 0);
  return 0;
}

static INT_PTR OnPaint(HWND dialog) {
  if (!IsIconic(dialog)) return 0;
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(dialog, &paint);
  int oldMode = GetMapMode(dc);
  SendMessageW(dialog, WM_ICONERASEBKGND, (WPARAM)dc, 0);
  SetMapMode(dc, MM_TEXT);
  if (SfxIcon != nullptr) DrawIcon(dc, 0, 0, (HICON)SfxIcon);
  SetMapMode(dc, oldMode);
  EndPaint(dialog, &paint);
  return 0;
}

INT_PTR CALLBACK SfxDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      OnInitDialog(dialog);
      return 1;  // the system focuses the first tab stop, the destination
    case WM_COMMAND: return OnCommand(dialog, wParam);
    case WM_TIMER: return OnTimer(dialog, wParam);
    case WM_PAINT: return OnPaint(dialog);
    case WM_ERASEBKGND: return IsIconic(dialog) ? 1 : 0;
    case WM_QUERYDRAGICON: return (INT_PTR)SfxIcon;
    // The icon from LoadIconW is shared and owned by the system, so it is
    // not destroyed; returning 0 lets the system turn Close into Cancel.
    case WM_CLOSE: return 0;
  }
  return 0;
}
