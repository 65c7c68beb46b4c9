// The reading commands' shared steps. A fault deep inside a member's
// decoding ends a run of the engine through AbortExtraction; on the host
// that exit is trapped and the next run starts at the member behind it,
// which the walk located from the sizes alone.
#include "cli/reading.h"

#include <fcntl.h>
#include <setjmp.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/console.h"
#include "cli/escape.h"
#include "cli/signals.h"
#include "core/workarea.h"
#include "extract/header.h"
#include "extract/scan_host.h"
#include "extract/walk.h"
#include "platform/hostfiles.h"
#include "platform/posix_host.h"

namespace {

int FailureExitCode() { return Console.ioError ? ExitUsage : ExitBadArchive; }

// Standard input copied to a file, since the walk seeks, up to the largest
// archive lzhsfx reads. The file has no name (or loses its temporary one
// at once), so nothing can leave it behind; the descriptor kept here is
// what the engine reads, as /proc/self/fd/N. "" with a message when it
// cannot be made.
std::string SpoolStandardInput() {
  const char* dir = std::getenv("TMPDIR");
  std::string directory = dir != nullptr && *dir != '\0' ? dir : "/tmp";
  int dirfd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  char temp[TempNameSize];
  int fd = dirfd >= 0 ? CreateUnnamedFile(dirfd, 0600, temp) : -1;
  if (fd >= 0) DropUnnamedFile(dirfd, temp);
  int why = errno;
  if (dirfd >= 0) close(dirfd);
  if (fd < 0) {
    std::fprintf(stderr, "lzhsfx: cannot spool standard input: %s\n", std::strerror(why));
    return "";
  }
  static char buffer[1 << 16];
  uint64_t total = 0;
  for (;;) {
    ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR && InterruptSignal == 0) continue;
    if (n < 0) {
      std::fprintf(stderr, "lzhsfx: cannot read standard input: %s\n", std::strerror(errno));
      close(fd);
      return "";
    }
    if (n == 0) break;
    total += (uint64_t)n;
    if (total > MaxArchiveSize) {
      std::fprintf(stderr, "lzhsfx: standard input holds more than the largest archive lzhsfx reads (%llu bytes)\n",
                   (unsigned long long)MaxArchiveSize);
      close(fd);
      return "";
    }
    for (ssize_t done = 0; done < n;) {
      ssize_t w = write(fd, buffer + done, (size_t)(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        std::fprintf(stderr, "lzhsfx: cannot spool standard input: %s\n",
                     std::strerror(w < 0 ? errno : ENOSPC));
        close(fd);
        return "";
      }
      done += w;
    }
  }
  return "/proc/self/fd/" + std::to_string(fd);
}

}  // namespace

bool ReadArguments(const CommandDef& command, const Args& args, ParsedArgs& parsed,
                   std::string& archive, ReadOptions& options) {
  if (!ParseArgs(command, args, parsed)) return false;
  if (parsed.operands.empty()) return UsageError(command, "no archive given"), false;
  archive = parsed.operands[0];
  options.patterns.assign(parsed.operands.begin() + 1, parsed.operands.end());
  options.quiet = parsed.Has(QuietOption);
  options.stopOnError = parsed.Has(StopOnErrorOption);
  if (parsed.Has(NamesOption) && !ParseNamesOption(parsed.Value(NamesOption), options.names))
    return UsageError(command, "--names takes cp932, utf-8 or auto"), false;
  return true;
}

// Runs the engine over the archive in mode. A fault deep inside a member's
// decoding ends a run through AbortExtraction; on the host that exit is
// trapped and, unless told to stop at the first failure, a new run starts
// at the member behind it, which the walk already located. A signal stops
// everything. 1 when every run went through without a failure.
int RunMembers(ExtractionMode mode, bool stopOnError) {
  Work->resumeOffset = 0;
  Work->continueAfterFault = stopOnError ? 0 : 1;
  Console.stopOnError = stopOnError;
  volatile int ok = 1;
  jmp_buf trap;
  for (;;) {
    // Each member sets it for its own paths; the archive opens by its CP932 path.
    PlatformUtf8Paths = 0;
    PlatformExitTrap = &trap;
    if (setjmp(trap) == 0) {
      if (!ExtractArchive(nullptr, mode)) ok = 0;
      PlatformExitTrap = nullptr;
      break;
    }
    PlatformExitTrap = nullptr;
    CloseArchiveRun();
    ok = 0;
    uint64_t next = Work->nextHeaderOffset;
    bool stop = stopOnError && !Console.faultPassedOver;
    if (stop || Console.cancelled || Console.printFailed || mode == ScanMode || next >= Work->archiveSize)
      break;
    Work->resumeOffset = (FileOffset)next;
  }
  PlatformUtf8Paths = 0;
  Work->resumeOffset = 0;
  // With names given, the engine's verdict counts the members passed over;
  // what was reported decides.
  if (SelectionActive() && mode != ScanMode)
    ok = Console.errorsShown == 0 && !Console.overwriteCancelled && !Console.cancelled;
  return ok;
}

// The bytes the members hold, for the overall progress line.
uint64_t TotalMemberBytes() {
  uint64_t total = 0;
  if (OpenArchiveRun())
    while (NextMember() == MemberReady)
      if (MemberMethod() != MethodDirectory) total += MemberOriginalSize();
  CloseArchiveRun();
  return total;
}

bool WarnHeaderAfterEnd(FileOffset end, const char* prefix) {
  FileOffset at;
  if (!FindHeaderAfterEnd(end, &at)) return false;
  ClearProgress();
  std::fflush(stdout);
  std::fprintf(stderr,
               "%swarning: '%s': the archive's end marker at offset %llu is followed by a member "
               "header at offset %llu (a damaged header, or archives joined together); the members "
               "from there on are not read\n",
               prefix, Escaped(Console.archiveDisplay).c_str(), (unsigned long long)end,
               (unsigned long long)at);
  return true;
}

bool NothingAfterEnd() {
  HeaderReadResult result = ArchiveBroken;
  if (OpenArchiveRun())
    while ((result = NextMember()) == MemberReady) {
    }
  FileOffset end = (FileOffset)Work->nextHeaderOffset;
  CloseArchiveRun();
  return result != EndOfArchive || !WarnHeaderAfterEnd(end, "lzhsfx: ");
}

// Why t or x ended without success, in one line, and the exit code.
int ReportFailures(const char* verb) {
  if (InterruptSignal != 0) return ExitBadArchive;  // main ends by the signal
  if (Console.failedMembers > 0)
    std::fprintf(stderr, "lzhsfx: %u of %u member%s failed to %s\n", Console.failedMembers,
                 Console.membersStarted, Console.membersStarted == 1 ? "" : "s", verb);
  return FailureExitCode();
}

// Opens the archive named by the arguments ("-": standard input) and
// readies the work area and the name rules.
int OpenForEngine(const std::string& archive, ArchiveSource& source,
                  const ReadOptions& options) {
  SetNameEncoding(options.names);
  SetMemberPatterns(options.patterns);
  std::string path = archive;
  if (archive == "-") {
    path = SpoolStandardInput();
    if (path.empty()) return ExitUsage;
  }
  source.searchPrograms = true;
  int rc = OpenArchiveSource(path, source, archive == "-" ? "(standard input)" : "");
  if (rc == ExitOk) {
    rc = PrepareWorkArea(source);
    Console.messageMember = source.isSfx;
  }
  return rc;
}

int OpenFromArguments(const CommandDef& command, const Args& args, ParsedArgs& parsed,
                      ReadOptions& options, ArchiveSource& source) {
  std::string archive;
  if (!ReadArguments(command, args, parsed, archive, options)) return ExitUsage;
  return OpenForEngine(archive, source, options);
}
