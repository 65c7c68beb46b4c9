// Locating the archive inside a plain .lzh or a self-extracting program, and
// handing it to the engine by a path that survives a change of directory.
// Every field of a hostile configuration block is bounded before use.
#include "cli/archive_open.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/commands.h"
#include "cli/console.h"
#include "cli/escape.h"
#include "cli/files.h"
#include "cli/stubfile.h"
#include "extract/scan_host.h"
#include "platform/cp932.h"

namespace {

constexpr uint8_t ElfMagic[4] = {0x7F, 'E', 'L', 'F'};

void Terminate(char* field, uint32_t size) { field[size - 1] = '\0'; }

int NotAnArchive(const std::string& path) {
  std::fprintf(stderr, "lzhsfx: '%s': not an LZH archive or self-extracting file\n",
               Escaped(path).c_str());
  return ExitBadArchive;
}

bool StartsWith(const uint8_t* head, size_t size, const uint8_t* magic, size_t length) {
  return size >= length && std::memcmp(head, magic, length) == 0;
}

// Another maker's program: the archive inside it is where the scan finds
// it. 0, or the exit code of what was reported.
int FindInProgram(const std::string& path, ArchiveSource& source) {
  source.enginePath = EnginePathOf(path, source.fd);
  if (int rc = PrepareWorkArea(source.enginePath, StubConfig{}, source.path)) return rc;
  if (!FindArchiveInProgram(&source.foundOffset)) return NotAnArchive(source.path);
  return ExitOk;
}

}  // namespace

std::string ConfigText(const char* field, uint32_t size) {
  return std::string(field, strnlen(field, size));
}

int OpenArchiveSource(const std::string& path, ArchiveSource& source, const std::string& display) {
  source.path = display.empty() ? path : display;
  const std::string shown = Escaped(source.path);
  // Opened without blocking, so a FIFO or a device is refused at once rather
  // than waited on; a regular file reads the same either way.
  source.fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (source.fd < 0) {
    std::fprintf(stderr, "lzhsfx: cannot open '%s': %s\n", shown.c_str(), std::strerror(errno));
    return ExitUsage;
  }
  struct stat info;
  if (fstat(source.fd, &info) != 0) {
    std::fprintf(stderr, "lzhsfx: cannot read '%s': %s\n", shown.c_str(), std::strerror(errno));
    return ExitUsage;
  }
  if (!S_ISREG(info.st_mode)) {
    std::fprintf(stderr, "lzhsfx: '%s' is not a regular file\n", shown.c_str());
    return ExitUsage;
  }
  fcntl(source.fd, F_SETFL, fcntl(source.fd, F_GETFL) & ~O_NONBLOCK);
  source.fileSize = (uint64_t)info.st_size;
  if (source.fileSize > MaxArchiveSize) {
    std::fprintf(stderr, "lzhsfx: '%s' is larger than the largest archive lzhsfx reads (%llu bytes)\n",
                 shown.c_str(), (unsigned long long)MaxArchiveSize);
    return ExitBadArchive;
  }

  uint8_t head[StubSignatureSize];
  size_t headSize = source.fileSize < sizeof head ? (size_t)source.fileSize : sizeof head;
  if (ReadAt(source.fd, 0, head, headSize) != headSize) {
    std::fprintf(stderr, "lzhsfx: cannot read '%s': %s\n", shown.c_str(),
                 errno != 0 ? std::strerror(errno) : "the file ends early");
    return ExitUsage;
  }
  // Only a program built from our stub names its archive's offset; any
  // other program holds an archive only where a search finds one.
  bool program = StartsWith(head, headSize, DosMagic, sizeof DosMagic);
  bool ours = program && StubImageRecognised(head, headSize);
  if ((program && !ours) || StartsWith(head, headSize, ElfMagic, sizeof ElfMagic))
    return source.searchPrograms ? FindInProgram(path, source) : NotAnArchive(source.path);
  source.isSfx = program;
  if (source.isSfx) {
    if (ReadAt(source.fd, StubConfigOffset, &source.config, sizeof source.config) !=
        sizeof source.config) {
      std::fprintf(stderr, "lzhsfx: cannot read '%s': %s\n", shown.c_str(),
                   errno != 0 ? std::strerror(errno) : "the file ends early");
      return ExitUsage;
    }
    Terminate(source.config.title, TitleSize);
    Terminate(source.config.prompt, PromptSize);
    Terminate(source.config.defaultDir, DefaultDirSize);
    Terminate(source.config.command, CommandSize);
    uint32_t offset = source.config.archiveOffset;
    if (offset == 0) {
      std::fprintf(stderr, "lzhsfx: '%s' is a self-extractor stub with no archive attached\n",
                   shown.c_str());
      return ExitBadArchive;
    }
    if (offset > source.fileSize) {
      std::fprintf(stderr,
                   "lzhsfx: '%s': the archive should start at offset %u, beyond the end of "
                   "the file (%llu bytes)\n",
                   shown.c_str(), offset, (unsigned long long)source.fileSize);
      return ExitBadArchive;
    }
  }
  // Not even an end marker where the archive starts: an empty file, or a
  // self-extracting file cut at its archive offset.
  uint64_t archiveOffset = source.isSfx ? source.config.archiveOffset : 0;
  if (archiveOffset == source.fileSize) return NotAnArchive(source.path);
  source.enginePath = EnginePathOf(path, source.fd);
  return ExitOk;
}

std::string EnginePathOf(const std::string& path, int fd) {
  // The engine opens the archive itself by a CP932 path. An absolute path
  // keeps working after extraction moves into the destination; when the
  // path has no CP932 form or is too long, the descriptor held here serves.
  char resolved[PATH_MAX];
  std::string cp932;
  if (realpath(path.c_str(), resolved) != nullptr && ToCp932(resolved, cp932) &&
      cp932.size() < ArchivePathSize)
    return cp932;
  return "/proc/self/fd/" + std::to_string(fd);
}

void CloseArchiveSource(ArchiveSource& source) {
  if (source.fd >= 0) close(source.fd);
  source.fd = -1;
}

int PrepareWorkArea(const std::string& enginePath, const StubConfig& config,
                    const std::string& display) {
  if (Work == nullptr) Work = (SfxWorkArea*)calloc(1, sizeof(SfxWorkArea));
  if (Work == nullptr) {
    std::fprintf(stderr, "lzhsfx: not enough memory for the work area\n");
    return ExitUsage;
  }
  if (enginePath.size() >= ArchivePathSize) {
    std::fprintf(stderr, "lzhsfx: the path of '%s' is too long\n", Escaped(display).c_str());
    return ExitUsage;
  }
  Work->config = config;
  std::memcpy(Work->archivePath, enginePath.c_str(), enginePath.size() + 1);
  Work->archiveFile = InvalidFile;
  Work->outputFile = InvalidFile;
  Work->header = nullptr;
  Work->inputPos = UINT32_MAX;
  Console.archiveDisplay = display;
  return ExitOk;
}

int PrepareWorkArea(const ArchiveSource& source) {
  StubConfig config = source.config;
  if (!source.isSfx) config.archiveOffset = source.foundOffset;
  return PrepareWorkArea(source.enginePath, config, source.path);
}
