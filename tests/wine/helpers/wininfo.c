/* Lists the visible dialog windows on the Wine desktop and their controls,
   one tab-separated line each with the screen rectangle and the UTF-8 text,
   so that the test harness can find real buttons and click them with the
   X mouse. With "any" it lists every visible top-level window, whatever
   its class (the silent mode must show none). With "close HWND" it asks
   that window to close, as its close box would; otherwise it changes
   nothing. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

enum { TextChars = 1024, TextTimeoutMs = 1000 };

/* Asks with a time limit: a window whose thread is busy (the stub while it
   decodes) must not hang the lister. */
static void PutText(HWND window) {
  wchar_t wide[TextChars];
  char utf8[TextChars * 3];
  DWORD_PTR got = 0;
  int n = 0;
  wide[0] = 0;
  if (SendMessageTimeoutW(window, WM_GETTEXT, TextChars, (LPARAM)wide, SMTO_ABORTIFHUNG,
                          TextTimeoutMs, &got))
    n = (int)got;
  else
    n = InternalGetWindowText(window, wide, TextChars);
  int m = WideCharToMultiByte(CP_UTF8, 0, wide, n, utf8, sizeof utf8 - 1, NULL, NULL);
  for (int i = 0; i < m; i++)
    if (utf8[i] == '\t' || utf8[i] == '\r' || utf8[i] == '\n') utf8[i] = ' ';
  utf8[m > 0 ? m : 0] = 0;
  fputs(utf8, stdout);
  fputc('\n', stdout);
}

static BOOL CALLBACK OnChild(HWND child, LPARAM unused) {
  RECT r;
  (void)unused;
  GetWindowRect(child, &r);
  printf("C\t%d\t%ld\t%ld\t%ld\t%ld\t%d\t%d\t", GetDlgCtrlID(child), r.left, r.top, r.right,
         r.bottom, IsWindowVisible(child) ? 1 : 0, IsWindowEnabled(child) ? 1 : 0);
  PutText(child);
  return TRUE;
}

static BOOL CALLBACK OnTop(HWND window, LPARAM anyClass) {
  char cls[64];
  RECT r;
  DWORD pid = 0;
  if (!IsWindowVisible(window)) return TRUE;
  GetClassNameA(window, cls, sizeof cls);
  if (!anyClass && lstrcmpA(cls, "#32770") != 0) return TRUE;
  GetWindowRect(window, &r);
  GetWindowThreadProcessId(window, &pid);
  printf("W\t%lu\t%ld\t%ld\t%ld\t%ld\t%lu\t", (unsigned long)(UINT_PTR)window, r.left, r.top,
         r.right, r.bottom, (unsigned long)pid);
  PutText(window);
  EnumChildWindows(window, OnChild, 0);
  return TRUE;
}

int main(int argc, char** argv) {
  if (argc == 3 && lstrcmpA(argv[1], "close") == 0)
    return PostMessageA((HWND)(UINT_PTR)strtoul(argv[2], NULL, 10), WM_CLOSE, 0, 0) ? 0 : 1;
  EnumWindows(OnTop, argc == 2 && lstrcmpA(argv[1], "any") == 0);
  fflush(stdout);
  return 0;
}
