// The engine's reporting helpers on a terminal: errors go to stderr in UTF-8
// with an English gloss and, for a failed file operation, the system's
// reason; member names (escaped) to stdout; the overall progress line to
// stderr only when it is a terminal; questions are answered from the options
// or stdin. What a command decides about a member lives with the command
// (cli/member.cpp); this file only tells what happened.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/text.h"
#include "cli/console.h"
#include "cli/escape.h"
#include "cli/member.h"
#include "cli/names.h"
#include "cli/signals.h"
#include "platform/posix_host.h"
#include "platform/cp932.h"
#include "core/messages.h"
#include "core/report.h"
#include "core/workarea.h"
#include "extract/header.h"

ConsoleState Console;

namespace {

// What a fault is to the host: a failed file operation (the system's reason
// goes with it, and a failure the system reports makes the run an I/O
// failure, exit 2), a header the walk cannot read (it ends the archive and
// belongs to no member), or a fault of the member in hand.
enum class FaultKind { File, Archive, Member };

struct Meaning {
  const char* english;  // the gloss behind the engine's words; none for the host's own
  FaultKind kind;
};

Meaning MeaningOf(MessageId message) {
  switch (message) {
    case MsgNoMemory: return {"not enough memory", FaultKind::Member};
    case MsgOpenError: return {"cannot open the file", FaultKind::File};
    case MsgReadError: return {"read error", FaultKind::File};
    case MsgWriteError: return {"write error", FaultKind::File};
    case MsgCloseError: return {"close error", FaultKind::File};
    case MsgArchiveBroken: return {"the archive is broken", FaultKind::Member};
    case MsgInvalidHeader: return {"invalid member header", FaultKind::Archive};
    case MsgCrcError: return {"CRC mismatch: the data is damaged", FaultKind::Member};
    case MsgBadTable: return {"broken Huffman table", FaultKind::Member};
    case MsgUnsupportedMethod: break;
  }
  return {nullptr, FaultKind::Member};
}

// The words of a message: the stub's own text (UTF-8 in this file), or the
// host's for the messages only it reports.
std::string WordsOf(MessageId message) {
  if (message < StubMessageCount) return MessageText(message);
  std::string words = "unsupported method ";
  // The level reader admits only printable ASCII between the dashes.
  if (Work != nullptr && Work->header != nullptr)
    words.append((const char*)Work->header + HdrMethod, MethodIdLength);
  return words;
}

constexpr size_t AnswerSize = 64;

// The archive is shown as the user named it; the engine only knows the form
// it opens (absolute, CP932, or a descriptor path).
std::string SubjectText(const char* subject) {
  if (Work != nullptr && subject != nullptr && std::strcmp(subject, Work->archivePath) == 0 &&
      !Console.archiveDisplay.empty())
    return Escaped(Console.archiveDisplay);
  if (Console.mode == ConsoleMode::Print && Work != nullptr && subject == Work->outputPath)
    return "(standard output)";
  if (Work != nullptr && subject == Work->memberName) return Escaped(MemberNameText());
  return EscapedEngineText(subject != nullptr ? subject : "");
}

// tail follows the message and the reason (the member a fault of the
// archive's data belongs to).
void PrintMessage(const std::string& head, MessageId message, const std::string& tail = "") {
  ClearProgress();
  Meaning meaning = MeaningOf(message);
  if (meaning.kind != FaultKind::Archive && MemberFaultPassedOver()) return;
  ++Console.errorsShown;
  if (Console.membersStarted > 0 && !Console.memberFailed && meaning.kind != FaultKind::Archive) {
    Console.memberFailed = true;
    ++Console.failedMembers;
  }
  std::string reason;
  if (meaning.kind == FaultKind::File) {
    if (PlatformLastError != 0) {
      reason = std::string(": ") + std::strerror(PlatformLastError);
      // A name longer than the file system takes (vfat counts UTF-16 units,
      // which no byte count foresees) is the member's fault, not the disk's.
      Console.ioError = PlatformLastError != ENAMETOOLONG;
    } else if (message == MsgReadError) {
      // A read that merely came up short has no reason: the archive ends early.
      reason = ": the file ends early";
    } else {
      Console.ioError = true;
    }
    PlatformLastError = 0;
  }
  std::string words = WordsOf(message);
  std::fflush(stdout);
  if (meaning.english != nullptr)
    std::fprintf(stderr, "lzhsfx: %s%s (%s)%s%s\n", head.c_str(), words.c_str(), meaning.english,
                 reason.c_str(), tail.c_str());
  else
    std::fprintf(stderr, "lzhsfx: %s%s%s%s\n", head.c_str(), words.c_str(), reason.c_str(),
                 tail.c_str());
}

// Reads one answer line from stdin and returns its first non-blank letter,
// lower-cased; 0 at end of input or on an interrupted read.
int ReadAnswer() {
  char line[AnswerSize];
  if (std::fgets(line, sizeof line, stdin) == nullptr) return 0;
  for (const char* p = line; *p != '\0'; ++p)
    if (*p != ' ' && *p != '\t') {
      unsigned char c = (unsigned char)*p;
      return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c;
    }
  return '\n';
}

std::string QuestionText() {
  std::string t = EscapedText(ToUtf8(Work->text));
  while (!t.empty() && (t.back() == '\n' || t.back() == '\r')) t.pop_back();
  return t;
}

// The engine's overwrite question ("path" and TextOverwrite), told from
// its parts: the path is shown as every path is, escaped whole.
std::string OverwriteQuestionText() {
  return "\"" + EscapedEngineText(Work->outputPath) + "\" " + TextOverwrite;
}

void CancelNow() {
  ClearProgress();
  Console.cancelled = true;
  std::fflush(stdout);
  std::fprintf(stderr, "lzhsfx: interrupted by %s; %s\n", InterruptName(InterruptSignal),
               Work->outputFile != InvalidFile ? "the member being written was removed"
                                               : "nothing was left half written");
  AbortExtraction(1);
}

}  // namespace

void InstallCancelHandler() {
  CatchInterrupts(InterruptStyle::Cancel);
  std::atexit(StopProgress);
}

void PrintLine(const std::string& text) {
  ClearProgress();
  std::fputs(text.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

void ShowError(MessageId message, const char* subject) {
  // p stops at the first write that fails; a reader that has gone (head,
  // say) wanted no more, which is no fault to report.
  if (Console.mode == ConsoleMode::Print && message == MsgWriteError) {
    Console.printFailed = true;
    Console.printClosed = PlatformLastError == EPIPE;
    if (Console.printClosed) return;
  }
  std::string head = "\"";
  head += SubjectText(subject);
  head += "\" ";
  // A fault in the archive's data while a member is in hand is that member's.
  std::string tail;
  bool aboutArchive = Work != nullptr && subject != nullptr && std::strcmp(subject, Work->archivePath) == 0;
  if (aboutArchive && Console.membersStarted > 0 && Console.mode != ConsoleMode::Other &&
      MeaningOf(message).kind != FaultKind::Archive)
    tail = " in member \"" + Console.memberShown + "\"";
  PrintMessage(head, message, tail);
}

void ShowPlainError(MessageId message) { PrintMessage("", message); }

void UpdateProgress(MemberSize done, MemberSize total) {
  (void)total;
  if (Work != nullptr && Work->cancelRequested) CancelNow();
  SetProgress(Console.bytesBefore + done);
}

// Nothing to pump on a terminal.
void PumpMessages(WindowHandle) {}

// The progress line shows the percentage itself.
void ShowPercent(const char*) {}

void ShowMemberPath(const char* text) {
  (void)text;  // the shortened form is for the dialog; the console shows the whole path
  if (Work == nullptr) return;
  if (Work->cancelRequested) CancelNow();
  bool selected = MemberStarting();
  Console.bytesBefore += Console.memberBytes;
  Console.memberBytes = MemberOriginalSize();
  SetProgress(Console.bytesBefore);
  PlatformLastError = 0;
  if (!selected) return;
  Console.faultPassedOver = false;
  ++Console.membersStarted;
  Console.memberFailed = false;
  Console.memberShown = Escaped(MemberNameText());
  if (Console.mode == ConsoleMode::Other || Console.mode == ConsoleMode::Print) return;
  PrintLine(Console.mode == ConsoleMode::Extract ? EscapedEngineText(Work->outputPath)
                                                 : Console.memberShown);
}

int AskOverwrite() {
  std::string name = EscapedEngineText(Work->outputPath);
  switch (Console.overwrite) {
    case OverwritePolicy::Always:
      return AnswerYes;
    case OverwritePolicy::Never:
      ClearProgress();
      std::fprintf(stderr, "lzhsfx: keeping existing '%s'\n", name.c_str());
      return AnswerNo;
    case OverwritePolicy::Ask:
      break;
  }
  if (Console.assumeYes) return AnswerYes;
  ClearProgress();
  std::fflush(stdout);
  if (!isatty(STDIN_FILENO)) {
    std::fprintf(stderr,
                 "lzhsfx: '%s' already exists and there is no terminal to ask; stopping "
                 "(use --overwrite=always, --overwrite=never or -y)\n",
                 name.c_str());
    Console.overwriteCancelled = true;
    return AnswerCancel;
  }
  for (;;) {
    std::fprintf(stderr, "%s [y]es/[n]o/[c]ancel? ", OverwriteQuestionText().c_str());
    std::fflush(stderr);
    int answer = ReadAnswer();
    if (answer == 'y') return AnswerYes;
    if (answer == 'n') return AnswerNo;
    if (answer == 'c' || answer == 0) {
      if (answer == 0) std::fputc('\n', stderr);
      Console.overwriteCancelled = true;
      return AnswerCancel;
    }
  }
}

int AskMessage() {
  Console.messageAsked = true;
  ClearProgress();
  std::printf("%s\n", QuestionText().c_str());
  std::fflush(stdout);
  if (Console.assumeYes) {
    std::fprintf(stderr, "lzhsfx: the archive's question above was answered yes (-y)\n");
    return AnswerYes;
  }
  if (!isatty(STDIN_FILENO)) {
    std::fprintf(stderr,
                 "lzhsfx: the archive asks the question above and there is no terminal to "
                 "answer it; taking it as No (use -y to answer yes)\n");
    Console.messageDeclined = true;
    return AnswerNo;
  }
  for (;;) {
    std::fprintf(stderr, "Extract? [y]es/[n]o ");
    std::fflush(stderr);
    int answer = ReadAnswer();
    if (answer == 'y') return AnswerYes;
    if (answer == 'n' || answer == 0) {
      if (answer == 0) std::fputc('\n', stderr);
      Console.messageDeclined = true;
      return AnswerNo;
    }
  }
}
