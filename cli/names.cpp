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
#include "extract/outpath.h"
#include "platform/cp932.h"
#include "platform/posix_host.h"

namespace {

// Bytes in one component of a path on the host's file systems.
constexpr size_t NameLengthLimit = 255;

NameEncoding Encoding = NameEncoding::Auto;

struct NameState {
  bool valid = false;
  uint64_t offset = 0;
  std::string stored;  // the bytes the header gave
  std::string engine;  // what memberName holds after PrepareMemberPath
  bool utf8 = false;
  bool carried = false;  // UTF-8 bytes handed to the engine as they are
  std::string text;      // UTF-8
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
// UTF-8 under the --names rule.
bool TakenAsUtf8(const std::string& stored) {
  std::string strict;
  switch (Encoding) {
    case NameEncoding::Cp932:
      return false;
    case NameEncoding::Utf8:
      // A forced UTF-8 name that is not UTF-8 is shown as CP932 rather than lost.
      return IsUtf8(stored);
    case NameEncoding::Auto:
      break;
  }
  return !IsAscii(stored) && IsUtf8(stored) && (FromOsThatWritesUtf8() || !FromCp932(stored, strict));
}

void Refresh() {
  if (Current.valid && Current.offset == Work->headerOffset &&
      (Current.stored == Work->memberName || Current.engine == Work->memberName))
    return;
  Current = NameState{};
  Current.valid = true;
  Current.offset = Work->headerOffset;
  Current.stored = Work->memberName;
  Current.engine = Current.stored;
  Current.utf8 = TakenAsUtf8(Current.stored);
  Current.text = Current.utf8 ? Current.stored : ToUtf8(Current.stored);
}

// The pattern matches name, or name lies in the directory the pattern names.
bool Matches(const std::string& pattern, std::string name) {
  if (!name.empty() && name.back() == '/') name.pop_back();
  if (fnmatch(pattern.c_str(), name.c_str(), 0) == 0) return true;
  std::string under = pattern;
  while (!under.empty() && under.back() == '/') under.pop_back();
  under += "/*";
  return fnmatch(under.c_str(), name.c_str(), 0) == 0;
}

}  // namespace

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
  std::string stored = Work->linkTarget;
  return TakenAsUtf8(stored) ? stored : ToUtf8(stored);
}

std::string MemberListedName() {
  std::string shown = Escaped(MemberNameText()) + (Work->nameCut ? "... [name cut]" : "");
  if (Work->isLink) shown += " -> " + Escaped(LinkTargetText());
  return shown;
}

void PrepareMemberPath() {
  Refresh();
  PlatformUtf8Paths = 0;
  if (!Current.utf8) return;
  std::string cp932, back;
  if (ToCp932(Current.stored, cp932) && FromCp932(cp932, back) && back == Current.stored &&
      cp932.size() < MemberNameSize) {
    std::memcpy(Work->memberName, cp932.c_str(), cp932.size() + 1);
    Current.engine = cp932;
    return;
  }
  Current.carried = true;
  PlatformUtf8Paths = 1;
}

void MemberNameStripped(size_t bytes) {
  if (bytes == 0) return;  // Current is this member's: AcceptMemberPath asked first
  for (std::string* s : {&Current.stored, &Current.engine, &Current.text})
    s->erase(0, std::min(bytes, s->size()));
}

void RemapCarriedOutputPath() {
  if (!Current.carried || Current.engine != Work->memberName) return;
  const std::string& name = Current.engine;
  // %SystemDir% and %WinDir% names (only with --allow-unsafe-paths) keep
  // the engine's mapping: their prefix is ASCII and the rest is appended.
  if (!name.empty() && name[0] == '%') return;
  std::string out = !name.empty() && (name[0] == '/' || name[0] == '\\') ? "/" : "";
  size_t start = out.size();
  for (size_t i = start; i <= name.size(); ++i) {
    if (i < name.size() && name[i] != '/' && name[i] != '\\') continue;
    std::string component = name.substr(start, i - start);
    // The engine's sanitising, applied to the ASCII runs alone, where no
    // byte can be taken for half of a CP932 pair.
    for (size_t a = 0; a < component.size();) {
      if ((unsigned char)component[a] >= 0x80) {
        ++a;
        continue;
      }
      size_t b = a;
      while (b < component.size() && (unsigned char)component[b] < 0x80) ++b;
      std::string run = component.substr(a, b - a);
      SanitizeNamePart(run.data(), (uint32_t)run.size(), 1);
      component.replace(a, b - a, run);
      a = b;
    }
    // A component longer than the file system takes is cut at a character.
    if (component.size() > NameLengthLimit) {
      size_t cut = NameLengthLimit;
      while (cut > 0 && ((unsigned char)component[cut] & 0xC0) == 0x80) --cut;
      component.resize(cut);
    }
    out += component;
    if (i < name.size()) out += '/';
    start = i + 1;
  }
  if (out.size() < OutputPathSize) std::memcpy(Work->outputPath, out.c_str(), out.size() + 1);
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
    if (Matches(Patterns[i], name)) any = Matched[i] = true;
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
