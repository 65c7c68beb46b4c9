/* The planting test's positive control: a program that imports version.dll
   the ordinary way, so a planted copy beside it is loaded. If the planted
   DLL's marker does not appear for this program, the test set-up (overrides,
   DLL build) is broken and the stub's result would prove nothing. The import
   is never called: the planted DLL exports nothing. */
#include <windows.h>

int main(int argc, char** argv) {
  DWORD handle = 0;
  (void)argv;
  if (argc > 1000) return (int)GetFileVersionInfoSizeA("kernel32.dll", &handle);
  return 0;
}
