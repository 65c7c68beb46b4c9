// Every test reads bytes inside the name it is given and stops at its end;
// names are never assumed to be terminated.
#include "platform/pathpolicy.h"

#include <cstdint>
#include <cstring>

#include "base/format.h"
#include "base/text.h"
#include "platform/cp932.h"

namespace {

constexpr char DriveColon = ':';
constexpr size_t DrivePrefixLength = 2;
constexpr size_t LeastClimbingDots = 2;

bool IsSeparator(uint8_t b) { return b == '/' || b == '\\'; }

bool IsAsciiLetter(uint8_t b) { return (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z'); }

bool OpensWithDrive(std::string_view name) {
  return name.size() >= DrivePrefixLength && IsAsciiLetter((uint8_t)name[0]) && name[1] == DriveColon;
}

// The folder prefixes are ASCII, so comparing byte by byte with ASCII
// letters folded never pairs a prefix letter with half of a CP932 character.
bool OpensWithNoCase(std::string_view name, const char* prefix) {
  size_t length = std::strlen(prefix);
  if (name.size() < length) return false;
  for (size_t i = 0; i < length; ++i) {
    uint8_t a = (uint8_t)name[i], b = (uint8_t)prefix[i];
    if (IsAsciiLetter(a)) a |= 0x20;
    if (IsAsciiLetter(b)) b |= 0x20;
    if (a != b) return false;
  }
  return true;
}

bool AnyComponentClimbs(std::string_view name, NameBytes bytes) {
  size_t start = 0;
  for (size_t i = 0; i < name.size();) {
    uint8_t b = (uint8_t)name[i];
    if (bytes == NameBytes::Cp932 && IsLeadByte(b) && i + 1 < name.size() &&
        IsTrailByte((uint8_t)name[i + 1])) {
      i += 2;
      continue;
    }
    if (IsSeparator(b)) {
      if (ClimbsOut(name.substr(start, i - start))) return true;
      start = i + 1;
    }
    ++i;
  }
  return ClimbsOut(name.substr(start));
}

}  // namespace

bool ClimbsOut(std::string_view component) {
  size_t dots = 0;
  for (char c : component) {
    if (c == '.')
      ++dots;
    else if (c != ' ')
      return false;
  }
  return dots >= LeastClimbingDots;
}

PathJudgement JudgeMemberName(std::string_view name, NameBytes bytes) {
  PathJudgement judged;
  std::string_view rest = name;
  for (const char* folder : {WinDirPrefix, SystemDirPrefix}) {
    if (!OpensWithNoCase(name, folder)) continue;
    judged.folder = folder;
    rest.remove_prefix(std::strlen(folder));
    judged.folderSeparated = !rest.empty() && IsSeparator((uint8_t)rest[0]);
    if (judged.folderSeparated) rest.remove_prefix(1);
    break;
  }
  if (!rest.empty() && IsSeparator((uint8_t)rest[0]))
    judged.verdict = PathVerdict::Absolute;
  else if (OpensWithDrive(rest))
    judged.verdict = PathVerdict::Drive;
  else if (AnyComponentClimbs(rest, bytes))
    judged.verdict = PathVerdict::Climbs;
  return judged;
}

size_t RootPrefixLength(std::string_view name) {
  size_t skip = 0;
  for (;;) {
    std::string_view rest = name.substr(skip);
    if (!rest.empty() && IsSeparator((uint8_t)rest[0]))
      skip += 1;
    else if (OpensWithDrive(rest))
      skip += DrivePrefixLength;
    else
      return skip;
  }
}

bool GivenPathParts(const std::string& path, std::vector<std::string>& parts) {
  parts.clear();
  size_t i = 0;
  while (i <= path.size()) {
    size_t j = path.find('/', i);
    if (j == std::string::npos) j = path.size();
    const std::string part = path.substr(i, j - i);
    if (ClimbsOut(part)) return false;
    if (!part.empty() && part != ".") parts.push_back(part);
    i = j + 1;
  }
  return true;
}

bool StoredNamePart(const std::string& utf8, std::string& cp932) {
  if (!ToCp932(utf8, cp932)) return false;
  for (size_t i = 0; i < cp932.size(); ++i) {
    const uint8_t b = (uint8_t)cp932[i];
    if (IsLeadByte(b)) {
      ++i;
      continue;
    }
    if (b == '\\' || b == ByteSeparator || b == 0) return false;
  }
  return true;
}
