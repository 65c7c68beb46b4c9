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
#include "cli/member.h"
#include "cli/progress.h"
#include "cli/reading.h"
#include "cli/signals.h"
#include "core/workarea.h"
#include "platform/posix_host.h"

namespace {

const OptionDef DirectoryOption = Valued("-C", "DIR",
    "extract under DIR (created if missing; default .)");
const OptionDef YesOption = Flag("-y",
    "answer yes to every question: the archive's own\n"
    "confirmation text and replacing existing files");

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

const CommandDef ExtractCommand = {
    "x",
    "ARCHIVE [NAME...]",
    "extract the members (under -C DIR, default .)",
    {&DirectoryOption, &YesOption, &OverwriteOption, &AllowUnsafeOption, &QuietOption,
     &StopOnErrorOption, &NamesOption},
    "Extract an LZH archive or self-extracting .exe. Names are read as CP932\n"
    "or UTF-8 (see --names) and written as stored, in UTF-8, whatever the file\n"
    "system: a name part longer than it takes, or a member landing on a file\n"
    "an earlier member of this run was written to, is refused, never cut or\n"
    "written over. Times are restored to the second, Unix permissions under\n"
    "the umask (a folder's after its contents), and the read-only attribute.\n"
    "With NAMEs (names or shell patterns, as for lzhsfx l) only those members\n"
    "are extracted. ARCHIVE - reads the archive from standard input (then\n"
    "nothing can be asked).\n"
    "Each member's path is printed as it starts (control characters as \\xHH);\n"
    "one overall progress line is shown on stderr when it is a terminal. Each\n"
    "member is written beside its destination and takes its place only when\n"
    "its CRC is right, so a damaged member never replaces a file. A damaged\n"
    "member, a file or directory that cannot be made, is reported and\n"
    "extraction goes on with the next member. A member whose name is longer\n"
    "than 259 bytes is refused. The command an archive asks to run afterwards\n"
    "is never run.\n",
    "A leading '/' or '\\' and a drive prefix such as C: are removed from a\n"
    "member's name, with a note, and the member is extracted inside DIR. A\n"
    "member that would still leave DIR (a '..' component, or one of dots and\n"
    "spaces only) or that names %WinDir% or %SystemDir% is refused with a\n"
    "message and nothing is written for it, unless --allow-unsafe-paths is\n"
    "given.\n"
    "\n"
    "When a self-extracting file starts with a confirmation text (a member\n"
    "named !) it is printed and must be answered y (or -y given); with no\n"
    "terminal it counts as No. In a plain archive ! is a file like any other.\n"
    "\n"
    "SIGINT, SIGTERM and SIGHUP stop extraction: the member being written is\n"
    "removed and lzhsfx ends by that signal.\n"
    "\n"
    "Exit codes: 0 everything extracted, 1 a member or header was bad, a member\n"
    "header follows the end marker, a NAME matched no member, a member was\n"
    "refused, the confirmation was declined or the overwrite question was\n"
    "cancelled, 2 usage error or a file or\n"
    "directory could not be opened, made, read, written or closed (the message\n"
    "gives the system's reason).\n",
};

int CmdExtract(const Args& args) {
  ParsedArgs parsed;
  std::string archive;
  ReadOptions read;
  OverwritePolicy overwrite;
  if (!ReadArguments(ExtractCommand, args, parsed, archive, read) ||
      !ParseOverwrite(ExtractCommand, parsed, overwrite))
    return ExitUsage;
  // An empty -C "" means the current directory, the default.
  std::string directory = parsed.Value(DirectoryOption);
  if (directory.empty()) directory = ".";
  ArchiveSource source;
  int rc = OpenForEngine(archive, source, read);
  if (rc != ExitOk) return rc;
  if (!EnterDestination(directory)) return ExitUsage;
  // The current directory stays put from here on and nothing removes
  // directories, so the walks to member directories can be kept.
  PlatformKeepDirectories(1);

  // The host never starts the archive's command; blanking it keeps the
  // driver from handing it to the platform at all.
  std::string command = ConfigText(Work->config.command, CommandSize);
  std::memset(Work->config.command, 0, CommandSize);
  Work->config.restoreAttributes = 1;
  Work->destDir[0] = '\0';
  OverwriteSilently = overwrite == OverwritePolicy::Always ? 1 : 0;
  Console.mode = ConsoleMode::Extract;
  Console.assumeYes = parsed.Has(YesOption);
  Console.overwrite = overwrite;
  Console.allowUnsafePaths = parsed.Has(AllowUnsafeOption);
  // The host names a directory entry it could not make.
  Work->checkDirectories = 1;
  InstallCancelHandler();

  // The scan asks the archive's own question, as the stub does before its dialog.
  int ok = RunMembers(ScanMode, true);
  if (ok) {
    StartProgress(read.quiet ? 0 : TotalMemberBytes(), !read.quiet);
    ok = RunMembers(ExtractMode, read.stopOnError);
  }
  PlatformKeepDirectories(0);
  ApplyDirectoryFacts();
  StopProgress();
  bool whole = InterruptSignal != 0 || Console.messageDeclined || NothingAfterEnd();
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
  return matched && whole ? ExitOk : ExitBadArchive;
}
