// The stub's two windows: the main dialog with its progress line, and the
// directory chooser built on the old-style open-file dialog; and the
// helpers that put their CP932 texts on the screen.
#pragma once
#include <windows.h>

INT_PTR CALLBACK SfxDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// 1 when the dialog would refuse the destination (a network path, or a
// character that had no CP932 form); silent mode refuses it the same way.
int DestinationRefused(const char* destination);
// Runs the chooser owned by the given window; non-zero when a directory was
// taken, which then stands in Work->outputPath.
int ChooseDirectory(HWND owner);
extern "C" UINT_PTR CALLBACK GetDirDlgHookProc(HWND chooser, UINT message, WPARAM wParam,
                                               LPARAM lParam);
// A message box with a CP932 text under the configured title (the default
// one before the work area exists); the button pressed.
int ShowMessageBox(HWND owner, const char* text, UINT style);
// Sets a window's (or control's) text from CP932.
void SetWindowText932(HWND window, const char* text);
// Gives the dialog's controls a font that shows Japanese where the system's
// own code page is not 932; changes nothing on a Japanese system.
void UseJapaneseFont(HWND dialog);
