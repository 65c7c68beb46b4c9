// The stub's entry point and start-up sequence: safe DLL search, work area,
// command line, configuration, the scan for the message member, then the
// main dialog, or in silent mode (-s) the extraction at once with no window
// at all; then the wait for the command when the configuration asks for it.
// The process ends with one of the exit codes of core/report.h, after the
// log's closing line and the removal of a temporary folder.
//
// The version is not asked: the TZ correction is for the 32-bit layer on
// 16-bit Windows, which has none of the UTF-16 calls the stub imports and so
// cannot load it; IsWin32s stays 0.
#include <windows.h>

#include "extract/driver.h"
#include "platform/platform.h"
#include "platform/win32_host.h"
#include "base/text.h"
#include "core/messages.h"
#include "core/report.h"
#include "core/runlog.h"
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

// Everything from the scan to the command's end; the exit code.
static int RunExtraction(HINSTANCE instance) {
  if (!ExtractArchive(nullptr, ScanMode)) return ExitNothingExtracted;
  // Made only once the message has been accepted: the destination the
  // dialog shows and starts with at once, or silent mode takes.
  if (Work->config.flags & FlagTemporaryFolder) {
    char* folder = Work->config.defaultDir;
    if (!PlatformMakePrivateFolder(folder, DefaultDirSize)) {
      ShowError(MsgOpenError, folder);
      return ExitNothingExtracted;
    }
    CopyText(Work->workFolder, folder, DestDirSize);
  }
  int code;
  if (SilentMode) {
    // The destination as the dialog would take it, or refuse it.
    CopyText(Work->destDir, Work->config.defaultDir, DestDirSize);
    if (DestinationRefused(Work->destDir)) {
      LogLine(LogError, Work->destDir, TextBadDirectory);
      return ExitNothingExtracted;
    }
    ExtractArchive(nullptr, ExtractMode);
    code = ExtractionExitCode();
  } else {
    code = (int)DialogBoxParamW(instance, L"SfxDialog", nullptr, SfxDialogProc, 0);
  }
  uint32_t commandCode;
  if (code == ExitExtracted && PlatformWaitCommand(&commandCode))
    code = ExitCommandBase + (int)commandCode;
  return code;
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
  // The line stays: CommandTail points into it.
  char* line = CommandLine932();
  char* options = line != nullptr ? (char*)SkipProgramName(line) : nullptr;
  if (options != nullptr) CommandTail = CutCommandArguments(options);
  char** args = SplitCommandLine(options != nullptr ? options : "", &count);
  DestinationFromCommandLine = 0;
  AutoStartMode = 0;
  WalkOptions(args, count);
  FreeArgs(args, count);

  PlatformGetModuleFileName(Work->archivePath, ArchivePathSize);
  LoadStubConfig();
  ResolveStartMode();

  int code = RunExtraction(instance);
  FinishRun(code);
  PlatformFree(Work);
  Work = nullptr;
  return code;
}

// Linked as the image's entry: no C runtime runs before it.
extern "C" void SfxEntry() {
  PlatformSecureLoading();
  HINSTANCE instance = GetModuleHandleA(nullptr);
  ExitProcess((UINT)RunStub(instance));
}
