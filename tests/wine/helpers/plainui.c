/* The planting test's baseline: a program that imports exactly what the
   stub imports (kernel32, user32, gdi32) and does nothing else. Whatever
   planted DLL it loads comes from the loader's handling of those system
   DLLs, before any of the program's own code runs; the stub may load no
   planted DLL beyond that set. */
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
  (void)instance, (void)previous, (void)commandLine, (void)show;
  return GetSystemMetrics(SM_CXSCREEN) > 0 && GetStockObject(WHITE_BRUSH) != NULL ? 0 : 1;
}
