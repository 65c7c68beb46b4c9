// lzhsfx x: extract an LZH archive or the archive inside a self-extracting
// program through the same engine the stub runs. Extraction never runs the
// archive's command and, unless told otherwise, never writes outside the
// destination directory (cli/member.cpp decides each member).
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "cli/commands.h"
#include "cli/console.h"
#include "cli/escape.h"
#include "cli/progress.h"
#include "cli/reading.h"
#include "cli/signals.h"
#include "core/workarea.h"
#include "platform/posix_host.h"

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
