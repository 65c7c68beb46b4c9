// The directory chooser: the old-style open-file dialog with a template whose
// file controls lie off screen, and a hook that turns OK into "take the
// directory shown". The chosen directory (at most 255 bytes in CP932) is
// left in outputPath; one whose name has no CP932 form is refused with the
// invalid-directory warning, and the chooser stays open.
#include <windows.h>
#include <commdlg.h>

#include "platform/win32_host.h"
#include "resources/resource.h"
#include "core/messages.h"
#include "core/workarea.h"
#include "ui/ui.h"

enum : UINT { WarningBox = MB_OK | MB_ICONWARNING };
enum : DWORD {
  ChooserFlags = OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_ENABLEHOOK | OFN_ENABLETEMPLATE |
                 OFN_PATHMUSTEXIST,
  ChooserFileBufferSize = 260,
};
static_assert(ChooserFlags == 0x86C, "chooser flags");
// The old-style dialog knows only the original request layout (76 bytes on
// 32-bit Windows); the newer fields would only switch on newer behaviour.
#ifndef _WIN64
static_assert(sizeof(OPENFILENAME_NT4W) == 76, "original request layout");
#endif

// The hook's way to end the old-style dialog: a command with this identifier,
// whose second parameter becomes the open-file call's result.
enum : WPARAM { EndChooserCommand = 3 };
enum : LPARAM { ChooserTaken = 1 };

extern "C" UINT_PTR CALLBACK GetDirDlgHookProc(HWND chooser, UINT message, WPARAM wParam,
                                               LPARAM) {
  if (message == WM_INITDIALOG) UseJapaneseFont(chooser);
  if (message == WM_COMMAND && LOWORD(wParam) == IDOK) {
    // In the lists, OK (Enter) opens the selected directory or drive; the
    // platform does that when the hook leaves the command alone.
    int focused = GetDlgCtrlID(GetFocus());
    if (focused != IDC_DIR_LIST && focused != IDC_DRIVE_LIST) {
      // The old-style dialog moves the current directory as the user moves.
      wchar_t wide[WideTextSize];
      DWORD length = GetCurrentDirectoryW(WideTextSize, wide);
      if (length == 0 || length >= WideTextSize || !ToCp932(wide, Work->outputPath, DestDirSize)) {
        Work->outputPath[0] = 0;
        ShowMessageBox(chooser, TextBadDirectory, WarningBox);
      } else {
        PostMessageW(chooser, WM_COMMAND, EndChooserCommand, ChooserTaken);
      }
    }
  }
  return 0;
}

int ChooseDirectory(HWND owner) {
  OPENFILENAME_NT4W request = {};
  wchar_t file[ChooserFileBufferSize];
  file[0] = 0;
  request.lStructSize = sizeof(request);
  request.hwndOwner = owner;
  request.hInstance = (HINSTANCE)InstanceHandle;
  request.lpstrFile = file;
  request.nMaxFile = ChooserFileBufferSize;
  // The stub's own text, written out in UTF-16: it needs no conversion.
  request.lpstrTitle = L"" TextChooserTitle;
  request.Flags = ChooserFlags;
  request.lpfnHook = GetDirDlgHookProc;
  request.lpTemplateName = L"GetDirDialog";
  Work->outputPath[0] = 0;
  if (!PlatformGetOpenFileName(&request)) return 0;
  // The call may also end through the hidden file controls; only a
  // directory the hook took counts.
  return Work->outputPath[0] != 0;
}
