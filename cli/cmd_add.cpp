// lzhsfx a: packs files and folders into a new level-2 LZH archive. The
// archive is written to a temporary file beside the target and renamed over
// it only when complete, so a failed run never leaves a partial archive.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/files.h"
#include "compress/pack.h"

const char* const AddHelp =
    "usage: lzhsfx a ARCHIVE.lzh PATH... [-m lh0|lh5|lh6|lh7] [-9] [--follow-symlinks]\n"
    "\n"
    "Creates (or replaces) ARCHIVE.lzh holding the given files and folders,\n"
    "folders recursively in sorted order, with level-2 headers and CP932 names.\n"
    "Member names are the paths as given, without a leading '/' or './'.\n"
    "\n"
    "  -m METHOD          lh5 (default, 8 KB window), lh6 (32 KB), lh7 (64 KB),\n"
    "                     or lh0 (store); members that would not shrink are stored\n"
    "  -9                 slower, smaller: choose matches by their cost in bits\n"
    "  --follow-symlinks  pack what symbolic links point to (default: skip them)\n";

namespace {

int Usage(const char* message) {
  std::fprintf(stderr, "lzhsfx a: %s\n\n%s", message, AddHelp);
  return ExitUsage;
}

bool ParseMethod(const std::string& text, char& method) {
  std::string m = text;
  if (m.size() == 5 && m[0] == '-' && m[4] == '-') m = m.substr(1, 3);
  if (m.size() != 3 || m.compare(0, 2, "lh") != 0) return false;
  if (m[2] != '0' && m[2] != '5' && m[2] != '6' && m[2] != '7') return false;
  method = m[2];
  return true;
}

}  // namespace

int CmdAdd(const Args& args) {
  PackOptions options;
  std::string archivePath;
  std::vector<std::string> paths;
  bool optionsEnded = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (!optionsEnded && a == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && (a == "-m" || (a.compare(0, 2, "-m") == 0 && a.size() > 2))) {
      std::string value = a.size() > 2 ? a.substr(2) : "";
      if (value.empty()) {
        if (i + 1 >= args.size()) return Usage("-m needs a method");
        value = args[++i];
      }
      if (!ParseMethod(value, options.method)) return Usage(("unknown method '" + value + "'").c_str());
    } else if (!optionsEnded && a == "-9") {
      options.level = 9;
    } else if (!optionsEnded && a == "--follow-symlinks") {
      options.followSymlinks = true;
    } else if (!optionsEnded && a.size() > 1 && a[0] == '-') {
      return Usage(("unknown option '" + a + "'").c_str());
    } else if (archivePath.empty()) {
      archivePath = a;
    } else {
      paths.push_back(a);
    }
  }
  if (archivePath.empty()) return Usage("no archive named");
  if (paths.empty()) return Usage("nothing to pack");
  options.progress = isatty(STDERR_FILENO) != 0;
  options.excludePath = archivePath;

  std::vector<uint8_t> archive;
  std::string error;
  if (!PackPaths(paths, options, archive, error)) {
    std::fprintf(stderr, "lzhsfx a: %s\n", error.c_str());
    return ExitUsage;
  }
  if (!WriteAtomically(archivePath, archive, NewFileMode(), error)) {
    std::fprintf(stderr, "lzhsfx a: %s\n", error.c_str());
    return ExitUsage;
  }
  return ExitOk;
}
