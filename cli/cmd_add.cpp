// lzhsfx a and d: add files to an archive and delete members from it, as
// lha does. The archive may be a plain .lzh or a self-extracting program of
// ours; the members kept are copied byte for byte where the engine's member
// walk finds them, a self-extracting file keeps its stub and configuration
// (the archive stays at its offset), and the result is written beside the
// target and renamed over it only when complete and, for a self-extracting
// file, checked by the same walk the stub runs.
#include <sys/stat.h>
#include <unistd.h>

#include <limits.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "base/text.h"
#include "cli/archive_check.h"
#include "cli/archive_open.h"
#include "cli/commands.h"
#include "cli/console.h"
#include "cli/escape.h"
#include "cli/files.h"
#include "cli/names.h"
#include "cli/reading.h"
#include "cli/signals.h"
#include "cli/stubfile.h"
#include "cli/textformat.h"
#include "compress/pack.h"
#include "core/workarea.h"
#include "extract/header.h"
#include "extract/walk.h"
#include "platform/cp932.h"
#include "platform/hostfiles.h"

namespace {

constexpr size_t EndMarkSize = 1;
// An end mark may be written as a whole zero size field.
constexpr uint64_t LongestEndMark = 2;

// A member of the archive being changed, as the walk found it.
struct OldMember {
  uint64_t offset = 0;   // its header
  uint64_t length = 0;   // header and data, up to the next header
  std::string name;      // as l shows it (UTF-8, '/' separated; a folder's ends in '/')
};

struct OldArchive {
  bool exists = false;
  mode_t mode = 0;
  ArchiveSource source;
  std::vector<OldMember> members;
  ~OldArchive() { CloseArchiveSource(source); }
};

int Complain(const char* command, int code, const std::string& message) {
  StopProgress();
  std::fprintf(stderr, "lzhsfx %s: %s\n", command, message.c_str());
  return code;
}

// The file to write: a symbolic link is followed, so the archive it points
// to is updated rather than the link replaced by a file.
std::string TargetOf(const std::string& path) {
  struct stat st;
  char resolved[PATH_MAX];
  if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode) && realpath(path.c_str(), resolved))
    return resolved;
  return path;
}

// Reads the members of an existing archive through the engine's walk. 0, or
// the exit code of the failure already reported. A missing file (or an empty
// one) is a new archive when allowed.
int ReadOld(const char* command, const std::string& path, bool mayBeNew, OldArchive& old) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || (S_ISREG(st.st_mode) && st.st_size == 0)) {
    if (errno == ENOENT || (errno == 0 && st.st_size == 0)) {
      if (mayBeNew) return ExitOk;
      return Complain(command, ExitUsage, "cannot open '" + Escaped(path) + "': " + std::strerror(ENOENT));
    }
    return Complain(command, ExitUsage, "cannot open '" + Escaped(path) + "': " + std::strerror(errno));
  }
  old.exists = true;
  old.mode = st.st_mode & 07777;
  // A file the user may not write is not replaced behind its back, though
  // the folder would allow a new file in its place.
  if (!MayWriteFile(path.c_str()))
    return Complain(command, ExitUsage, "cannot write '" + Escaped(path) + "': " + std::strerror(errno) +
                                            "; it is left as it is");
  errno = 0;
  if (int rc = OpenArchiveSource(path, old.source)) {
    std::fprintf(stderr, "lzhsfx %s: '%s' is left as it is\n", command, Escaped(path).c_str());
    return rc;
  }
  if (int rc = PrepareWorkArea(old.source)) return rc;
  if (!OpenArchiveRun()) {
    CloseArchiveRun();
    return Complain(command, ExitUsage, "cannot read '" + Escaped(path) + "'");
  }
  HeaderReadResult result;
  while ((result = NextMember()) == MemberReady) {
    OldMember m;
    m.offset = MemberHeaderOffset();
    m.length = Work->nextHeaderOffset - m.offset;
    m.name = MemberNameText();
    old.members.push_back(m);
  }
  uint64_t end = Work->nextHeaderOffset;
  CloseArchiveRun();
  // Members behind the end marker would be lost by the rewrite.
  std::string prefix = std::string("lzhsfx ") + command + ": ";
  if (result == EndOfArchive && WarnHeaderAfterEnd((FileOffset)end, prefix.c_str()))
    return Complain(command, ExitBadArchive, "'" + Escaped(path) + "' is left as it is");
  if (result != EndOfArchive)
    return Complain(command, ExitBadArchive,
                    Format("'%s' is damaged after its member %zu (%s); it is left as it is",
                           Escaped(path).c_str(), old.members.size(),
                           result == InvalidHeader ? "a header cannot be read"
                                                   : "a member's data runs past the end of the file"));
  // Bytes behind the end mark of a self-extracting file are most likely its
  // signature, which any change breaks; a plain archive merely loses them.
  uint64_t trailing = old.source.fileSize > end + LongestEndMark ? old.source.fileSize - end - 1 : 0;
  if (trailing > 0 && old.source.isSfx)
    return Complain(command, ExitBadArchive,
                    Format("'%s' has %llu bytes behind its archive (a signature?), which a change "
                           "would break; it is left as it is: re-create it with lzhsfx create "
                           "and sign it again", Escaped(path).c_str(), (unsigned long long)trailing));
  if (trailing > 0)
    std::fprintf(stderr, "lzhsfx %s: note: the %llu bytes behind the archive's end are dropped\n",
                 command, (unsigned long long)trailing);
  return ExitOk;
}

// Writes the stub (for a self-extracting file), the kept old members, the
// planned new ones and the end mark beside the target, checks a
// self-extracting result as the stub will read it, and puts it in place.
int Rewrite(const char* command, const std::string& path, OldArchive& old, const std::vector<bool>& keep,
            const PackPlan* plan, const PackOptions* options, bool quiet) {
  PendingFile out(TargetOf(path));
  std::string error;
  if (!out.Create(old.exists ? old.mode : NewFileMode(), error)) return Complain(command, ExitUsage, error);
  const ArchiveSource& source = old.source;
  if (source.isSfx && !CopyRange(source.fd, path, 0, source.config.archiveOffset, out, error))
    return Complain(command, ExitUsage, error);
  for (size_t i = 0; i < old.members.size(); ++i)
    if (keep[i] && !CopyRange(source.fd, path, old.members[i].offset, old.members[i].length, out, error))
      return Complain(command, ExitUsage, error);
  if (plan != nullptr) {
    StartProgress(plan->bytes, !quiet);
    ArchiveWriter writer = [&out](const uint8_t* data, size_t size, std::string& why) {
      return out.Append(data, size, why);
    };
    bool packed = PackPlanned(*plan, *options, writer, error);
    StopProgress();
    if (!packed) return Complain(command, ExitUsage, Escaped(error));
  }
  const uint8_t endMark[EndMarkSize] = {0};
  if (!out.Append(endMark, sizeof endMark, error)) return Complain(command, ExitUsage, error);
  if (source.isSfx) {
    if (out.Size() > MaxSfxFileSize)
      return Complain(command, ExitUsage,
                      Format("'%s' would be %llu bytes; the stub reads files up to %llu bytes",
                             Escaped(path).c_str(), (unsigned long long)out.Size(),
                             (unsigned long long)MaxSfxFileSize));
    if (!out.Sync(error)) return Complain(command, ExitUsage, error);
    CheckOptions check;
    check.allowUnsafe = true;  // names are the user's own; where they land is not judged here
    ArchiveReport report;
    bool sound = CheckArchive(out.Descriptor(), out.TemporaryPath(), source.config, check, report);
    for (const auto& w : report.warnings) std::fprintf(stderr, "lzhsfx %s: warning: %s\n", command, w.c_str());
    if (!sound)
      return Complain(command, ExitBadArchive,
                      "the stub could not extract the changed archive (" + report.error + "); '" +
                          Escaped(path) + "' is left as it is");
  }
  if (!out.Commit(error)) return Complain(command, ExitUsage, error);
  return ExitOk;
}

const OptionDef MethodOption = {
    "-m", OptionValue::Separate, "METHOD", "lh0|lh5|lh6|lh7",
    "lh5 (default, 8 KB window), lh6 (32 KB), lh7 (64 KB)\n"
    "or lh0 (store); members that would not shrink are\n"
    "stored"};
const OptionDef SlowOption = Flag("-9",
    "slower, smaller: choose matches by their cost in bits");
const OptionDef FollowSymlinksOption = Flag("--follow-symlinks",
    "pack what symbolic links point to (default: store\n"
    "the links as links; a self-extracting file skips\n"
    "them)");

bool ParseMethod(const std::string& text, char& method) {
  std::string m = text;
  if (m.size() == 5 && m[0] == '-' && m[4] == '-') m = m.substr(1, 3);
  if (m.size() != 3 || m.compare(0, 2, "lh") != 0) return false;
  if (m[2] != '0' && m[2] != '5' && m[2] != '6' && m[2] != '7') return false;
  method = m[2];
  return true;
}

// A name with its folder's closing '/' taken off: a path that changed from
// file to folder (or back) is still the same member.
std::string WithoutFolderMark(std::string name) {
  while (!name.empty() && name.back() == '/') name.pop_back();
  return name;
}

// A NAME given to d as l matches it: no leading "./", no trailing '/'.
std::string GivenName(std::string name) {
  while (name.rfind("./", 0) == 0) name.erase(0, 2);
  return WithoutFolderMark(name);
}

}  // namespace

const CommandDef AddCommand = {
    "a",
    "ARCHIVE PATH...",
    "add files to an archive (created if missing),\n"
    "replacing members of the same name",
    {&MethodOption, &SlowOption, &FollowSymlinksOption, &QuietOption},
    "Adds the given files and folders (folders recursively, in sorted order) to\n"
    "ARCHIVE, with level-2 headers and CP932 names, creating it if it does not\n"
    "exist. A member of the same name as lzhsfx l shows it (a folder's or a\n"
    "file's) is replaced; the other members are kept as they are, in front of\n"
    "the new ones. Files of 4 GiB and more are stored with 64-bit sizes.\n"
    "ARCHIVE may be a self-extracting file made by lzhsfx create: its program\n"
    "and settings stay, only the archive behind them changes. Member names are\n"
    "the paths as given, without a leading '/' or './', at most 259 bytes in\n"
    "CP932; a name that would leave the destination when extracted (a '..'\n"
    "part, one of dots and spaces only, a drive prefix) is refused. The\n"
    "archive is never packed into itself. The new archive replaces the old one\n"
    "only when complete; SIGINT, SIGTERM and SIGHUP remove the unfinished one.\n",
    "Exit codes: 0 written, 1 ARCHIVE exists but is no archive of ours or is\n"
    "damaged, or a member header follows its end (it is left alone), 2 usage\n"
    "or I/O error, a file that cannot be packed, nothing to pack, or an\n"
    "ARCHIVE the user may not write.\n",
};

const CommandDef DeleteCommand = {
    "d",
    "ARCHIVE NAME...",
    "delete members from an archive",
    {},
    "Deletes the members NAMEs select from ARCHIVE (a plain .lzh or a\n"
    "self-extracting file made by lzhsfx create, whose program and settings\n"
    "stay): names or shell patterns, matched as lzhsfx l shows the names. A\n"
    "NAME that is a folder deletes the folder and every member under it. The names of\n"
    "the deleted members are printed. When a NAME matches no member nothing is\n"
    "changed. The new archive replaces the old one only when complete.\n",
    "Exit codes: 0 deleted, 1 a NAME matches no member, or ARCHIVE is no\n"
    "archive of ours or is damaged (it is left alone), 2 usage or I/O error.\n",
};

int CmdAdd(const Args& args) {
  PackOptions options;
  ParsedArgs parsed;
  if (!ParseArgs(AddCommand, args, parsed)) return ExitUsage;
  if (parsed.operands.empty()) return UsageError(AddCommand, "no archive named");
  if (parsed.operands.size() < 2) return UsageError(AddCommand, "nothing to pack");
  const std::string& archivePath = parsed.operands[0];
  std::vector<std::string> paths(parsed.operands.begin() + 1, parsed.operands.end());
  if (parsed.Has(MethodOption) && !ParseMethod(parsed.Value(MethodOption), options.method))
    return UsageError(AddCommand, "unknown method '" + Escaped(parsed.Value(MethodOption)) + "'");
  if (parsed.Has(SlowOption)) options.level = 9;
  options.followSymlinks = parsed.Has(FollowSymlinksOption);
  bool quiet = parsed.Has(QuietOption);
  CatchInterrupts(InterruptStyle::End);
  std::string target = TargetOf(archivePath);
  options.excludePath = target;
  options.maxNameBytes = MemberNameSize - 1;
  size_t slash = target.rfind('/');
  options.spoolDirectory = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
  options.progress = [](uint64_t bytes) { AddProgress(bytes); };
  options.note = [](const std::string& message) {
    ClearProgress();
    std::fprintf(stderr, "lzhsfx: %s\n", Escaped(message).c_str());
  };

  OldArchive old;
  if (int rc = ReadOld("a", archivePath, true, old)) return rc;
  // The stub makes no links: a self-extracting file keeps skipping them.
  options.storeSymlinks = !old.source.isSfx;
  PackPlan plan;
  std::string error;
  if (!PlanPaths(paths, options, plan, error)) return Complain("a", ExitUsage, Escaped(error));
  if (plan.entries.empty())
    return Complain("a", ExitUsage, "nothing to pack in what was given; '" + Escaped(archivePath) +
                                        "' is " + (old.exists ? "left as it is" : "not made"));
  // Old members are matched as l shows them, so one stored in UTF-8 is
  // replaced by the same name packed from here.
  std::set<std::string> added;
  for (const PackEntry& e : plan.entries) added.insert(WithoutFolderMark(ToUtf8(e.name)));
  std::vector<bool> keep;
  for (const OldMember& m : old.members) keep.push_back(added.count(WithoutFolderMark(m.name)) == 0);
  return Rewrite("a", archivePath, old, keep, &plan, &options, quiet);
}

int CmdDelete(const Args& args) {
  ParsedArgs parsed;
  if (!ParseArgs(DeleteCommand, args, parsed)) return ExitUsage;
  if (parsed.operands.size() < 2)
    return UsageError(DeleteCommand, "give the archive and the names to delete");
  const std::string& archivePath = parsed.operands[0];
  std::vector<std::string> names(parsed.operands.begin() + 1, parsed.operands.end());
  CatchInterrupts(InterruptStyle::End);
  OldArchive old;
  if (int rc = ReadOld("d", archivePath, false, old)) return rc;
  std::vector<bool> keep(old.members.size(), true);
  bool missing = false;
  for (const std::string& given : names) {
    std::string name = GivenName(given);
    bool found = false;
    for (size_t i = 0; i < old.members.size(); ++i)
      if (!name.empty() && NameMatches(name, old.members[i].name)) keep[i] = false, found = true;
    if (!found) {
      std::fprintf(stderr, "lzhsfx d: no member named '%s' in '%s'\n", Escaped(given).c_str(),
                   Escaped(archivePath).c_str());
      missing = true;
    }
  }
  if (missing) {
    std::fprintf(stderr, "lzhsfx d: nothing deleted; '%s' is left as it is\n", Escaped(archivePath).c_str());
    return ExitBadArchive;
  }
  int rc = Rewrite("d", archivePath, old, keep, nullptr, nullptr, true);
  if (rc == ExitOk)
    for (size_t i = 0; i < old.members.size(); ++i)
      if (!keep[i]) PrintLine(Escaped(old.members[i].name));
  return rc;
}
