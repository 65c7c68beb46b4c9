#include "cli/signals.h"

#include <limits.h>
#include <pthread.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/workarea.h"

volatile sig_atomic_t InterruptSignal = 0;

namespace {

const int Caught[] = {SIGINT, SIGTERM, SIGHUP};

// Written before the handler can see it, read only by the handler: the
// handler may run on any thread, at any moment, so it takes only what is
// whole (a path is copied in, then published by its length).
char removePath[PATH_MAX];
volatile sig_atomic_t removeLength = 0;
volatile sig_atomic_t endAtOnce = 0;
// Whether stderr is a terminal, where a progress line may stand to be
// erased; a file or pipe gets no control sequences.
volatile sig_atomic_t onTerminal = 0;

void Say(const char* text) {
  ssize_t ignored = write(STDERR_FILENO, text, std::strlen(text));
  (void)ignored;
}

void OnInterrupt(int signal) {
  InterruptSignal = signal;
  if (Work != nullptr) Work->cancelRequested = 1;
  if (!endAtOnce) return;
  if (onTerminal) Say("\r\033[K");
  Say("lzhsfx: interrupted by ");
  Say(InterruptName(signal));
  if (removeLength > 0) {
    unlink(removePath);
    Say("; the unfinished archive was removed");
  }
  Say("\n");
  ::signal(signal, SIG_DFL);
  raise(signal);
}

sigset_t CaughtSet() {
  sigset_t set;
  sigemptyset(&set);
  for (int s : Caught) sigaddset(&set, s);
  return set;
}

}  // namespace

void CatchInterrupts(InterruptStyle style) {
  endAtOnce = style == InterruptStyle::End;
  onTerminal = isatty(STDERR_FILENO) != 0;
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  action.sa_mask = CaughtSet();
  // No SA_RESTART, so a pending question returns at once; the handler resets
  // itself, so a second signal ends the process even if nothing checks.
  action.sa_flags = SA_RESETHAND;
  for (int s : Caught) sigaction(s, &action, nullptr);
  if (style == InterruptStyle::Cancel) signal(SIGPIPE, SIG_IGN);
}

InterruptsHeld::InterruptsHeld() {
  sigset_t set = CaughtSet();
  pthread_sigmask(SIG_BLOCK, &set, &saved_);
}

InterruptsHeld::~InterruptsHeld() { pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }

void RemoveOnInterrupt(const char* path) {
  removeLength = 0;
  if (path == nullptr) return;
  size_t length = std::strlen(path);
  if (length == 0 || length >= sizeof removePath) return;
  std::memcpy(removePath, path, length + 1);
  removeLength = (sig_atomic_t)length;
}

const char* InterruptName(int signal) {
  switch (signal) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    default: return "a signal";
  }
}

void EndByInterrupt() {
  int s = InterruptSignal != 0 ? InterruptSignal : SIGTERM;
  std::fflush(nullptr);
  signal(s, SIG_DFL);
  raise(s);
  std::_Exit(128 + s);
}
