// Reading inputs whole and writing outputs through a temporary file and a
// rename, so that an interrupted or refused command never leaves a partial
// archive or program where a complete one is expected.
#include "cli/files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli/escape.h"

namespace {

constexpr size_t ReadChunkSize = 65536;

std::string Quoted(const std::string& path) { return "'" + Escaped(path) + "'"; }

bool WriteAll(int fd, const Bytes& data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += (size_t)n;
  }
  return true;
}

}  // namespace

bool ReadWholeFile(const std::string& path, uint64_t limit, Bytes& out, std::string& error) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    error = "cannot open " + Quoted(path) + ": " + std::strerror(errno);
    return false;
  }
  out.clear();
  uint8_t chunk[ReadChunkSize];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
    out.insert(out.end(), chunk, chunk + got);
    if (out.size() > limit) {
      std::fclose(f);
      error = Quoted(path) + " is larger than " + std::to_string(limit) + " bytes";
      return false;
    }
  }
  int why = std::ferror(f) ? errno : 0;
  std::fclose(f);
  if (why != 0) {
    error = "cannot read " + Quoted(path) + ": " + std::strerror(why);
    return false;
  }
  return true;
}

size_t ReadAt(int fd, uint64_t offset, void* buffer, size_t count) {
  errno = 0;  // a short count with errno 0 is the file's end
  uint8_t* bytes = (uint8_t*)buffer;
  size_t done = 0;
  while (done < count) {
    ssize_t n = pread(fd, bytes + done, count - done, (off_t)(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += (size_t)n;
  }
  return done;
}

mode_t NewFileMode() {
  mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

PendingFile::PendingFile(std::string target) : target_(std::move(target)) {}

PendingFile::~PendingFile() { Discard(); }

void PendingFile::Discard() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  if (!temp_.empty()) unlink(temp_.c_str());
  temp_.clear();
}

bool PendingFile::Write(const Bytes& data, mode_t mode, std::string& error) {
  Discard();
  std::string temp = target_ + ".XXXXXX";
  fd_ = mkstemp(temp.data());
  if (fd_ < 0) {
    error = "cannot create a temporary file beside " + Quoted(target_) + ": " + std::strerror(errno);
    return false;
  }
  temp_ = temp;
  if (fchmod(fd_, mode) != 0 || !WriteAll(fd_, data) || fsync(fd_) != 0) {
    error = "cannot write " + Quoted(target_) + ": " + std::strerror(errno);
    Discard();
    return false;
  }
  return true;
}

bool PendingFile::Commit(std::string& error) {
  int fd = fd_;
  fd_ = -1;
  bool ok = fd >= 0 && close(fd) == 0 && rename(temp_.c_str(), target_.c_str()) == 0;
  if (!ok) {
    error = "cannot write " + Quoted(target_) + ": " + std::strerror(fd >= 0 ? errno : EBADF);
    Discard();
    return false;
  }
  temp_.clear();
  return true;
}

bool WriteAtomically(const std::string& path, const Bytes& data, mode_t mode, std::string& error) {
  PendingFile file(path);
  return file.Write(data, mode, error) && file.Commit(error);
}
