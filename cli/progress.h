// The one overall progress line of a long command on a terminal: how many
// bytes of how many are done, the rate and the time left, on stderr, at most
// ten times a second. Quiet when stderr is no terminal or -q was given.
// Any thread may report; the line is erased before other output.
#pragma once
#include <cstdint>

// Starts a line for total bytes; shown only when show is true and stderr is
// a terminal.
void StartProgress(uint64_t total, bool show);
// Sets the bytes done so far (never more than the total is shown).
void SetProgress(uint64_t done);
// Adds to the bytes done so far.
void AddProgress(uint64_t more);
// Erases the line if one is showing; safe to call at any time.
void ClearProgress();
// Ends the line for good: erased, and no more updates.
void StopProgress();
