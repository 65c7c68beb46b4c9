// Temporary files for the unit tests; each test's files are removed at exit.
#include "tests/unit/support/files.h"

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

namespace {
std::vector<std::string> Created;
struct Cleanup {
  ~Cleanup() {
    for (const std::string& p : Created) unlink(p.c_str());
  }
} cleanup;
}  // namespace

std::string TempPath() {
  char name[] = "/tmp/lzhsfx-unit-XXXXXX";
  int fd = mkstemp(name);
  if (fd < 0) abort();
  close(fd);
  unlink(name);
  Created.push_back(name);
  return name;
}

std::string WriteTempFile(const std::vector<uint8_t>& bytes) {
  std::string path = TempPath();
  FILE* f = fopen(path.c_str(), "wb");
  if (f == nullptr) abort();
  if (!bytes.empty() && fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) abort();
  fclose(f);
  return path;
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::vector<uint8_t> bytes;
  FILE* f = fopen(path.c_str(), "rb");
  if (f == nullptr) return bytes;
  uint8_t chunk[65536];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
  fclose(f);
  return bytes;
}

int64_t FilePosition(FileHandle file) {
  return lseek((int)((intptr_t)file - 1), 0, SEEK_CUR);
}
