// Start-up steps that need no window: the command-line splitter, the option
// walk, the configuration block and the small rules the dialog and progress
// line share. Portable: the host tests run them against the POSIX platform.
#pragma once
#include <stdint.h>

// Slots of the token array; tokens beyond it are dropped.
enum : uint32_t { MaxCommandTokens = 1024 };

// The command-line text behind the program's own name (quoted or not).
const char* SkipProgramName(const char* commandLine);
// Splits the text into newly allocated tokens; *count receives how many.
// Null with a count of 0 when the array cannot be allocated.
char** SplitCommandLine(const char* line, int* count);
// Releases the tokens from the last to the first, then the array.
void FreeArgs(char** args, int count);
// Applies -n / -N / -n- and takes the first non-option token from position 2
// on as the destination (into Work->text, cut to a whole character that fits
// defaultDir); the walk stops there.
void WalkOptions(char** args, int count);
// Reads the block at StubConfigOffset of archivePath into config and resolves
// its title and defaultDir.
void LoadStubConfig();
// Sets OverwriteSilently and turns AutoStartMode into 0 or 1.
void ResolveStartMode();

// Copies text into dest (size bytes) without a surrounding pair of quotes.
void StripQuotes(char* dest, const char* text, uint32_t size);
// The percentage the progress line shows for done bytes out of total.
uint32_t ProgressPercent(uint32_t done, uint32_t total);
// Copies src into dest (size bytes), cut before a character that would not
// fit whole, so a CP932 pair is never split.
void CopyWholeCharacters(char* dest, const char* src, uint32_t size);
