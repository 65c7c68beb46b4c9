// The platform layer of the stub: files, folders, environment and process
// services through the single-byte Win32 calls. comdlg32 and shell32 are
// loaded at run time from the system folder, never from the stub's own
// folder, so a planted DLL beside a downloaded program is never picked up.
#include <windows.h>

#include "platform/platform.h"
#include "platform/win32_host.h"
#include "base/text.h"

enum : DWORD {
  SearchSystem32 = 0x800,          // LOAD_LIBRARY_SEARCH_SYSTEM32
  AlteredSearchPath = 0x8,         // LOAD_WITH_ALTERED_SEARCH_PATH
  VolumeNameUnused = 0,
};
enum : int { ShowActivated = 5 };  // SW_SHOW: activate, keep size and place
enum : uint32_t { LibraryPathSize = MAX_PATH + 16 };

typedef BOOL(WINAPI* SetDefaultDllDirectoriesCall)(DWORD);
typedef BOOL(WINAPI* SetDllDirectoryCall)(LPCSTR);
typedef BOOL(WINAPI* GetOpenFileNameCall)(void*);
typedef short(WINAPI* GetFileTitleCall)(LPCSTR, LPSTR, WORD);
typedef HINSTANCE(WINAPI* ShellExecuteCall)(HWND, LPCSTR, LPCSTR, LPCSTR, LPCSTR, INT);

static int SearchRestricted = 0;
static GetOpenFileNameCall OpenFileNameProc = nullptr;
static GetFileTitleCall FileTitleProc = nullptr;
static ShellExecuteCall ShellExecuteProc = nullptr;

// With the restricted search the bare name resolves in System32 only, and so
// do the DLL's own dependencies. Without it (old systems) the full path plus
// the altered search order keeps dependencies out of the stub's folder.
static HMODULE LoadSystemLibrary(const char* name) {
  if (SearchRestricted) return LoadLibraryExA(name, nullptr, SearchSystem32);
  char path[LibraryPathSize];
  UINT length = GetSystemDirectoryA(path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  AppendText(path, "\\", LibraryPathSize);
  AppendText(path, name, LibraryPathSize);
  return LoadLibraryExA(path, nullptr, AlteredSearchPath);
}

void PlatformSecureLoading() {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  if (kernel != nullptr) {
    SetDefaultDllDirectoriesCall setDefault =
        (SetDefaultDllDirectoriesCall)(void*)GetProcAddress(kernel, "SetDefaultDllDirectories");
    if (setDefault != nullptr && setDefault(SearchSystem32)) SearchRestricted = 1;
    // Takes the current directory out of the search on systems that lack
    // the call above; its absence changes nothing else.
    SetDllDirectoryCall setDir = (SetDllDirectoryCall)(void*)GetProcAddress(kernel, "SetDllDirectoryA");
    if (setDir != nullptr) setDir("");
  }
  HMODULE comdlg = LoadSystemLibrary("comdlg32.dll");
  if (comdlg != nullptr) {
    OpenFileNameProc = (GetOpenFileNameCall)(void*)GetProcAddress(comdlg, "GetOpenFileNameA");
    FileTitleProc = (GetFileTitleCall)(void*)GetProcAddress(comdlg, "GetFileTitleA");
  }
  HMODULE shell = LoadSystemLibrary("shell32.dll");
  if (shell != nullptr) {
    ShellExecuteProc = (ShellExecuteCall)(void*)GetProcAddress(shell, "ShellExecuteA");
  }
}

int PlatformGetOpenFileName(void* request) {
  if (OpenFileNameProc == nullptr) return 0;
  return OpenFileNameProc(request) ? 1 : 0;
}

FileHandle PlatformOpenRead(const char* path) {
  return CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

FileHandle PlatformCreateWrite(const char* path) {
  return CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                     nullptr);
}

FileHandle PlatformOpenDiscard() {
  return CreateFileA("NUL", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                     nullptr);
}

int PlatformRead(FileHandle file, void* buffer, uint32_t count, uint32_t* done) {
  DWORD moved = 0;
  BOOL ok = ReadFile(file, buffer, count, &moved, nullptr);
  *done = moved;
  return ok ? 1 : 0;
}

int PlatformWrite(FileHandle file, const void* buffer, uint32_t count, uint32_t* done) {
  DWORD moved = 0;
  BOOL ok = WriteFile(file, buffer, count, &moved, nullptr);
  *done = moved;
  return ok ? 1 : 0;
}

// The distance is passed as a 64-bit value with a zero high part, so offsets
// of 2 GB and more move forward instead of being taken as negative (which
// would send the member loop back over headers it has already read).
static int SeekFrom(FileHandle file, uint32_t distance, DWORD method) {
  LONG high = 0;
  SetLastError(NO_ERROR);
  DWORD low = SetFilePointer(file, (LONG)distance, &high, method);
  return !(low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR);
}

int PlatformSeekSet(FileHandle file, uint32_t offset) { return SeekFrom(file, offset, FILE_BEGIN); }

int PlatformSeekForward(FileHandle file, uint32_t distance) {
  return SeekFrom(file, distance, FILE_CURRENT);
}

int PlatformFileSize(FileHandle file, uint32_t* size) {
  DWORD high = 0;
  SetLastError(NO_ERROR);
  DWORD low = GetFileSize(file, &high);
  if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return 0;
  *size = high != 0 ? 0xFFFFFFFFu : low;
  return 1;
}

int PlatformClose(FileHandle file) { return CloseHandle(file) ? 1 : 0; }

void PlatformSetFileTime(FileHandle file, uint16_t dosDate, uint16_t dosTime) {
  FILETIME time;
  // Both results are ignored: a time stamp that cannot be set leaves the
  // file's own time, which is no reason to fail the member.
  if (DosDateTimeToFileTime(dosDate, dosTime, &time)) SetFileTime(file, nullptr, nullptr, &time);
}

int PlatformCommitOutput(const char*) { return 1; }
void PlatformDiscardOutput(const char* path) { PlatformDeleteFile(path); }

void PlatformDeleteFile(const char* path) { DeleteFileA(path); }
void PlatformCreateDirectory(const char* path) { CreateDirectoryA(path, nullptr); }
uint32_t PlatformGetAttributes(const char* path) { return GetFileAttributesA(path); }
void PlatformSetAttributes(const char* path, uint32_t attributes) {
  SetFileAttributesA(path, attributes);
}

uint32_t PlatformMaxComponentLength(const char* root) {
  DWORD maxLength = 0;
  DWORD flags = 0;
  if (!GetVolumeInformationA(root, nullptr, VolumeNameUnused, nullptr, &maxLength, &flags,
                             nullptr, 0))
    return 0;
  return maxLength;
}

// The folder calls return the length needed when the buffer is too small and
// leave it unfilled; such a result counts as a failure.
static void KeepIfFits(char* buffer, uint32_t size, DWORD length) {
  if (length == 0 || length >= size) buffer[0] = 0;
}

void PlatformGetSystemDirectory(char* buffer, uint32_t size) {
  if (size == 0) return;
  KeepIfFits(buffer, size, GetSystemDirectoryA(buffer, size));
}

void PlatformGetWindowsDirectory(char* buffer, uint32_t size) {
  if (size == 0) return;
  KeepIfFits(buffer, size, GetWindowsDirectoryA(buffer, size));
}

void PlatformGetTempDirectory(char* buffer, uint32_t size) {
  if (size == 0) return;
  KeepIfFits(buffer, size, GetTempPathA(size, buffer));
}

void PlatformGetCurrentDirectory(char* buffer, uint32_t size) {
  if (size == 0) return;
  KeepIfFits(buffer, size, GetCurrentDirectoryA(size, buffer));
}

void PlatformGetModuleFileName(char* buffer, uint32_t size) {
  if (size == 0) return;
  // Older systems leave a cut path unterminated; a cut path cannot be
  // opened, so it is dropped altogether.
  DWORD length = GetModuleFileNameA(nullptr, buffer, size);
  KeepIfFits(buffer, size, length);
  buffer[size - 1] = 0;
}

uint32_t PlatformGetEnvironment(const char* name, char* buffer, uint32_t size) {
  DWORD length = GetEnvironmentVariableA(name, buffer, size);
  // When it does not fit, the call answers the size needed with the
  // terminator: one more than the value's length.
  if (length > size) return length - 1;
  return length;
}

void* PlatformAlloc(uint32_t size) { return LocalAlloc(LPTR, size); }
void PlatformFree(void* block) { LocalFree(block); }

const char* PlatformCharPrev(const char* start, const char* position) {
  return CharPrevA(start, position);
}

// The last component by hand, for a path the file-title call refuses (one
// ending in a separator) or when comdlg32 could not be loaded.
static void LastComponent(const char* path, char* buffer, uint32_t size) {
  const char* last = path;
  for (const char* p = path; *p != 0; p = CharNextA(p)) {
    if (*p == '\\' || *p == '/' || *p == ':') last = p + 1;
  }
  CopyText(buffer, last, size);
}

void PlatformGetFileTitle(const char* path, char* buffer, uint32_t size) {
  if (size == 0) return;
  const WORD maxSize = size > 0xFFFF ? 0xFFFF : (WORD)size;
  if (FileTitleProc == nullptr || FileTitleProc(path, buffer, maxSize) != 0) {
    LastComponent(path, buffer, size);
  }
  buffer[size - 1] = 0;
}

void PlatformStartCommand(WindowHandle owner, const char* program, const char* parameters,
                          const char* directory) {
  if (ShellExecuteProc == nullptr) return;
  // The result is not examined: the extraction is complete either way.
  ShellExecuteProc((HWND)owner, nullptr, program, parameters, directory, ShowActivated);
}

[[noreturn]] void PlatformExitProcess(int exitCode) {
  ExitProcess((UINT)exitCode);
}
