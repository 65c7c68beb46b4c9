// The publisher's check of an archive behind the stub. The engine's walk
// decides which members there are and which header ends the archive or
// breaks it; this file only explains, in the publisher's terms, what the
// stub will do with each member and why a header is refused.
#include "cli/archive_check.h"

#include <cstring>

#include "base/text.h"
#include "cli/archive_open.h"
#include "cli/escape.h"
#include "cli/files.h"
#include "cli/textformat.h"
#include "extract/header.h"
#include "extract/walk.h"
#include "platform/cp932.h"
#include "platform/pathpolicy.h"

namespace {

constexpr uint32_t MaxNameBytes = MemberNameSize - 1;

const char* const RelevelHint =
    "re-create the archive with level-2 headers (jlha: \"jlha c2o7 ARCHIVE.lzh FILES...\"), "
    "or let lzhsfx pack the files: \"lzhsfx create OUT.exe FILES...\"";
const char* const RemethodHint =
    "re-create the archive with -lh5-, -lh6- or -lh7- (jlha: \"jlha c2o7 ARCHIVE.lzh FILES...\"), "
    "or let lzhsfx pack the files: \"lzhsfx create OUT.exe FILES...\"";

// Built by appending: GCC 12 warns falsely about "\"" + std::string.
std::string Shown(const std::string& cp932Name) {
  std::string shown(1, '"');
  shown += EscapedCp932(cp932Name);
  shown += '"';
  return shown;
}

std::string Printable(const uint8_t* bytes, size_t count) {
  return Escaped(std::string_view((const char*)bytes, count));
}

// Why a name the policy judged would land outside the destination.
const char* ReasonOf(PathVerdict verdict) {
  switch (verdict) {
    case PathVerdict::Absolute: return "begins with a separator (an absolute path)";
    case PathVerdict::Drive: return "begins with a drive prefix";
    case PathVerdict::Climbs: return "has a \"..\" component";
    case PathVerdict::Inside: break;
  }
  return nullptr;
}

class Checker {
 public:
  Checker(int fd, const CheckOptions& options, ArchiveReport& report)
      : fd_(fd), options_(options), report_(report) {}

  bool Run();

 private:
  // The publisher's number of the member the walk is at.
  std::string Who(size_t walkIndex) const {
    return Format("member %zu", walkIndex - options_.ownMembers);
  }
  bool Fail(std::string error) {
    report_.error = std::move(error);
    return false;
  }
  bool CheckMember(size_t walkIndex);
  bool CheckPlacement(const MemberInfo& info, size_t walkIndex);
  void LoadMessageText(const MemberInfo& info);
  std::string WhyRefused(size_t walkIndex);
  void NoteTrailingBytes();

  int fd_;
  const CheckOptions& options_;
  ArchiveReport& report_;
};

bool Checker::CheckMember(size_t walkIndex) {
  MemberInfo info;
  info.offset = MemberHeaderOffset();
  info.headerSize = ReadLe16(Work->header + HdrSize);
  info.method = MemberMethod();
  // Read as the stub reads headers: their 32-bit fields alone.
  info.compressedSize = (uint32_t)MemberCompressedSize();
  info.originalSize = (uint32_t)MemberOriginalSize();
  info.name = Work->memberName;
  std::string who = Who(walkIndex) + " " + Shown(info.name);

  // The walk cuts a longer name; the stub would write under the cut one.
  if (Work->nameCut)
    return Fail(Format("%s: the name is longer than the stub holds (at most %u bytes)",
                       who.c_str(), MaxNameBytes));
  if (info.name.empty() && info.method != MethodDirectory)
    return Fail(Format("%s has no file name; the archive is damaged", Who(walkIndex).c_str()));
  uint8_t level = Work->header[HdrLevel];
  if (level != HeaderLevelTwo)
    report_.warnings.push_back(Format("%s: its header says level %u but is laid out as level 2, "
                                      "which is how the stub reads it", who.c_str(), level));
  // The walk finds the next header by the compressed size whatever a member
  // holds; the stub copies originalSize bytes of a stored member and reads
  // no data of a directory entry.
  if (info.method == MethodDirectory && info.compressedSize != 0)
    report_.warnings.push_back(Format("%s: a directory entry carrying %u bytes of data, which "
                                      "the stub passes over", who.c_str(), info.compressedSize));
  if (info.method == MethodStored && info.originalSize > info.compressedSize)
    return Fail(Format("%s: a stored member whose sizes differ (%u packed, %u original): the stub "
                       "runs out of data there and stops; the archive is damaged",
                       who.c_str(), info.compressedSize, info.originalSize));
  if (info.method == MethodStored && info.compressedSize > info.originalSize)
    report_.warnings.push_back(Format("%s: a stored member whose sizes differ (%u packed, %u "
                                      "original): the stub extracts the first %u bytes and "
                                      "passes over the rest", who.c_str(), info.compressedSize,
                                      info.originalSize, info.originalSize));
  if (!CheckPlacement(info, walkIndex)) return false;
  if (walkIndex == 1 && info.name == MessageMemberName) LoadMessageText(info);
  report_.members.push_back(info);
  return true;
}

// Where a member lands, as far as the publisher should know.
bool Checker::CheckPlacement(const MemberInfo& info, size_t walkIndex) {
  const std::string& name = info.name;
  std::string who = Who(walkIndex) + " " + Shown(name);
  if (name == MessageMemberName) {
    if (walkIndex != 1)
      report_.warnings.push_back(who + " is not the first member, so the stub never shows it as "
                                       "a message and skips it");
    return true;
  }
  // The stub reads every name as CP932, and so does this check.
  PathJudgement judged = JudgeMemberName(name, NameBytes::Cp932);
  if (judged.folder != nullptr) {
    const char* place = judged.folder == SystemDirPrefix ? "system" : "Windows";
    if (judged.folderSeparated)
      report_.warnings.push_back(Format("%s will be written into the %s directory of the user's "
                                        "machine", who.c_str(), place));
    else
      report_.warnings.push_back(Format("%s will be written beside the %s directory, its name "
                                        "glued onto the directory's name (no separator after the "
                                        "prefix)", who.c_str(), place));
  }
  const char* reason = ReasonOf(judged.verdict);
  if (reason == nullptr) return true;
  if (options_.allowUnsafe) {
    report_.warnings.push_back(Format("%s %s and will be written outside the destination",
                                      who.c_str(), reason));
    return true;
  }
  return Fail(Format("%s %s, so it would be written outside the destination; rename it in the "
                     "archive, or pass --allow-unsafe-paths if that is intended",
                     who.c_str(), reason));
}

// The question a leading stored "!" asks, as the stub copies it into its
// text: up to the first zero byte. The walk stands at the member's data.
void Checker::LoadMessageText(const MemberInfo& info) {
  if (info.method != MethodStored) return;
  uint32_t count = info.originalSize;
  if (count > MaxMessageBytes) count = MaxMessageBytes;
  std::string text(count, '\0');
  uint32_t done = 0;
  if (!PlatformRead(Work->archiveFile, text.data(), count, &done)) done = 0;
  text.resize(strnlen(text.c_str(), done));
  report_.messageText = text;
}

// Why the engine refused the header at the walk's position.
std::string Checker::WhyRefused(size_t walkIndex) {
  uint64_t at = Work->nextHeaderOffset;
  std::string who = Who(walkIndex);
  uint8_t fixed[HdrFixedSize] = {};
  size_t got = ReadAt(fd_, at, fixed, sizeof fixed);
  uint32_t headerSize = got >= SizeFieldLength ? ReadLe16(fixed + HdrSize) : 0;
  // Level-0 and level-1 headers keep their level at the same offset, so the
  // publisher gets the useful message before any size looks wrong.
  if (got > HdrLevel && fixed[HdrLevel] != HeaderLevelTwo)
    return Format("%s has a level-%u header, but the stub reads only level-2 headers; %s",
                  who.c_str(), fixed[HdrLevel], RelevelHint);
  switch ((HeaderFault)Work->headerFault) {
    case FaultMethod:
      return Format("%s uses method \"%s\", which the stub cannot decode (it decodes -lh0-, "
                    "-lh4- to -lh7- and -lhd-); %s", who.c_str(),
                    Printable(fixed + HdrMethod, MethodIdLength).c_str(), RemethodHint);
    case FaultNoCrc:
      return Format("%s: the header has no CRC record, and the stub refuses such headers; %s",
                    who.c_str(), RelevelHint);
    case FaultCrc:
      return Format("%s: the header's CRC does not match its contents; the archive is damaged",
                    who.c_str());
    case FaultChain:
      return Format("%s: an extended header record does not fit in the header; the archive is "
                    "damaged", who.c_str());
    case FaultTooShort:
      if (headerSize < HdrFixedSize)
        return Format("%s: header of %u bytes is too short for a level-2 header; the archive is "
                      "damaged or not an LZH archive", who.c_str(), headerSize);
      return Format("%s: header of %u bytes runs past the end of the archive (%llu bytes left); "
                    "the archive is truncated", who.c_str(), headerSize,
                    (unsigned long long)(Work->archiveSize - at));
    case FaultNone:
      break;
  }
  return Format("%s: the stub refuses its header", who.c_str());
}

// What follows the end of the archive: the stub reads nothing past a zero
// length field or a lone byte, so bytes there (padding, or a signature
// appended to the program) are merely worth a word.
void Checker::NoteTrailingBytes() {
  uint64_t at = Work->nextHeaderOffset;
  if (at >= Work->archiveSize) return;
  uint64_t left = Work->archiveSize - at;
  uint8_t first[SizeFieldLength] = {};
  ReadAt(fd_, at, first, sizeof first);
  if (left == 1) {
    if (first[0] != 0)
      report_.warnings.push_back("the archive ends in a stray byte, which the stub ignores");
    return;
  }
  if (left == SizeFieldLength && ReadLe16(first) == 0) return;
  report_.notes.push_back(Format("%llu bytes follow the archive's end marker; the stub ignores "
                                 "them", (unsigned long long)(left - 1)));
}

bool Checker::Run() {
  if (!OpenArchiveRun()) {
    CloseArchiveRun();
    return Fail("cannot open the file to check its archive");
  }
  bool sound = true;
  for (size_t walkIndex = 1;; walkIndex++) {
    HeaderReadResult result = NextMember();
    if (result == MemberReady) {
      if (CheckMember(walkIndex)) continue;
      sound = false;
    } else if (result == EndOfArchive) {
      NoteTrailingBytes();
    } else if (result == NoMemory) {
      sound = Fail(Format("%s: not enough memory for its header", Who(walkIndex).c_str()));
    } else if (result == InvalidHeader) {
      sound = Fail(WhyRefused(walkIndex));
    } else if (report_.members.empty()) {
      sound = Fail("the archive starts beyond the end of the file; the file is truncated");
    } else {
      const MemberInfo& last = report_.members.back();
      uint64_t dataStart = last.offset + last.headerSize;
      sound = Fail(Format("%s %s: its %u bytes of data run past the end of the archive (%llu "
                          "bytes left); the archive is truncated",
                          Who(walkIndex - 1).c_str(), Shown(last.name).c_str(),
                          last.compressedSize,
                          (unsigned long long)(Work->archiveSize - dataStart)));
    }
    break;
  }
  CloseArchiveRun();
  if (sound && report_.members.size() <= options_.ownMembers)
    report_.warnings.push_back("the archive has no members; the stub will extract nothing");
  return sound;
}

}  // namespace

bool CheckArchive(int fd, const std::string& path, const StubConfig& config,
                  const CheckOptions& options, ArchiveReport& report) {
  if (PrepareWorkArea(EnginePathOf(path, fd), config, path) != 0) {
    report.error = "not enough memory to check the archive";
    return false;
  }
  // The archive is checked for the stub, so its headers are read as the stub reads them.
  Work->stubHeadersOnly = 1;
  return Checker(fd, options, report).Run();
}
