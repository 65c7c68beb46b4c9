// lzhsfx: builds self-extracting LZH files and lists, tests and extracts LZH
// archives and self-extracting files on the host.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/commands.h"
#include "cli/escape.h"
#include "cli/progress.h"
#include "cli/signals.h"

namespace {

struct Command {
  const CommandDef* def;
  int (*run)(const Args&);
};

const Command Commands[] = {
    {&ListCommand, CmdList},     {&VerboseListCommand, CmdVerboseList},
    {&TestCommand, CmdTest},     {&ExtractCommand, CmdExtract},
    {&PrintCommand, CmdPrint},   {&AddCommand, CmdAdd},
    {&DeleteCommand, CmdDelete}, {&CreateCommand, CmdCreate},
    {&InfoCommand, CmdInfo},
};

std::string MainHelp() {
  std::string help =
      "usage: lzhsfx COMMAND [options]\n"
      "       lzhsfx --version\n"
      "\n"
      "Commands:\n";
  for (const Command& c : Commands) help += CommandSummary(*c.def);
  help +=
      "\n"
      "Run \"lzhsfx COMMAND --help\" for the options of a command.\n"
      "NAMEs are member names or shell patterns ('docs/*'). ARCHIVE - is standard\n"
      "input. l, v, t, x and p take --names=auto|cp932|utf-8: stored names are\n"
      "CP932, or UTF-8 when a Unix or Macintosh writer stored valid UTF-8 or the\n"
      "name is valid UTF-8 but not valid CP932 (auto, the default).\n"
      "Names are shown with control characters as \\xHH. SIGINT, SIGTERM and\n"
      "SIGHUP remove what a command was writing; it then ends by that signal.\n"
      "Exit codes: 0 success, 1 bad archive or member, 2 usage or I/O error.\n";
  return help;
}

// Everything written to stdout must have arrived: a listing cut short by a
// full disk or a closed file is an I/O failure, not a success.
int CheckStdout(int rc) {
  errno = 0;
  bool failed = std::fflush(stdout) != 0;
  int why = errno;
  if (!failed && !std::ferror(stdout)) return rc;
  std::fprintf(stderr, "lzhsfx: cannot write to standard output: %s\n",
               why != 0 ? std::strerror(why) : "some output was lost");
  return ExitUsage;
}

}  // namespace

bool WantsHelp(const Args& args) {
  for (const auto& a : args)
    if (a == "--help" || a == "-h") return true;
  return false;
}

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs(MainHelp().c_str(), stderr);
    return ExitUsage;
  }
  std::string name = argv[1];
  Args args(argv + 2, argv + argc);
  if (name == "--version" || name == "-V") {
    std::printf("lzhsfx %s\n", LZHSFX_VERSION);
    return CheckStdout(ExitOk);
  }
  if (name == "--help" || name == "-h" || name == "help") {
    if (!args.empty())
      for (const auto& c : Commands)
        if (args[0] == c.def->name) {
          std::fputs(CommandHelp(*c.def).c_str(), stdout);
          return CheckStdout(ExitOk);
        }
    std::fputs(MainHelp().c_str(), stdout);
    return CheckStdout(ExitOk);
  }
  for (const auto& c : Commands) {
    if (name != c.def->name) continue;
    if (WantsHelp(args)) {
      std::fputs(CommandHelp(*c.def).c_str(), stdout);
      return CheckStdout(ExitOk);
    }
    int rc = c.run(args);
    StopProgress();
    if (InterruptSignal != 0) EndByInterrupt();
    return CheckStdout(rc);
  }
  std::fprintf(stderr, "lzhsfx: unknown command '%s'\n\n%s", Escaped(name).c_str(),
               MainHelp().c_str());
  return ExitUsage;
}
