// The host's one policy for member names: which names lead out of the
// destination, what is taken off the front of one, and what a path given on
// the command line becomes as a member name. x judges the names it extracts
// by it, create's check the names the stub will extract, a and create the
// names they store; so a name is judged alike wherever it is seen.
//
// The rule. A name leaves the destination when it opens with a separator
// ('/' or '\') or a drive prefix (an ASCII letter and ':'), or when one of
// its components is made of dots and spaces only, with two dots or more:
// Windows drops the dots and spaces that end a component, so "..." and
// ".. " climb there as ".." does. Components are split at '/' and '\'. In
// a CP932 name the second byte of a double-byte character is no separator
// (0x5C ends many kanji), but '/' can never be such a byte, so a lead byte
// before it stands alone; in a UTF-8 name every '/'
// and '\' is a separator. A name that opens with %WinDir% or %SystemDir%
// (any case) aims at that folder of the user's machine; what follows the
// prefix and one separator is judged by the same rule.
//
// Host-only: the stub keeps its documented placement, since running a
// self-extracting file already trusts its publisher.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// How the bytes of a name are read: as CP932, or as UTF-8 taken as it is.
enum class NameBytes { Cp932, Utf8 };

enum class PathVerdict {
  Inside,    // stays inside the destination (or inside the Windows folder it names)
  Absolute,  // opens with a separator
  Drive,     // opens with a drive prefix
  Climbs,    // a component climbs out
};

struct PathJudgement {
  PathVerdict verdict = PathVerdict::Inside;
  const char* folder = nullptr;  // WinDirPrefix or SystemDirPrefix when the name opens with one
  bool folderSeparated = false;  // ... and a separator follows that prefix
};

PathJudgement JudgeMemberName(std::string_view name, NameBytes bytes);
// How many bytes of separators and drive prefixes open name: what x takes
// off its front so that the member lands inside the destination.
size_t RootPrefixLength(std::string_view name);
// Whether one component of a name climbs out.
bool ClimbsOut(std::string_view component);

// The member name parts of a path given to a or create: a leading root and
// the "." parts are dropped. False when a part climbs out.
bool GivenPathParts(const std::string& path, std::vector<std::string>& parts);
// One part of a name to store, in CP932. False when it has no CP932 form or
// holds a zero or a single-byte '\' or 0xFF, which extractors take for
// separators.
bool StoredNamePart(const std::string& utf8, std::string& cp932);
