/* A stand-in for a system DLL that someone has put beside a program: when
   it is loaded it leaves "<its own path>.loaded" behind, which is all the
   DLL-planting test looks for. It exports nothing. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
  char path[MAX_PATH + 16];
  (void)reserved;
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  DWORD n = GetModuleFileNameA(self, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return TRUE;
  lstrcatA(path, ".loaded");
  HANDLE f = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
  return TRUE;
}
