// lzhsfx l, t and x: list, test and extract an LZH archive or the archive
// inside a self-extracting program, through the same engine the stub runs.
// Extraction never runs the archive's command and, unless told otherwise,
// never writes outside the destination directory.
#include <fcntl.h>
#include <setjmp.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/archive_open.h"
#include "cli/commands.h"
#include "cli/console.h"
#include "cli/escape.h"
#include "cli/names.h"
#include "cli/textformat.h"
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
    "usage: lzhsfx l [-v] [--utc] [-q] [--names=auto|cp932|utf-8] ARCHIVE [NAME...]\n"
    "\n"
    "List the members of an LZH archive (header levels 0 to 3) or of the archive\n"
    "inside a self-extracting .exe: original and packed size, ratio, method,\n"
    "modification time, CRC-16 and name, then a total line. ARCHIVE - reads the\n"
    "archive from standard input. NAMEs are member names or shell patterns\n"
    "('docs/*'; '*' also matches '/'), matched against the UTF-8 name; a NAME\n"
    "that is a directory selects what lies in it. Control characters in names\n"
    "are shown as \\xHH, a backslash as \\\\; a name longer than 259 bytes is shown\n"
    "cut, marked [name cut].\n"
    "\n"
    "Options:\n"
    "  -v               long listing (as lzhsfx v): method, packed and original\n"
    "                   size, ratio, CRC, header level, writer's OS, MS-DOS\n"
    "                   attributes (rhsda), Unix permissions and owner/group\n"
    "  --utc            times in UTC (default: local time, as ls shows them)\n"
    "  -q               members only: no heading, no total line\n"
    "  --names=auto     how stored names are read (default auto): UTF-8 when a\n"
    "                   Unix or Macintosh writer stored valid UTF-8, or when the\n"
    "                   name is valid UTF-8 and not valid CP932; else CP932\n"
    "  --names=cp932    every name is CP932\n"
    "  --names=utf-8    every name that is valid UTF-8 is UTF-8\n"
    "\n"
    "Exit codes: 0 listed, 1 a header is broken, the archive is cut short or a\n"
    "NAME matched no member, 2 usage error or the file cannot be read.\n";

const char* const VerboseListHelp =
    "usage: lzhsfx v [--utc] [-q] [--names=auto|cp932|utf-8] ARCHIVE [NAME...]\n"
    "\n"
    "The long listing: lzhsfx l -v (see lzhsfx l --help).\n";

const char* const PrintHelp =
    "usage: lzhsfx p [-q] [--stop-on-error] [--names=auto|cp932|utf-8] ARCHIVE [NAME...]\n"
    "\n"
    "Decode members and write their contents, one after another, to standard\n"
    "output; nothing else goes there. Without NAMEs every member is written.\n"
    "NAMEs, ARCHIVE - and --names work as for lzhsfx l. Each member's CRC is\n"
    "checked once it is written; a damaged member is reported on stderr.\n"
    "\n"
    "Exit codes: 0 every member written and intact, 1 a member or header is\n"
    "bad or a NAME matched no member, 2 usage error, the file cannot be read\n"
    "or standard output cannot be written.\n";

const char* const TestHelp =
    "usage: lzhsfx t [-q] [--stop-on-error] [--names=auto|cp932|utf-8] ARCHIVE [NAME...]\n"
    "\n"
    "Decode every member of an LZH archive or self-extracting .exe without\n"
    "writing anything and check each member's CRC-16. Member names are printed\n"
    "as they are tested; one overall progress line is shown on stderr when it\n"
    "is a terminal. A damaged member is reported and testing goes on with the\n"
    "next one; the count of damaged members comes at the end. With NAMEs (names\n"
    "or shell patterns, as for lzhsfx l) only those members are reported.\n"
    "ARCHIVE - reads the archive from standard input.\n"
    "\n"
    "Options:\n"
    "  -q               no progress line\n"
    "  --stop-on-error  stop at the first damaged member\n"
    "  --names=MODE     auto (default), cp932 or utf-8: see lzhsfx l --help\n"
    "\n"
    "SIGINT, SIGTERM and SIGHUP stop testing; lzhsfx then ends by that signal.\n"
    "\n"
    "Exit codes: 0 every member is intact, 1 a member or header is bad or a\n"
    "NAME matched no member, 2 usage error or the file cannot be read.\n";

const char* const ExtractHelp =
    "usage: lzhsfx x ARCHIVE [NAME...] [-C DIR] [-y] [--overwrite=ask|always|never]\n"
    "                [--allow-unsafe-paths] [-q] [--stop-on-error]\n"
    "                [--names=auto|cp932|utf-8]\n"
    "\n"
    "Extract an LZH archive or self-extracting .exe with the same path mapping\n"
    "and name sanitising the Windows stub uses. Names are read as CP932 or\n"
    "UTF-8 (see --names) and written as UTF-8; modification times and the\n"
    "read-only attribute are restored. With NAMEs (names or shell patterns, as\n"
    "for lzhsfx l) only those members are extracted. ARCHIVE - reads the\n"
    "archive from standard input (then nothing can be asked).\n"
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
    "  --names=MODE          auto (default), cp932 or utf-8: see lzhsfx l --help\n"
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
    "Exit codes: 0 everything extracted, 1 a member or header was bad, a NAME\n"
    "matched no member, a member was refused, the confirmation was declined or\n"
    "the overwrite question was cancelled, 2 usage error or a file or\n"
    "directory could not be opened, made, read, written or closed (the message\n"
    "gives the system's reason).\n";

namespace {

constexpr double PercentScale = 100.0;
constexpr size_t TimeTextSize = 32;

// What l, t, p and x take beside the archive.
enum : unsigned {
  TakesQuiet = 1,        // -q
  TakesStopOnError = 2,  // --stop-on-error
  TakesListing = 4,      // -v, --utc
};

struct ReadOptions {
  bool quiet = false;        // -q: no progress line (l: no heading or totals)
  bool stopOnError = false;  // --stop-on-error: the first failed member ends the run
  bool verbose = false;      // l -v: the long listing
  bool utc = false;          // l --utc: times in UTC rather than local time
  NameEncoding names = NameEncoding::Auto;
  std::vector<std::string> patterns;  // members to work on; none: all
};

// Takes one option every reading command shares or that `takes` allows;
// false when a is none of them.
bool TakeReadOption(const std::string& a, unsigned takes, ReadOptions& options, const char* help,
                    bool& bad) {
  bad = false;
  if ((takes & TakesQuiet) && a == "-q") {
    options.quiet = true;
  } else if ((takes & TakesStopOnError) && a == "--stop-on-error") {
    options.stopOnError = true;
  } else if ((takes & TakesListing) && a == "-v") {
    options.verbose = true;
  } else if ((takes & TakesListing) && a == "--utc") {
    options.utc = true;
  } else if (a.rfind("--names=", 0) == 0) {
    if (!ParseNamesOption(a.substr(std::strlen("--names=")), options.names)) {
      std::fprintf(stderr, "lzhsfx: --names takes cp932, utf-8 or auto\n\n%s", help);
      bad = true;
    }
  } else {
    return false;
  }
  return true;
}

// Parses "ARCHIVE [NAME|PATTERN...]" with the options `takes` allows; prints
// the usage and returns false otherwise. "-" names standard input.
bool ArchiveArguments(const Args& args, const char* help, std::string& archive, unsigned takes,
                      ReadOptions& options) {
  bool endOfOptions = false;
  for (const auto& a : args) {
    bool bad = false;
    if (!endOfOptions && a == "--") {
      endOfOptions = true;
    } else if (!endOfOptions && TakeReadOption(a, takes, options, help, bad)) {
      if (bad) return false;
    } else if (!endOfOptions && a.size() > 1 && a[0] == '-') {
      std::fprintf(stderr, "lzhsfx: unknown option '%s'\n\n%s", Escaped(a).c_str(), help);
      return false;
    } else if (archive.empty()) {
      archive = a;
    } else {
      options.patterns.push_back(a);
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
    if (stop || Console.cancelled || mode == ScanMode || next >= Work->archiveSize) break;
    Work->config.archiveOffset = (uint32_t)next;
  }
  PlatformUtf8Paths = 0;
  Work->config.archiveOffset = start;
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

// Why t or x ended without success, in one line, and the exit code.
int ReportFailures(const char* verb) {
  if (InterruptSignal != 0) return ExitBadArchive;  // main ends by the signal
  if (Console.failedMembers > 0)
    std::fprintf(stderr, "lzhsfx: %u of %u member%s failed to %s\n", Console.failedMembers,
                 Console.membersStarted, Console.membersStarted == 1 ? "" : "s", verb);
  return FailureExitCode();
}

// A member's time as ls --full-time shows it: local time unless utc.
std::string TimeText(uint32_t seconds, bool utc) {
  time_t t = (time_t)seconds;
  struct tm parts {};
  char text[TimeTextSize];
  if ((utc ? gmtime_r(&t, &parts) : localtime_r(&t, &parts)) == nullptr ||
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

// Standard input copied to a file, since the walk seeks. The file is
// unlinked as soon as it is made, so no exit or signal can leave it behind;
// the descriptor kept here is what the engine reads, as /proc/self/fd/N.
// "" with a message when it cannot be made.
std::string SpoolStandardInput() {
  const char* dir = std::getenv("TMPDIR");
  std::string path = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/lzhsfx-stdin-XXXXXX";
  int fd = mkostemp(path.data(), O_CLOEXEC);
  if (fd < 0) {
    std::fprintf(stderr, "lzhsfx: cannot spool standard input: %s\n", std::strerror(errno));
    return "";
  }
  unlink(path.c_str());
  static char buffer[1 << 16];
  for (;;) {
    ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR && InterruptSignal == 0) continue;
    if (n < 0) {
      std::fprintf(stderr, "lzhsfx: cannot read standard input: %s\n", std::strerror(errno));
      close(fd);
      return "";
    }
    if (n == 0) break;
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
  int rc = OpenArchiveSource(path, source);
  if (rc == ExitOk) {
    if (archive == "-") source.path = "(standard input)";
    rc = PrepareWorkArea(source);
  }
  return rc;
}

// The writer's system, from the header's OS id.
std::string OsText(uint8_t id) {
  static const struct {
    uint8_t id;
    const char* name;
  } Systems[] = {{OsIdMsdos, "MS-DOS"}, {OsIdUnix, "Unix"},  {OsIdWindows, "Win32"},
                 {'w', "Win95"},        {'m', "Mac"},        {'2', "OS/2"},
                 {'9', "OS-9"},         {'K', "OS/68K"},     {'3', "OS/386"},
                 {'H', "Human"},        {'C', "CP/M"},       {'F', "FLEX"},
                 {'R', "Runser"},       {'T', "TownsOS"},    {'X', "XOSK"},
                 {'J', "Java"},         {0, "generic"}};
  for (const auto& s : Systems)
    if (s.id == id) return s.name;
  return Format(id >= 0x20 && id < 0x7F ? "'%c'" : "0x%02X", id);
}

// The MS-DOS attribute byte as letters: read-only, hidden, system, directory, archive.
std::string DosAttributeText(uint8_t attributes) {
  static const struct {
    uint8_t bit;
    char letter;
  } Bits[] = {{0x01, 'r'}, {0x02, 'h'}, {0x04, 's'}, {0x10, 'd'}, {0x20, 'a'}};
  std::string text;
  for (const auto& b : Bits) text += (attributes & b.bit) ? b.letter : '-';
  return text;
}

// Unix permissions as ls shows them, or "-" when the header has none.
std::string UnixModeText() {
  if (!Work->hasUnixMode) return "-";
  uint16_t mode = Work->unixMode;
  char type = S_ISDIR(mode) ? 'd' : S_ISLNK(mode) ? 'l' : '-';
  std::string text(1, type);
  const char* letters = "rwxrwxrwx";
  for (int i = 0; i < 9; ++i) text += (mode & (0400 >> i)) ? letters[i] : '-';
  return text;
}

std::string UnixOwnerText() {
  if (!Work->hasUnixIds && Work->unixUser[0] == '\0' && Work->unixGroup[0] == '\0') return "-";
  std::string user = Work->unixUser[0] != '\0' ? Escaped(Work->unixUser)
                                                : std::to_string(Work->unixUid);
  std::string group = Work->unixGroup[0] != '\0' ? Escaped(Work->unixGroup)
                                                  : std::to_string(Work->unixGid);
  return user + "/" + group;
}

// Lists what the member walk yields, so l shows the members that t, x and
// the stub read, and stops where they stop.
int ListMembers(const ReadOptions& options) {
  if (!OpenArchiveRun()) {
    CloseArchiveRun();
    ReportEngineMessage(MsgOpenError, Work->archivePath);
    return ExitUsage;
  }
  const char* when = options.utc ? "Modified (UTC)" : "Modified";
  const char* rule =
      options.verbose
          ? "------ ---------- ---------- ------ ---- -- ------- ----- ---------- "
            "--------------- ------------------- --------------------"
          : "---------- ---------- ------ ----- ------------------- ---- --------------------";
  if (!options.quiet) {
    if (options.verbose)
      std::printf("Method     Packed   Original  Ratio CRC  Lv OS      Attr  Mode       "
                  "Owner           %-19s Name\n%s\n", when, rule);
    else
      std::printf("  Original     Packed  Ratio Method %-19s CRC  Name\n%s\n", when, rule);
  }
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
    if (!MemberSelected()) continue;
    uint32_t packed = MemberCompressedSize();
    uint32_t original = MemberOriginalSize();
    char method = MemberMethod();
    std::string name = MemberListedName();
    std::string stamp = TimeText(MemberStampUtc(), options.utc);
    // The whole id as stored: the host reads methods beyond "-lh?-" (-lz5-,
    // -lzs-, ...) and marks some members for itself in the header.
    const char* id = Work->storedMethod;
    if (options.verbose)
      std::printf("%.5s  %10u %10u %6s %04X %2u %-7s %-5s %-10s %-15s %s %s\n", id, packed,
                  original, RatioText(packed, original).c_str(), MemberDataCrc(),
                  Work->headerLevel, OsText(Work->header[HdrOsId]).c_str(),
                  DosAttributeText(Work->header[HdrDosAttribute]).c_str(), UnixModeText().c_str(),
                  UnixOwnerText().c_str(), stamp.c_str(), name.c_str());
    else
      std::printf("%10u %10u %6s %.5s %s %04X %s\n", original, packed,
                  RatioText(packed, original).c_str(), id, stamp.c_str(), MemberDataCrc(),
                  name.c_str());
    if (method == MethodDirectory)
      ++directories;
    else
      ++files;
    totalOriginal += original;
    totalPacked += packed;
  }
  CloseArchiveRun();
  if (!options.quiet)
    std::printf("%s\n%10llu %10llu %6s %u file%s, %u director%s\n", rule,
                (unsigned long long)totalOriginal, (unsigned long long)totalPacked,
                RatioText(totalPacked, totalOriginal).c_str(), files, files == 1 ? "" : "s",
                directories, directories == 1 ? "y" : "ies");
  if (rc == ExitOk && !EveryPatternMatched()) rc = ExitBadArchive;
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
    bool bad = false;
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
    } else if (!endOfOptions &&
               TakeReadOption(a, TakesQuiet | TakesStopOnError, options.read, ExtractHelp, bad)) {
      if (bad) return false;
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
      options.read.patterns.push_back(a);
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
  ReadOptions options;
  if (!ArchiveArguments(args, ListHelp, archive, TakesQuiet | TakesListing, options))
    return ExitUsage;
  CatchInterrupts(InterruptStyle::End);
  ArchiveSource source;
  int rc = OpenForEngine(archive, source, options);
  if (rc == ExitOk) rc = ListMembers(options);
  CloseArchiveSource(source);
  return rc;
}

int CmdVerboseList(const Args& args) {
  Args withV = args;
  withV.insert(withV.begin(), "-v");
  return CmdList(withV);
}

int CmdPrint(const Args& args) {
  std::string archive;
  ReadOptions options;
  if (!ArchiveArguments(args, PrintHelp, archive, TakesQuiet | TakesStopOnError, options))
    return ExitUsage;
  ArchiveSource source;
  int rc = OpenForEngine(archive, source, options);
  if (rc != ExitOk) return rc;
  // The members go out through the discarding sink, switched to stdout for
  // each member asked for; what stdio holds must go first.
  Console.mode = ConsoleMode::Print;
  InstallCancelHandler();
  std::fflush(stdout);
  int ok = RunMembers(TestMode, options.stopOnError);
  PlatformDiscardTo = -1;
  CloseArchiveSource(source);
  bool matched = EveryPatternMatched();
  if (!ok) return ReportFailures("print");
  return matched ? ExitOk : ExitBadArchive;
}

int CmdTest(const Args& args) {
  std::string archive;
  ReadOptions options;
  if (!ArchiveArguments(args, TestHelp, archive, TakesQuiet | TakesStopOnError, options))
    return ExitUsage;
  ArchiveSource source;
  int rc = OpenForEngine(archive, source, options);
  if (rc != ExitOk) return rc;
  Console.mode = ConsoleMode::Test;
  InstallCancelHandler();
  StartProgress(options.quiet ? 0 : TotalMemberBytes(), !options.quiet);
  int ok = RunMembers(TestMode, options.stopOnError);
  StopProgress();
  CloseArchiveSource(source);
  bool matched = EveryPatternMatched();
  if (!ok) return ReportFailures("test");
  if (!matched) return ExitBadArchive;
  std::printf("lzhsfx: %u member%s tested, all intact\n", Console.membersStarted,
              Console.membersStarted == 1 ? "" : "s");
  return ExitOk;
}

int CmdExtract(const Args& args) {
  ExtractOptions options;
  if (!ParseExtractOptions(args, options)) return ExitUsage;
  ArchiveSource source;
  int rc = OpenForEngine(options.archive, source, options.read);
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
  bool matched = EveryPatternMatched();
  if (!ok || Console.refusedMembers > 0) {
    if (Console.refusedMembers > 0)
      std::fprintf(stderr, "lzhsfx: %u member%s refused\n", Console.refusedMembers,
                   Console.refusedMembers == 1 ? "" : "s");
    return ReportFailures("extract");
  }
  return matched ? ExitOk : ExitBadArchive;
}
