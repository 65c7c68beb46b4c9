// lzhsfx l, t and x: list, test and extract an LZH archive or the archive
// inside a self-extracting program, through the same engine the stub runs.
// Extraction never runs the archive's command and, unless told otherwise,
// never writes outside the destination directory.
#include <setjmp.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "cli/archive_open.h"
#include "cli/commands.h"
#include "cli/console.h"
#include "cli/escape.h"
#include "cli/signals.h"
#include "platform/cp932.h"
#include "extract/driver.h"
#include "extract/header.h"
#include "extract/walk.h"
#include "platform/posix_host.h"
#include "core/messages.h"
#include "core/report.h"
#include "base/text.h"
#include "core/workarea.h"

const char* const ListHelp =
    "usage: lzhsfx l ARCHIVE\n"
    "\n"
    "List the members of an LZH archive (level-2 headers) or of the archive\n"
    "inside a self-extracting .exe: original and packed size, ratio, method,\n"
    "modification time (UTC), CRC-16 and name (converted from CP932 to UTF-8),\n"
    "then a total line. Control characters in names are shown as \\xHH, a\n"
    "backslash as \\\\; a name longer than 259 bytes is shown cut, marked\n"
    "[name cut].\n"
    "\n"
    "Exit codes: 0 listed, 1 a header is broken or the archive is cut short,\n"
    "2 usage error or the file cannot be read.\n";

const char* const TestHelp =
    "usage: lzhsfx t ARCHIVE [-q] [--stop-on-error]\n"
    "\n"
    "Decode every member of an LZH archive or self-extracting .exe without\n"
    "writing anything and check each member's CRC-16. Member names are printed\n"
    "as they are tested; one overall progress line is shown on stderr when it\n"
    "is a terminal. A damaged member is reported and testing goes on with the\n"
    "next one; the count of damaged members comes at the end.\n"
    "\n"
    "Options:\n"
    "  -q               no progress line\n"
    "  --stop-on-error  stop at the first damaged member\n"
    "\n"
    "SIGINT, SIGTERM and SIGHUP stop testing; lzhsfx then ends by that signal.\n"
    "\n"
    "Exit codes: 0 every member is intact, 1 a member or header is bad,\n"
    "2 usage error or the file cannot be read.\n";

const char* const ExtractHelp =
    "usage: lzhsfx x ARCHIVE [-C DIR] [-y] [--overwrite=ask|always|never]\n"
    "                [--allow-unsafe-paths] [-q] [--stop-on-error]\n"
    "\n"
    "Extract an LZH archive or self-extracting .exe with the same path mapping\n"
    "and name sanitising the Windows stub uses. Names are converted from CP932\n"
    "to UTF-8, modification times and the read-only attribute are restored.\n"
    "Each member's path is printed as it starts (control characters as \\xHH);\n"
    "one overall progress line is shown on stderr when it is a terminal. Each\n"
    "member is written beside its destination and takes its place only when\n"
    "its CRC is right, so a damaged member never replaces a file. A damaged\n"
    "member, a file or directory that cannot be made, is reported and\n"
    "extraction goes on with the next member. A member whose name is longer\n"
    "than 259 bytes is refused. The command an archive asks to run afterwards\n"
    "is never run.\n"
    "\n"
    "Options:\n"
    "  -C DIR                extract under DIR (created if missing; default .)\n"
    "  -y                    answer yes to every question: the archive's own\n"
    "                        confirmation text and replacing existing files\n"
    "  --overwrite=ask       ask before replacing a file (default); without a\n"
    "                        terminal (and without -y) extraction stops there\n"
    "  --overwrite=always    replace existing files without asking\n"
    "  --overwrite=never     keep existing files and go on with the next member\n"
    "  -q                    no progress line\n"
    "  --stop-on-error       stop at the first member that fails\n"
    "  --allow-unsafe-paths  also write members with a '..' component or with\n"
    "                        %WinDir% / %SystemDir% (which then map to\n"
    "                        $LZHSFX_WINDIR and $LZHSFX_SYSTEMDIR), refused by\n"
    "                        default with a message and nothing written, and\n"
    "                        write absolute names (/abs, C:x) where they point\n"
    "\n"
    "Without --allow-unsafe-paths, a leading '/' or '\\' and a drive prefix such\n"
    "as C: are removed from a member's name, with a note, and the member is\n"
    "extracted inside DIR.\n"
    "\n"
    "When the archive starts with a confirmation text it is printed and must\n"
    "be answered y (or -y given); with no terminal it counts as No.\n"
    "\n"
    "SIGINT, SIGTERM and SIGHUP stop extraction: the member being written is\n"
    "removed and lzhsfx ends by that signal.\n"
    "\n"
    "Exit codes: 0 everything extracted, 1 a member or header was bad, a member\n"
    "was refused, the confirmation was declined or the overwrite question was\n"
    "cancelled, 2 usage error or a file or directory could not be opened,\n"
    "made, read, written or closed (the message gives the system's reason).\n";

namespace {

constexpr double PercentScale = 100.0;
constexpr size_t TimeTextSize = 32;

struct ReadOptions {
  bool quiet = false;        // -q: no progress line
  bool stopOnError = false;  // --stop-on-error: the first failed member ends the run
};

// Parses "ARCHIVE" alone, with -q and --stop-on-error where the command
// takes them (options given); prints the usage and returns false otherwise.
bool SingleArchiveArgument(const Args& args, const char* help, std::string& archive,
                           ReadOptions* options = nullptr) {
  bool endOfOptions = false;
  for (const auto& a : args) {
    if (!endOfOptions && a == "--") {
      endOfOptions = true;
    } else if (!endOfOptions && options != nullptr && a == "-q") {
      options->quiet = true;
    } else if (!endOfOptions && options != nullptr && a == "--stop-on-error") {
      options->stopOnError = true;
    } else if (!endOfOptions && a.size() > 1 && a[0] == '-') {
      std::fprintf(stderr, "lzhsfx: unknown option '%s'\n\n%s", Escaped(a).c_str(), help);
      return false;
    } else if (archive.empty()) {
      archive = a;
    } else {
      std::fprintf(stderr, "lzhsfx: more than one archive given\n\n%s", help);
      return false;
    }
  }
  if (archive.empty()) std::fprintf(stderr, "lzhsfx: no archive given\n\n%s", help);
  return !archive.empty();
}

// Reports one of the engine's own messages (UTF-8 here) the way the engine does.
void ReportEngineMessage(const char* utf8Message, const char* subject) {
  std::string message;
  if (!ToCp932(utf8Message, message)) message = utf8Message;
  ShowError(message.c_str(), subject);
}

int FailureExitCode() { return Console.ioError ? ExitUsage : ExitBadArchive; }

// Runs the engine over the archive in mode. A fault deep inside a member's
// decoding ends a run through AbortExtraction; on the host that exit is
// trapped and, unless told to stop at the first failure, a new run starts
// at the member behind it, which the walk already located. A signal stops
// everything. 1 when every run went through without a failure.
int RunMembers(ExtractionMode mode, bool stopOnError) {
  uint32_t start = Work->config.archiveOffset;
  Work->continueAfterFault = stopOnError ? 0 : 1;
  volatile int ok = 1;
  jmp_buf trap;
  for (;;) {
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
    if (stopOnError || Console.cancelled || mode == ScanMode || next >= Work->archiveSize) break;
    Work->config.archiveOffset = (uint32_t)next;
  }
  Work->config.archiveOffset = start;
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

// Why t or x ended without success, in one line, and the exit code.
int ReportFailures(const char* verb) {
  if (InterruptSignal != 0) return ExitBadArchive;  // main ends by the signal
  if (Console.failedMembers > 0)
    std::fprintf(stderr, "lzhsfx: %u of %u member%s failed to %s\n", Console.failedMembers,
                 Console.membersStarted, Console.membersStarted == 1 ? "" : "s", verb);
  return FailureExitCode();
}

std::string UtcText(uint32_t seconds) {
  time_t t = (time_t)seconds;
  struct tm parts {};
  char text[TimeTextSize];
  if (gmtime_r(&t, &parts) == nullptr ||
      std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts) == 0)
    return "(time out of range)";
  return text;
}

std::string RatioText(uint64_t packed, uint64_t original) {
  if (original == 0) return "-";
  char text[TimeTextSize];
  std::snprintf(text, sizeof text, "%.1f%%", PercentScale * (double)packed / (double)original);
  return text;
}

// Opens the archive named by the arguments and readies the work area.
int OpenForEngine(const std::string& archive, ArchiveSource& source) {
  int rc = OpenArchiveSource(archive, source);
  if (rc == ExitOk) rc = PrepareWorkArea(source);
  return rc;
}

// Lists what the member walk yields, so l shows the members that t, x and
// the stub read, and stops where they stop.
int ListMembers() {
  if (!OpenArchiveRun()) {
    CloseArchiveRun();
    ReportEngineMessage(MsgOpenError, Work->archivePath);
    return ExitUsage;
  }
  const char* rule = "---------- ---------- ------ ----- ------------------- ---- --------------------";
  std::printf("  Original     Packed  Ratio Method Modified (UTC)      CRC  Name\n%s\n", rule);
  uint64_t totalOriginal = 0, totalPacked = 0;
  uint32_t files = 0, directories = 0;
  int rc = ExitOk;
  for (HeaderReadResult result; (result = NextMember()) != EndOfArchive;) {
    if (result != MemberReady) {
      const char* message = result == NoMemory        ? MsgNoMemory
                            : result == InvalidHeader ? MsgInvalidHeader
                                                      : MsgArchiveBroken;
      ReportEngineMessage(message, Work->archivePath);
      rc = ExitBadArchive;
      break;
    }
    uint32_t packed = MemberCompressedSize();
    uint32_t original = MemberOriginalSize();
    char method = MemberMethod();
    // The whole id: the host reads methods beyond "-lh?-" (-lz5-, -lzs-, ...).
    std::printf("%10u %10u %6s %.5s %s %04X %s%s\n", original, packed,
                RatioText(packed, original).c_str(), (const char*)Work->header + HdrMethod,
                UtcText(MemberTimeStamp()).c_str(), MemberDataCrc(),
                EscapedCp932(Work->memberName).c_str(), Work->nameCut ? "... [name cut]" : "");
    if (method == MethodDirectory)
      ++directories;
    else
      ++files;
    totalOriginal += original;
    totalPacked += packed;
  }
  CloseArchiveRun();
  std::printf("%s\n%10llu %10llu %6s %u file%s, %u director%s\n", rule,
              (unsigned long long)totalOriginal, (unsigned long long)totalPacked,
              RatioText(totalPacked, totalOriginal).c_str(), files, files == 1 ? "" : "s",
              directories, directories == 1 ? "y" : "ies");
  return rc;
}

struct ExtractOptions {
  std::string archive;
  std::string directory = ".";
  bool assumeYes = false;
  OverwritePolicy overwrite = OverwritePolicy::Ask;
  bool allowUnsafe = false;
  ReadOptions read;
};

bool ParseExtractOptions(const Args& args, ExtractOptions& options) {
  bool endOfOptions = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (!endOfOptions && a == "--") {
      endOfOptions = true;
    } else if (!endOfOptions && a == "-C") {
      if (i + 1 >= args.size()) {
        std::fprintf(stderr, "lzhsfx: -C needs a directory\n\n%s", ExtractHelp);
        return false;
      }
      // An empty -C "" means the current directory, the default.
      if (!args[++i].empty()) options.directory = args[i];
    } else if (!endOfOptions && a.rfind("-C", 0) == 0 && a.size() > 2) {
      options.directory = a.substr(2);
    } else if (!endOfOptions && a == "-y") {
      options.assumeYes = true;
    } else if (!endOfOptions && a == "--allow-unsafe-paths") {
      options.allowUnsafe = true;
    } else if (!endOfOptions && a == "-q") {
      options.read.quiet = true;
    } else if (!endOfOptions && a == "--stop-on-error") {
      options.read.stopOnError = true;
    } else if (!endOfOptions && a.rfind("--overwrite=", 0) == 0) {
      std::string value = a.substr(std::strlen("--overwrite="));
      if (value == "ask")
        options.overwrite = OverwritePolicy::Ask;
      else if (value == "always")
        options.overwrite = OverwritePolicy::Always;
      else if (value == "never")
        options.overwrite = OverwritePolicy::Never;
      else {
        std::fprintf(stderr, "lzhsfx: --overwrite takes ask, always or never\n\n%s",
                     ExtractHelp);
        return false;
      }
    } else if (!endOfOptions && a.size() > 1 && a[0] == '-') {
      std::fprintf(stderr, "lzhsfx: unknown option '%s'\n\n%s", Escaped(a).c_str(), ExtractHelp);
      return false;
    } else if (options.archive.empty()) {
      options.archive = a;
    } else {
      std::fprintf(stderr, "lzhsfx: more than one archive given\n\n%s", ExtractHelp);
      return false;
    }
  }
  if (options.archive.empty()) {
    std::fprintf(stderr, "lzhsfx: no archive given\n\n%s", ExtractHelp);
    return false;
  }
  return true;
}

// Creates the destination if needed and makes it the current directory, so
// that every member path the engine builds is relative to it.
bool EnterDestination(const std::string& directory) {
  std::error_code error;
  std::filesystem::create_directories(directory, error);
  if (chdir(directory.c_str()) != 0) {
    int why = errno;
    std::fprintf(stderr, "lzhsfx: cannot use '%s' as the destination: %s\n",
                 Escaped(directory).c_str(),
                 error ? error.message().c_str() : std::strerror(why));
    return false;
  }
  return true;
}

}  // namespace

int CmdList(const Args& args) {
  std::string archive;
  if (!SingleArchiveArgument(args, ListHelp, archive)) return ExitUsage;
  CatchInterrupts(InterruptStyle::End);
  ArchiveSource source;
  int rc = OpenForEngine(archive, source);
  if (rc == ExitOk) rc = ListMembers();
  CloseArchiveSource(source);
  return rc;
}

int CmdTest(const Args& args) {
  std::string archive;
  ReadOptions options;
  if (!SingleArchiveArgument(args, TestHelp, archive, &options)) return ExitUsage;
  ArchiveSource source;
  int rc = OpenForEngine(archive, source);
  if (rc != ExitOk) return rc;
  Console.mode = ConsoleMode::Test;
  InstallCancelHandler();
  StartProgress(options.quiet ? 0 : TotalMemberBytes(), !options.quiet);
  int ok = RunMembers(TestMode, options.stopOnError);
  StopProgress();
  CloseArchiveSource(source);
  if (!ok) return ReportFailures("test");
  std::printf("lzhsfx: %u member%s tested, all intact\n", Console.membersStarted,
              Console.membersStarted == 1 ? "" : "s");
  return ExitOk;
}

int CmdExtract(const Args& args) {
  ExtractOptions options;
  if (!ParseExtractOptions(args, options)) return ExitUsage;
  ArchiveSource source;
  int rc = OpenForEngine(options.archive, source);
  if (rc != ExitOk) return rc;
  if (!EnterDestination(options.directory)) return ExitUsage;
  // The current directory stays put from here on and nothing removes
  // directories, so the walks to member directories can be kept.
  PlatformKeepDirectories(1);

  // The host never starts the archive's command; blanking it keeps the
  // driver from handing it to the platform at all.
  std::string command = ConfigText(Work->config.command, CommandSize);
  std::memset(Work->config.command, 0, CommandSize);
  Work->config.restoreAttributes = 1;
  Work->destDir[0] = '\0';
  OverwriteSilently = options.overwrite == OverwritePolicy::Always ? 1 : 0;
  Console.mode = ConsoleMode::Extract;
  Console.assumeYes = options.assumeYes;
  Console.overwrite = options.overwrite;
  Console.allowUnsafePaths = options.allowUnsafe;
  // The host names a directory entry it could not make.
  Work->checkDirectories = 1;
  InstallCancelHandler();

  // The scan asks the archive's own question, as the stub does before its dialog.
  int ok = RunMembers(ScanMode, true);
  if (ok) {
    StartProgress(options.read.quiet ? 0 : TotalMemberBytes(), !options.read.quiet);
    ok = RunMembers(ExtractMode, options.read.stopOnError);
  }
  PlatformKeepDirectories(0);
  StopProgress();
  CloseArchiveSource(source);
  if (InterruptSignal != 0) return ExitBadArchive;  // main ends by the signal
  if (Console.messageDeclined) {
    std::fprintf(stderr, "lzhsfx: nothing extracted\n");
    return ExitBadArchive;
  }
  if (!command.empty())
    std::fprintf(stderr, "lzhsfx: note: the archive asks to run '%s' afterwards; it was not run\n",
                 EscapedCp932(command).c_str());
  if (!ok || Console.refusedMembers > 0) {
    if (Console.refusedMembers > 0)
      std::fprintf(stderr, "lzhsfx: %u member%s refused\n", Console.refusedMembers,
                   Console.refusedMembers == 1 ? "" : "s");
    return ReportFailures("extract");
  }
  return ExitOk;
}
