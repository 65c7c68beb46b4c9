// How the console reporting helpers (cli/report.cpp) behave for the current
// command, and what they observed while the engine ran. The commands set the
// options before a run and read the counters afterwards to pick an exit code.
#pragma once
#include <cstdint>
#include <string>

#include "cli/options.h"
#include "cli/progress.h"
enum class ConsoleMode { Other, Test, Extract, Print };

struct ConsoleState {
  // Options, set by the command before ExtractArchive.
  ConsoleMode mode = ConsoleMode::Other;
  bool assumeYes = false;               // -y: answer every question with yes
  OverwritePolicy overwrite = OverwritePolicy::Ask;
  bool allowUnsafePaths = false;        // accept members that leave the destination
  std::string archiveDisplay;           // the archive as the user named it
  bool messageMember = false;           // a member "!" is the question (a self-extracting file)
  bool stopOnError = false;             // --stop-on-error (of the members asked for)
  // Observations, read by the command afterwards.
  uint32_t membersStarted = 0;          // members announced through ShowMemberPath
  uint32_t refusedMembers = 0;          // members AcceptMemberPath turned down
  uint32_t failedMembers = 0;           // members an error was shown for
  uint32_t errorsShown = 0;             // ShowError / ShowPlainError calls
  bool memberFailed = false;            // the member now in hand counts as failed
  std::string memberShown;              // its name as shown (escaped)
  bool ioError = false;                 // an open, read, write or close failed
  bool cancelled = false;               // a signal stopped the run
  bool messageAsked = false;            // the message member's question came up
  bool messageDeclined = false;         // ... and was answered No
  bool overwriteCancelled = false;      // the overwrite question ended the run
  bool faultPassedOver = false;         // the last fault was a member not asked for
  bool printFailed = false;             // p could not write to standard output
  bool printClosed = false;             // ... because its reader had gone (a closed pipe)
  // Overall progress: bytes of the members before the one in hand, and its size.
  uint64_t bytesBefore = 0;
  uint64_t memberBytes = 0;
};

extern ConsoleState Console;

// Makes SIGINT, SIGTERM and SIGHUP cancel a running extraction cleanly (the
// partial file deleted); a second one ends the process at once.
void InstallCancelHandler();
// Prints text to stdout at once; a failure is noticed at the end (main).
void PrintLine(const std::string& text);
