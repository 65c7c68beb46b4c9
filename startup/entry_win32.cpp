// The stub's entry point and start-up sequence: safe DLL search, version,
// work area, command line, configuration, the scan for the message member,
// then the main dialog. The process ends with the dialog's result (0 when
// start-up stops early, 1 from AbortExtraction).
#include <windows.h>

#include "extract/driver.h"
#include "platform/platform.h"
#include "platform/win32_host.h"
#include "core/messages.h"
#include "startup/startup.h"
#include "core/workarea.h"
#include "ui/ui.h"

// The extended version query takes the original record, 148 bytes.
static_assert(sizeof(OSVERSIONINFOA) == 148, "version record size");
// Platform identifier of the 32-bit layer hosted on 16-bit Windows.
enum : DWORD { Win32sPlatform = 0 };
enum : UINT { ErrorBox = MB_OK | MB_ICONERROR };

static void QueryVersion() {
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof(version);
  // A failed query leaves the record zero, which would read as the 16-bit
  // host; only a real answer may select the TZ correction.
  IsWin32s = (GetVersionExA(&version) && version.dwPlatformId == Win32sPlatform) ? 1 : 0;
}

static int RunStub(HINSTANCE instance, const char* commandLine) {
  QueryVersion();
  InstanceHandle = instance;

  Work = (SfxWorkArea*)PlatformAlloc(sizeof(SfxWorkArea));
  if (Work == nullptr) {
    MessageBoxA(nullptr, MsgNoMemory, DefaultTitle, ErrorBox);
    return 0;
  }
  Work->text[0] = 0;

  int count = 0;
  char** args = SplitCommandLine(commandLine, &count);
  DestinationFromCommandLine = 0;
  AutoStartMode = 0;
  WalkOptions(args, count);
  FreeArgs(args, count);

  PlatformGetModuleFileName(Work->archivePath, ArchivePathSize);
  LoadStubConfig();
  ResolveStartMode();

  if (!ExtractArchive(nullptr, ScanMode)) {
    PlatformFree(Work);
    Work = nullptr;
    return 0;
  }
  INT_PTR result = DialogBoxParamA(instance, "SfxDialog", nullptr, SfxDialogProc, 0);
  PlatformFree(Work);
  Work = nullptr;
  return (int)result;
}

// Linked as the image's entry: no C runtime runs before it.
extern "C" void SfxEntry() {
  PlatformSecureLoading();
  HINSTANCE instance = GetModuleHandleA(nullptr);
  ExitProcess((UINT)RunStub(instance, SkipProgramName(GetCommandLineA())));
}
