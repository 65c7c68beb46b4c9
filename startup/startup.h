// Start-up steps that need no window: the command-line splitter, the option
// walk and the configuration block. Portable: the host tests run them
// against the POSIX platform.
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
// Applies -n / -N / -n-, -s (SilentMode) and -lFILE (Work->logPath), and
// takes the first non-option token from position 2 on as the destination
// (into Work->text, cut to a whole character that fits defaultDir); the
// walk stops there.
void WalkOptions(char** args, int count);
// Cuts the command line (behind the program's name) at its first "--" that
// stands alone between separators, outside quotes: the options end there
// (the line is cut with a 0), and the text after it, from its next token
// on, is returned as the caller wrote it (null when there is none). That
// text goes to the command unchanged: its quotes are the caller's, meant
// for the command's own splitter (a /D="C:\Program Files" stays whole,
// which the stub's splitter would cut at the quote).
char* CutCommandArguments(char* line);
// Reads the block at StubConfigOffset of archivePath into config and resolves
// its title and defaultDir.
void LoadStubConfig();
// Sets OverwriteSilently and turns AutoStartMode into 0 or 1.
void ResolveStartMode();
