// Parsing and help from the commands' descriptions. An option is found by
// its whole name, or by its name and a value joined to it ("--title=T",
// and for short options with a value "-CDIR"); anything else that starts
// with '-' is an unknown option.
#include "cli/options.h"

#include <cstdio>
#include <cstring>

#include "cli/commands.h"
#include "cli/escape.h"

const OptionDef QuietOption = Flag("-q",
    "quiet: no progress line (l and v: no heading and no\n"
    "total line)");
const OptionDef StopOnErrorOption = Flag("--stop-on-error",
    "stop at the first member that fails");
const OptionDef NamesOption = {
    "--names", OptionValue::Joined, "MODE", "auto|cp932|utf-8",
    "how stored names are read: auto (the default) takes\n"
    "a name as UTF-8 when a Unix or Macintosh writer\n"
    "stored valid UTF-8, or when it is valid UTF-8 and not\n"
    "valid CP932, else as CP932; cp932 takes every name\n"
    "as CP932; utf-8 every name that is valid UTF-8 as\n"
    "UTF-8"};
const OptionDef AllowUnsafeOption = Flag("--allow-unsafe-paths",
    "let member names through that leave the destination\n"
    "(a '..' component or one of dots and spaces only, an\n"
    "absolute name, %WinDir% / %SystemDir%): x writes them\n"
    "where they point (those folders are then\n"
    "$LZHSFX_WINDIR and $LZHSFX_SYSTEMDIR); create's check\n"
    "warns of them instead of refusing");
const OptionDef OverwriteOption = {
    "--overwrite", OptionValue::JoinedOptional, "WHEN", "ask|always|never",
    "a file that exists already: --overwrite=ask (the\n"
    "default) asks before replacing it, on the terminal\n"
    "(x: without one, and without -y, extraction stops\n"
    "there) or in a message box (create);\n"
    "--overwrite=always, or --overwrite alone, replaces it\n"
    "without asking; --overwrite=never (x only) keeps it\n"
    "and goes on with the next member"};

namespace {

constexpr size_t LineWidth = 80;
constexpr size_t SummaryColumn = 31;

bool IsLong(const OptionDef& option) { return option.name[1] == '-'; }

// The option as the usage line shows it, with its values.
std::string UsageToken(const OptionDef& o) {
  std::string values = o.choices != nullptr ? o.choices : o.valueName != nullptr ? o.valueName : "";
  switch (o.value) {
    case OptionValue::None: return std::string("[") + o.name + "]";
    case OptionValue::Separate: return std::string("[") + o.name + " " + values + "]";
    case OptionValue::Joined: return std::string("[") + o.name + "=" + values + "]";
    case OptionValue::JoinedOptional: return std::string("[") + o.name + "[=" + values + "]]";
  }
  return "";
}

// The option as the option list names it.
std::string Label(const OptionDef& o) {
  switch (o.value) {
    case OptionValue::None: return o.name;
    case OptionValue::Separate: return std::string(o.name) + " " + o.valueName;
    case OptionValue::Joined: return std::string(o.name) + "=" + o.valueName;
    case OptionValue::JoinedOptional: return std::string(o.name) + "[=" + o.valueName + "]";
  }
  return o.name;
}

// words after lead, wrapped at LineWidth with continuation lines indented
// under the first word.
std::string Wrapped(const std::string& lead, const std::vector<std::string>& words) {
  std::string out = lead;
  size_t width = lead.size();  // of the line being filled
  for (size_t i = 0; i < words.size(); ++i) {
    if (i > 0 && width + 1 + words[i].size() > LineWidth) {
      out += "\n" + std::string(lead.size(), ' ');
      width = lead.size();
    } else if (i > 0) {
      out += ' ';
      ++width;
    }
    out += words[i];
    width += words[i].size();
  }
  return out + "\n";
}

// text after a first part padded to column, its later lines indented to it.
std::string Beside(const std::string& first, size_t column, const char* text) {
  std::string out = first;
  if (out.size() + 2 > column) {
    out += "\n";
    out.append(column, ' ');
  } else {
    out.append(column - out.size(), ' ');
  }
  for (const char* p = text; *p != '\0'; ++p) {
    out += *p;
    if (*p == '\n') out.append(column, ' ');
  }
  return out + "\n";
}

bool Fail(const CommandDef& command, const std::string& message) {
  UsageError(command, message);
  return false;
}

}  // namespace

bool ParsedArgs::Has(const OptionDef& option) const { return !Values(option).empty(); }

std::string ParsedArgs::Value(const OptionDef& option) const {
  std::vector<std::string> all = Values(option);
  return all.empty() ? "" : all.back();
}

std::vector<std::string> ParsedArgs::Values(const OptionDef& option) const {
  std::vector<std::string> all;
  for (const auto& [given, value] : options)
    if (given == &option) all.push_back(value);
  return all;
}

bool ParseArgs(const CommandDef& command, const Args& args, ParsedArgs& parsed) {
  bool optionsEnded = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (optionsEnded || a.size() < 2 || a[0] != '-') {
      parsed.operands.push_back(a);
      continue;
    }
    if (a == "--") {
      optionsEnded = true;
      continue;
    }
    const OptionDef* option = nullptr;
    bool joined = false;
    std::string value;
    for (const OptionDef* o : command.options) {
      size_t n = std::strlen(o->name);
      if (a.compare(0, n, o->name) != 0) continue;
      if (a.size() == n) {
        option = o;
        break;
      }
      if (IsLong(*o) ? a[n] == '=' : o->value == OptionValue::Separate) {
        option = o;
        joined = true;
        value = a.substr(IsLong(*o) ? n + 1 : n);
        break;
      }
    }
    if (option == nullptr) return Fail(command, "unknown option '" + Escaped(a) + "'");
    std::string name = option->name;
    switch (option->value) {
      case OptionValue::None:
        if (joined) return Fail(command, name + " takes no value");
        break;
      case OptionValue::Separate:
        if (joined) break;
        if (i + 1 >= args.size()) return Fail(command, name + " needs " + option->valueName);
        value = args[++i];
        break;
      case OptionValue::Joined:
        if (!joined) return Fail(command, name + " needs =" + option->valueName);
        break;
      case OptionValue::JoinedOptional:
        break;
    }
    parsed.options.emplace_back(option, value);
  }
  return true;
}

bool ParseOverwrite(const CommandDef& command, const ParsedArgs& parsed, OverwritePolicy& policy) {
  policy = OverwritePolicy::Ask;
  if (!parsed.Has(OverwriteOption)) return true;
  std::string value = parsed.Value(OverwriteOption);
  if (value == "ask")
    policy = OverwritePolicy::Ask;
  else if (value == "always" || value.empty())
    policy = OverwritePolicy::Always;
  else if (value == "never")
    policy = OverwritePolicy::Never;
  else
    return Fail(command, "--overwrite takes ask, always or never");
  return true;
}

int UsageError(const CommandDef& command, const std::string& message) {
  std::fprintf(stderr, "lzhsfx %s: %s\n(see \"lzhsfx %s --help\")\n", command.name, message.c_str(),
               command.name);
  return ExitUsage;
}

std::string CommandHelp(const CommandDef& command) {
  std::vector<std::string> words = {command.operands};
  for (const OptionDef* o : command.options) words.push_back(UsageToken(*o));
  std::string help = Wrapped(std::string("usage: lzhsfx ") + command.name + " ", words);
  help += "\n";
  help += command.about;
  if (!command.options.empty()) {
    size_t widest = 0;
    for (const OptionDef* o : command.options) widest = std::max(widest, Label(*o).size());
    size_t column = std::min(HelpColumn, 2 + widest + 2);
    help += "\nOptions:\n";
    for (const OptionDef* o : command.options) help += Beside("  " + Label(*o), column, o->help);
  }
  if (command.notes[0] != '\0') help += std::string("\n") + command.notes;
  return help;
}

std::string CommandSummary(const CommandDef& command) {
  return Beside(std::string("  ") + command.name + " " + command.operands, SummaryColumn,
                command.summary);
}
