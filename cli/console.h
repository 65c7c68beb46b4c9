// How the console reporting helpers (cli/report.cpp) behave for the current
// command, and what they observed while the engine ran. The commands set the
// options before a run and read the counters afterwards to pick an exit code.
#pragma once
#include <cstdint>
#include <string>

enum class OverwritePolicy { Ask, Always, Never };
enum class ConsoleMode { Other, Test, Extract };

struct ConsoleState {
  // Options, set by the command before ExtractArchive.
  ConsoleMode mode = ConsoleMode::Other;
  bool assumeYes = false;               // -y: answer every question with yes
  OverwritePolicy overwrite = OverwritePolicy::Ask;
  bool allowUnsafePaths = false;        // accept members that leave the destination
  std::string archiveDisplay;           // the archive as the user named it
  // Observations, read by the command afterwards.
  uint32_t membersStarted = 0;          // members announced through ShowMemberPath
  uint32_t refusedMembers = 0;          // members AcceptMemberPath turned down
  uint32_t errorsShown = 0;             // ShowError / ShowPlainError calls
  bool ioError = false;                 // an open, write or close failed
  bool messageAsked = false;            // the message member's question came up
  bool messageDeclined = false;         // ... and was answered No
  bool overwriteCancelled = false;      // the overwrite question ended the run
};

extern ConsoleState Console;

// Erases the progress line on stderr if one is showing. Safe to call anytime.
void ClearProgress();
// Makes Ctrl-C cancel a running extraction cleanly (partial file deleted);
// a second Ctrl-C ends the process at once.
void InstallCancelHandler();
