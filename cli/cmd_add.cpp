// lzhsfx a: packs files and folders into a new level-2 LZH archive. The
// archive is written to a temporary file beside the target and renamed over
// it only when complete, so a failed run never leaves a partial archive.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/commands.h"
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

bool WriteAll(int fd, const std::vector<uint8_t>& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Writes bytes to path through a temporary file in the same folder and a
// rename, with the permissions a newly created file would get.
bool WriteAtomically(const std::string& path, const std::vector<uint8_t>& bytes, std::string& why) {
  std::string temp = path + ".XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0) return why = std::strerror(errno), false;
  const mode_t mask = umask(0);
  umask(mask);
  bool ok = fchmod(fd, 0666 & ~mask) == 0 && WriteAll(fd, bytes) && fsync(fd) == 0;
  if (!ok) why = std::strerror(errno);
  if (close(fd) != 0 && ok) ok = false, why = std::strerror(errno);
  if (ok && rename(temp.c_str(), path.c_str()) != 0) ok = false, why = std::strerror(errno);
  if (!ok) unlink(temp.c_str());
  return ok;
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
  std::string why;
  if (!WriteAtomically(archivePath, archive, why)) {
    std::fprintf(stderr, "lzhsfx a: cannot write '%s': %s\n", archivePath.c_str(), why.c_str());
    return ExitUsage;
  }
  return ExitOk;
}
