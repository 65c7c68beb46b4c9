// What t, p and x decide about each member: whether it is one they were
// asked about and what becomes of its faults; for x also the name in the
// form the host's file system takes (cli/names), the header's facts in the
// form the driver applies, and the path policy (platform/pathpolicy): a root
// or drive prefix is taken off with a note, a name that still leaves the
// destination or aims at a Windows folder is refused, unless the user
// allowed it. The reporter (cli/report.cpp) only tells what happened.
#include "cli/member.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "base/dostime.h"
#include "base/text.h"
#include "cli/console.h"
#include "cli/escape.h"
#include "cli/names.h"
#include "core/workarea.h"
#include "extract/admission.h"
#include "extract/header.h"
#include "platform/pathpolicy.h"
#include "platform/posix_host.h"

namespace {

constexpr uint16_t OwnerWrite = 0200;

void Refuse(const std::string& line) {
  ++Console.refusedMembers;
  ClearProgress();
  std::fflush(stdout);
  std::fprintf(stderr, "lzhsfx: refusing member %s\n", line.c_str());
}

// What the header says of the file beyond its data, in the form the driver
// applies: the stamp as UTC, and the Unix permissions for the commit, with
// the read-only attribute made to agree with them (the driver sets it after
// the commit).
void PrepareMemberFile() {
  if (Work->timeIsLocal) {
    uint32_t utc = MemberStampUtc();
    for (uint32_t i = 0; i < 4; i++) Work->header[HdrTimeStamp + i] = (uint8_t)(utc >> (8 * i));
    Work->timeIsLocal = 0;
  }
  static std::string linkTarget;
  linkTarget = Work->isLink ? LinkTargetText() : "";
  PlatformOutputLink = Work->isLink ? linkTarget.c_str() : nullptr;
  PlatformOutputMode = Work->hasUnixMode ? Work->unixMode : -1;
  if (Work->hasUnixMode) {
    if (Work->unixMode & OwnerWrite)
      Work->attributes &= (uint16_t)~AttrReadOnly;
    else
      Work->attributes |= AttrReadOnly;
  }
}

}  // namespace

uint32_t MemberStampUtc() {
  uint32_t stamp = MemberTimeStamp();
  if (!Work->timeIsLocal) return stamp;
  uint32_t utc = PlatformLocalDosTimeToUnix(UnixToDosDateTime(stamp));
  return utc != 0 ? utc : stamp;
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
  // A name cut to what memberName holds would be written under another name.
  if (Work->nameCut) {
    Refuse("'" + Escaped(MemberNameText()) + "...': its name is longer than " +
           std::to_string(MemberNameSize - 1) + " bytes, so it cannot be written under its own name");
    return 0;
  }
  if (Console.allowUnsafePaths) return 1;
  std::string originalText = MemberNameText();
  std::string original = Escaped(originalText);
  size_t removed = RootPrefixLength(Work->memberName);
  if (removed > 0) {
    std::string rest = Work->memberName + removed;
    std::memcpy(Work->memberName, rest.c_str(), rest.size() + 1);
    MemberNameStripped(removed);
  }
  // A directory entry that named only a root is the destination itself; a
  // file so named has nowhere inside it to go.
  bool nothingLeft = removed > 0 && Work->memberName[0] == '\0';
  if (nothingLeft && MemberMethod() == MethodDirectory) {
    CopyText(Work->memberName, ".", MemberNameSize);
    return 1;
  }
  PathJudgement judged =
      JudgeMemberName(Work->memberName, PlatformUtf8Paths ? NameBytes::Utf8 : NameBytes::Cp932);
  if (nothingLeft || judged.verdict != PathVerdict::Inside || judged.folder != nullptr) {
    Refuse("'" + original + "': it would be written outside the destination (use --allow-unsafe-paths)");
    return 0;
  }
  if (removed > 0) {
    ClearProgress();
    std::fflush(stdout);
    std::fprintf(stderr, "lzhsfx: note: '%s': leading '%s' removed, extracting inside the destination\n",
                 original.c_str(), Escaped(originalText.substr(0, removed)).c_str());
  }
  return 1;
}

void FinishOutputPath() { RemapCarriedOutputPath(); }
