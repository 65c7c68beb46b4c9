// What t, p and x decide about each member: whether it is one they were
// asked about and what becomes of its faults; for x also the path policy
// (platform/pathpolicy: a root or drive prefix is taken off with a note, a
// name that still leaves the destination or aims at a Windows folder is
// refused, unless the user allowed it), the file's path, which is the name
// as stored, in UTF-8, whatever the file system (no short names and no
// Windows characters replaced: a name this file system cannot take, or one
// that lands on a file this run wrote, is refused, never cut or written
// over), and the header's facts in the form the platform applies. The
// reporter (cli/report.cpp) only tells what happened.
#include "cli/member.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/text.h"
#include "cli/console.h"
#include "cli/escape.h"
#include "cli/names.h"
#include "core/workarea.h"
#include "extract/admission.h"
#include "extract/header.h"
#include "platform/hostfiles.h"
#include "platform/pathpolicy.h"
#include "platform/posix_host.h"

namespace {

constexpr uint16_t OwnerWrite = 0200;
constexpr uint16_t PermissionBits = 07777;

// The path x writes the member in hand to (UTF-8), made when it is accepted.
std::string OutputPath;

// A directory entry's stored facts, applied after the run.
struct DirectoryFacts {
  std::string path;
  int mode;
  int64_t time;
};
std::vector<DirectoryFacts> Directories;

void Refuse(const std::string& line) {
  ++Console.refusedMembers;
  ClearProgress();
  std::fflush(stdout);
  std::fprintf(stderr, "lzhsfx: refusing member %s\n", line.c_str());
}

// What the header says of the file beyond its data, in the form the
// platform applies at the commit: the time to the second, the Unix
// permissions, a link's target; and the read-only attribute (the driver sets
// it after the commit) made to agree with the permissions the file gets.
void PrepareMemberFile() {
  static std::string linkTarget;
  linkTarget = Work->isLink ? LinkTargetText() : "";
  PlatformOutputLink = Work->isLink ? linkTarget.c_str() : nullptr;
  PlatformOutputTime = MemberUnixTime();
  PlatformOutputMode = Work->hasUnixMode ? Work->unixMode & PermissionBits : -1;
  if (Work->hasUnixMode) {
    if (Work->unixMode & ~CurrentUmask() & OwnerWrite)
      Work->attributes &= (uint16_t)~AttrReadOnly;
    else
      Work->attributes |= AttrReadOnly;
  }
}

// The folder a name opening with %WinDir% or %SystemDir% is placed in (only
// with --allow-unsafe-paths), as the engine places it: the rest of the name
// follows the folder's path directly.
std::string FolderPath(const char* folder) {
  char path[OutputPathSize];
  if (folder == SystemDirPrefix)
    PlatformGetSystemDirectory(path, OutputPathSize);
  else
    PlatformGetWindowsDirectory(path, OutputPathSize);
  return path;
}

// The path of the member in hand from its UTF-8 name, into OutputPath;
// false after refusing it: a path too long for the engine to carry, a
// component longer than this file system takes, or the place of a file
// this run has written already (whatever the file system takes for the
// same name: another letter case, say).
bool TakeOutputPath(const std::string& text, const std::string& shown) {
  PathJudgement judged = JudgeMemberName(text, NameBytes::Utf8);
  OutputPath = judged.folder != nullptr ? FolderPath(judged.folder) + text.substr(std::strlen(judged.folder))
                                        : text;
  if (OutputPath.empty()) OutputPath = ".";
  if (OutputPath.size() >= OutputPathSize) {
    Refuse("'" + shown + "': its path takes " + std::to_string(OutputPath.size()) +
           " bytes in UTF-8, more than " + std::to_string(OutputPathSize - 1) + " can be written");
    return false;
  }
  uint32_t limit = PlatformMaxComponentLength(nullptr);
  for (size_t start = 0; start <= text.size();) {
    size_t end = std::min(text.find('/', start), text.size());
    if (limit != 0 && end - start > limit) {
      Refuse("'" + shown + "': its part '" + Escaped(text.substr(start, end - start)) + "' is " +
             std::to_string(end - start) + " bytes long, and this file system takes names of at most " +
             std::to_string(limit));
      return false;
    }
    start = end + 1;
  }
  if (PlatformOutputWritten(OutputPath.c_str())) {
    Refuse("'" + shown + "': it would be written over '" + Escaped(OutputPath) +
           "', which an earlier member of this archive was written to");
    return false;
  }
  return true;
}

}  // namespace

int64_t MemberUnixTime() {
  int64_t local;
  if (Work->timeIsLocal && PlatformLocalDosTimeToUnix(Work->dosDateTime, &local)) return local;
  return MemberTimeStamp();
}

bool MemberStarting() {
  // x has passed over the members not asked for already (AcceptMemberPath).
  bool selected = Console.mode == ConsoleMode::Extract || MemberSelected();
  if (Console.mode == ConsoleMode::Print) PlatformDiscardTo = selected ? STDOUT_FILENO : -1;
  if (selected) Work->continueAfterFault = Console.stopOnError ? 0 : 1;
  return selected;
}

bool MemberFaultPassedOver() {
  if (!SelectionActive() || Console.mode == ConsoleMode::Other || Work == nullptr ||
      Work->header == nullptr || MemberSelected())
    return false;
  PlatformLastError = 0;
  Console.faultPassedOver = true;
  Work->continueAfterFault = 1;
  return true;
}

int AcceptMemberPath() {
  // Members the command was not asked about are passed over silently; the
  // command judges success by what it reported, not by the engine's flag.
  if (!MemberSelected()) return 0;
  PrepareMemberPath();
  PrepareMemberFile();
  std::string originalText = MemberNameText();
  std::string original = Escaped(originalText);
  // A name cut to what memberName holds would be written under another name.
  if (Work->nameCut) {
    Refuse("'" + original + "...': its name is longer than " + std::to_string(MemberNameSize - 1) +
           " bytes, so it cannot be written under its own name");
    return 0;
  }
  size_t removed = Console.allowUnsafePaths ? 0 : RootPrefixLength(Work->memberName);
  if (removed > 0) {
    std::string rest = Work->memberName + removed;
    std::memcpy(Work->memberName, rest.c_str(), rest.size() + 1);
    MemberNameStripped(removed);
  }
  std::string text = MemberNameText();
  bool isDirectory = MemberMethod() == MethodDirectory;
  if (!Console.allowUnsafePaths) {
    // A directory entry that named only a root is the destination itself; a
    // file so named has nowhere inside it to go.
    bool nothingLeft = removed > 0 && text.empty();
    if (nothingLeft && isDirectory) {
      OutputPath = ".";
      return 1;
    }
    PathJudgement judged = JudgeMemberName(text, NameBytes::Utf8);
    if (nothingLeft || judged.verdict != PathVerdict::Inside || judged.folder != nullptr) {
      Refuse("'" + original + "': it would be written outside the destination (use --allow-unsafe-paths)");
      return 0;
    }
  }
  if (!TakeOutputPath(text, original)) return 0;
  if (removed > 0) {
    ClearProgress();
    std::fflush(stdout);
    std::fprintf(stderr, "lzhsfx: note: '%s': leading '%s' removed, extracting inside the destination\n",
                 original.c_str(), Escaped(originalText.substr(0, removed)).c_str());
  }
  if (isDirectory && OutputPath != ".")
    Directories.push_back({OutputPath, Work->hasUnixMode ? Work->unixMode & PermissionBits : -1,
                           MemberUnixTime()});
  return 1;
}

int IsMessageMember() {
  return Console.messageMember && TextLength(Work->memberName) == 1 &&
         Work->memberName[0] == MessageMemberName[0];
}

void FinishOutputPath() { std::memcpy(Work->outputPath, OutputPath.c_str(), OutputPath.size() + 1); }

void ApplyDirectoryFacts() {
  // Deeper paths have more separators; a folder comes after its contents.
  std::stable_sort(Directories.begin(), Directories.end(), [](const DirectoryFacts& a, const DirectoryFacts& b) {
    return std::count(a.path.begin(), a.path.end(), '/') > std::count(b.path.begin(), b.path.end(), '/');
  });
  PlatformUtf8Paths = 1;
  // A folder that cannot take its facts keeps those it has, as a file does.
  for (const DirectoryFacts& d : Directories) (void)PlatformSetDirectoryFacts(d.path.c_str(), d.mode, d.time);
  PlatformUtf8Paths = 0;
  Directories.clear();
}
