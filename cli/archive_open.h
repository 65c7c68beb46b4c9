// Finds the LZH archive inside a file given on the command line: a plain
// .lzh starts at offset 0, a self-extracting program built from our stub
// names the start in its configuration block, another program (a DOS,
// Windows or ELF executable) is searched. Prepares the work area so the
// engine can open the archive by itself, whatever directory the command
// moves to later.
#pragma once
#include <cstdint>
#include <string>

#include "core/workarea.h"

// The largest archive lzhsfx reads (the format has no absolute offsets, so
// only the sums of the walk bound it); standard input is spooled no further.
constexpr uint64_t MaxArchiveSize = ImpossibleSize - 1;

struct ArchiveSource {
  std::string path;           // as the user gave it (UTF-8)
  int fd = -1;                // held open so the descriptor path stays valid
  uint64_t fileSize = 0;
  bool isSfx = false;
  StubConfig config{};        // zero for a plain archive; texts terminated
  // Whether another maker's program is searched for an archive inside it
  // (set by the caller), and where one was found.
  bool searchPrograms = false;
  uint32_t foundOffset = 0;
  std::string enginePath;     // CP932 absolute path, or /proc/self/fd/N
};

// Opens and classifies the file; on failure prints why and returns the exit
// code (2 cannot be read, 1 not a usable archive); 0 on success. Another
// program is an archive only when searchPrograms is set and an archive is
// found inside it; a file with nothing at its archive offset is none.
// Messages name it display (standard input's spool) or else path.
int OpenArchiveSource(const std::string& path, ArchiveSource& source, const std::string& display = "");
void CloseArchiveSource(ArchiveSource& source);
// The path by which the engine opens the file that path names and fd holds:
// its absolute CP932 path, or /proc/self/fd/N when it has none that fits.
std::string EnginePathOf(const std::string& path, int fd);
// Allocates the zero-filled work area (once) and fills archivePath, config
// (the walk starts at its archiveOffset) and the shared display name.
// 0 on success, else an exit code.
int PrepareWorkArea(const std::string& enginePath, const StubConfig& config,
                    const std::string& display);
int PrepareWorkArea(const ArchiveSource& source);
// A stub text field as a string, stopping at its terminator or its size.
std::string ConfigText(const char* field, uint32_t size);
