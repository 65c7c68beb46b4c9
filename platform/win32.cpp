// The platform layer of the stub: files, folders, environment and process
// services through the UTF-16 Win32 calls, with every text converted from
// and to CP932 at the call (see win32_host.h). comdlg32 and shell32 are
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
  // A character with no CP932 form must not be replaced by a look-alike
  // (a yen sign by the backslash, say): it has to show as the default
  // character, which the conversion then reports.
  NoBestFit = WC_NO_BEST_FIT_CHARS,
};
enum : UINT { Cp932 = 932 };
enum : int { ShowActivated = 5 };  // SW_SHOW: activate, keep size and place
enum : uint32_t { LibraryPathSize = MAX_PATH + 16, EnvironmentNameSize = 64 };

typedef BOOL(WINAPI* SetDefaultDllDirectoriesCall)(DWORD);
typedef BOOL(WINAPI* SetDllDirectoryCall)(LPCSTR);
typedef BOOL(WINAPI* GetOpenFileNameCall)(void*);
typedef short(WINAPI* GetFileTitleCall)(LPCWSTR, LPWSTR, WORD);
typedef HINSTANCE(WINAPI* ShellExecuteCall)(HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT);

static int SearchRestricted = 0;
static GetOpenFileNameCall OpenFileNameProc = nullptr;
static GetFileTitleCall FileTitleProc = nullptr;
static ShellExecuteCall ShellExecuteProc = nullptr;

wchar_t* ToUtf16(const char* text, wchar_t* wide, uint32_t size) {
  if (MultiByteToWideChar(Cp932, 0, text, -1, wide, (int)size) == 0) wide[0] = 0;
  return wide;
}

int ToCp932(const wchar_t* wide, char* text, uint32_t size) {
  BOOL defaulted = FALSE;
  // With no room the call would only measure, and write nothing.
  if (size == 0) return 0;
  if (WideCharToMultiByte(Cp932, NoBestFit, wide, -1, text, (int)size, nullptr, &defaulted) == 0) {
    text[0] = 0;
    return 0;
  }
  return !defaulted;
}

// With the restricted search the bare name resolves in System32 only, and so
// do the DLL's own dependencies. Without it (old systems) the full path plus
// the altered search order keeps dependencies out of the stub's folder.
static HMODULE LoadSystemLibrary(const char* name) {
  char path[LibraryPathSize];
  DWORD flags = SearchSystem32;
  path[0] = 0;
  if (!SearchRestricted) {
    PlatformGetSystemDirectory(path, MAX_PATH);
    if (path[0] == 0) return nullptr;
    AppendText(path, "\\", LibraryPathSize);
    flags = AlteredSearchPath;
  }
  AppendText(path, name, LibraryPathSize);
  wchar_t wide[LibraryPathSize];
  return LoadLibraryExW(ToUtf16(path, wide, LibraryPathSize), nullptr, flags);
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
    OpenFileNameProc = (GetOpenFileNameCall)(void*)GetProcAddress(comdlg, "GetOpenFileNameW");
    FileTitleProc = (GetFileTitleCall)(void*)GetProcAddress(comdlg, "GetFileTitleW");
  }
  HMODULE shell = LoadSystemLibrary("shell32.dll");
  if (shell != nullptr) {
    ShellExecuteProc = (ShellExecuteCall)(void*)GetProcAddress(shell, "ShellExecuteW");
  }
  // Common controls 6 (named in the manifest) load the theme library on
  // first use, through a delay-load that some loaders resolve with the
  // ordinary search, the program's folder first; loaded here from the
  // system folder, it is found already loaded then. Systems without it
  // simply fail the call.
  LoadSystemLibrary("uxtheme.dll");
}

int PlatformGetOpenFileName(void* request) {
  if (OpenFileNameProc == nullptr) return 0;
  return OpenFileNameProc(request) ? 1 : 0;
}

static FileHandle OpenFile(const char* path, DWORD access, DWORD share, DWORD disposition) {
  wchar_t wide[WideTextSize];
  return CreateFileW(ToUtf16(path, wide, WideTextSize), access, share, nullptr, disposition,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

FileHandle PlatformOpenRead(const char* path) {
  return OpenFile(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
}

FileHandle PlatformCreateWrite(const char* path) {
  return OpenFile(path, GENERIC_WRITE, 0, CREATE_ALWAYS);
}

FileHandle PlatformOpenDiscard() { return OpenFile("NUL", GENERIC_WRITE, 0, OPEN_EXISTING); }

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
static int SeekFrom(FileHandle file, FileOffset distance, DWORD method) {
  LARGE_INTEGER move;
  move.QuadPart = distance;
  return SetFilePointerEx(file, move, nullptr, method) ? 1 : 0;
}

int PlatformSeekSet(FileHandle file, FileOffset offset) { return SeekFrom(file, offset, FILE_BEGIN); }

int PlatformSeekForward(FileHandle file, uint32_t distance) {
  return SeekFrom(file, distance, FILE_CURRENT);
}

int PlatformFileSize(FileHandle file, FileOffset* size) {
  LARGE_INTEGER length;
  if (!GetFileSizeEx(file, &length)) return 0;
  if (sizeof(FileOffset) < sizeof length.QuadPart)
    *size = length.HighPart != 0 ? 0xFFFFFFFFu : length.LowPart;
  else
    *size = (FileOffset)length.QuadPart;
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

void PlatformDeleteFile(const char* path) {
  wchar_t wide[WideTextSize];
  DeleteFileW(ToUtf16(path, wide, WideTextSize));
}

void PlatformCreateDirectory(const char* path) {
  wchar_t wide[WideTextSize];
  CreateDirectoryW(ToUtf16(path, wide, WideTextSize), nullptr);
}

uint32_t PlatformGetAttributes(const char* path) {
  wchar_t wide[WideTextSize];
  return GetFileAttributesW(ToUtf16(path, wide, WideTextSize));
}

void PlatformSetAttributes(const char* path, uint32_t attributes) {
  wchar_t wide[WideTextSize];
  SetFileAttributesW(ToUtf16(path, wide, WideTextSize), attributes);
}

uint32_t PlatformMaxComponentLength(const char* root) {
  DWORD maxLength = 0;
  DWORD flags = 0;
  wchar_t wide[WideTextSize];
  if (!GetVolumeInformationW(root != nullptr ? ToUtf16(root, wide, WideTextSize) : nullptr,
                             nullptr, VolumeNameUnused, nullptr, &maxLength, &flags, nullptr, 0))
    return 0;
  return maxLength;
}

enum FolderKind { SystemFolder, WindowsFolder, TempFolder, CurrentFolder, ModuleFile };

int NameLost = 0;

// The folder calls return the length, or the size needed when the buffer is
// too small (leaving it unfilled); such a result counts as a failure, and so
// does a cut module path, which older systems leave unterminated. A name
// with characters that have no CP932 form is taken in its short form, which
// names the same folder (a program in a folder named in another script
// still finds itself); where the volume keeps no short names, the
// characters stay '?' and NameLost is set, so that a path made from it is
// refused or fails instead of naming another folder. One function for all
// five keeps the conversion in one place.
static void QueryFolder(FolderKind kind, char* buffer, uint32_t size) {
  wchar_t wide[WideTextSize];
  DWORD length;
  switch (kind) {
    case SystemFolder: length = GetSystemDirectoryW(wide, WideTextSize); break;
    case WindowsFolder: length = GetWindowsDirectoryW(wide, WideTextSize); break;
    case TempFolder: length = GetTempPathW(WideTextSize, wide); break;
    case CurrentFolder: length = GetCurrentDirectoryW(WideTextSize, wide); break;
    default: length = GetModuleFileNameW(nullptr, wide, WideTextSize); break;
  }
  if (size == 0) return;
  if (length == 0 || length >= WideTextSize) {
    buffer[0] = 0;
    return;
  }
  if (ToCp932(wide, buffer, size)) return;
  length = GetShortPathNameW(wide, wide, WideTextSize);
  if (length == 0 || length >= WideTextSize || !ToCp932(wide, buffer, size)) NameLost = 1;
}

void PlatformGetSystemDirectory(char* buffer, uint32_t size) {
  QueryFolder(SystemFolder, buffer, size);
}

void PlatformGetWindowsDirectory(char* buffer, uint32_t size) {
  QueryFolder(WindowsFolder, buffer, size);
}

void PlatformGetTempDirectory(char* buffer, uint32_t size) { QueryFolder(TempFolder, buffer, size); }

void PlatformGetCurrentDirectory(char* buffer, uint32_t size) {
  QueryFolder(CurrentFolder, buffer, size);
}

void PlatformGetModuleFileName(char* buffer, uint32_t size) {
  QueryFolder(ModuleFile, buffer, size);
}

uint32_t PlatformGetEnvironment(const char* name, char* buffer, uint32_t size) {
  wchar_t wideName[EnvironmentNameSize];
  wchar_t value[WideTextSize];
  DWORD length = GetEnvironmentVariableW(ToUtf16(name, wideName, EnvironmentNameSize), value,
                                         WideTextSize);
  // When it does not fit, the call answers the size needed with the
  // terminator: one more than the value's length.
  if (length >= WideTextSize) return length - 1;
  if (length == 0) return 0;
  // The value's CP932 length with its terminator; a value that has no
  // CP932 form counts as absent.
  BOOL defaulted = FALSE;
  int needed = WideCharToMultiByte(Cp932, NoBestFit, value, -1, nullptr, 0, nullptr, &defaulted);
  if (needed <= 0 || defaulted) return 0;
  if ((uint32_t)needed <= size) ToCp932(value, buffer, size);
  return (uint32_t)needed - 1;
}

void* PlatformAlloc(uint32_t size) { return LocalAlloc(LPTR, size); }
void PlatformFree(void* block) { LocalFree(block); }

// The steps follow code page 932 whatever the system's own code page is.
const char* PlatformCharPrev(const char* start, const char* position) {
  return CharPrevExA(Cp932, start, position, 0);
}

// The last component by hand, for a path the file-title call refuses (one
// ending in a separator) or when comdlg32 could not be loaded.
static void LastComponent(const char* path, char* buffer, uint32_t size) {
  const char* last = path;
  for (const char* p = path; *p != 0; p = CharNextExA(Cp932, p, 0)) {
    if (*p == '\\' || *p == '/' || *p == ':') last = p + 1;
  }
  CopyText(buffer, last, size);
}

void PlatformGetFileTitle(const char* path, char* buffer, uint32_t size) {
  if (size == 0) return;
  wchar_t widePath[WideTextSize];
  wchar_t title[MAX_PATH];
  const WORD maxSize = size > MAX_PATH ? MAX_PATH : (WORD)size;
  if (FileTitleProc == nullptr ||
      FileTitleProc(ToUtf16(path, widePath, WideTextSize), title, maxSize) != 0 ||
      !ToCp932(title, buffer, size)) {
    LastComponent(path, buffer, size);
  }
  buffer[size - 1] = 0;
}

void PlatformStartCommand(WindowHandle owner, const char* program, const char* parameters,
                          const char* directory) {
  if (ShellExecuteProc == nullptr) return;
  // Three texts at full size would make a frame large enough to need stack
  // probing, which the stub has no runtime for: they go to the heap.
  wchar_t* wide = (wchar_t*)PlatformAlloc(3 * WideTextSize * sizeof(wchar_t));
  if (wide == nullptr) return;
  // The result is not examined: the extraction is complete either way.
  ShellExecuteProc((HWND)owner, nullptr, ToUtf16(program, wide, WideTextSize),
                   parameters != nullptr ? ToUtf16(parameters, wide + WideTextSize, WideTextSize)
                                         : nullptr,
                   ToUtf16(directory, wide + 2 * WideTextSize, WideTextSize), ShowActivated);
  PlatformFree(wide);
}

[[noreturn]] void PlatformExitProcess(int exitCode) {
  ExitProcess((UINT)exitCode);
}
