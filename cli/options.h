// The one command line of lzhsfx. Every command describes itself once, in a
// CommandDef: its operands, its options and the words about them. From
// that description come the parsing of its arguments, every usage error
// (always "lzhsfx CMD: what is wrong", then where the help is), its --help
// and its line in the main help; tests/cli/test_help.py holds the manual
// page and the bash completion to the same descriptions.
#pragma once
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

using Args = std::vector<std::string>;

// How an option takes its value.
enum class OptionValue {
  None,            // "-q"
  Separate,        // "-C DIR", "-CDIR", "--title T", "--title=T"
  Joined,          // "--names=MODE" only
  JoinedOptional,  // "--overwrite" or "--overwrite=WHEN"
};

struct OptionDef {
  const char* name;       // "-C", "--overwrite"
  OptionValue value;
  const char* valueName;  // "DIR", "WHEN", as the option list shows it (nullptr for None)
  const char* choices;    // "ask|always|never": the values, as the usage line shows them, or nullptr
  const char* help;       // what it does, in lines that fit the help's 80 columns
};

struct CommandDef {
  const char* name;                       // "x"
  const char* operands;                   // "ARCHIVE [NAME...]"
  const char* summary;                    // what it does, for the main help
  std::vector<const OptionDef*> options;  // in the order the help shows them
  const char* about;                      // the paragraphs before the options
  const char* notes;                      // the paragraphs after them (exit codes)
};

// An option without a value, and one with a value given apart or joined.
constexpr OptionDef Flag(const char* name, const char* help) {
  return {name, OptionValue::None, nullptr, nullptr, help};
}
constexpr OptionDef Valued(const char* name, const char* valueName, const char* help) {
  return {name, OptionValue::Separate, valueName, nullptr, help};
}

// The description column of the option list starts at most this far in.
constexpr size_t HelpColumn = 24;

// The options more than one command takes: one name, one meaning.
extern const OptionDef QuietOption;        // -q
extern const OptionDef StopOnErrorOption;  // --stop-on-error
extern const OptionDef NamesOption;        // --names=MODE
extern const OptionDef AllowUnsafeOption;  // --allow-unsafe-paths
extern const OptionDef OverwriteOption;    // --overwrite[=WHEN]

// What becomes of a file that exists already (--overwrite).
enum class OverwritePolicy { Ask, Always, Never };

// The arguments of one command, options and operands apart.
struct ParsedArgs {
  std::vector<std::string> operands;
  std::vector<std::pair<const OptionDef*, std::string>> options;  // in the order given

  bool Has(const OptionDef& option) const;
  // The value the option was given last ("" when never, or given bare).
  std::string Value(const OptionDef& option) const;
  // Every value the option was given, in order.
  std::vector<std::string> Values(const OptionDef& option) const;
};

// Splits args into options and operands by the command's description. "--"
// ends the options; "-" alone is an operand. False after a usage error has
// been reported.
bool ParseArgs(const CommandDef& command, const Args& args, ParsedArgs& parsed);
// The policy --overwrite names, Ask when it is not given; --overwrite alone
// is Always. False (the error reported) on another value.
bool ParseOverwrite(const CommandDef& command, const ParsedArgs& parsed, OverwritePolicy& policy);
// Reports a usage error of the command; returns the usage exit code.
int UsageError(const CommandDef& command, const std::string& message);
// What "lzhsfx CMD --help" shows.
std::string CommandHelp(const CommandDef& command);
// The command's lines in the main help: its operands and what it does.
std::string CommandSummary(const CommandDef& command);
