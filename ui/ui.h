// The stub's two windows: the main dialog with its progress line, and the
// directory chooser built on the old-style open-file dialog.
#pragma once
#include <windows.h>

INT_PTR CALLBACK SfxDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// Runs the chooser owned by the given window; non-zero when a directory was
// taken, which then stands in Work->outputPath.
int ChooseDirectory(HWND owner);
extern "C" UINT_PTR CALLBACK GetDirDlgHookProc(HWND chooser, UINT message, WPARAM wParam,
                                               LPARAM lParam);
