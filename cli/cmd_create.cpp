// lzhsfx create: joins the stub image, its filled-in configuration block and
// an LZH archive. The finished file is written beside its target, checked
// there by the engine's own member walk for everything the stub needs, and
// renamed into place only when sound, so it appears whole or not at all.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli/archive_check.h"
#include "cli/commands.h"
#include "cli/console.h"
#include "cli/escape.h"
#include "cli/files.h"
#include "cli/branding.h"
#include "cli/peview.h"
#include "cli/signals.h"
#include "cli/stubfile.h"
#include "cli/textformat.h"
#include "compress/pack.h"
#include "core/pe.h"
#include "core/workarea.h"
#include "platform/cp932.h"

namespace {

constexpr uint64_t MaxStubSize = 16u << 20;
constexpr uint64_t MaxIconFileSize = 4u << 20;

constexpr mode_t OutputMode = 0755;
constexpr const char* DefaultStubName = "sfxstub.exe";
constexpr char DefaultPackMethod = '7';

// ---- Texts for the configuration block -------------------------------------

// Converts a UTF-8 option text into a field of the block, with room for its
// terminator.
bool FillField(char* field, uint32_t size, const std::string& utf8, const char* option,
               const char* fieldName, std::string& error) {
  std::string cp932;
  if (!ToCp932(utf8, cp932)) {
    error = Format("%s \"%s\": has a character with no Shift-JIS (CP932) form, or is not UTF-8",
                   option, Escaped(utf8).c_str());
    return false;
  }
  if (cp932.size() > size - 1) {
    error = Format("%s \"%s\": is %zu bytes in CP932, but the %s field holds at most %u bytes",
                   option, Escaped(utf8).c_str(), cp932.size(), fieldName, size - 1);
    return false;
  }
  std::memset(field, 0, size);
  std::memcpy(field, cp932.data(), cp932.size());
  return true;
}

// The message member's text: UTF-8 without a byte-order mark, lines ended by
// CR LF for the message box, in CP932, within what the stub shows.
bool MessageText(const std::string& path, std::string& cp932, uint32_t& timeStamp,
                 std::string& error) {
  Bytes raw;
  if (!ReadWholeFile(path, MaxMessageBytes * 4, raw, error)) return false;
  std::string utf8(raw.begin(), raw.end());
  if (utf8.rfind("\xEF\xBB\xBF", 0) == 0) utf8.erase(0, 3);
  if (utf8.find('\0') != std::string::npos) {
    error = Format("--message %s: the text contains a zero byte", Escaped(path).c_str());
    return false;
  }
  std::string crlf;
  for (size_t i = 0; i < utf8.size(); i++) {
    if (utf8[i] == '\n' && (i == 0 || utf8[i - 1] != '\r')) crlf += '\r';
    crlf += utf8[i];
  }
  if (!ToCp932(crlf, cp932)) {
    error = Format("--message %s: the text has a character with no Shift-JIS (CP932) form, or "
                   "is not UTF-8", Escaped(path).c_str());
    return false;
  }
  if (cp932.empty()) {
    error = Format("--message %s: the file is empty; the stub would ask an empty question",
                   Escaped(path).c_str());
    return false;
  }
  if (cp932.size() > MaxMessageBytes) {
    error = Format("--message %s: the text is %zu bytes in CP932, but the stub shows at most %u",
                   Escaped(path).c_str(), cp932.size(), MaxMessageBytes);
    return false;
  }
  struct stat st;
  timeStamp = stat(path.c_str(), &st) == 0 ? (uint32_t)st.st_mtime : 0;
  return true;
}

// ---- The stub image --------------------------------------------------------

// The stub create uses without --stub: $LZHSFX_STUB when set; else
// sfxstub.exe beside the running program (the build tree); else the
// installed one, ../share/lzhsfx/sfxstub.exe from the program's bin/, so a
// relocated or DESTDIR install finds its own. The running program is found
// through /proc/self/exe, whatever PATH or the current directory say. When
// none exists, the path beside the program, for the message.
std::string DefaultStubPath() {
  const char* chosen = std::getenv("LZHSFX_STUB");
  if (chosen != nullptr && *chosen != '\0') return chosen;
  char self[4096];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return DefaultStubName;
  std::string path(self, (size_t)n);
  size_t slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  std::string beside = dir + DefaultStubName;
  std::string installed = dir + "../share/lzhsfx/" + DefaultStubName;
  for (const std::string& candidate : {beside, installed})
    if (access(candidate.c_str(), R_OK) == 0) return candidate;
  return beside;
}

// ---- Command line --------------------------------------------------------

const OptionDef FromLzhOption = Valued("--from-lzh", "ARCHIVE",
    "use this archive (level-2 headers, methods -lh0-,\n"
    "-lh4- to -lh7- and -lhd-)");
const OptionDef TitleOption = Valued("--title", "T",
    "window title and message-box caption (40 bytes)");
const OptionDef PromptOption = Valued("--prompt", "P",
    "label above the destination field (40 bytes)");
const OptionDef DirOption = Valued("--dir", "D",
    "proposed destination (255 bytes); %WORK%, %WinDir%\n"
    "and %SystemDir% stand for the temporary, Windows and\n"
    "system directories");
const OptionDef RunOption = Valued("--run", "CMD",
    "command started in the destination afterwards (258\n"
    "bytes): a program, optionally quoted, and its\n"
    "parameters");
const OptionDef AutoOption = Flag("--auto",
    "start extracting by itself after 700 ms");
const OptionDef WaitOption = Flag("--wait",
    "after extracting, wait for the --run command and\n"
    "every process it starts; the file's exit code is then\n"
    "1000 plus the command's");
const OptionDef TemporaryOption = Flag("--temporary",
    "no destination: extract into a new private folder in\n"
    "the user's temporary directory, run the --run command\n"
    "there, wait as --wait does, then delete the folder\n"
    "(needs --run)");
const OptionDef AttributesOption = Flag("--attributes",
    "restore the stored file attributes");
const OptionDef MessageOption = Valued("--message", "FILE",
    "show FILE's text (UTF-8) as a yes/no question first");
const OptionDef IconOption = Valued("--icon", "FILE.ico",
    "the program's icon: every image of FILE.ico replaces\n"
    "the stub's own");
const OptionDef VersionInfoOption = Valued("--version", "KEY=VALUE",
    "version information shown by Windows (repeatable;\n"
    "UTF-8): FileDescription, CompanyName, ProductName,\n"
    "FileVersion, ProductVersion, LegalCopyright,\n"
    "OriginalFilename, Comments; a FileVersion or\n"
    "ProductVersion a.b.c.d also sets the numeric version");
const OptionDef StubOption = Valued("--stub", "FILE",
    "stub to use (default: $LZHSFX_STUB, else sfxstub.exe\n"
    "beside lzhsfx, else ../share/lzhsfx/sfxstub.exe from\n"
    "lzhsfx's directory, as installed)");

struct CreateOptions {
  std::string out, fromLzh, title, prompt, dir, run, message, stub, icon;
  std::vector<std::pair<std::string, std::string>> version;  // in the order given
  bool haveTitle = false, havePrompt = false, haveDir = false, haveRun = false;
  bool autoStart = false, overwrite = false, attributes = false, allowUnsafe = false, quiet = false;
  bool wait = false, temporary = false;
  std::vector<std::string> paths;
};

int Fail(int code, const std::string& message) {
  std::fprintf(stderr, "lzhsfx create: %s\n", message.c_str());
  return code;
}

}  // namespace

const CommandDef CreateCommand = {
    "create",
    "OUT.exe [PATH...]",
    "build a self-extracting file for Windows from\n"
    "PATH... or --from-lzh ARCHIVE.lzh",
    {&FromLzhOption, &TitleOption, &PromptOption, &DirOption, &RunOption, &AutoOption,
     &OverwriteOption, &WaitOption, &TemporaryOption, &AttributesOption, &MessageOption, &IconOption, &VersionInfoOption,
     &StubOption, &AllowUnsafeOption, &QuietOption},
    "Builds a self-extracting file for Windows: the stub, its configuration\n"
    "and an LZH archive, packed from PATH... with -lh7-, or the archive that\n"
    "--from-lzh names, taken as it is (one or the other). Texts are given in\n"
    "UTF-8 and stored in Shift-JIS (CP932).\n",
    "OUT.exe itself is never packed. Member names are at most 259 bytes in\n"
    "CP932. The file is written beside OUT.exe and takes its place only when\n"
    "complete and checked; SIGINT, SIGTERM and SIGHUP remove the unfinished one.\n"
    "\n"
    "Exit codes: 0 written, 1 the archive cannot be used, 2 usage or I/O error.\n"
    "\n"
    "The file made takes -n (start extracting by itself), -n- (wait for OK even\n"
    "with --auto), -s (silent: no window at all, the --message question counts\n"
    "as Yes, existing files are replaced, the first error ends the run),\n"
    "-lLOG (append a UTF-8 line per member and a result line to LOG), a\n"
    "destination folder (the first argument not starting with '-', from the\n"
    "second argument on, so put an option in front of it) and, after --, the\n"
    "arguments for the --run command. Its exit codes: 0 nothing extracted\n"
    "(Cancel before OK, the message declined, an unreadable archive), 1\n"
    "extracted, 2 the extraction failed (a damaged member, a read, write or\n"
    "open error), 3 stopped by the user; with --wait or --temporary, 1000 plus\n"
    "the command's own exit code after a complete extraction. The command\n"
    "starts only after 1. Unattended, from a Windows batch file:\n"
    "  setup.exe -s -lC:\\Logs\\setup.log C:\\Tools\\App\n"
    "  if errorlevel 2 goto failed\n"
    "  if not errorlevel 1 goto failed\n"
    "(see the manual page for a complete example).\n",
};

namespace {

int Usage(const std::string& message) { return UsageError(CreateCommand, message); }

// 0 when parsed, else the exit code of the usage error already reported.
int ParseCreate(const Args& args, CreateOptions& o) {
  ParsedArgs parsed;
  if (!ParseArgs(CreateCommand, args, parsed)) return ExitUsage;
  o.fromLzh = parsed.Value(FromLzhOption);
  o.haveTitle = parsed.Has(TitleOption), o.title = parsed.Value(TitleOption);
  o.havePrompt = parsed.Has(PromptOption), o.prompt = parsed.Value(PromptOption);
  o.haveDir = parsed.Has(DirOption), o.dir = parsed.Value(DirOption);
  o.haveRun = parsed.Has(RunOption), o.run = parsed.Value(RunOption);
  o.message = parsed.Value(MessageOption);
  o.stub = parsed.Value(StubOption);
  o.icon = parsed.Value(IconOption);
  o.autoStart = parsed.Has(AutoOption);
  o.wait = parsed.Has(WaitOption);
  o.temporary = parsed.Has(TemporaryOption);
  o.attributes = parsed.Has(AttributesOption);
  o.allowUnsafe = parsed.Has(AllowUnsafeOption);
  o.quiet = parsed.Has(QuietOption);
  OverwritePolicy overwrite;
  if (!ParseOverwrite(CreateCommand, parsed, overwrite)) return ExitUsage;
  // The stub's setting either asks or replaces; it cannot keep a file and go on.
  if (overwrite == OverwritePolicy::Never)
    return Usage("--overwrite=never: the stub can only ask (ask) or replace (always)");
  o.overwrite = overwrite == OverwritePolicy::Always;
  for (const std::string& value : parsed.Values(VersionInfoOption)) {
    size_t split = value.find('=');
    if (split == std::string::npos) return Usage("--version " + Escaped(value) + ": give KEY=VALUE");
    std::string key = value.substr(0, split);
    if (!IsVersionKey(key)) {
      std::string keys;
      for (const char* k : VersionKeys) keys += std::string(keys.empty() ? "" : ", ") + k;
      return Usage("--version: unknown key \"" + Escaped(key) + "\"; the keys are " + keys);
    }
    // Given twice, the later value counts, as with the other options.
    std::erase_if(o.version, [&](const auto& kv) { return kv.first == key; });
    o.version.emplace_back(key, value.substr(split + 1));
  }
  const std::vector<std::string>& positional = parsed.operands;
  if (positional.empty()) return Usage("missing OUT.exe");
  o.out = positional[0];
  o.paths.assign(positional.begin() + 1, positional.end());
  if (o.fromLzh.empty() && o.paths.empty())
    return Usage("nothing to pack: give PATH... or --from-lzh ARCHIVE.lzh");
  if (!o.fromLzh.empty() && !o.paths.empty())
    return Usage("give either PATH... or --from-lzh ARCHIVE.lzh, not both");
  // The folder is deleted as soon as the command has ended: without one,
  // the files would be extracted only to be deleted.
  if (o.temporary && o.run.empty()) return Usage("--temporary needs --run: the command to run in the folder");
  if (o.stub.empty()) o.stub = DefaultStubPath();
  return 0;
}

void PrintWarnings(const ArchiveReport& report) {
  for (const auto& w : report.warnings) std::fprintf(stderr, "lzhsfx create: warning: %s\n", w.c_str());
  for (const auto& n : report.notes) std::fprintf(stderr, "lzhsfx create: note: %s\n", n.c_str());
}

}  // namespace

int CmdCreate(const Args& args) {
  CreateOptions o;
  if (int code = ParseCreate(args, o)) return code;
  CatchInterrupts(InterruptStyle::End);
  std::string error;

  // The stub must be a bare stub of ours: anything else would make a file
  // that does not start, or one with two archives.
  Bytes image;
  if (!ReadWholeFile(o.stub, MaxStubSize, image, error))
    return Fail(ExitUsage, error + "; build the stub with \"make stub\" or pass --stub FILE");
  if (!StubImageRecognised(image.data(), image.size()))
    return Fail(ExitUsage, Escaped(o.stub) + " is not a self-extracting stub of lzhsfx (no MZ header with "
                                    "its PE header at 0x500 and its real-mode notice); pass the "
                                    "sfxstub.exe that \"make stub\" builds");
  if (!StubConfigIsBlank(image.data(), image.size()))
    return Fail(ExitUsage, Escaped(o.stub) + " already has its configuration block filled in (it is a "
                                    "self-extracting file, not the bare stub); pass the bare "
                                    "sfxstub.exe");

  // The configuration block, from the options.
  StubConfig config;
  std::memset(&config, 0, sizeof config);
  if ((o.haveTitle && !FillField(config.title, TitleSize, o.title, "--title", "title", error)) ||
      (o.havePrompt && !FillField(config.prompt, PromptSize, o.prompt, "--prompt", "prompt", error)) ||
      (o.haveDir && !FillField(config.defaultDir, DefaultDirSize, o.dir, "--dir", "default directory", error)) ||
      (o.haveRun && !FillField(config.command, CommandSize, o.run, "--run", "command", error)))
    return Fail(ExitUsage, error);
  config.flags = (uint8_t)((o.autoStart ? FlagAutoStart : 0) | (o.overwrite ? FlagOverwriteSilently : 0) |
                           (o.wait || o.temporary ? FlagWaitForCommand : 0) |
                           (o.temporary ? FlagTemporaryFolder : 0));
  config.restoreAttributes = o.attributes ? 1 : 0;

  // The publisher's icon and version information: a new resource section
  // behind the stub's own, which stays as it is.
  if (!o.icon.empty() || !o.version.empty()) {
    std::vector<ResourceLeaf> leaves;
    if (!ReadResources(image, leaves, error))
      return Fail(ExitUsage, Escaped(o.stub) + ": " + error);
    if (!o.icon.empty()) {
      Bytes ico;
      std::vector<IconImage> images;
      if (!ReadWholeFile(o.icon, MaxIconFileSize, ico, error)) return Fail(ExitUsage, error);
      if (!ParseIcoFile(ico, images, error))
        return Fail(ExitUsage, "--icon " + Escaped(o.icon) + ": " + error);
      ReplaceProgramIcon(leaves, images);
    }
    if (!o.version.empty()) {
      Bytes block;
      if (!BuildVersionInfo(o.version, block, error)) return Fail(ExitUsage, error);
      SetVersionResource(leaves, block);
    }
    if (!AppendResourceSection(image, leaves, error))
      return Fail(ExitUsage, Escaped(o.stub) + ": " + error);
  }

  std::string message;
  uint32_t messageTime = 0;
  if (!o.message.empty() && !MessageText(o.message, message, messageTime, error))
    return Fail(ExitUsage, error);

  // The packed members are planned first: their names are refused early,
  // and their total size is known for the progress line. The file being
  // written (and an older one in its place) is never packed into itself.
  PackOptions pack;
  PackPlan plan;
  pack.method = DefaultPackMethod;
  pack.excludePath = o.out;
  pack.maxNameBytes = MemberNameSize - 1;
  size_t slash = o.out.rfind('/');
  pack.spoolDirectory = slash == std::string::npos ? "." : slash == 0 ? "/" : o.out.substr(0, slash);
  pack.progress = [](uint64_t bytes) { AddProgress(bytes); };
  pack.note = [](const std::string& note) {
    ClearProgress();
    std::fprintf(stderr, "lzhsfx: %s\n", Escaped(note).c_str());
  };
  if (o.fromLzh.empty() && !PlanPaths(o.paths, pack, plan, error)) return Fail(ExitUsage, Escaped(error));
  int fromFd = -1;
  uint64_t fromSize = 0;
  if (!o.fromLzh.empty()) {
    fromFd = open(o.fromLzh.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    struct stat st;
    if (fromFd < 0 || fstat(fromFd, &st) != 0)
      return Fail(ExitUsage, "cannot open '" + Escaped(o.fromLzh) + "': " + std::strerror(errno));
    if (!S_ISREG(st.st_mode)) return Fail(ExitUsage, "'" + Escaped(o.fromLzh) + "' is not a regular file");
    fromSize = (uint64_t)st.st_size;
  }
  struct FromCloser {
    int fd;
    ~FromCloser() {
      if (fd >= 0) close(fd);
    }
  } fromCloser{fromFd};

  // Stub, zero padding up to an aligned offset, the archive, written as it
  // is made.
  uint64_t archiveOffset = AlignUp(image.size(), ArchiveAlignment);
  config.archiveOffset = (uint32_t)archiveOffset;
  image.resize(archiveOffset, 0);
  std::memcpy(&image[StubConfigOffset], &config, sizeof config);
  // A rebuilt image carries its own checksum, over the image as written.
  if ((!o.icon.empty() || !o.version.empty()) && !UpdatePeChecksum(image, error))
    return Fail(ExitUsage, error);
  Bytes head;
  if (!message.empty()) AppendStoredMember(head, MessageMemberName, message, messageTime);
  PendingFile pending(o.out);
  if (!pending.Create(OutputMode, error) || !pending.Append(image.data(), image.size(), error) ||
      !pending.Append(head.data(), head.size(), error))
    return Fail(ExitUsage, error);
  Bytes().swap(image);
  if (fromFd >= 0) {
    if (!CopyRange(fromFd, o.fromLzh, 0, fromSize, pending, error)) return Fail(ExitUsage, error);
  } else {
    StartProgress(plan.bytes, !o.quiet);
    ArchiveWriter writer = [&pending](const uint8_t* data, size_t size, std::string& why) {
      return pending.Append(data, size, why);
    };
    bool packed = PackPlanned(plan, pack, writer, error);
    StopProgress();
    if (!packed) return Fail(ExitUsage, Escaped(error));
  }
  // A packed archive ends with its end mark; an empty one given gets one
  // too: a file with nothing at its archive offset is no self-extracting
  // file to the other commands.
  const uint8_t endMark = 0;
  if ((fromFd < 0 || fromSize == 0) && !pending.Append(&endMark, 1, error)) return Fail(ExitUsage, error);
  if (pending.Size() > MaxSfxFileSize)
    return Fail(ExitUsage, Format("the file would be %llu bytes; the stub reads files up to %llu "
                                  "bytes", (unsigned long long)pending.Size(),
                                  (unsigned long long)MaxSfxFileSize));
  if (!pending.Sync(error)) return Fail(ExitUsage, error);

  // The finished file is checked where it lies, by the walk the stub runs,
  // so what is checked is what the user will extract.
  CheckOptions check;
  check.allowUnsafe = o.allowUnsafe;
  check.ownMembers = message.empty() ? 0 : 1;
  ArchiveReport report;
  bool sound = CheckArchive(pending.Descriptor(), pending.TemporaryPath(), config, check, report);
  bool messageTwice = sound && !message.empty() && report.members.size() > check.ownMembers &&
                      report.members[check.ownMembers].name == MessageMemberName;
  if (messageTwice)
    return Fail(ExitBadArchive, "the archive already begins with a message member \"!\"; drop "
                                "--message or remove that member");
  PrintWarnings(report);
  if (!sound)
    return Fail(ExitBadArchive,
                (o.fromLzh.empty() ? std::string("packed archive: ") : Escaped(o.fromLzh) + ": ") +
                    report.error);
  uint64_t written = pending.Size();
  if (!pending.Commit(error)) return Fail(ExitUsage, error);
  size_t members = report.members.size() - check.ownMembers;
  std::printf("%s: %zu member%s%s, archive at offset %llu, %llu bytes\n", Escaped(o.out).c_str(), members,
              members == 1 ? "" : "s", message.empty() ? "" : " and a message",
              (unsigned long long)archiveOffset, (unsigned long long)written);
  return ExitOk;
}
