// The engine's reporting helpers on a terminal: errors go to stderr in UTF-8
// with an English gloss and, for a failed file operation, the system's
// reason; member names (escaped) to stdout; the overall progress line to
// stderr only when it is a terminal; questions are answered from the options
// or stdin.
// AcceptMemberPath keeps hostile member names inside the destination: a root
// or drive prefix is dropped, a name that climbs out or aims at the Windows
// folders is refused.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "base/text.h"
#include "cli/console.h"
#include "cli/escape.h"
#include "cli/names.h"
#include "cli/signals.h"
#include "platform/posix_host.h"
#include "platform/cp932.h"
#include "core/messages.h"
#include "core/report.h"
#include "core/workarea.h"
#include "extract/header.h"
#include "extract/timeconv.h"

ConsoleState Console;

namespace {

// This file is compiled without the CP932 execution charset, so the texts of
// messages.h are UTF-8 here; the engine hands them over as CP932 and they are
// compared after conversion.
struct Gloss {
  const char* message;
  const char* english;
};
const Gloss Glosses[] = {
    {MsgNoMemory, "not enough memory"},
    {MsgOpenError, "cannot open the file"},
    {MsgReadError, "read error"},
    {MsgWriteError, "write error"},
    {MsgCloseError, "close error"},
    {MsgArchiveBroken, "the archive is broken"},
    {MsgInvalidHeader, "invalid member header"},
    {MsgCrcError, "CRC mismatch: the data is damaged"},
    {MsgBadTable, "broken Huffman table"},
    {MsgBadDirectory, "invalid directory name"},
};

// Messages of a file operation: the system's reason goes with them, and a
// failure the system reports makes the run an I/O failure (exit 2). A read
// that merely came up short has no reason: the archive ends early.
const char* const IoMessages[] = {MsgOpenError, MsgWriteError, MsgCloseError, MsgReadError};

// A member that fails while the archive's walk goes on; a header the walk
// cannot read ends the archive and belongs to no member.
const char* const ArchiveMessages[] = {MsgInvalidHeader};

constexpr size_t AnswerSize = 64;

const char* GlossOf(const std::string& utf8Message) {
  for (const Gloss& g : Glosses)
    if (utf8Message == g.message) return g.english;
  return nullptr;
}

bool IsOneOf(const std::string& utf8Message, const char* const* list, size_t count) {
  for (size_t i = 0; i < count; ++i)
    if (utf8Message == list[i]) return true;
  return false;
}

// The archive is shown as the user named it; the engine only knows the form
// it opens (absolute, CP932, or a descriptor path).
std::string SubjectText(const char* subject) {
  if (Work != nullptr && subject != nullptr && std::strcmp(subject, Work->archivePath) == 0 &&
      !Console.archiveDisplay.empty())
    return Escaped(Console.archiveDisplay);
  if (Work != nullptr && subject == Work->memberName) return Escaped(MemberNameText());
  return EscapedEngineText(subject != nullptr ? subject : "");
}

// tail follows the message and the reason (the member a fault of the
// archive's data belongs to).
void PrintMessage(const std::string& head, const char* message, const std::string& tail = "") {
  ClearProgress();
  std::string utf8 = ToUtf8(message != nullptr ? message : "");
  // A member the command was not asked about is still decoded by t and p
  // (the engine has no way past it); its faults are none of the user's.
  if (SelectionActive() && Console.mode != ConsoleMode::Other && Work != nullptr &&
      Work->header != nullptr && !MemberSelected() &&
      !IsOneOf(utf8, ArchiveMessages, std::size(ArchiveMessages))) {
    PlatformLastError = 0;
    Console.faultPassedOver = true;
    Work->continueAfterFault = 1;
    return;
  }
  const char* english = GlossOf(utf8);
  ++Console.errorsShown;
  if (Console.membersStarted > 0 && !Console.memberFailed &&
      !IsOneOf(utf8, ArchiveMessages, std::size(ArchiveMessages))) {
    Console.memberFailed = true;
    ++Console.failedMembers;
  }
  std::string reason;
  if (IsOneOf(utf8, IoMessages, std::size(IoMessages))) {
    if (PlatformLastError != 0) {
      reason = std::string(": ") + std::strerror(PlatformLastError);
      Console.ioError = true;
    } else if (utf8 == MsgReadError) {
      reason = ": the file ends early";
    } else {
      Console.ioError = true;
    }
    PlatformLastError = 0;
  }
  std::fflush(stdout);
  if (english != nullptr)
    std::fprintf(stderr, "lzhsfx: %s%s (%s)%s%s\n", head.c_str(), utf8.c_str(), english,
                 reason.c_str(), tail.c_str());
  else
    std::fprintf(stderr, "lzhsfx: %s%s%s%s\n", head.c_str(), utf8.c_str(), reason.c_str(), tail.c_str());
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

// The overwrite question holds the output path, which is UTF-8 already
// while PlatformUtf8Paths is set; the rest of it is the engine's CP932.
std::string OverwriteQuestionText() {
  const char* at = PlatformUtf8Paths ? std::strstr(Work->text, Work->outputPath) : nullptr;
  if (at == nullptr) return QuestionText();
  std::string before(Work->text, (size_t)(at - Work->text)), after(at + std::strlen(Work->outputPath));
  return EscapedText(ToUtf8(before)) + Escaped(Work->outputPath) + EscapedText(ToUtf8(after));
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

bool IsAsciiLetter(uint8_t b) { return (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z'); }

// Removes the separators and drive prefixes ("C:") that open name, so a
// rooted or drive-qualified member lands inside the destination; returns how
// many bytes went. A double-byte character ends the prefix, so its trail
// byte (0x5C is '\') is never taken for a separator.
size_t StripRootAndDrive(char* name) {
  const uint8_t* n = (const uint8_t*)name;
  size_t skip = 0;
  for (;;) {
    if (IsLeadByte(n[skip])) break;
    if (n[skip] == '/' || n[skip] == '\\') {
      ++skip;
    } else if (IsAsciiLetter(n[skip]) && n[skip + 1] == ':') {
      skip += 2;
    } else {
      break;
    }
  }
  if (skip > 0) std::memmove(name, name + skip, std::strlen(name + skip) + 1);
  return skip;
}

// A member name, its root and drive already removed, that would still place
// its output outside the destination on either host: climbing out, or aimed
// at the Windows folders. Components are split at every '/' and '\' byte,
// CP932 trail bytes included: that refuses a few odd but harmless names
// rather than miss a hostile one.
bool IsUnsafeMemberName(const char* name) {
  const uint8_t* n = (const uint8_t*)name;
  std::string lower;
  for (const uint8_t* p = n; *p != 0; ++p) lower += (char)((*p >= 'A' && *p <= 'Z') ? *p + 32 : *p);
  if (lower.rfind("%systemdir%", 0) == 0 || lower.rfind("%windir%", 0) == 0) return true;
  const uint8_t* start = n;
  for (const uint8_t* p = n;; ++p) {
    if (*p == '/' || *p == '\\' || *p == 0) {
      if (p - start == 2 && start[0] == '.' && start[1] == '.') return true;
      if (*p == 0) break;
      start = p + 1;
    }
  }
  return false;
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

void ShowError(const char* message, const char* subject) {
  std::string head = "\"";
  head += SubjectText(subject);
  head += "\" ";
  // A fault in the archive's data while a member is in hand is that member's.
  std::string tail;
  bool aboutArchive = Work != nullptr && subject != nullptr && std::strcmp(subject, Work->archivePath) == 0;
  std::string utf8 = ToUtf8(message != nullptr ? message : "");
  if (aboutArchive && Console.membersStarted > 0 && Console.mode != ConsoleMode::Other &&
      !IsOneOf(utf8, ArchiveMessages, std::size(ArchiveMessages)))
    tail = " in member \"" + Console.memberShown + "\"";
  PrintMessage(head, message, tail);
}

void ShowPlainError(const char* message) { PrintMessage("", message); }

void UpdateProgress(uint32_t done, uint32_t total) {
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
  if (Console.mode == ConsoleMode::Extract) RemapCarriedOutputPath();
  // x has passed over unselected members already (AcceptMemberPath).
  bool selected = Console.mode == ConsoleMode::Extract || MemberSelected();
  if (Console.mode == ConsoleMode::Print) PlatformDiscardTo = selected ? STDOUT_FILENO : -1;
  Console.bytesBefore += Console.memberBytes;
  Console.memberBytes = MemberOriginalSize();
  SetProgress(Console.bytesBefore);
  PlatformLastError = 0;
  if (!selected) return;
  Console.faultPassedOver = false;
  Work->continueAfterFault = Console.stopOnError ? 0 : 1;
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

uint32_t MemberStampUtc() {
  uint32_t stamp = MemberTimeStamp();
  if (!Work->timeIsLocal) return stamp;
  uint32_t utc = PlatformLocalDosTimeToUnix(UnixToDosDateTime(stamp));
  return utc != 0 ? utc : stamp;
}

// What the header says of the file beyond its data, in the form the driver
// applies: the stamp as UTC, and the Unix permissions for the commit, with
// the read-only attribute made to agree with them (the driver sets it after
// the commit).
static void PrepareMemberFile() {
  if (Work->timeIsLocal) {
    uint32_t utc = MemberStampUtc();
    for (uint32_t i = 0; i < 4; i++) Work->header[HdrTimeStamp + i] = (uint8_t)(utc >> (8 * i));
    Work->timeIsLocal = 0;
  }
  static std::string linkTarget;
  linkTarget = Work->isLink ? LinkTargetText() : "";
  PlatformOutputLink = Work->isLink ? linkTarget.c_str() : nullptr;
  PlatformOutputMode = Work->hasUnixMode ? Work->unixMode : -1;
  if (Work->hasUnixMode) {
    constexpr uint16_t OwnerWrite = 0200;
    if (Work->unixMode & OwnerWrite)
      Work->attributes &= (uint16_t)~AttrReadOnly;
    else
      Work->attributes |= AttrReadOnly;
  }
}

int AcceptMemberPath() {
  // Members the command was not asked about are passed over silently; the
  // command judges success by what it reported, not by the engine's flag.
  if (!MemberSelected()) return 0;
  PrepareMemberPath();
  PrepareMemberFile();
  // A name cut to what memberName holds would be written under another name.
  if (Work->nameCut) {
    ++Console.refusedMembers;
    ClearProgress();
    std::fflush(stdout);
    std::fprintf(stderr,
                 "lzhsfx: refusing member '%s...': its name is longer than %u bytes, so it "
                 "cannot be written under its own name\n",
                 Escaped(MemberNameText()).c_str(), MemberNameSize - 1);
    return 0;
  }
  if (Console.allowUnsafePaths) return 1;
  std::string originalText = MemberNameText();
  std::string original = Escaped(originalText);
  size_t removed = StripRootAndDrive(Work->memberName);
  MemberNameStripped(removed);
  // A directory entry that named only a root is the destination itself; a
  // file so named has nowhere inside it to go.
  bool nothingLeft = removed > 0 && Work->memberName[0] == '\0';
  if (nothingLeft && MemberMethod() == MethodDirectory) {
    CopyText(Work->memberName, ".", MemberNameSize);
    return 1;
  }
  if (nothingLeft || IsUnsafeMemberName(Work->memberName)) {
    ++Console.refusedMembers;
    ClearProgress();
    std::fflush(stdout);
    std::fprintf(stderr,
                 "lzhsfx: refusing member '%s': it would be written outside the destination "
                 "(use --allow-unsafe-paths)\n",
                 original.c_str());
    return 0;
  }
  if (removed > 0) {
    ClearProgress();
    std::fflush(stdout);
    std::fprintf(stderr, "lzhsfx: note: '%s': leading '%s' removed, extracting inside the destination\n",
                 original.c_str(), Escaped(originalText.substr(0, removed)).c_str());
  }
  return 1;
}
