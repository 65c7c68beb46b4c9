// lzhsfx create and info. create joins the stub image, its filled-in
// configuration block and an LZH archive that was checked beforehand for
// everything the stub needs; the output file appears whole (temporary file,
// then rename) or not at all. info shows the block of a self-extracting file.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "platform/cp932.h"
#include "compress/pack.h"
#include "extract/crc16.h"
#include "extract/header.h"
#include "core/workarea.h"

const char* const CreateHelp =
    "usage: lzhsfx create OUT.exe PATH... [options]\n"
    "       lzhsfx create OUT.exe --from-lzh ARCHIVE.lzh [options]\n"
    "\n"
    "Builds a self-extracting file for Windows: the stub, its configuration\n"
    "and an LZH archive (packed from PATH... with -lh7-, or taken as it is).\n"
    "\n"
    "Options (texts in UTF-8; they are stored in Shift-JIS, CP932):\n"
    "  --from-lzh ARCHIVE   use this archive (level-2 headers, methods -lh0-,\n"
    "                       -lh4- to -lh7- and -lhd-)\n"
    "  --title T            window title and message-box caption (40 bytes)\n"
    "  --prompt P           label above the destination field (40 bytes)\n"
    "  --dir D              proposed destination (255 bytes); %WORK%, %WinDir%\n"
    "                       and %SystemDir% stand for the temporary, Windows and\n"
    "                       system directories\n"
    "  --run CMD            command started in the destination afterwards\n"
    "                       (258 bytes): a program, optionally quoted, and its\n"
    "                       parameters\n"
    "  --auto               start extracting by itself after 700 ms\n"
    "  --overwrite          replace existing files without asking\n"
    "  --attributes         restore the stored file attributes\n"
    "  --message FILE       show FILE's text (UTF-8) as a yes/no question first\n"
    "  --stub FILE          stub to use (default: sfxstub.exe beside lzhsfx)\n"
    "  --allow-unsafe-paths accept member names that leave the destination\n"
    "\n"
    "Exit codes: 0 written, 1 the archive cannot be used, 2 usage or I/O error.\n";

const char* const InfoHelp =
    "usage: lzhsfx info FILE.exe\n"
    "\n"
    "Shows the configuration of a self-extracting file made by lzhsfx create\n"
    "(title, prompt, default directory, command, flags, archive offset) and\n"
    "checks the archive behind it.\n"
    "\n"
    "Exit codes: 0 a self-extracting file with a sound archive, 1 not one of\n"
    "ours or a bad archive, 2 usage or I/O error.\n";

namespace {

using Bytes = std::vector<uint8_t>;

// The stub's file image: a 512-byte DOS header whose new-header pointer
// holds 0x500, the configuration block at 512, the real-mode program at
// 0x460 and the PE headers at 0x500.
constexpr uint8_t PeSignature[] = {'P', 'E', 0, 0};
static_assert(StubConfigOffset == DosHeaderSize, "the block follows the DOS header");
static_assert((uint32_t)StubConfigOffset + (uint32_t)StubConfigSize <= RealModeOffset, "block before real-mode code");
static_assert(RealModeOffset < StubPeOffset, "real-mode code before the PE headers");

// What the real-mode program prints when the file is started under DOS; a
// stub of ours carries it in CP932 between 0x460 and 0x500.
constexpr const char* RealModeTextUtf8 =
    "このプログラムは Windows 32ﾋﾞｯﾄ版の LZH 自己解凍書庫です.\r\n"
    "MS-DOS モードでは実行できません．\r\n$";

// The stub seeks with signed 32-bit file offsets.
constexpr uint64_t MaxOutputSize = 0x7FFFFFFFu;
constexpr uint64_t MaxStubSize = 16u << 20;

// The level-2 header as the stub reads it.
constexpr uint8_t LevelTwo = 2;
constexpr uint32_t MaxHeaderSize = 32767;   // the stub's length field is signed
constexpr uint32_t RecordMinSize = 3;       // type byte + next-size field
constexpr uint32_t NextSizeBytes = 2;
constexpr uint32_t MaxNameBytes = MemberNameSize - 1;
constexpr const char* AcceptedMethods = "04567d";
constexpr const char* MessageMemberName = "!";
// The stub copies at most this much of the message member into its text.
constexpr uint32_t MaxMessageBytes = TextSize - 1;

constexpr const char* SystemDirPrefix = "%SystemDir%";
constexpr const char* WinDirPrefix = "%WinDir%";

constexpr mode_t OutputMode = 0755;
constexpr const char* DefaultStubName = "sfxstub.exe";
constexpr char DefaultPackMethod = '7';

const char* const RelevelHint =
    "re-create the archive with level-2 headers (jlha: \"jlha c2o7 ARCHIVE.lzh FILES...\"), "
    "or let lzhsfx pack the files: \"lzhsfx create OUT.exe FILES...\"";
const char* const RemethodHint =
    "re-create the archive with -lh5-, -lh6- or -lh7- (jlha: \"jlha c2o7 ARCHIVE.lzh FILES...\"), "
    "or let lzhsfx pack the files: \"lzhsfx create OUT.exe FILES...\"";

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
  char buffer[1024];
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(buffer, sizeof buffer, format, ap);
  va_end(ap);
  return buffer;
}

uint16_t Le16(const uint8_t* p) { return (uint16_t)(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t* p) {
  return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

// CRC-16/ARC, bit by bit: the host checks a few headers, speed is no issue.
uint16_t Crc16(const uint8_t* bytes, size_t count) {
  uint16_t crc = 0;
  for (size_t i = 0; i < count; i++) {
    crc ^= bytes[i];
    for (int bit = 0; bit < 8; bit++) crc = (crc & 1) ? (uint16_t)((crc >> 1) ^ CrcPolynomial) : (uint16_t)(crc >> 1);
  }
  return crc;
}

bool ReadWholeFile(const std::string& path, uint64_t limit, Bytes& out, std::string& error) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    error = Format("cannot open %s: %s", path.c_str(), std::strerror(errno));
    return false;
  }
  out.clear();
  uint8_t chunk[65536];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
    out.insert(out.end(), chunk, chunk + got);
    if (out.size() > limit) {
      std::fclose(f);
      error = Format("%s is larger than %llu bytes", path.c_str(), (unsigned long long)limit);
      return false;
    }
  }
  bool bad = std::ferror(f);
  std::fclose(f);
  if (bad) {
    error = Format("cannot read %s", path.c_str());
    return false;
  }
  return true;
}

// Writes a temporary file beside path and renames it over path, so that a
// reader never sees a half-written program.
bool WriteAtomically(const std::string& path, const Bytes& data, std::string& error) {
  std::string temp = path + ".XXXXXX";
  int fd = mkstemp(temp.data());
  if (fd < 0) {
    error = Format("cannot create a temporary file beside %s: %s", path.c_str(), std::strerror(errno));
    return false;
  }
  size_t done = 0;
  bool ok = fchmod(fd, OutputMode) == 0;
  while (ok && done < data.size()) {
    ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) ok = false;
    else done += (size_t)n;
  }
  int saved = errno;
  if (ok && fsync(fd) != 0) ok = false, saved = errno;
  if (close(fd) != 0 && ok) ok = false, saved = errno;
  if (ok && rename(temp.c_str(), path.c_str()) != 0) ok = false, saved = errno;
  if (!ok) {
    unlink(temp.c_str());
    error = Format("cannot write %s: %s", path.c_str(), std::strerror(saved));
  }
  return ok;
}

// ---- Member names ---------------------------------------------------------

bool IsCp932Lead(uint8_t b) { return (b >= 0x80 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFD); }

// The stub's separator rule: '/', '\' and 0xFF become '/', but never the
// second byte of a double-byte character.
std::string NormalizeName(const std::string& name) {
  std::string out = name;
  bool trail = false;
  for (auto& c : out) {
    uint8_t b = (uint8_t)c;
    if (trail) trail = false;
    else if (IsCp932Lead(b)) trail = true;
    else if (b == '\\' || b == '/' || b == 0xFF) c = '/';
  }
  return out;
}

bool StartsNoCase(const std::string& text, const char* prefix) {
  size_t n = std::strlen(prefix);
  if (text.size() < n) return false;
  for (size_t i = 0; i < n; i++) {
    uint8_t a = (uint8_t)text[i], b = (uint8_t)prefix[i];
    if (a >= 'A' && a <= 'Z') a = (uint8_t)(a - 'A' + 'a');
    if (b >= 'A' && b <= 'Z') b = (uint8_t)(b - 'A' + 'a');
    if (a != b) return false;
  }
  return true;
}

// Windows drops trailing dots and spaces from a component, so ".. " and
// "..." climb like "..".
bool IsParentComponent(const std::string& component) {
  size_t dots = 0;
  for (char c : component) {
    if (c == '.') dots++;
    else if (c != ' ') return false;
  }
  return dots >= 2;
}

// Why the '/'-separated name would land outside the destination, or "".
std::string UnsafeReason(const std::string& name) {
  if (!name.empty() && name[0] == '/') return "begins with a separator (an absolute path)";
  if (name.size() >= 2 && name[1] == ':' && !IsCp932Lead((uint8_t)name[0]))
    return "begins with a drive prefix";
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find('/', start);
    if (end == std::string::npos) end = name.size();
    if (IsParentComponent(name.substr(start, end - start))) return "has a \"..\" component";
    start = end + 1;
  }
  return "";
}

// ---- Archive check --------------------------------------------------------

struct MemberInfo {
  uint64_t offset = 0;         // of its header, from the archive's start
  uint32_t headerSize = 0;
  char method = 0;
  uint32_t compressedSize = 0;
  uint32_t originalSize = 0;
  std::string name;            // CP932, '/' separators
};

struct ArchiveReport {
  std::vector<MemberInfo> members;
  std::vector<std::string> warnings;
  std::string error;           // the first fault, "" when the stub can use it
};

std::string Shown(const std::string& cp932Name) {
  std::string shown(1, '"');
  shown += ToUtf8(cp932Name);
  shown += '"';
  return shown;
}

std::string Printable(const uint8_t* bytes, size_t count) {
  std::string s;
  for (size_t i = 0; i < count; i++)
    s += (bytes[i] >= 0x20 && bytes[i] < 0x7F) ? (char)bytes[i] : '?';
  return s;
}

// Reads one header at data[pos]; fills info or sets report.error.
bool CheckHeader(const uint8_t* data, uint64_t size, uint64_t pos, size_t number,
                 MemberInfo& info, ArchiveReport& report) {
  uint64_t left = size - pos;
  const uint8_t* h = data + pos;
  std::string who = Format("member %zu", number);
  // Level-0 and level-1 headers keep their level at the same offset, so the
  // publisher gets the useful message before any size looks wrong.
  if (left > HdrLevel && h[HdrLevel] < LevelTwo) {
    report.error = Format("%s has a level-%u header, but the stub reads only level-2 headers; %s",
                          who.c_str(), h[HdrLevel], RelevelHint);
    return false;
  }
  uint32_t headerSize = Le16(h);
  if (headerSize < HdrFixedSize || left < HdrFixedSize) {
    report.error = Format("%s: header of %u bytes is too short for a level-2 header; the archive is "
                          "damaged or not an LZH archive", who.c_str(), headerSize);
    return false;
  }
  if (h[HdrLevel] != LevelTwo) {
    report.error = Format("%s has header level %u, but the stub reads only level-2 headers; %s",
                          who.c_str(), h[HdrLevel], RelevelHint);
    return false;
  }
  if (headerSize > MaxHeaderSize) {
    report.error = Format("%s: header of %u bytes is longer than the stub accepts (%u)",
                          who.c_str(), headerSize, MaxHeaderSize);
    return false;
  }
  if (headerSize > left) {
    report.error = Format("%s: header of %u bytes runs past the end of the archive (%llu bytes "
                          "left); the archive is truncated", who.c_str(), headerSize,
                          (unsigned long long)left);
    return false;
  }
  const uint8_t* m = h + HdrMethod;
  bool dashes = m[0] == '-' && m[1] == 'l' && m[2] == 'h' && m[4] == '-';
  if (!dashes || !std::strchr(AcceptedMethods, m[3]) || m[3] == 0) {
    report.error = Format("%s uses method \"%s\", which the stub cannot decode (it decodes -lh0-, "
                          "-lh4- to -lh7- and -lhd-); %s", who.c_str(),
                          Printable(m, 5).c_str(), RemethodHint);
    return false;
  }

  // The chain of extended headers, every record inside the header.
  uint32_t at = HdrFirstNextSize;
  int64_t crcField = -1;
  int64_t fileName = -1, dirName = -1;
  uint32_t fileNameLength = 0, dirNameLength = 0;
  for (;;) {
    uint32_t next = Le16(h + at);
    if (next == 0) break;
    uint32_t record = at + NextSizeBytes;
    if (next < RecordMinSize || (uint64_t)record + next > headerSize) {
      report.error = Format("%s: an extended header record of %u bytes does not fit in the header; "
                            "the archive is damaged", who.c_str(), next);
      return false;
    }
    uint8_t type = h[record];
    uint32_t length = next - RecordMinSize;
    if (type == ExtHeaderCrc) {
      if (length < 2) {
        report.error = Format("%s: the header CRC record is too short; the archive is damaged",
                              who.c_str());
        return false;
      }
      crcField = record + 1;
    } else if (type == ExtFileName) {
      fileName = record + 1, fileNameLength = length;
    } else if (type == ExtDirName) {
      dirName = record + 1, dirNameLength = length;
    }
    at = record + next - NextSizeBytes;
  }
  if (crcField < 0) {
    report.error = Format("%s: the header has no CRC record, and the stub refuses such headers; %s",
                          who.c_str(), RelevelHint);
    return false;
  }
  Bytes copy(h, h + headerSize);
  uint16_t stored = Le16(&copy[crcField]);
  copy[crcField] = copy[crcField + 1] = 0;
  uint16_t actual = Crc16(copy.data(), copy.size());
  if (actual != stored) {
    report.error = Format("%s: header CRC is 0x%04X but the header says 0x%04X; the archive is "
                          "damaged", who.c_str(), actual, stored);
    return false;
  }

  // The stored name as the stub composes it: each part ends at a zero byte.
  std::string name;
  if (dirName >= 0) name.append((const char*)h + dirName, strnlen((const char*)h + dirName, dirNameLength));
  if (fileName >= 0) name.append((const char*)h + fileName, strnlen((const char*)h + fileName, fileNameLength));
  name = NormalizeName(name);

  info.offset = pos;
  info.headerSize = headerSize;
  info.method = (char)m[3];
  info.compressedSize = Le32(h + HdrCompressedSize);
  info.originalSize = Le32(h + HdrOriginalSize);
  info.name = name;
  who = Format("member %zu %s", number, Shown(name).c_str());

  if (name.size() > MaxNameBytes) {
    report.error = Format("%s: the name is %zu bytes, the stub holds at most %u", who.c_str(),
                          name.size(), MaxNameBytes);
    return false;
  }
  if (name.empty() && info.method != MethodDirectory) {
    report.error = Format("member %zu has no file name; the archive is damaged", number);
    return false;
  }
  uint64_t dataEnd = pos + headerSize + (uint64_t)info.compressedSize;
  if (dataEnd > size) {
    report.error = Format("%s: its %u bytes of data run past the end of the archive (%llu bytes "
                          "left); the archive is truncated", who.c_str(), info.compressedSize,
                          (unsigned long long)(size - pos - headerSize));
    return false;
  }
  // The stub reads no data for a directory entry and copies originalSize
  // bytes of a stored member; any other size would make it take data bytes
  // for the next header.
  if (info.method == MethodDirectory && info.compressedSize != 0) {
    report.error = Format("%s: a directory entry carrying %u bytes of data; the archive is damaged",
                          who.c_str(), info.compressedSize);
    return false;
  }
  if (info.method == MethodStored && info.compressedSize != info.originalSize) {
    report.error = Format("%s: a stored member whose sizes differ (%u packed, %u original); the "
                          "archive is damaged", who.c_str(), info.compressedSize, info.originalSize);
    return false;
  }
  return true;
}

// Where a member lands, as far as the publisher should know.
bool CheckPlacement(const MemberInfo& info, size_t number, bool allowUnsafe, ArchiveReport& report) {
  const std::string& name = info.name;
  std::string who = Format("member %zu %s", number, Shown(name).c_str());
  if (name == MessageMemberName) {
    if (number != 1)
      report.warnings.push_back(who + " is not the first member, so the stub never shows it as a "
                                      "message and skips it");
    return true;
  }
  std::string rest = name;
  const char* place = nullptr;
  size_t prefix = 0;
  if (StartsNoCase(name, SystemDirPrefix)) place = "system", prefix = std::strlen(SystemDirPrefix);
  else if (StartsNoCase(name, WinDirPrefix)) place = "Windows", prefix = std::strlen(WinDirPrefix);
  if (place) {
    rest = name.substr(prefix);
    if (!rest.empty() && rest[0] == '/')
      report.warnings.push_back(Format("%s will be written into the %s directory of the user's "
                                       "machine", who.c_str(), place));
    else
      report.warnings.push_back(Format("%s will be written beside the %s directory, its name glued "
                                       "onto the directory's name (no separator after the prefix)",
                                       who.c_str(), place));
    if (!rest.empty() && rest[0] == '/') rest = rest.substr(1);
  }
  std::string reason = UnsafeReason(rest);
  if (reason.empty()) return true;
  if (allowUnsafe) {
    report.warnings.push_back(Format("%s %s and will be written outside the destination",
                                     who.c_str(), reason.c_str()));
    return true;
  }
  report.error = Format("%s %s, so it would be written outside the destination; rename it in the "
                        "archive, or pass --allow-unsafe-paths if that is intended",
                        who.c_str(), reason.c_str());
  return false;
}

// Walks the whole archive the way the stub will: members up to a zero length
// field, a single byte or the end of the data.
bool CheckArchive(const uint8_t* data, uint64_t size, bool allowUnsafe, ArchiveReport& report) {
  uint64_t pos = 0;
  for (size_t number = 1;; number++) {
    uint64_t left = size - pos;
    if (left == 0) break;
    if (left == 1) {
      if (data[pos] != 0)
        report.warnings.push_back("the archive ends in a stray byte, which the stub ignores");
      break;
    }
    if (Le16(data + pos) == 0) break;
    MemberInfo info;
    if (!CheckHeader(data, size, pos, number, info, report)) return false;
    if (!CheckPlacement(info, number, allowUnsafe, report)) return false;
    pos += info.headerSize + (uint64_t)info.compressedSize;
    report.members.push_back(info);
  }
  if (report.members.empty())
    report.warnings.push_back("the archive has no members; the stub will extract nothing");
  return true;
}

// ---- Texts for the configuration block -------------------------------------

// Converts a UTF-8 option text into a field of the block, with room for its
// terminator.
bool FillField(char* field, uint32_t size, const std::string& utf8, const char* option,
               const char* fieldName, std::string& error) {
  std::string cp932;
  if (!ToCp932(utf8, cp932)) {
    error = Format("%s \"%s\": has a character with no Shift-JIS (CP932) form, or is not UTF-8",
                   option, utf8.c_str());
    return false;
  }
  if (cp932.size() > size - 1) {
    error = Format("%s \"%s\": is %zu bytes in CP932, but the %s field holds at most %u bytes",
                   option, utf8.c_str(), cp932.size(), fieldName, size - 1);
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
    error = Format("--message %s: the text contains a zero byte", path.c_str());
    return false;
  }
  std::string crlf;
  for (size_t i = 0; i < utf8.size(); i++) {
    if (utf8[i] == '\n' && (i == 0 || utf8[i - 1] != '\r')) crlf += '\r';
    crlf += utf8[i];
  }
  if (!ToCp932(crlf, cp932)) {
    error = Format("--message %s: the text has a character with no Shift-JIS (CP932) form, or "
                   "is not UTF-8", path.c_str());
    return false;
  }
  if (cp932.empty()) {
    error = Format("--message %s: the file is empty; the stub would ask an empty question",
                   path.c_str());
    return false;
  }
  if (cp932.size() > MaxMessageBytes) {
    error = Format("--message %s: the text is %zu bytes in CP932, but the stub shows at most %u",
                   path.c_str(), cp932.size(), MaxMessageBytes);
    return false;
  }
  struct stat st;
  timeStamp = stat(path.c_str(), &st) == 0 ? (uint32_t)st.st_mtime : 0;
  return true;
}

// ---- The stub image --------------------------------------------------------

std::string DefaultStubPath() {
  char self[4096];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return DefaultStubName;
  std::string path(self, (size_t)n);
  size_t slash = path.rfind('/');
  return (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + DefaultStubName;
}

bool HasDosAndPeHeaders(const Bytes& image) {
  return image.size() >= StubPeOffset + sizeof PeSignature && image[0] == 'M' && image[1] == 'Z' &&
         Le32(&image[NewHeaderPointerOffset]) == StubPeOffset &&
         std::memcmp(&image[StubPeOffset], PeSignature, sizeof PeSignature) == 0;
}

bool HasRealModeText(const Bytes& image) {
  std::string text;
  if (!ToCp932(RealModeTextUtf8, text) || image.size() < StubPeOffset) return false;
  std::string area(image.begin() + RealModeOffset, image.begin() + StubPeOffset);
  return area.find(text) != std::string::npos;
}

bool ConfigIsBlank(const Bytes& image) {
  for (uint32_t i = 0; i < StubConfigSize; i++)
    if (image[StubConfigOffset + i] != 0) return false;
  return true;
}

// ---- Command line --------------------------------------------------------

struct CreateOptions {
  std::string out, fromLzh, title, prompt, dir, run, message, stub;
  bool haveTitle = false, havePrompt = false, haveDir = false, haveRun = false;
  bool autoStart = false, overwrite = false, attributes = false, allowUnsafe = false;
  std::vector<std::string> paths;
};

int Usage(const std::string& message) {
  std::fprintf(stderr, "lzhsfx create: %s\n(see \"lzhsfx create --help\")\n", message.c_str());
  return ExitUsage;
}

int Fail(int code, const std::string& message) {
  std::fprintf(stderr, "lzhsfx create: %s\n", message.c_str());
  return code;
}

// 0 when parsed, else the exit code of the usage error already reported.
int ParseCreate(const Args& args, CreateOptions& o) {
  struct ValueOption {
    const char* name;
    std::string* value;
    bool* seen;
  };
  const ValueOption values[] = {
      {"--from-lzh", &o.fromLzh, nullptr}, {"--title", &o.title, &o.haveTitle},
      {"--prompt", &o.prompt, &o.havePrompt}, {"--dir", &o.dir, &o.haveDir},
      {"--run", &o.run, &o.haveRun},       {"--message", &o.message, nullptr},
      {"--stub", &o.stub, nullptr},
  };
  struct FlagOption {
    const char* name;
    bool* value;
  };
  const FlagOption flags[] = {{"--auto", &o.autoStart}, {"--overwrite", &o.overwrite},
                              {"--attributes", &o.attributes},
                              {"--allow-unsafe-paths", &o.allowUnsafe}};
  std::vector<std::string> positional;
  bool optionsDone = false;
  for (size_t i = 0; i < args.size(); i++) {
    const std::string& a = args[i];
    if (optionsDone || a.size() < 2 || a[0] != '-') {
      positional.push_back(a);
      continue;
    }
    if (a == "--") {
      optionsDone = true;
      continue;
    }
    std::string name = a, value;
    size_t eq = a.find('=');
    bool inlineValue = a.rfind("--", 0) == 0 && eq != std::string::npos;
    if (inlineValue) name = a.substr(0, eq), value = a.substr(eq + 1);
    bool known = false;
    for (const auto& v : values) {
      if (name != v.name) continue;
      known = true;
      if (!inlineValue) {
        if (i + 1 >= args.size()) return Usage(name + " needs a value");
        value = args[++i];
      }
      *v.value = value;
      if (v.seen) *v.seen = true;
    }
    for (const auto& f : flags) {
      if (name != f.name) continue;
      if (inlineValue) return Usage(name + " takes no value");
      known = true;
      *f.value = true;
    }
    if (!known) return Usage("unknown option " + a);
  }
  if (positional.empty()) return Usage("missing OUT.exe");
  o.out = positional[0];
  o.paths.assign(positional.begin() + 1, positional.end());
  if (o.fromLzh.empty() && o.paths.empty())
    return Usage("nothing to pack: give PATH... or --from-lzh ARCHIVE.lzh");
  if (!o.fromLzh.empty() && !o.paths.empty())
    return Usage("give either PATH... or --from-lzh ARCHIVE.lzh, not both");
  if (o.stub.empty()) o.stub = DefaultStubPath();
  return 0;
}

void PrintWarnings(const ArchiveReport& report, const char* command) {
  for (const auto& w : report.warnings) std::fprintf(stderr, "lzhsfx %s: warning: %s\n", command, w.c_str());
}

uint64_t AlignUp(uint64_t value, uint64_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}

// ---- info ---------------------------------------------------------------

std::string FieldText(const char* field, uint32_t size, bool& terminated) {
  size_t n = strnlen(field, size);
  terminated = n < size;
  return ToUtf8(std::string(field, n));
}

}  // namespace

int CmdCreate(const Args& args) {
  CreateOptions o;
  if (int code = ParseCreate(args, o)) return code;
  std::string error;

  // The stub must be a bare stub of ours: anything else would make a file
  // that does not start, or one with two archives.
  Bytes image;
  if (!ReadWholeFile(o.stub, MaxStubSize, image, error))
    return Fail(ExitUsage, error + "; build the stub with \"make stub\" or pass --stub FILE");
  if (!HasDosAndPeHeaders(image))
    return Fail(ExitUsage, o.stub + " is not a self-extracting stub of lzhsfx (no MZ header with "
                                    "its PE header at 0x500); pass the sfxstub.exe that \"make "
                                    "stub\" builds");
  if (!ConfigIsBlank(image))
    return Fail(ExitUsage, o.stub + " already has its configuration block filled in (it is a "
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
  config.flags = (uint8_t)((o.autoStart ? FlagAutoStart : 0) | (o.overwrite ? FlagOverwriteSilently : 0));
  config.restoreAttributes = o.attributes ? 1 : 0;

  std::string message;
  uint32_t messageTime = 0;
  if (!o.message.empty() && !MessageText(o.message, message, messageTime, error))
    return Fail(ExitUsage, error);

  // The archive: taken as it is, or packed here.
  Bytes archive;
  if (!o.fromLzh.empty()) {
    if (!ReadWholeFile(o.fromLzh, MaxOutputSize, archive, error)) return Fail(ExitUsage, error);
  } else {
    PackOptions pack;
    pack.method = DefaultPackMethod;
    if (!PackPaths(o.paths, pack, archive, error)) return Fail(ExitUsage, error);
  }
  ArchiveReport report;
  bool sound = CheckArchive(archive.data(), archive.size(), o.allowUnsafe, report);
  PrintWarnings(report, "create");
  if (!sound) return Fail(ExitBadArchive, (o.fromLzh.empty() ? std::string("packed archive: ") : o.fromLzh + ": ") + report.error);
  if (!message.empty() && !report.members.empty() && report.members[0].name == MessageMemberName)
    return Fail(ExitBadArchive, "the archive already begins with a message member \"!\"; drop "
                                "--message or remove that member");

  // Stub, zero padding up to an aligned offset, the archive.
  uint64_t archiveOffset = AlignUp(image.size(), ArchiveAlignment);
  Bytes head;
  if (!message.empty()) AppendStoredMember(head, MessageMemberName, message, messageTime);
  uint64_t total = archiveOffset + head.size() + archive.size();
  if (total > MaxOutputSize)
    return Fail(ExitUsage, Format("the file would be %llu bytes; the stub reads files up to %llu "
                                  "bytes", (unsigned long long)total,
                                  (unsigned long long)MaxOutputSize));
  config.archiveOffset = (uint32_t)archiveOffset;
  Bytes out = std::move(image);
  out.resize(archiveOffset, 0);
  std::memcpy(&out[StubConfigOffset], &config, sizeof config);
  out.insert(out.end(), head.begin(), head.end());
  out.insert(out.end(), archive.begin(), archive.end());

  if (!WriteAtomically(o.out, out, error)) return Fail(ExitUsage, error);
  std::printf("%s: %zu member%s%s, archive at offset %llu, %llu bytes\n", o.out.c_str(),
              report.members.size(), report.members.size() == 1 ? "" : "s",
              message.empty() ? "" : " and a message", (unsigned long long)archiveOffset,
              (unsigned long long)out.size());
  return ExitOk;
}

int CmdInfo(const Args& args) {
  if (args.size() != 1 || args[0].empty() || args[0][0] == '-') {
    std::fprintf(stderr, "lzhsfx info: give one FILE.exe\n(see \"lzhsfx info --help\")\n");
    return ExitUsage;
  }
  const std::string& path = args[0];
  Bytes file;
  std::string error;
  if (!ReadWholeFile(path, MaxOutputSize, file, error)) {
    std::fprintf(stderr, "lzhsfx info: %s\n", error.c_str());
    return ExitUsage;
  }
  if (!HasDosAndPeHeaders(file) || !HasRealModeText(file)) {
    std::printf("%s: not a self-extracting file of lzhsfx (no stub header with its real-mode "
                "text)\n", path.c_str());
    return ExitBadArchive;
  }
  StubConfig config;
  std::memcpy(&config, &file[StubConfigOffset], sizeof config);
  if (ConfigIsBlank(file)) {
    std::printf("%s: a bare stub (configuration block not filled in, no archive)\n", path.c_str());
    return ExitBadArchive;
  }

  bool sound = true;
  bool terminated;
  auto show = [&](const char* label, const char* field, uint32_t size, const char* emptyMeaning) {
    std::string text = FieldText(field, size, terminated);
    if (!terminated) sound = false;
    std::printf("%-19s %s%s\n", label, text.empty() ? emptyMeaning : text.c_str(),
                terminated ? "" : "  [not terminated: the stub would read past the field]");
  };
  std::printf("%-19s %s\n", "file:", path.c_str());
  show("title:", config.title, TitleSize, "(empty: the stub's default title)");
  show("prompt:", config.prompt, PromptSize, "(empty: the default label)");
  show("default directory:", config.defaultDir, DefaultDirSize, "(empty: the current directory)");
  show("command:", config.command, CommandSize, "(none)");
  std::string flagText;
  if (config.flags & FlagAutoStart) flagText += ", start automatically";
  if (config.flags & FlagOverwriteSilently) flagText += ", overwrite without asking";
  std::printf("%-19s 0x%02X%s%s%s\n", "flags:", config.flags, flagText.empty() ? "" : " (",
              flagText.empty() ? "" : flagText.c_str() + 2, flagText.empty() ? "" : ")");
  std::printf("%-19s %s\n", "restore attributes:", config.restoreAttributes ? "yes" : "no");
  uint32_t offset = config.archiveOffset;
  std::printf("%-19s %u (0x%X)\n", "archive offset:", offset, offset);

  // A plausible offset lies behind the PE headers, inside the file, and has
  // a level-2 header.
  if (offset < StubPeOffset || offset >= file.size() ||
      file.size() - offset <= HdrLevel || file[offset + HdrLevel] != LevelTwo) {
    std::printf("%-19s no level-2 member header at the archive offset\n", "archive:");
    return ExitBadArchive;
  }
  ArchiveReport report;
  bool archiveSound = CheckArchive(file.data() + offset, file.size() - offset, true, report);
  if (!archiveSound) {
    std::printf("%-19s bad: %s\n", "archive:", report.error.c_str());
    return ExitBadArchive;
  }
  bool hasMessage = !report.members.empty() && report.members[0].name == MessageMemberName;
  size_t files = report.members.size() - (hasMessage ? 1 : 0);
  std::printf("%-19s %zu member%s%s\n", "archive:", files, files == 1 ? "" : "s",
              hasMessage ? ", after a message member \"!\"" : "");
  if (hasMessage && report.members[0].method == MethodStored) {
    const MemberInfo& m = report.members[0];
    const char* text = (const char*)file.data() + offset + m.offset + m.headerSize;
    std::string shown = ToUtf8(std::string(text, strnlen(text, std::min<uint32_t>(m.originalSize, MaxMessageBytes))));
    std::string indented;
    for (char c : shown) {
      if (c == '\r') continue;
      indented += c;
      if (c == '\n') indented.append(20, ' ');
    }
    while (!indented.empty() && (indented.back() == ' ' || indented.back() == '\n')) indented.pop_back();
    std::printf("%-19s %s\n", "message:", indented.c_str());
  }
  for (const auto& w : report.warnings) std::printf("%-19s %s\n", "note:", w.c_str());
  return sound ? ExitOk : ExitBadArchive;
}
