// Runs the member walk over the appended archive: the scan for the message
// member, the extraction under destDir and the host's test run. Every member
// either completes, is passed over (the walk finds the next header by its
// sizes), or stops the run with one message.
#include "extract/driver.h"

#include "base/dostime.h"
#include "extract/admission.h"
#include "extract/crc16.h"
#include "extract/decode.h"
#include "extract/header.h"
#include "extract/methods.h"
#include "extract/outpath.h"
#include "extract/timeconv.h"
#include "extract/walk.h"
#include "core/messages.h"
#include "core/report.h"
#include "core/runlog.h"
#include "base/text.h"
#include "core/workarea.h"

namespace {

const char QuoteOpen[] = "\"";
const char QuoteClose[] = "\" ";

enum : uint32_t {
  // Long names are used only on volumes that allow components of this length.
  LongNameComponentLength = 255,
  DisplayPathLimit = 32,
  DriveRootSize = 4,       // "C:\" and its terminator
  DosDateShift = 16,
  DosTimeMask = 0xFFFF,
};
constexpr uint32_t InputBufferEmpty = 0xFFFFFFFFu;
static_assert(InputBufferEmpty >= InputBufferSize, "all ones marks the input buffer empty");

int IsBlank(char c) { return c == ' ' || c == '\t'; }

int HasDrivePrefix(const char* path) { return path[0] != '\0' && path[1] == ':'; }

// Produces the current member's data through WriteOutput.
void DecodeMember() {
  Work->crc = 0;
  Work->inputPos = InputBufferEmpty;
  char method = MemberMethod();
  if (!MemberHasStubMethod())
    ExpandOtherMethod();
  else if (method == MethodStored)
    CopyStoredMember(MemberOriginalSize());
  else if (method != MethodDirectory)
    ExpandMember();
}

// The volume whose naming rule applies: the drive of destDir, or the current
// directory's volume.
int DestinationHasLongNames() {
  char root[DriveRootSize];
  const char* rootArg = nullptr;
  if (HasDrivePrefix(Work->destDir)) {
    root[0] = Work->destDir[0];
    root[1] = ':';
    root[2] = '\\';
    root[3] = '\0';
    rootArg = root;
  }
  return PlatformMaxComponentLength(rootArg) == LongNameComponentLength;
}

void BuildOutputPath(int longNames) {
  MapOutputPath(Work->outputPath, Work->destDir, Work->memberName);
  NormalizeSeparators(Work->outputPath, '/');
  char* afterDrive = Work->outputPath + (HasDrivePrefix(Work->outputPath) ? 2 : 0);
  SanitizePath(afterDrive, longNames);
  FinishOutputPath();
  ShortenForDisplay(Work->text, Work->outputPath, DisplayPathLimit);
  ShowMemberPath(Work->text);
  ShowPercent(TextProgressZero);
  MakeParentDirectories(Work->outputPath);
}

// Reports a member that failed and marks the run failed. The stub stops
// there (0); the host may go on with the next member (1), since the walk
// finds the next header by the sizes alone.
int MemberFailed(MessageId message, const char* subject) {
  ShowError(message, subject);
  Work->failed = 1;
  return Work->continueAfterFault;
}

enum MemberStep { MemberStop, MemberSkip, MemberWrite };

// Asks before an existing object is replaced and opens the output file.
MemberStep OpenOutput() {
  uint32_t existing = PlatformGetAttributes(Work->outputPath);
  if (existing != AttrAbsent) {
    int answer = AnswerYes;
    if (!OverwriteSilently) {
      CopyText(Work->text, QuoteOpen, TextSize);
      AppendText(Work->text, Work->outputPath, TextSize);
      AppendText(Work->text, QuoteClose, TextSize);
      AppendText(Work->text, TextOverwrite, TextSize);
      answer = AskOverwrite();
    }
    if (answer != AnswerYes) {
      LogLine(answer == AnswerNo ? LogKept : LogStopped, Work->memberName);
      if (answer == AnswerNo) return MemberSkip;
      Work->failed = 1;
      Work->stoppedByUser = 1;
      return MemberStop;
    }
    // A read-only file can only be replaced once its attribute is cleared.
    if (Work->config.restoreAttributes != 0 && (existing & AttrDirectory) == 0)
      PlatformSetAttributes(Work->outputPath, AttrNormal);
  }
  Work->outputFile = PlatformCreateWrite(Work->outputPath);
  if (Work->outputFile == InvalidFile)
    return MemberFailed(MsgOpenError, Work->outputPath) ? MemberSkip : MemberStop;
  return MemberWrite;
}

// Stamps, closes, checks and commits the file just written. 1 when the file
// is sound; 0 with the fault's message in *fault.
int FinishOutput(MessageId* fault) {
  uint32_t stamp = MemberTimeStamp();
  if (IsWin32s) ApplyTzVariable(&stamp);
  uint32_t dos = UnixToDosDateTime(stamp);
  PlatformSetFileTime(Work->outputFile, (uint16_t)(dos >> DosDateShift),
                      (uint16_t)(dos & DosTimeMask));
  int closed = PlatformClose(Work->outputFile);
  Work->outputFile = InvalidFile;
  if (!closed) {
    *fault = MsgCloseError;
  } else if (Work->crc != MemberDataCrc()) {
    *fault = MsgCrcError;
  } else if (!PlatformCommitOutput(Work->outputPath)) {
    *fault = MsgWriteError;
  } else {
    if (Work->config.restoreAttributes != 0)
      PlatformSetAttributes(Work->outputPath, Work->attributes);
    return 1;
  }
  PlatformDiscardOutput(Work->outputPath);
  return 0;
}

// One member of an extraction run. 1 to go on with the next member.
int ExtractMember(int longNames) {
  if (!AcceptMemberPath()) {
    Work->failed = 1;
    return 1;
  }
  if (!MemberMethodKnown()) return MemberFailed(MsgUnsupportedMethod, Work->memberName);
  BuildOutputPath(longNames);
  MessageId fault = MsgOpenError;
  int sound = 1;
  if (MemberMethod() == MethodDirectory) {
    // The stub passes over a directory it could not make (its files then
    // fail to open); the host names it.
    uint32_t made = PlatformGetAttributes(Work->outputPath);
    if (Work->checkDirectories && (made == AttrAbsent || (made & AttrDirectory) == 0)) sound = 0;
  } else {
    MemberStep step = OpenOutput();
    if (step != MemberWrite) return step == MemberSkip;
    DecodeMember();
    sound = FinishOutput(&fault);
  }
  if (!sound) return MemberFailed(fault, Work->outputPath);
  LogLine(LogExtracted, Work->memberName);
  return 1;
}

// One member of a test run: decoded into a discarding sink, CRC compared.
int TestMember() {
  if (!MemberMethodKnown()) return MemberFailed(MsgUnsupportedMethod, Work->memberName);
  if (MemberMethod() == MethodDirectory) return 1;
  ShowMemberPath(Work->memberName);
  Work->outputFile = PlatformOpenDiscard();
  if (Work->outputFile == InvalidFile) return MemberFailed(MsgOpenError, Work->memberName);
  DecodeMember();
  PlatformClose(Work->outputFile);  // a discarding sink has nothing to flush
  Work->outputFile = InvalidFile;
  if (Work->crc != MemberDataCrc()) return MemberFailed(MsgCrcError, Work->memberName);
  return 1;
}

// The message member's text becomes the question asked before extraction.
void AskMessageMember() {
  Work->outputFile = InvalidFile;
  Work->messageLoaded = 0;
  Work->text[0] = '\0';
  if (MemberMethodKnown()) DecodeMember();
  int accepted = AskMessage() == AnswerYes;
  LogLine(accepted ? LogAccepted : LogDeclined, Work->memberName);
  if (!accepted) Work->failed = 1;
}

void StartCommand() {
  if (Work->config.command[0] == '\0') return;
  const char* parameters = SplitCommand(Work->text, Work->config.command);
  PlatformStartCommand(Work->dialog, Work->text, parameters, CommandTail, Work->destDir,
                       (Work->config.flags & (FlagWaitForCommand | FlagTemporaryFolder)) != 0);
}

}  // namespace

int ExtractArchive(WindowHandle dialog, ExtractionMode mode) {
  Work->dialog = dialog;
  Work->failed = 0;
  Work->stoppedByUser = 0;
  Work->scanning = mode == ScanMode;
  Work->outputFile = InvalidFile;
  // A test run names no output file, so an abort has nothing to delete.
  if (mode == TestMode) Work->outputPath[0] = '\0';

  if (!OpenArchiveRun()) {
    ShowError(MsgOpenError, Work->archivePath);
    return 0;
  }
  int longNames = mode == ExtractMode && DestinationHasLongNames();

  for (;;) {
    HeaderReadResult result = NextMember();
    if (result == EndOfArchive) break;
    if (result == NoMemory) {
      ShowPlainError(MsgNoMemory);
      Work->failed = 1;
      break;
    }
    if (result == InvalidHeader) {
      ShowError(MsgInvalidHeader, Work->archivePath);
      Work->failed = 1;
      break;
    }
    if (result == ArchiveBroken) {
      ShowError(MsgArchiveBroken, Work->archivePath);
      Work->failed = 1;
      break;
    }
    int isMessage = IsMessageMember();
    if (mode == ScanMode) {
      if (isMessage) AskMessageMember();
      break;
    }
    // The message member was asked during the scan; its data is passed over.
    if (isMessage) continue;
    int goOn = mode == TestMode ? TestMember() : ExtractMember(longNames);
    if (!goOn) break;
  }

  CloseArchiveRun();
  if (mode == ExtractMode && !Work->failed) StartCommand();
  return Work->failed ? 0 : 1;
}

int ExtractionExitCode() {
  if (!Work->failed) return ExitExtracted;
  return Work->stoppedByUser ? ExitStopped : ExitFailed;
}

const char* SplitCommand(char* dest, const char* command) {
  const char* p = command;
  uint32_t length = 0;
  while (IsBlank(*p)) ++p;
  if (*p == '"') {
    ++p;
    for (; *p != '\0' && *p != '"'; ++p)
      if (length + 1 < CommandSize) dest[length++] = *p;
    if (*p == '"') ++p;
  } else {
    for (; *p != '\0' && !IsBlank(*p); ++p)
      if (length + 1 < CommandSize) dest[length++] = *p;
  }
  dest[length] = '\0';
  while (IsBlank(*p)) ++p;
  return p;
}
