// Building level-2 LZH archives on the host: the interface that `lzhsfx a`
// and `lzhsfx create` share. Implemented in compress/.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct PackOptions {
  char method = '5';            // '0', '5', '6' or '7' ("-lh?-")
  int level = 0;                // 0 the fast default, 9 near-optimal parsing
  bool followSymlinks = false;
  bool progress = false;        // progress on stderr (when it is a terminal)
  std::string excludePath;      // never packed: the archive being written, if it exists
};

// Packs the files and folders (recursively, in a stable sorted order) into a
// whole archive, ending in a single 0 byte. On failure returns false with a
// message naming the file in error.
bool PackPaths(const std::vector<std::string>& paths, const PackOptions& options,
               std::vector<uint8_t>& archive, std::string& error);

// Appends one stored (-lh0-) member with a level-2 header: name in CP932 with
// '/' separators, Unix time stamp. Used for the message member "!".
void AppendStoredMember(std::vector<uint8_t>& archive, const std::string& cp932Name,
                        const std::string& data, uint32_t timeStamp);
