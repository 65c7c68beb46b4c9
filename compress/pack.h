// Building level-2 LZH archives on the host: the interface that `lzhsfx a`
// and `lzhsfx create` share. Implemented in compress/.
//
// Packing is two steps. PlanPaths walks the files and folders and decides
// every member (its name, where its data comes from); nothing is read yet,
// so a caller learns the names and the total size first. PackPlanned then
// reads, compresses and hands the members over in order, streaming: a file
// is read and coded in pieces, and a member that a worker finishes before
// its turn waits in memory up to a shared budget, beyond it in an unnamed
// file, so memory stays bounded whatever the sizes of the files.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "compress/header.h"

struct PackOptions {
  char method = '5';            // '0', '5', '6' or '7' ("-lh?-")
  int level = 0;                // 0 the fast default, 9 near-optimal parsing
  bool followSymlinks = false;
  bool storeSymlinks = false;   // without followSymlinks: links become link entries, else are skipped
  std::string excludePath;      // never packed: the file being written or replaced
  size_t maxNameBytes = 0;      // longest member name (CP932 bytes) accepted; 0 no limit
  std::string spoolDirectory = ".";  // where a member waits that does not fit in memory
  // Called with each further count of input bytes packed, from any thread.
  std::function<void(uint64_t bytes)> progress;
  // A path left out, with why (text with the path as given, unescaped).
  std::function<void(const std::string& message)> note;
};

// One member, in archive order.
struct PackEntry {
  std::string path;             // the file to read ("" for a folder)
  std::string name;             // CP932, '/' separated; a folder's ends in '/'
  uint64_t size = 0;            // the file's size when the walk saw it
  MemberHeaderFields fields;    // names, time stamp, attributes (a folder's: all)
};

struct PackPlan {
  std::vector<PackEntry> entries;
  uint64_t bytes = 0;           // the files' sizes summed
};

// Walks the files and folders (recursively, children in byte order, each
// folder before its contents). False with a message naming the path when a
// path cannot be read or stored (no CP932 form, '..', a name too long).
bool PlanPaths(const std::vector<std::string>& paths, const PackOptions& options, PackPlan& plan,
               std::string& error);

// Takes the archive's bytes in order; false with a message to stop.
using ArchiveWriter = std::function<bool(const uint8_t* data, size_t size, std::string& error)>;

// Packs the planned members and hands them to out, header and data, in plan
// order; no end mark. The result is a function of the input files alone,
// whatever the number of threads. False with a message naming the file in
// error.
bool PackPlanned(const PackPlan& plan, const PackOptions& options, const ArchiveWriter& out,
                 std::string& error);

// Appends one stored (-lh0-) member with a level-2 header: name in CP932 with
// '/' separators, Unix time stamp. Used for the message member "!".
void AppendStoredMember(std::vector<uint8_t>& archive, const std::string& cp932Name,
                        const std::string& data, uint32_t timeStamp);
