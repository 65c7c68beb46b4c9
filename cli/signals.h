// How lzhsfx ends on SIGINT, SIGTERM and SIGHUP. Extraction and testing
// only note the signal: the engine sees Work->cancelRequested at its next
// step and ends through AbortExtraction, which removes the member being
// written, and the command then ends by the same signal. A command that
// writes an archive has a temporary file in the making: the handler removes
// it at once and ends the process by the signal.
#pragma once
#include <signal.h>

// The signal that asked the command to stop, or 0.
extern volatile sig_atomic_t InterruptSignal;

enum class InterruptStyle {
  Cancel,  // extraction and testing: note it; the engine stops at its next step
  End,     // everything else: remove the temporary file, if any, and end at once
};

// Installs the handler for the three signals (a second one of them ends the
// process at once). Cancel also stops SIGPIPE from ending the process in the
// middle of a member: output to a closed pipe is reported at the end.
void CatchInterrupts(InterruptStyle style);
// The temporary file the handler removes (nullptr: none). The path is copied.
void RemoveOnInterrupt(const char* path);
// Holds the three signals back while a temporary file is made and
// registered, or renamed and forgotten, so none comes in between.
class InterruptsHeld {
 public:
  InterruptsHeld();
  ~InterruptsHeld();
  InterruptsHeld(const InterruptsHeld&) = delete;
  InterruptsHeld& operator=(const InterruptsHeld&) = delete;

 private:
  sigset_t saved_;
};
// The signal's name for messages ("SIGTERM").
const char* InterruptName(int signal);
// Ends the process by InterruptSignal, as an uncaught signal would.
[[noreturn]] void EndByInterrupt();
