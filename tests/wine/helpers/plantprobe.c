/* The planting test's positive control: a program that imports version.dll
   and comctl32.dll the ordinary way, without a manifest, so planted copies
   beside it are loaded. If a planted DLL's marker does not appear for this
   program, the test set-up (overrides, DLL build) is broken and the stub's
   result would prove nothing. The imports are never called: the planted DLL
   exports nothing. */
#include <windows.h>
#include <commctrl.h>

int main(int argc, char** argv) {
  DWORD handle = 0;
  (void)argv;
  if (argc > 1000) {
    InitCommonControls();
    return (int)GetFileVersionInfoSizeA("kernel32.dll", &handle);
  }
  return 0;
}
