// lzhsfx l and v: list the members of an LZH archive or of the archive
// inside a self-extracting program, as the engine's member walk yields
// them: the members t, x and the stub read, up to where they stop.
#include <sys/stat.h>
#include <time.h>

#include <cstdio>
#include <ctime>
#include <string>

#include "cli/commands.h"
#include "cli/console.h"
#include "cli/escape.h"
#include "cli/member.h"
#include "cli/reading.h"
#include "cli/signals.h"
#include "cli/textformat.h"
#include "core/report.h"
#include "core/workarea.h"
#include "extract/header.h"
#include "extract/walk.h"

namespace {

const OptionDef VerboseOption = Flag("-v",
    "the long listing (as lzhsfx v): method, packed and\n"
    "original size, ratio, CRC, header level, writer's OS,\n"
    "MS-DOS attributes (rhsda), Unix permissions and\n"
    "owner/group");
const OptionDef UtcOption = Flag("--utc",
    "times in UTC (default: local time, as ls shows them)");

const char* const ListNotes =
    "Exit codes: 0 listed, 1 a header is broken, the archive is cut short, a\n"
    "member header follows its end marker or a NAME matched no member, 2 usage\n"
    "error or the file cannot be read.\n";

}  // namespace

const CommandDef ListCommand = {
    "l",
    "ARCHIVE [NAME...]",
    "list the members of an .lzh or self-extracting .exe",
    {&VerboseOption, &UtcOption, &QuietOption, &NamesOption},
    "List the members of an LZH archive (header levels 0 to 3) or of the archive\n"
    "inside a self-extracting .exe: original and packed size, ratio, method,\n"
    "modification time, CRC-16 and name, then a total line. ARCHIVE - reads the\n"
    "archive from standard input. NAMEs are member names or shell patterns\n"
    "('docs/*'; '*' also matches '/'), matched against the UTF-8 name; a NAME\n"
    "that is a directory selects what lies in it. Control characters in names\n"
    "are shown as \\xHH, a backslash as \\\\; a name longer than 259 bytes is shown\n"
    "cut, marked [name cut].\n",
    ListNotes,
};

const CommandDef VerboseListCommand = {
    "v",
    "ARCHIVE [NAME...]",
    "the long listing (l -v): method, sizes, CRC,\n"
    "level, OS, attributes, Unix mode and owner",
    {&UtcOption, &QuietOption, &NamesOption},
    "The long listing: lzhsfx l -v (see lzhsfx l --help).\n",
    ListNotes,
};

namespace {

constexpr double PercentScale = 100.0;
constexpr size_t TimeTextSize = 32;

// A member's time as ls --full-time shows it: local time unless utc.
std::string TimeText(int64_t seconds, bool utc) {
  time_t t = (time_t)seconds;
  struct tm parts {};
  char text[TimeTextSize];
  if ((utc ? gmtime_r(&t, &parts) : localtime_r(&t, &parts)) == nullptr ||
      std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts) == 0)
    return "(time out of range)";
  return text;
}

std::string RatioText(uint64_t packed, uint64_t original) {
  if (original == 0) return "-";
  char text[TimeTextSize];
  std::snprintf(text, sizeof text, "%.1f%%", PercentScale * (double)packed / (double)original);
  return text;
}

// The writer's system, from the header's OS id.
std::string OsText(uint8_t id) {
  static const struct {
    uint8_t id;
    const char* name;
  } Systems[] = {{OsIdMsdos, "MS-DOS"}, {OsIdUnix, "Unix"},      {OsIdWindows, "Win32"},
                 {OsIdWindows95, "Win95"}, {OsIdMacintosh, "Mac"}, {'2', "OS/2"},
                 {'9', "OS-9"},           {'K', "OS/68K"},       {'3', "OS/386"},
                 {'H', "Human"},          {'C', "CP/M"},         {'F', "FLEX"},
                 {'R', "Runser"},         {'T', "TownsOS"},      {'X', "XOSK"},
                 {'J', "Java"},           {0, "generic"}};
  for (const auto& s : Systems)
    if (s.id == id) return s.name;
  return Format(id >= 0x20 && id < 0x7F ? "'%c'" : "0x%02X", id);
}

// The MS-DOS attribute byte as letters: read-only, hidden, system, directory, archive.
std::string DosAttributeText(uint8_t attributes) {
  static const struct {
    uint8_t bit;
    char letter;
  } Bits[] = {{0x01, 'r'}, {0x02, 'h'}, {0x04, 's'}, {0x10, 'd'}, {0x20, 'a'}};
  std::string text;
  for (const auto& b : Bits) text += (attributes & b.bit) ? b.letter : '-';
  return text;
}

// Unix permissions as ls shows them, or "-" when the header has none.
std::string UnixModeText() {
  if (!Work->hasUnixMode) return "-";
  uint16_t mode = Work->unixMode;
  char type = S_ISDIR(mode) ? 'd' : S_ISLNK(mode) ? 'l' : '-';
  std::string text(1, type);
  const char* letters = "rwxrwxrwx";
  for (int i = 0; i < 9; ++i) text += (mode & (0400 >> i)) ? letters[i] : '-';
  return text;
}

std::string UnixOwnerText() {
  if (!Work->hasUnixIds && Work->unixUser[0] == '\0' && Work->unixGroup[0] == '\0') return "-";
  std::string user = Work->unixUser[0] != '\0' ? Escaped(Work->unixUser)
                                                : std::to_string(Work->unixUid);
  std::string group = Work->unixGroup[0] != '\0' ? Escaped(Work->unixGroup)
                                                  : std::to_string(Work->unixGid);
  return user + "/" + group;
}

// Lists what the member walk yields, so l shows the members that t, x and
// the stub read, and stops where they stop.
int ListMembers(const ReadOptions& options) {
  if (!OpenArchiveRun()) {
    CloseArchiveRun();
    ShowError(MsgOpenError, Work->archivePath);
    return ExitUsage;
  }
  const char* when = options.utc ? "Modified (UTC)" : "Modified";
  const char* rule =
      options.verbose
          ? "------ ---------- ---------- ------ ---- -- ------- ----- ---------- "
            "--------------- ------------------- --------------------"
          : "---------- ---------- ------ ----- ------------------- ---- --------------------";
  if (!options.quiet) {
    if (options.verbose)
      std::printf("Method     Packed   Original  Ratio CRC  Lv OS      Attr  Mode       "
                  "Owner           %-19s Name\n%s\n", when, rule);
    else
      std::printf("  Original     Packed  Ratio Method %-19s CRC  Name\n%s\n", when, rule);
  }
  uint64_t totalOriginal = 0, totalPacked = 0;
  uint32_t files = 0, directories = 0;
  int rc = ExitOk;
  HeaderReadResult result;
  while ((result = NextMember()) != EndOfArchive) {
    if (result != MemberReady) {
      MessageId message = result == NoMemory        ? MsgNoMemory
                          : result == InvalidHeader ? MsgInvalidHeader
                                                    : MsgArchiveBroken;
      ShowError(message, Work->archivePath);
      rc = ExitBadArchive;
      break;
    }
    if (!MemberSelected()) continue;
    uint64_t packed = MemberCompressedSize();
    uint64_t original = MemberOriginalSize();
    char method = MemberMethod();
    std::string name = MemberListedName();
    std::string stamp = TimeText(MemberUnixTime(), options.utc);
    // The whole id as stored: the host reads methods beyond "-lh?-" (-lz5-,
    // -lzs-, ...) and marks some members for itself in the header.
    const char* id = Work->storedMethod;
    if (options.verbose)
      std::printf("%.5s  %10llu %10llu %6s %04X %2u %-7s %-5s %-10s %-15s %s %s\n", id,
                  (unsigned long long)packed, (unsigned long long)original,
                  RatioText(packed, original).c_str(), MemberDataCrc(),
                  Work->headerLevel, OsText(Work->header[HdrOsId]).c_str(),
                  DosAttributeText(Work->header[HdrDosAttribute]).c_str(), UnixModeText().c_str(),
                  UnixOwnerText().c_str(), stamp.c_str(), name.c_str());
    else
      std::printf("%10llu %10llu %6s %.5s %s %04X %s\n", (unsigned long long)original,
                  (unsigned long long)packed, RatioText(packed, original).c_str(), id,
                  stamp.c_str(), MemberDataCrc(), name.c_str());
    if (method == MethodDirectory)
      ++directories;
    else
      ++files;
    totalOriginal += original;
    totalPacked += packed;
  }
  FileOffset end = (FileOffset)Work->nextHeaderOffset;
  CloseArchiveRun();
  if (!options.quiet) {
    // The totals stand in the columns of the rows above them: in the long
    // listing the packed size comes first, behind the method's column.
    unsigned long long first = options.verbose ? totalPacked : totalOriginal;
    unsigned long long second = options.verbose ? totalOriginal : totalPacked;
    std::printf("%s\n%s%10llu %10llu %6s %u file%s, %u director%s\n", rule, options.verbose ? "       " : "",
                first, second, RatioText(totalPacked, totalOriginal).c_str(), files, files == 1 ? "" : "s",
                directories, directories == 1 ? "y" : "ies");
  }
  if (result == EndOfArchive && WarnHeaderAfterEnd(end, "lzhsfx: ")) rc = ExitBadArchive;
  if (rc == ExitOk && !EveryPatternMatched()) rc = ExitBadArchive;
  return rc;
}

}  // namespace

namespace {

int List(const CommandDef& command, const Args& args, bool verbose) {
  ParsedArgs parsed;
  ReadOptions options;
  ArchiveSource source;
  CatchInterrupts(InterruptStyle::End);
  int rc = OpenFromArguments(command, args, parsed, options, source);
  options.verbose = verbose || parsed.Has(VerboseOption);
  options.utc = parsed.Has(UtcOption);
  if (rc == ExitOk) rc = ListMembers(options);
  CloseArchiveSource(source);
  return rc;
}

}  // namespace

int CmdList(const Args& args) { return List(ListCommand, args, false); }

int CmdVerboseList(const Args& args) { return List(VerboseListCommand, args, true); }
