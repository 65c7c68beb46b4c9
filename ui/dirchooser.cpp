// The directory chooser: the old-style open-file dialog with a template whose
// file controls lie off screen, and a hook that turns OK into "take the
// directory shown". The chosen directory (at most 255 characters) is left
// in outputPath.
#include <windows.h>
#include <commdlg.h>

#include "platform/platform.h"
#include "platform/win32_host.h"
#include "resources/resource.h"
#include "core/messages.h"
#include "core/workarea.h"
#include "ui/ui.h"

enum : DWORD {
  ChooserFlags = OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_ENABLEHOOK | OFN_ENABLETEMPLATE |
                 OFN_PATHMUSTEXIST,
  ChooserFileBufferSize = 260,
};
static_assert(ChooserFlags == 0x86C, "chooser flags");
static_assert((uint32_t)ChooserFileBufferSize <= (uint32_t)TextSize, "the file buffer is text");
// The old-style dialog knows only the original request layout (76 bytes on
// 32-bit Windows); the newer fields would only switch on newer behaviour.
#ifndef _WIN64
static_assert(sizeof(OPENFILENAME_NT4A) == 76, "original request layout");
#endif

// The hook's way to end the old-style dialog: a command with this identifier,
// whose second parameter becomes the open-file call's result.
enum : WPARAM { EndChooserCommand = 3 };
enum : LPARAM { ChooserTaken = 1 };

extern "C" UINT_PTR CALLBACK GetDirDlgHookProc(HWND chooser, UINT message, WPARAM wParam,
                                               LPARAM) {
  if (message == WM_COMMAND && LOWORD(wParam) == IDOK) {
    // In the lists, OK (Enter) opens the selected directory or drive; the
    // platform does that when the hook leaves the command alone.
    int focused = GetDlgCtrlID(GetFocus());
    if (focused != IDC_DIR_LIST && focused != IDC_DRIVE_LIST) {
      // The old-style dialog moves the current directory as the user moves.
      PlatformGetCurrentDirectory(Work->outputPath, DestDirSize);
      PostMessageA(chooser, WM_COMMAND, EndChooserCommand, ChooserTaken);
    }
  }
  return 0;
}

int ChooseDirectory(HWND owner) {
  OPENFILENAME_NT4A request = {};
  request.lStructSize = sizeof(request);
  request.hwndOwner = owner;
  request.hInstance = (HINSTANCE)InstanceHandle;
  Work->text[0] = 0;
  request.lpstrFile = Work->text;
  request.nMaxFile = ChooserFileBufferSize;
  request.lpstrTitle = MsgChooserTitle;
  request.Flags = ChooserFlags;
  request.lpfnHook = GetDirDlgHookProc;
  request.lpTemplateName = "GetDirDialog";
  Work->outputPath[0] = 0;
  if (!PlatformGetOpenFileName(&request)) return 0;
  // The call may also end through the hidden file controls; only a
  // directory the hook took counts.
  return Work->outputPath[0] != 0;
}
