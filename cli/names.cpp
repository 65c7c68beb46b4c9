// Member names: which encoding a stored name is in, and the selection by
// pattern. Decisions are kept per member (by header offset), since the
// engine's name is rewritten in place once converted, and the same member is
// asked about several times (scan, progress total, extraction).
#include "cli/names.h"

#include <fnmatch.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "cli/escape.h"
#include "cli/utf8.h"
#include "core/workarea.h"
#include "platform/cp932.h"
#include "platform/posix_host.h"

namespace {

NameEncoding Encoding = NameEncoding::Auto;

struct NameState {
  bool valid = false;
  uint64_t offset = 0;
  std::string engine;  // what memberName holds (CP932 separators made '/')
  bool utf8 = false;
  std::string text;    // UTF-8
  std::string target;  // a link's target as the name's bytes are read, UTF-8
};
NameState Current;

std::vector<std::string> Patterns;
std::vector<bool> Matched;

bool IsAscii(const std::string& s) {
  for (unsigned char c : s)
    if (c >= 0x80) return false;
  return true;
}

// Unix and Macintosh writers store UTF-8 names ('M' is MS-DOS).
bool FromOsThatWritesUtf8() {
  if (Work->header == nullptr) return false;
  uint8_t os = Work->header[HdrOsId];
  return os == OsIdUnix || os == OsIdMacintosh;
}

// Whether a stored name (or link target) of the current member is read as
// UTF-8 under the --names rule: asUtf8 is its bytes with separators as
// UTF-8 reads them, asCp932 as CP932 reads them.
bool TakenAsUtf8(const std::string& asUtf8, const std::string& asCp932) {
  std::string strict;
  switch (Encoding) {
    case NameEncoding::Cp932:
      return false;
    case NameEncoding::Utf8:
      // A forced UTF-8 name that is not UTF-8 is shown as CP932 rather than lost.
      return IsUtf8(asUtf8);
    case NameEncoding::Auto:
      break;
  }
  return !IsAscii(asUtf8) && IsUtf8(asUtf8) && (FromOsThatWritesUtf8() || !FromCp932(asCp932, strict));
}

// Appends the bytes of a name record to name up to a zero byte, with every
// '/', '\' and 0xFF made '/': in UTF-8 they are separators wherever they
// stand, while the engine's CP932 reading passes over the byte behind what
// it takes for a lead byte (which the last byte of many UTF-8 characters
// is). 0 once a zero byte ended the name.
int AppendUtf8Part(std::string& name, const uint8_t* part, uint32_t length) {
  for (uint32_t i = 0; i < length; ++i) {
    uint8_t b = part[i];
    if (b == 0) return 0;
    name += b == '\\' || b == ByteSeparator ? '/' : (char)b;
  }
  return 1;
}

// The current member's name as UTF-8 reads its bytes, as long as memberName
// holds of it.
std::string Utf8ReadName() {
  std::string name;
  if (Work->header == nullptr) return Work->memberName;
  if (Work->dirNameLength == 0 || AppendUtf8Part(name, Work->dirName, Work->dirNameLength))
    AppendUtf8Part(name, Work->fileName, Work->fileNameLength);
  if (name.size() >= MemberNameSize) name.resize(MemberNameSize - 1);
  return name;
}

void Refresh() {
  if (Current.valid && Current.offset == Work->headerOffset && Current.engine == Work->memberName)
    return;
  Current = NameState{};
  Current.valid = true;
  Current.offset = Work->headerOffset;
  Current.engine = Work->memberName;
  std::string asUtf8 = Utf8ReadName();
  std::string target = Work->linkTarget;
  // A link's stored name is the link, '|' and the target (extract/levels_host).
  if (Work->isLink && asUtf8.find(LinkTargetMark) != std::string::npos) {
    target = asUtf8.substr(asUtf8.find(LinkTargetMark) + 1);
    asUtf8.resize(asUtf8.find(LinkTargetMark));
  }
  Current.utf8 = TakenAsUtf8(asUtf8 + target, Current.engine + Work->linkTarget);
  Current.text = Current.utf8 ? asUtf8 : ToUtf8(Current.engine);
  Current.target = Current.utf8 ? target : ToUtf8(Work->linkTarget);
}

}  // namespace

// A name is also matched as it is, so a name holding '[' or '*' is found
// by itself.
bool NameMatches(const std::string& pattern, std::string name) {
  if (!name.empty() && name.back() == '/') name.pop_back();
  std::string folder = pattern;
  while (!folder.empty() && folder.back() == '/') folder.pop_back();
  if (name == folder || name.rfind(folder + "/", 0) == 0) return true;
  if (fnmatch(pattern.c_str(), name.c_str(), 0) == 0) return true;
  return fnmatch((folder + "/*").c_str(), name.c_str(), 0) == 0;
}

bool ParseNamesOption(const std::string& value, NameEncoding& out) {
  if (value == "auto") out = NameEncoding::Auto;
  else if (value == "cp932") out = NameEncoding::Cp932;
  else if (value == "utf-8" || value == "utf8") out = NameEncoding::Utf8;
  else return false;
  return true;
}

void SetNameEncoding(NameEncoding encoding) {
  Encoding = encoding;
  Current.valid = false;
}

bool MemberNamesAreUtf8() {
  Refresh();
  return Current.utf8;
}

std::string MemberNameText() {
  Refresh();
  // A name cut short may end inside a character; show what is there.
  return Current.text;
}

std::string LinkTargetText() {
  Refresh();
  return Current.target;
}

std::string MemberListedName() {
  std::string shown = Escaped(MemberNameText()) + (Work->nameCut ? "... [name cut]" : "");
  if (Work->isLink) shown += " -> " + Escaped(LinkTargetText());
  return shown;
}

void PrepareMemberPath() {
  Refresh();
  PlatformUtf8Paths = 1;
}

void MemberNameStripped(size_t bytes) {
  if (bytes == 0) return;  // Current is this member's: AcceptMemberPath asked first
  for (std::string* s : {&Current.engine, &Current.text}) s->erase(0, std::min(bytes, s->size()));
}

std::string EscapedEngineText(const char* text) {
  return PlatformUtf8Paths ? Escaped(text) : EscapedCp932(text);
}

void SetMemberPatterns(const std::vector<std::string>& patterns) {
  Patterns = patterns;
  Matched.assign(patterns.size(), false);
}

bool SelectionActive() { return !Patterns.empty(); }

bool MemberSelected() {
  if (Patterns.empty()) return true;
  std::string name = MemberNameText();
  bool any = false;
  for (size_t i = 0; i < Patterns.size(); ++i)
    if (NameMatches(Patterns[i], name)) any = Matched[i] = true;
  return any;
}

bool EveryPatternMatched() {
  bool all = true;
  for (size_t i = 0; i < Patterns.size(); ++i)
    if (!Matched[i]) {
      std::fprintf(stderr, "lzhsfx: '%s': no member matches\n", Escaped(Patterns[i]).c_str());
      all = false;
    }
  return all;
}
