// The platform layer of the stub: files, folders, environment and process
// services through the UTF-16 Win32 calls, with every text converted from
// and to CP932 at the call (see win32_host.h). comdlg32, shell32 and
// advapi32 are loaded at run time from the system folder, never from the
// stub's own folder, so a planted DLL beside a downloaded program is never
// picked up.
#include <windows.h>
#include <shellapi.h>
#include <stddef.h>

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
// The handle that stands for the stub's own process (what GetCurrentProcess
// returns, without a call).
#define CurrentProcess ((HANDLE)(intptr_t)-1)
// How often the wait for a command's processes looks whether they have ended.
enum : DWORD { JobPollInterval = 100 };
// Random bits in a temporary folder's name: 96, which no one guesses ahead
// to put a folder or a link of their own there. The name is "lzhsfx-" and
// 24 hexadecimal digits.
enum : uint32_t { FolderRandomWords = 3, FolderNameSize = 7 + 8 * FolderRandomWords + 1 };
// A log line: as formatted (the formatted-print call writes at most 1024
// characters and its terminator) and then in UTF-8 in the same buffer,
// and in UTF-16 between the two. A line's UTF-8 form that does not fit (a
// name of some 500 half-width kana, three bytes each) is left out.
enum : uint32_t { LogLineUnits = 1025, LogLineBytes = 1536 };

typedef BOOL(WINAPI* SetDefaultDllDirectoriesCall)(DWORD);
typedef BOOL(WINAPI* SetDllDirectoryCall)(LPCSTR);
typedef BOOL(WINAPI* GetOpenFileNameCall)(void*);
typedef short(WINAPI* GetFileTitleCall)(LPCWSTR, LPWSTR, WORD);
typedef BOOL(WINAPI* ShellExecuteCall)(SHELLEXECUTEINFOW*);
typedef BOOL(WINAPI* OpenProcessTokenCall)(HANDLE, DWORD, HANDLE*);
typedef BOOL(WINAPI* GetTokenInformationCall)(HANDLE, TOKEN_INFORMATION_CLASS, void*, DWORD, DWORD*);
typedef BOOLEAN(WINAPI* GenerateRandomCall)(void*, ULONG);

static int SearchRestricted = 0;
static HMODULE KernelModule = nullptr;
static GetOpenFileNameCall OpenFileNameProc = nullptr;
static GetFileTitleCall FileTitleProc = nullptr;
static ShellExecuteCall ShellExecuteProc = nullptr;
// The command waited for, and the job that holds it with the stub.
static HANDLE CommandProcess = nullptr;
static HANDLE CommandJob = nullptr;

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
  KernelModule = kernel;
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
    ShellExecuteProc = (ShellExecuteCall)(void*)GetProcAddress(shell, "ShellExecuteExW");
  }
  // Common controls 6 (named in the manifest) load the theme library on
  // first use, through a delay-load that some loaders resolve with the
  // ordinary search, the program's folder first; loaded here from the
  // system folder, it is found already loaded then. Systems without it
  // simply fail the call.
  LoadSystemLibrary("uxtheme.dll");
}

// The kernel calls that only the command's wait and the temporary folder
// make are looked up when they are made: in the import table each would
// cost its name, as here, plus two table entries, and the table would
// outgrow its file-alignment unit. Every Windows the stub runs on has them.
static FARPROC KernelProc(const char* name) { return GetProcAddress(KernelModule, name); }
#define KernelCall(name) ((decltype(&name))(void*)KernelProc(#name))

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

FileHandle PlatformOpenAppend(const char* path) {
  return OpenFile(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_ALWAYS);
}

void PlatformAppendLine(FileHandle file, const char* first, const char* second, const char* third) {
  char line[LogLineBytes];
  wchar_t wide[LogLineUnits];
  wsprintfA(line, "%s\t%s\t%s\r\n", first, second, third);
  // A CP932 trail byte is never below 0x40, so no character is cut.
  char* field = line + TextLength(first) + 1;
  for (char* end = field + TextLength(second); field < end; field++)
    if ((uint8_t)*field < ' ') *field = '?';
  int bytes = WideCharToMultiByte(CP_UTF8, 0, ToUtf16(line, wide, LogLineUnits), -1, line,
                                  LogLineBytes, nullptr, nullptr);
  DWORD written;
  // A log that cannot be written is passed over.
  if (bytes > 1) WriteFile(file, line, (DWORD)bytes - 1, &written, nullptr);
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

// The shell call as the plain execute call makes it (no error box of the
// shell's own), finishing its work before it returns, since the stub may
// end right after. To wait, the stub first joins a job object of its own:
// every process the command starts, and every process those start, is born
// into the job, and has ended once the stub is alone in it again. Where the
// stub cannot join one (Windows before 8 inside another job), only the
// command itself is waited for.
void PlatformStartCommand(WindowHandle owner, const char* program, const char* parameters,
                          const char* arguments, const char* directory, int wait) {
  if (ShellExecuteProc == nullptr) return;
  if (arguments == nullptr) arguments = "";
  uint32_t size = TextLength(parameters) + TextLength(arguments) + 2;
  // The program and the folder in UTF-16 at full size, the parameters
  // composed in CP932 and converted (no more units than bytes): on the
  // heap, since a frame that large would need stack probing, which the
  // stub has no runtime for. A space between them, and one around empty
  // ones, changes nothing the program's own splitter finds.
  wchar_t* wide = (wchar_t*)PlatformAlloc((2 * WideTextSize + size) * sizeof(wchar_t) + size);
  if (wide == nullptr) return;
  wchar_t* wideParameters = wide + 2 * WideTextSize;
  char* composed = (char*)(wideParameters + size);
  CopyText(composed, parameters, size);
  AppendText(composed, " ", size);
  AppendText(composed, arguments, size);
  SHELLEXECUTEINFOW info;
  memset(&info, 0, sizeof info);
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC | (wait ? SEE_MASK_NOCLOSEPROCESS : 0);
  info.hwnd = (HWND)owner;
  info.lpFile = ToUtf16(program, wide, WideTextSize);
  info.lpParameters = ToUtf16(composed, wideParameters, size);
  info.lpDirectory = ToUtf16(directory, wide + WideTextSize, WideTextSize);
  info.nShow = ShowActivated;
  // A job the stub could not join holds no process, so the wait finds it
  // empty at once.
  if (wait) {
    CommandJob = KernelCall(CreateJobObjectW)(nullptr, nullptr);
    KernelCall(AssignProcessToJobObject)(CommandJob, CurrentProcess);
  }
  // Without waiting the result is not examined: the extraction is complete
  // either way. A program that could not be started leaves no process.
  if (ShellExecuteProc(&info)) CommandProcess = info.hProcess;
  PlatformFree(wide);
}

int PlatformWaitCommand(uint32_t* exitCode) {
  if (CommandProcess == nullptr) return 0;
  JOBOBJECT_BASIC_ACCOUNTING_INFORMATION job;
  decltype(&WaitForSingleObject) wait = KernelCall(WaitForSingleObject);
  wait(CommandProcess, INFINITE);
  // A job is signalled only when a time limit ends it, which this one has
  // none of: waiting on it is a pause between two looks.
  while (KernelCall(QueryInformationJobObject)(CommandJob, JobObjectBasicAccountingInformation,
                                               &job, sizeof job, nullptr) &&
         job.ActiveProcesses > 1)
    wait(CommandJob, JobPollInterval);
  DWORD code = 0;
  KernelCall(GetExitCodeProcess)(CommandProcess, &code);
  *exitCode = code;
  return 1;
}

// A self-relative security descriptor whose one access rule gives the
// current user everything, inherited by all that is made inside, and which
// takes nothing from the folder above (protected). The user's SID follows
// at ace.SidStart; the two sizes depend on its length.
struct PrivateDescriptor {
  SECURITY_DESCRIPTOR_RELATIVE header;
  ACL acl;
  ACCESS_ALLOWED_ACE ace;
};
static_assert(offsetof(PrivateDescriptor, acl) == sizeof(SECURITY_DESCRIPTOR_RELATIVE) &&
                  offsetof(PrivateDescriptor, ace) == offsetof(PrivateDescriptor, acl) + sizeof(ACL),
              "the parts follow one another without gaps");
static const PrivateDescriptor DescriptorStart = {
    {SECURITY_DESCRIPTOR_REVISION, 0, SE_SELF_RELATIVE | SE_DACL_PRESENT | SE_DACL_PROTECTED, 0, 0,
     0, offsetof(PrivateDescriptor, acl)},
    {ACL_REVISION, 0, 0, 1, 0},
    {{ACCESS_ALLOWED_ACE_TYPE, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, 0}, FILE_ALL_ACCESS, 0}};
enum : uint32_t { TokenUserSize = sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE };

int PlatformMakePrivateFolder(char* path, uint32_t size) {
  HMODULE advapi = LoadSystemLibrary("advapi32.dll");
  if (advapi == nullptr) return 0;
  OpenProcessTokenCall openToken = (OpenProcessTokenCall)(void*)GetProcAddress(advapi, "OpenProcessToken");
  GetTokenInformationCall tokenInformation =
      (GetTokenInformationCall)(void*)GetProcAddress(advapi, "GetTokenInformation");
  // RtlGenRandom, the system's cryptographic random source.
  GenerateRandomCall generateRandom =
      (GenerateRandomCall)(void*)GetProcAddress(advapi, "SystemFunction036");
  // Once advapi32 is loaded the three are there: Windows has had them
  // since XP.

  uint32_t random[FolderRandomWords];
  PlatformGetTempDirectory(path, size);
  uint32_t length = TextLength(path);
  // With no temporary directory the folder would be made in the current
  // one, still new and private.
  if (length + FolderNameSize > size || !generateRandom(random, sizeof random))
    return 0;
  wsprintfA(path + length, "lzhsfx-%08lx%08lx%08lx", random[0], random[1], random[2]);

  union {
    TOKEN_USER user;
    uint8_t room[TokenUserSize];
  } token;
  HANDLE handle;
  DWORD got;
  if (!openToken(CurrentProcess, TOKEN_QUERY, &handle)) return 0;
  BOOL known = tokenInformation(handle, TokenUser, &token, sizeof token, &got);
  CloseHandle(handle);
  if (!known) return 0;
  // The SID lies in token, which the call filled only if it was large
  // enough: at most SECURITY_MAX_SID_SIZE bytes.
  const SID* sid = (const SID*)token.user.User.Sid;
  uint32_t sidSize = offsetof(SID, SubAuthority) + sid->SubAuthorityCount * sizeof(DWORD);

  union {
    PrivateDescriptor descriptor;
    uint8_t room[sizeof(PrivateDescriptor) + SECURITY_MAX_SID_SIZE];
  } made;
  PrivateDescriptor* descriptor = &made.descriptor;
  *descriptor = DescriptorStart;
  memcpy(&descriptor->ace.SidStart, sid, sidSize);
  descriptor->ace.Header.AceSize = (WORD)(offsetof(ACCESS_ALLOWED_ACE, SidStart) + sidSize);
  descriptor->acl.AclSize = (WORD)(sizeof(ACL) + descriptor->ace.Header.AceSize);
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
  // Fails when anything at all has the name: a folder, a file or a link.
  wchar_t wide[WideTextSize];
  return CreateDirectoryW(ToUtf16(path, wide, WideTextSize), &attributes) ? 1 : 0;
}

// Empties and removes the folder whose UTF-16 path stands in path
// (WideTextSize units of room). A link (a reparse point) is removed
// itself, never followed; read-only entries are made writable first. Each
// level holds one search record, well within the stack.
static void RemoveTreeW(wchar_t* path) {
  uint32_t length = 0;
  while (path[length] != 0) length++;
  if (length == 0 || length + 3 > WideTextSize) return;
  path[length] = '\\';
  path[length + 1] = '*';
  path[length + 2] = 0;
  decltype(&RemoveDirectoryW) removeDirectory = KernelCall(RemoveDirectoryW);
  decltype(&FindNextFileW) findNext = KernelCall(FindNextFileW);
  WIN32_FIND_DATAW found;
  HANDLE search = KernelCall(FindFirstFileW)(path, &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const wchar_t* name = found.cFileName;
      if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
      uint32_t end = length + 1;
      while (*name != 0 && end + 1 < WideTextSize) path[end++] = *name++;
      path[end] = 0;
      if (*name != 0) continue;  // too long to name: it stays
      DWORD kind = found.dwFileAttributes;
      if ((kind & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        if (kind & FILE_ATTRIBUTE_DIRECTORY) {
          RemoveTreeW(path);
          continue;
        }
        SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
      }
      if (kind & FILE_ATTRIBUTE_DIRECTORY)
        removeDirectory(path);
      else
        DeleteFileW(path);
    } while (findNext(search, &found));
    KernelCall(FindClose)(search);
  }
  path[length] = 0;
  SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
  removeDirectory(path);
}

void PlatformRemoveTree(const char* path) {
  wchar_t wide[WideTextSize];
  RemoveTreeW(ToUtf16(path, wide, WideTextSize));
}

[[noreturn]] void PlatformExitProcess(int exitCode) {
  ExitProcess((UINT)exitCode);
}
