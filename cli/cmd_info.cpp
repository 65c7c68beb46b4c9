// lzhsfx info: shows the configuration block of a self-extracting file and
// the members its archive holds, as the engine's member walk finds them:
// exactly the members the stub extracts.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/archive_check.h"
#include "cli/commands.h"
#include "cli/escape.h"
#include "cli/files.h"
#include "cli/branding.h"
#include "cli/stubfile.h"
#include "core/image.h"
#include "platform/cp932.h"

const CommandDef InfoCommand = {
    "info",
    "FILE.exe",
    "show the configuration of a self-extracting file",
    {},
    "Shows the configuration of a self-extracting file made by lzhsfx create\n"
    "(title, prompt, default directory, command, flags, archive offset, the\n"
    "program icon's image count and the version information) and\n"
    "checks the archive behind it, listing the members the stub extracts.\n",
    "Exit codes: 0 a self-extracting file with a sound archive, 1 not one of\n"
    "ours or a bad archive, 2 usage or I/O error.\n",
};

namespace {

// Labels take this many columns; continuation lines are indented past them.
constexpr int LabelWidth = 19;

std::string FieldText(const char* field, uint32_t size, bool& terminated) {
  size_t n = strnlen(field, size);
  terminated = n < size;
  return EscapedCp932(std::string(field, n));
}

// The message's lines, each after the first indented under the first.
std::string IndentedMessage(const std::string& cp932) {
  std::string indented;
  for (char c : EscapedText(ToUtf8(cp932))) {
    if (c == '\r') continue;
    indented += c;
    if (c == '\n') indented.append(LabelWidth + 1, ' ');
  }
  while (!indented.empty() && (indented.back() == ' ' || indented.back() == '\n'))
    indented.pop_back();
  return indented;
}

// The program icon and the version strings, read from the image ahead of
// the archive through the same resource reader create uses.
void ShowResources(int fd, uint32_t imageSize) {
  // No stub image is near this large; a hostile offset must not make info
  // read gigabytes.
  constexpr uint32_t MaxImageSize = 16u << 20;
  if (imageSize > MaxImageSize) {
    std::printf("%-*s not read: the image ahead of the archive is over %u bytes\n", LabelWidth,
                "resources:", MaxImageSize);
    return;
  }
  Bytes image(imageSize);
  if (ReadAt(fd, 0, image.data(), image.size()) != image.size()) return;
  std::vector<ResourceLeaf> leaves;
  std::string error;
  if (!ReadResources(image, leaves, error)) {
    std::printf("%-*s unreadable: %s\n", LabelWidth, "resources:", error.c_str());
    return;
  }
  int icons = ProgramIconCount(leaves);
  if (icons < 0) std::printf("%-*s none\n", LabelWidth, "icon:");
  else std::printf("%-*s %d image%s\n", LabelWidth, "icon:", icons, icons == 1 ? "" : "s");
  for (const ResourceLeaf& leaf : leaves) {
    if (leaf.type.named || leaf.type.id != ResourceTypeVersion) continue;
    std::vector<std::pair<std::string, std::string>> strings;
    if (!ReadVersionStrings(leaf.data, strings)) {
      std::printf("%-*s unreadable\n", LabelWidth, "version:");
      continue;
    }
    for (const auto& [key, value] : strings)
      std::printf("%-*s %s=%s\n", LabelWidth, "version:", EscapedText(key).c_str(),
                  EscapedText(value).c_str());
  }
}

int ShowInfo(int fd, const std::string& path, uint64_t fileSize) {
  uint8_t head[StubSignatureSize];
  size_t headSize = fileSize < sizeof head ? (size_t)fileSize : sizeof head;
  if (ReadAt(fd, 0, head, headSize) != headSize) {
    std::fprintf(stderr, "lzhsfx info: cannot read %s: %s\n", Escaped(path).c_str(),
                 errno != 0 ? std::strerror(errno) : "the file ends early");
    return ExitUsage;
  }
  if (!StubImageRecognised(head, headSize)) {
    std::printf("%s: not a self-extracting file of lzhsfx (no stub header with its real-mode "
                "text)\n", Escaped(path).c_str());
    return ExitBadArchive;
  }
  static_assert(StubConfigOffset + StubConfigSize <= StubSignatureSize, "the block is in head");
  if (StubConfigIsBlank(head, headSize)) {
    std::printf("%s: a bare stub (configuration block not filled in, no archive)\n",
                Escaped(path).c_str());
    return ExitBadArchive;
  }
  StubConfig config;
  std::memcpy(&config, head + StubConfigOffset, sizeof config);

  bool sound = true;
  bool terminated;
  auto show = [&](const char* label, const char* field, uint32_t size, const char* emptyMeaning) {
    std::string text = FieldText(field, size, terminated);
    if (!terminated) sound = false;
    std::printf("%-*s %s%s\n", LabelWidth, label, text.empty() ? emptyMeaning : text.c_str(),
                terminated ? "" : "  [not terminated: the stub would read past the field]");
  };
  std::printf("%-*s %s\n", LabelWidth, "file:", Escaped(path).c_str());
  show("title:", config.title, TitleSize, "(empty: the stub's default title)");
  show("prompt:", config.prompt, PromptSize, "(empty: the default label)");
  show("default directory:", config.defaultDir, DefaultDirSize, "(empty: the current directory)");
  show("command:", config.command, CommandSize, "(none)");
  std::string flagText;
  if (config.flags & FlagAutoStart) flagText += ", start automatically";
  if (config.flags & FlagOverwriteSilently) flagText += ", overwrite without asking";
  if (config.flags & FlagWaitForCommand) flagText += ", wait for the command";
  if (config.flags & FlagTemporaryFolder) flagText += ", temporary folder";
  std::printf("%-*s 0x%02X%s%s%s\n", LabelWidth, "flags:", config.flags,
              flagText.empty() ? "" : " (", flagText.empty() ? "" : flagText.c_str() + 2,
              flagText.empty() ? "" : ")");
  std::printf("%-*s %s\n", LabelWidth, "restore attributes:",
              config.restoreAttributes ? "yes" : "no");
  uint32_t offset = config.archiveOffset;
  std::printf("%-*s %u (0x%X)\n", LabelWidth, "archive offset:", offset, offset);

  // The archive lies behind the PE headers and has at least its first byte
  // inside the file.
  if (offset < StubPeOffset || offset >= fileSize) {
    std::printf("%-*s no level-2 member header at the archive offset\n", LabelWidth, "archive:");
    return ExitBadArchive;
  }
  ShowResources(fd, offset);
  CheckOptions options;
  options.allowUnsafe = true;  // where members land is reported, not judged
  ArchiveReport report;
  if (!CheckArchive(fd, path, config, options, report)) {
    std::printf("%-*s bad: %s\n", LabelWidth, "archive:", report.error.c_str());
    return ExitBadArchive;
  }
  bool hasMessage = !report.members.empty() && report.members[0].name == MessageMemberName;
  size_t files = report.members.size() - (hasMessage ? 1 : 0);
  std::printf("%-*s %zu member%s%s\n", LabelWidth, "archive:", files, files == 1 ? "" : "s",
              hasMessage ? ", after a message member \"!\"" : "");
  if (hasMessage && report.members[0].method == MethodStored)
    std::printf("%-*s %s\n", LabelWidth, "message:", IndentedMessage(report.messageText).c_str());
  for (size_t i = hasMessage ? 1 : 0; i < report.members.size(); i++) {
    const MemberInfo& m = report.members[i];
    std::printf("%-*s -lh%c- %10u %s\n", LabelWidth, "member:", m.method, m.originalSize,
                EscapedCp932(m.name).c_str());
  }
  for (const auto& w : report.warnings) std::printf("%-*s %s\n", LabelWidth, "note:", w.c_str());
  for (const auto& n : report.notes) std::printf("%-*s %s\n", LabelWidth, "note:", n.c_str());
  return sound ? ExitOk : ExitBadArchive;
}

}  // namespace

int CmdInfo(const Args& args) {
  ParsedArgs parsed;
  if (!ParseArgs(InfoCommand, args, parsed)) return ExitUsage;
  if (parsed.operands.size() != 1 || parsed.operands[0].empty() || parsed.operands[0] == "-")
    return UsageError(InfoCommand, "give one FILE.exe");
  const std::string& path = parsed.operands[0];
  const std::string shown = Escaped(path);
  // Not blocking: a FIFO or device is refused at once.
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    std::fprintf(stderr, "lzhsfx info: cannot open %s: %s\n", shown.c_str(), std::strerror(errno));
    return ExitUsage;
  }
  struct stat st;
  int rc;
  if (fstat(fd, &st) != 0) {
    std::fprintf(stderr, "lzhsfx info: cannot read %s: %s\n", shown.c_str(), std::strerror(errno));
    rc = ExitUsage;
  } else if (!S_ISREG(st.st_mode)) {
    std::fprintf(stderr, "lzhsfx info: %s is not a regular file\n", shown.c_str());
    rc = ExitUsage;
  } else if ((uint64_t)st.st_size > MaxSfxFileSize) {
    std::fprintf(stderr, "lzhsfx info: %s is larger than %llu bytes\n", shown.c_str(),
                 (unsigned long long)MaxSfxFileSize);
    rc = ExitUsage;
  } else {
    rc = ShowInfo(fd, path, (uint64_t)st.st_size);
  }
  close(fd);
  return rc;
}
