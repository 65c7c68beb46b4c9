// Stub-only additions to the Win32 platform layer: the safe DLL search set
// up before anything else loads, the open-file dialog reached through
// comdlg32 loaded from the system folder only, and the conversions of the
// stub's CP932 texts at the system boundary.
#pragma once
#include <stdint.h>

// Restricts DLL loading to the system folder (where the system supports it)
// and loads comdlg32 and shell32 from there. Call first thing at start-up.
void PlatformSecureLoading();
// GetOpenFileNameW on the given request; 0 when comdlg32 is unavailable.
int PlatformGetOpenFileName(void* request);

// Every text the stub holds (configuration, member names, paths, messages)
// is CP932. It crosses into the system as UTF-16 through the "W" calls,
// converted with code page 932 named explicitly, and the system's answers
// come back the same way, so nothing depends on the ANSI code page of the
// Windows it runs on.
//
// Characters a conversion buffer holds: any text of the work area (at most
// TextSize bytes) needs no more UTF-16 units than it has bytes.
enum : uint32_t { WideTextSize = 1024 };
// The CP932 text as UTF-16 in wide (size units, terminated; empty when it
// does not fit). Returns wide.
wchar_t* ToUtf16(const char* text, wchar_t* wide, uint32_t size);
// The UTF-16 text as CP932 in text (size bytes, terminated). A character
// with no CP932 form becomes '?', which no file name may hold (the callers
// that take names from the system refuse or fail on it); a text that does
// not fit leaves text empty. 1 only when every character converted
// and the text fit.
int ToCp932(const wchar_t* wide, char* text, uint32_t size);
// Set once a name the system gave (the command line, a folder, the
// program's path) kept a character with no CP932 form as '?'.
extern int NameLost;
