// The stub's entry point and start-up sequence: safe DLL search, work area,
// command line, configuration, the scan for the message member, then the
// main dialog. The process ends with the dialog's result (0 when start-up
// stops early, 1 from AbortExtraction).
//
// The version is not asked: the TZ correction is for the 32-bit layer on
// 16-bit Windows, which has none of the UTF-16 calls the stub imports and so
// cannot load it; IsWin32s stays 0.
#include <windows.h>

#include "extract/driver.h"
#include "platform/platform.h"
#include "platform/win32_host.h"
#include "core/messages.h"
#include "startup/startup.h"
#include "core/workarea.h"
#include "ui/ui.h"

enum : UINT { ErrorBox = MB_OK | MB_ICONERROR };

// The command line in CP932, newly allocated (null when it cannot be). A
// character with no CP932 form becomes '?' and is noted (NameLost), so that
// the dialog refuses a destination holding one instead of extracting
// elsewhere.
static char* CommandLine932() {
  const wchar_t* wide = GetCommandLineW();
  uint32_t length = 0;
  while (wide[length] != 0) length++;
  // One UTF-16 unit becomes at most two bytes.
  uint32_t size = length * 2 + 1;
  char* line = (char*)PlatformAlloc(size);
  if (line != nullptr && !ToCp932(wide, line, size)) NameLost = 1;
  return line;
}

static int RunStub(HINSTANCE instance) {
  InstanceHandle = instance;

  Work = (SfxWorkArea*)PlatformAlloc(sizeof(SfxWorkArea));
  if (Work == nullptr) {
    ShowMessageBox(nullptr, TextNoMemory, ErrorBox);
    return 0;
  }
  Work->text[0] = 0;

  int count = 0;
  char* line = CommandLine932();
  char** args = SplitCommandLine(line != nullptr ? SkipProgramName(line) : "", &count);
  DestinationFromCommandLine = 0;
  AutoStartMode = 0;
  WalkOptions(args, count);
  FreeArgs(args, count);
  if (line != nullptr) PlatformFree(line);

  PlatformGetModuleFileName(Work->archivePath, ArchivePathSize);
  LoadStubConfig();
  ResolveStartMode();

  if (!ExtractArchive(nullptr, ScanMode)) {
    PlatformFree(Work);
    Work = nullptr;
    return 0;
  }
  INT_PTR result = DialogBoxParamW(instance, L"SfxDialog", nullptr, SfxDialogProc, 0);
  PlatformFree(Work);
  Work = nullptr;
  return (int)result;
}

// Linked as the image's entry: no C runtime runs before it.
extern "C" void SfxEntry() {
  PlatformSecureLoading();
  HINSTANCE instance = GetModuleHandleA(nullptr);
  ExitProcess((UINT)RunStub(instance));
}
