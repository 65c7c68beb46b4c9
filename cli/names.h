// Member names as the commands see them. Archives from Windows and DOS
// store CP932; writers on Unix and macOS store UTF-8. The rule (see
// MemberNamesAreUtf8) picks one per member; every command then works with
// the name as UTF-8, the form l shows: x writes files under it, and l, t,
// x, p, d and a's replacement select and compare members by it. Also the
// member selection by name and shell pattern.
#pragma once
#include <string>
#include <vector>

enum class NameEncoding { Auto, Cp932, Utf8 };

// --names=cp932|utf-8|auto (utf8 accepted too); false on another value.
bool ParseNamesOption(const std::string& value, NameEncoding& out);
void SetNameEncoding(NameEncoding encoding);

// Whether the current member's stored name is taken as UTF-8: forced by
// --names, else (auto) when it is valid UTF-8 and either its header comes
// from a Unix ('U') or Macintosh ('m') writer or it is no valid CP932.
bool MemberNamesAreUtf8();
// The current member's full name as UTF-8, however it is stored.
std::string MemberNameText();
// Where the current member, a symbolic link, points, as UTF-8 by the rule
// its name follows.
std::string LinkTargetText();
// The current member as listings show it: its name escaped, marked when cut,
// and for a link "NAME -> TARGET".
std::string MemberListedName();
// Before the engine maps the current member's name to an output path: the
// platform is told to take engine paths as UTF-8 (x puts the path made from
// the UTF-8 name in place of the engine's mapping, cli/member.cpp).
void PrepareMemberPath();
// The root and drive prefix (ASCII, bytes long) x took off the front of
// Work->memberName (cli/member.cpp).
void MemberNameStripped(size_t bytes);
// An engine path or name (CP932, or UTF-8 while PlatformUtf8Paths is set),
// escaped for display.
std::string EscapedEngineText(const char* text);

// The names and shell patterns given after the archive; none selects all.
void SetMemberPatterns(const std::vector<std::string>& patterns);
bool SelectionActive();
// Whether the current member is selected: a pattern matches its UTF-8 name
// (fnmatch, '*' crossing '/'), or names a directory the member lies in.
bool MemberSelected();
// That rule for one pattern and one UTF-8 name (a folder's may end in '/').
bool NameMatches(const std::string& pattern, std::string name);
// Prints each pattern that selected no member; true when every one did.
bool EveryPatternMatched();
