// The command line: split into tokens and the option walk. Portable; every copy is bounded by its
// receiving field and every scan stops at the terminating zero.
#include "platform/platform.h"
#include "startup/startup.h"
#include "base/text.h"
#include "core/workarea.h"

enum : uint8_t { Quote = '"', Space = ' ', Tab = '\t', OptionMark = '-' };
// Bytes 1..32 separate tokens (spaces, tabs and other control characters).
enum : uint8_t { LastSeparatorByte = 32 };
// AutoStartMode values the option leaves for ResolveStartMode.
enum : int { AutoFromOption = 11, NoAutoFromOption = 12 };
// Option letters in either case: OR-ing in this bit lower-cases a letter.
enum : uint8_t { LowerCaseBit = 0x20 };

const char* SkipProgramName(const char* commandLine) {
  const uint8_t* p = (const uint8_t*)commandLine;
  if (*p == Quote) {
    p++;
    while (*p != 0 && *p != Quote) p++;
    if (*p == Quote) p++;
  } else {
    while (*p > LastSeparatorByte) p++;
  }
  while (*p != 0 && *p <= LastSeparatorByte) p++;
  return (const char*)p;
}

// Allocates a zero-filled copy of length bytes from start, or null.
static char* NewToken(const uint8_t* start, uint32_t length) {
  char* token = (char*)PlatformAlloc(length + 1);
  if (token == nullptr) return nullptr;
  for (uint32_t i = 0; i < length; i++) token[i] = (char)start[i];
  return token;
}

char** SplitCommandLine(const char* line, int* count) {
  *count = 0;
  char** args = (char**)PlatformAlloc(MaxCommandTokens * sizeof(char*));
  if (args == nullptr) return nullptr;
  const uint8_t* p = (const uint8_t*)line;
  for (;;) {
    while (*p != 0 && *p <= LastSeparatorByte) p++;
    if (*p == 0) break;
    // A token ends at a separator (a control byte, and a space unless the
    // quote is open), at the closing quote, or at the end of the line.
    const uint8_t* start = p;
    int open = 0;
    const uint8_t* end;
    for (;;) {
      uint8_t c = *p;
      if (c == Quote) {
        if (!open) {
          open = 1;
          p++;
          start = p;
          continue;
        }
        end = p;
        p++;
        break;
      }
      if (c == 0 || c < Space || (c == Space && !open)) {
        end = p;
        break;
      }
      p++;
    }
    if ((uint32_t)*count >= MaxCommandTokens) break;
    char* token = NewToken(start, (uint32_t)(end - start));
    if (token == nullptr) break;
    args[(*count)++] = token;
  }
  return args;
}

static int IsSeparator(uint8_t c) { return c != 0 && c <= LastSeparatorByte; }

// The splitter's quote state toggles at every quote, so an even count of
// quotes before a position means it lies outside quotes.
char* CutCommandArguments(char* line) {
  uint8_t* p = (uint8_t*)line;
  int quoted = 0;
  for (; *p != 0; p++) {
    if (*p == Quote) quoted ^= 1;
    if (quoted || p[0] != OptionMark || p[1] != OptionMark) continue;
    if ((p != (uint8_t*)line && !IsSeparator(p[-1])) || (p[2] != 0 && !IsSeparator(p[2]))) continue;
    *p = 0;
    p += 2;
    while (IsSeparator(*p)) p++;
    return *p != 0 ? (char*)p : nullptr;
  }
  return nullptr;
}

void FreeArgs(char** args, int count) {
  if (args == nullptr) return;
  for (int i = count - 1; i >= 0; i--) PlatformFree(args[i]);
  PlatformFree(args);
}

void WalkOptions(char** args, int count) {
  for (int i = 0; i < count; i++) {
    const uint8_t* token = (const uint8_t*)args[i];
    if (token[0] == OptionMark) {
      uint8_t letter = token[1] | LowerCaseBit;
      if (letter == 'n') AutoStartMode = (token[2] == OptionMark) ? NoAutoFromOption : AutoFromOption;
      if (letter == 's') SilentMode = 1;
      // The first log named counts; a later -l would leave an empty file.
      if (letter == 'l' && !FileIsOpen(Work->logFile))
        Work->logFile = PlatformOpenAppend((const char*)token + 2);
      continue;
    }
    // Position 1 is passed over; the destination stands at position 2 or later.
    if (i == 0) continue;
    DestinationFromCommandLine = 1;
    CopyWholeCharacters(Work->text, args[i], DefaultDirSize);
    return;
  }
}

void ResolveStartMode() {
  OverwriteSilently = (Work->config.flags & FlagOverwriteSilently) ? 1 : 0;
  if (AutoStartMode == 0 && (Work->config.flags & FlagAutoStart)) AutoStartMode = 1;
  if (AutoStartMode == AutoFromOption) AutoStartMode = 1;
  if (AutoStartMode == NoAutoFromOption) AutoStartMode = 0;
}
