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

struct ReadOptions {
  bool quiet = false;        // -q: no progress line (l: no heading or totals)
  bool stopOnError = false;  // --stop-on-error: the first failed member ends the run
  bool verbose = false;      // l -v: the long listing
  bool utc = false;          // l --utc: times in UTC rather than local time
  NameEncoding names = NameEncoding::Auto;
  std::vector<std::string> patterns;  // members to work on; none: all
};

// Parses a reading command's arguments: ARCHIVE first ("-": standard
// input), the NAMEs after it, and the options the reading commands share
// (-q, --stop-on-error, --names). False after a usage error.
bool ReadArguments(const CommandDef& command, const Args& args, ParsedArgs& parsed,
                   std::string& archive, ReadOptions& options);

// Opens the archive named by the arguments ("-": standard input) and
// readies the work area and the name rules. 0 or the exit code.
int OpenForEngine(const std::string& archive, ArchiveSource& source, const ReadOptions& options);
// ReadArguments, then OpenForEngine: 0, or the exit code of what was reported.
int OpenFromArguments(const CommandDef& command, const Args& args, ParsedArgs& parsed,
                      ReadOptions& options, ArchiveSource& source);
// Runs the engine over the archive in mode, past the faults of members
// unless stopOnError; 1 when every run went through without a failure.
int RunMembers(ExtractionMode mode, bool stopOnError);
// The bytes the members hold, for the overall progress line.
uint64_t TotalMemberBytes();
// Why t, p or x ended without success, in one line, and the exit code.
int ReportFailures(const char* verb);
// Whether a member header follows the end marker that the walk found at
// end (extract/scan_host.h), with a warning that says where; l, t, p and x
// then end with exit code 1, a and d refuse the archive.
bool WarnHeaderAfterEnd(FileOffset end, const char* prefix);
// t, p and x: walks the archive to its end and warns when a member header
// follows it (WarnHeaderAfterEnd). True when none does.
bool NothingAfterEnd();
