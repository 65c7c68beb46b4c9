/* The command a self-extracting file starts, as the Wine tests configure it:
     command.exe REPORT CODE CHILD_MS HOLD_MS [further arguments...]
   It writes REPORT (UTF-8): its working directory, then each of its own
   arguments from the fifth on (one per line, after "args"), then the names
   in its working directory (after "files"). With CHILD_MS above 0 it starts
   a copy of itself that sleeps that long and then creates REPORT.child, and
   does not wait for it. It stays HOLD_MS itself, then ends with CODE.
   Run as "command.exe child MS MARKER" it is that copy. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

static void PutUtf8(FILE* f, const wchar_t* text) {
  char utf8[4 * MAX_PATH];
  int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, NULL, NULL);
  fputs(n > 0 ? utf8 : "?", f);
  fputc('\n', f);
}

int wmain(int argc, wchar_t** argv) {
  if (argc == 4 && lstrcmpW(argv[1], L"child") == 0) {
    Sleep((DWORD)_wtoi(argv[2]));
    HANDLE marker = CreateFileW(argv[3], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
    return 0;
  }
  if (argc < 5) return 99;
  FILE* f = _wfopen(argv[1], L"w");
  if (f == NULL) return 98;
  wchar_t text[2 * MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, text);
  PutUtf8(f, text);
  fputs("args\n", f);
  for (int i = 5; i < argc; i++) PutUtf8(f, argv[i]);
  fputs("files\n", f);
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(L"*", &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      if (lstrcmpW(found.cFileName, L".") != 0 && lstrcmpW(found.cFileName, L"..") != 0)
        PutUtf8(f, found.cFileName);
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  fclose(f);
  int childMs = _wtoi(argv[3]);
  if (childMs > 0) {
    wchar_t self[MAX_PATH], line[4 * MAX_PATH];
    GetModuleFileNameW(NULL, self, MAX_PATH);
    swprintf(line, 4 * MAX_PATH, L"\"%ls\" child %d \"%ls.child\"", self, childMs, argv[1]);
    STARTUPINFOW si = {sizeof si};
    PROCESS_INFORMATION pi;
    if (CreateProcessW(NULL, line, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) {
      CloseHandle(pi.hThread);
      CloseHandle(pi.hProcess);
    }
  }
  Sleep((DWORD)_wtoi(argv[4]));
  return _wtoi(argv[2]);
}
