// What create checks before it writes a self-extracting file, and info
// before it calls one sound: the members are those the engine's member walk
// yields from the file, the same the stub extracts; the check adds what the
// publisher should know about each (names it cuts or places outside the
// destination, sizes it passes over, headers it refuses and why).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "core/workarea.h"

struct MemberInfo {
  uint64_t offset = 0;         // file offset of its header
  uint32_t headerSize = 0;
  char method = 0;
  uint32_t compressedSize = 0;
  uint32_t originalSize = 0;
  std::string name;            // CP932, '/' separated, as the stub composes it
};

struct ArchiveReport {
  std::vector<MemberInfo> members;
  std::vector<std::string> warnings;  // the stub extracts it, perhaps not as meant
  std::vector<std::string> notes;     // harmless, worth a word
  std::string error;                  // the first fault, "" when the stub can use it
  std::string messageText;            // CP932 text of a leading stored "!" member
};

struct CheckOptions {
  bool allowUnsafe = false;    // members placed outside the destination only warn
  uint32_t ownMembers = 0;     // members the caller put in front of the archive;
                               // the publisher's members are numbered after them
};

// The stub copies at most this much of the message member into its text.
constexpr uint32_t MaxMessageBytes = TextSize - 1;

// Walks the archive in the file that fd holds and path names, starting at
// config.archiveOffset, through the engine (it sets up the work area).
// False when the stub could not extract it as it is (report.error says why).
bool CheckArchive(int fd, const std::string& path, const StubConfig& config,
                  const CheckOptions& options, ArchiveReport& report);
