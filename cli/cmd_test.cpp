// lzhsfx t and p: decode members through the same engine the stub runs,
// t to check every CRC, p to send the contents to standard output.
#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "cli/console.h"
#include "cli/progress.h"
#include "cli/reading.h"
#include "cli/signals.h"
#include "platform/posix_host.h"

const CommandDef PrintCommand = {
    "p",
    "ARCHIVE [NAME...]",
    "write members' contents to standard output",
    {&QuietOption, &StopOnErrorOption, &NamesOption},
    "Decode members and write their contents, one after another, to standard\n"
    "output; nothing else goes there. Without NAMEs every member is written.\n"
    "NAMEs, ARCHIVE - and --names work as for lzhsfx l. Each member's CRC is\n"
    "checked once it is written; a damaged member is reported on stderr.\n",
    "Exit codes: 0 every member written and intact, 1 a member or header is\n"
    "bad, a member header follows the end marker or a NAME matched no member,\n"
    "2 usage error, the file cannot be read or standard output cannot be\n"
    "written (the first failed write ends p; a closed pipe ends it quietly,\n"
    "by SIGPIPE).\n",
};

const CommandDef TestCommand = {
    "t",
    "ARCHIVE [NAME...]",
    "decode members and check their CRCs",
    {&QuietOption, &StopOnErrorOption, &NamesOption},
    "Decode every member of an LZH archive or self-extracting .exe without\n"
    "writing anything and check each member's CRC-16. Member names are printed\n"
    "as they are tested; one overall progress line is shown on stderr when it\n"
    "is a terminal. A damaged member is reported and testing goes on with the\n"
    "next one; the count of damaged members comes at the end. With NAMEs (names\n"
    "or shell patterns, as for lzhsfx l) only those members are reported.\n"
    "ARCHIVE - reads the archive from standard input.\n",
    "SIGINT, SIGTERM and SIGHUP stop testing; lzhsfx then ends by that signal.\n"
    "\n"
    "Exit codes: 0 every member is intact, 1 a member or header is bad, a\n"
    "member header follows the end marker or a NAME matched no member, 2\n"
    "usage error or the file cannot be read.\n",
};

namespace {

// Decodes the members into the discarding sink: t checks them with the
// overall progress line, p sends those asked for to stdout instead.
int DecodeMembers(const CommandDef& command, const Args& args, ConsoleMode mode) {
  ParsedArgs parsed;
  ReadOptions options;
  ArchiveSource source;
  if (int rc = OpenFromArguments(command, args, parsed, options, source)) return rc;
  Console.mode = mode;
  InstallCancelHandler();
  bool printing = mode == ConsoleMode::Print;
  // p switches the sink to stdout for each member asked for; what stdio
  // holds must go first.
  if (printing)
    std::fflush(stdout);
  else
    StartProgress(options.quiet ? 0 : TotalMemberBytes(), !options.quiet);
  int ok = RunMembers(TestMode, options.stopOnError);
  PlatformDiscardTo = -1;
  StopProgress();
  // A closed pipe ends p quietly, by SIGPIPE, as it ends other filters.
  if (Console.printClosed) InterruptSignal = SIGPIPE;
  bool whole = InterruptSignal != 0 || NothingAfterEnd();
  CloseArchiveSource(source);
  bool matched = EveryPatternMatched();
  if (!ok) return ReportFailures(printing ? "print" : "test");
  if (!matched || !whole) return ExitBadArchive;
  if (!printing)
    std::printf("lzhsfx: %u member%s tested, all intact\n", Console.membersStarted,
                Console.membersStarted == 1 ? "" : "s");
  return ExitOk;
}

}  // namespace

int CmdPrint(const Args& args) { return DecodeMembers(PrintCommand, args, ConsoleMode::Print); }

int CmdTest(const Args& args) { return DecodeMembers(TestCommand, args, ConsoleMode::Test); }
