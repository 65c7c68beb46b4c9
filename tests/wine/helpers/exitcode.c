/* Runs the program named by its arguments, waits for it and prints its
   whole exit code: Wine hands a Unix parent only the low eight bits, and
   the stub's codes run past 1000. Prints nothing and fails when the
   program cannot be started. */
#include <windows.h>
#include <stdio.h>

int main(void) {
  /* The command line after this program's own name, quoted or not. */
  wchar_t* line = GetCommandLineW();
  if (*line == L'"') {
    line++;
    while (*line != 0 && *line != L'"') line++;
    if (*line == L'"') line++;
  } else {
    while (*line > L' ') line++;
  }
  while (*line == L' ' || *line == L'\t') line++;
  STARTUPINFOW si = {sizeof si};
  PROCESS_INFORMATION pi;
  if (!CreateProcessW(NULL, line, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) return 1;
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  printf("%lu\n", (unsigned long)code);
  return 0;
}
