// What the reading commands (l and v, t and p, x) share: their common
// options, opening the archive for the engine (standard input spooled to a
// file the engine can seek in), running the engine over the members past
// their faults, and the count of failures at the end.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "cli/archive_open.h"
#include "cli/commands.h"
#include "cli/names.h"
#include "extract/driver.h"

// What l, t, p and x take beside the archive.
enum : unsigned {
  TakesQuiet = 1,        // -q
  TakesStopOnError = 2,  // --stop-on-error
  TakesListing = 4,      // -v, --utc
};

struct ReadOptions {
  bool quiet = false;        // -q: no progress line (l: no heading or totals)
  bool stopOnError = false;  // --stop-on-error: the first failed member ends the run
  bool verbose = false;      // l -v: the long listing
  bool utc = false;          // l --utc: times in UTC rather than local time
  NameEncoding names = NameEncoding::Auto;
  std::vector<std::string> patterns;  // members to work on; none: all
};

// Takes one option every reading command shares or that `takes` allows;
// false when a is none of them (bad: it was one, with a wrong value).
bool TakeReadOption(const std::string& a, unsigned takes, ReadOptions& options, const char* help,
                    bool& bad);
// Parses "ARCHIVE [NAME|PATTERN...]" with the options `takes` allows; prints
// the usage and returns false otherwise. "-" names standard input.
bool ArchiveArguments(const Args& args, const char* help, std::string& archive, unsigned takes,
                      ReadOptions& options);

// Opens the archive named by the arguments ("-": standard input) and
// readies the work area and the name rules. 0 or the exit code.
int OpenForEngine(const std::string& archive, ArchiveSource& source, const ReadOptions& options);
// Runs the engine over the archive in mode, past the faults of members
// unless stopOnError; 1 when every run went through without a failure.
int RunMembers(ExtractionMode mode, bool stopOnError);
// The bytes the members hold, for the overall progress line.
uint64_t TotalMemberBytes();
// Why t, p or x ended without success, in one line, and the exit code.
int ReportFailures(const char* verb);
