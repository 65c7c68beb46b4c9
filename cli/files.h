// Whole-file reads and all-or-nothing writes for the host commands. A file
// that a command produces appears complete under its name or not at all:
// it is written without a name (platform/hostfiles) beside its target and
// takes the target's place only at the end.
#pragma once
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// Reads path into out; false with a message in error when it cannot be read
// or holds more than limit bytes.
bool ReadWholeFile(const std::string& path, uint64_t limit, Bytes& out, std::string& error);

// Reads up to count bytes at offset of the file fd holds; returns how many
// were there (fewer at the file's end or on an error).
size_t ReadAt(int fd, uint64_t offset, void* buffer, size_t count);

// The permissions a newly created file gets: 0666 less the umask.
mode_t NewFileMode();

// A file being written beside its target, without a name where the file
// system allows. It stays open after Write, so the caller can read it back
// before deciding; Commit puts it in the target's place, and a PendingFile
// destroyed uncommitted is gone, leaving the target as it was. A file that
// had to take a temporary name is removed by SIGINT, SIGTERM and SIGHUP
// too; an unnamed one goes with the process, whatever ends it.
class PendingFile {
 public:
  explicit PendingFile(std::string target);
  ~PendingFile();
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  // Creates the temporary file with mode, empty.
  bool Create(mode_t mode, std::string& error);
  // Appends to it.
  bool Append(const void* data, size_t size, std::string& error);
  // Create and Append in one step, flushed to disk.
  bool Write(const Bytes& data, mode_t mode, std::string& error);
  // Flushes what was appended to disk.
  bool Sync(std::string& error);
  int Descriptor() const { return fd_; }
  // A path that opens the file while it is being written.
  std::string TemporaryPath() const;
  uint64_t Size() const { return size_; }
  // Flushes the file, puts it in the target's place and closes it.
  bool Commit(std::string& error);

 private:
  void Discard();
  std::string Failure(const char* what) const;

  std::string target_;
  std::string directory_;  // the target's directory and name in it
  std::string name_;
  std::string temp_;       // the file's temporary name there, "" for none
  int dirfd_ = -1;
  int fd_ = -1;
  uint64_t size_ = 0;
};

// Write and Commit in one step.
bool WriteAtomically(const std::string& path, const Bytes& data, mode_t mode, std::string& error);

// Copies count bytes at offset of the file fd holds into the pending file;
// false with a message naming source when they cannot be read.
bool CopyRange(int fd, const std::string& source, uint64_t offset, uint64_t count, PendingFile& out,
               std::string& error);
