// Runs a fuzz target over files without libFuzzer: every file named, and
// every file inside every directory named, once. Used to replay the starting
// corpus and committed crash inputs in the ordinary build. Paths after
// --expect-clean name inputs known to be valid: each must also go through
// cleanly (FuzzInputClean), which shows the harness really reaches the engine.
#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size);
extern int FuzzInputClean;

namespace {

int ExpectClean = 0;

int ReplayFile(const std::string& path) {
  FILE* file = fopen(path.c_str(), "rb");
  if (file == nullptr) {
    perror(path.c_str());
    return 0;
  }
  std::vector<unsigned char> bytes;
  unsigned char chunk[65536];
  size_t got;
  while ((got = fread(chunk, 1, sizeof chunk, file)) > 0) bytes.insert(bytes.end(), chunk, chunk + got);
  fclose(file);
  LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  if (ExpectClean && !FuzzInputClean) {
    fprintf(stderr, "%s: a valid input did not go through cleanly\n", path.c_str());
    return 0;
  }
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  int replayed = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--expect-clean") {
      ExpectClean = 1;
      continue;
    }
    struct stat info;
    if (stat(argv[i], &info) != 0) continue;  // an absent directory holds nothing to replay
    if (!S_ISDIR(info.st_mode)) {
      if (!ReplayFile(argv[i])) return 1;
      ++replayed;
      continue;
    }
    std::vector<std::string> names;
    if (DIR* dir = opendir(argv[i])) {
      while (dirent* entry = readdir(dir))
        if (entry->d_name[0] != '.') names.push_back(entry->d_name);
      closedir(dir);
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
      if (!ReplayFile(std::string(argv[i]) + "/" + name)) return 1;
      ++replayed;
    }
  }
  printf("replayed %d inputs\n", replayed);
  return replayed > 0 ? 0 : 1;
}
