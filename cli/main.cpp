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

const char* const MainHelp =
    "usage: lzhsfx COMMAND [options]\n"
    "       lzhsfx --version\n"
    "\n"
    "Commands:\n"
    "  l ARCHIVE [NAME...] [-v] [--utc] [-q]\n"
    "                               list the members of an .lzh or self-extracting .exe\n"
    "  v ARCHIVE [NAME...]          the long listing (l -v): method, sizes, CRC,\n"
    "                               level, OS, attributes, Unix mode and owner\n"
    "  t ARCHIVE [NAME...] [-q] [--stop-on-error]\n"
    "                               decode members and check their CRCs\n"
    "  x ARCHIVE [NAME...] [-C DIR] [-y] [--overwrite=ask|always|never]\n"
    "            [--allow-unsafe-paths] [-q] [--stop-on-error]\n"
    "                               extract the members under DIR (default: .)\n"
    "  p ARCHIVE [NAME...]          write members' contents to standard output\n"
    "  a ARCHIVE PATH... [-m lh0|lh5|lh6|lh7] [-9] [-q]\n"
    "                               add files to an archive (created if missing),\n"
    "                               replacing members of the same name\n"
    "  d ARCHIVE NAME...            delete members from an archive\n"
    "  create OUT.exe PATH...|--from-lzh ARCHIVE.lzh [options]\n"
    "                               build a self-extracting file for Windows\n"
    "  info FILE.exe                show the configuration of a self-extracting file\n"
    "\n"
    "Run \"lzhsfx COMMAND --help\" for the options of a command.\n"
    "NAMEs are member names or shell patterns ('docs/*'). ARCHIVE - is standard\n"
    "input. l, v, t, x and p take --names=auto|cp932|utf-8: stored names are\n"
    "CP932, or UTF-8 when a Unix or Macintosh writer stored valid UTF-8 or the\n"
    "name is valid UTF-8 but not valid CP932 (auto, the default).\n"
    "Names are shown with control characters as \\xHH. SIGINT, SIGTERM and\n"
    "SIGHUP remove what a command was writing; it then ends by that signal.\n"
    "Exit codes: 0 success, 1 bad archive or member, 2 usage or I/O error.\n";

struct Command {
  const char* name;
  int (*run)(const Args&);
  const char* const* help;
};

const Command Commands[] = {
    {"l", CmdList, &ListHelp},        {"t", CmdTest, &TestHelp},
    {"x", CmdExtract, &ExtractHelp},  {"p", CmdPrint, &PrintHelp},
    {"v", CmdVerboseList, &VerboseListHelp}, {"a", CmdAdd, &AddHelp},
    {"d", CmdDelete, &DeleteHelp},
    {"create", CmdCreate, &CreateHelp}, {"info", CmdInfo, &InfoHelp},
};

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
    std::fputs(MainHelp, stderr);
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
        if (args[0] == c.name) {
          std::fputs(*c.help, stdout);
          return CheckStdout(ExitOk);
        }
    std::fputs(MainHelp, stdout);
    return CheckStdout(ExitOk);
  }
  for (const auto& c : Commands) {
    if (name != c.name) continue;
    if (WantsHelp(args)) {
      std::fputs(*c.help, stdout);
      return CheckStdout(ExitOk);
    }
    int rc = c.run(args);
    StopProgress();
    if (InterruptSignal != 0) EndByInterrupt();
    return CheckStdout(rc);
  }
  std::fprintf(stderr, "lzhsfx: unknown command '%s'\n\n%s", Escaped(name).c_str(), MainHelp);
  return ExitUsage;
}
