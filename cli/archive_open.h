// Finds the LZH archive inside a file given on the command line: a plain
// .lzh starts at offset 0, a self-extracting program ("MZ") names the start
// in its configuration block. Prepares the work area so the engine can open
// the archive by itself, whatever directory the command moves to later.
#pragma once
#include <cstdint>
#include <string>

#include "core/workarea.h"

struct ArchiveSource {
  std::string path;           // as the user gave it (UTF-8)
  int fd = -1;                // held open so the descriptor path stays valid
  uint64_t fileSize = 0;
  bool isSfx = false;
  StubConfig config{};        // zero for a plain archive; texts terminated
  std::string enginePath;     // CP932 absolute path, or /proc/self/fd/N
};

// Opens and classifies the file; on failure prints why and returns the exit
// code (2 cannot be read, 1 not a usable archive); 0 on success.
int OpenArchiveSource(const std::string& path, ArchiveSource& source);
void CloseArchiveSource(ArchiveSource& source);
// Allocates the zero-filled work area (once) and fills archivePath, config
// and the shared display name. 0 on success, else an exit code.
int PrepareWorkArea(const ArchiveSource& source);
// A stub text field as a string, stopping at its terminator or its size.
std::string ConfigText(const char* field, uint32_t size);
