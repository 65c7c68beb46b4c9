// Reading inputs whole and writing outputs through a temporary file and a
// rename, so that an interrupted or refused command never leaves a partial
// archive or program where a complete one is expected.
#include "cli/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli/escape.h"
#include "cli/signals.h"
#include "platform/hostfiles.h"

namespace {

constexpr size_t ReadChunkSize = 65536;
constexpr size_t CopyPieceSize = 1u << 20;

std::string Quoted(const std::string& path) { return "'" + Escaped(path) + "'"; }

bool WriteAll(int fd, const uint8_t* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = write(fd, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
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

mode_t NewFileMode() { return 0666 & ~(mode_t)CurrentUmask(); }

PendingFile::PendingFile(std::string target) : target_(std::move(target)) {
  size_t slash = target_.rfind('/');
  directory_ = slash == std::string::npos ? "." : slash == 0 ? "/" : target_.substr(0, slash);
  name_ = slash == std::string::npos ? target_ : target_.substr(slash + 1);
}

PendingFile::~PendingFile() { Discard(); }

void PendingFile::Discard() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  if (!temp_.empty()) {
    DropUnnamedFile(dirfd_, temp_.c_str());
    RemoveOnInterrupt(nullptr);
  }
  temp_.clear();
  if (dirfd_ >= 0) close(dirfd_);
  dirfd_ = -1;
}

std::string PendingFile::Failure(const char* what) const {
  return std::string("cannot ") + what + " " + Quoted(target_) + ": " + std::strerror(errno);
}

std::string PendingFile::TemporaryPath() const {
  return temp_.empty() ? "/proc/self/fd/" + std::to_string(fd_) : directory_ + "/" + temp_;
}

bool PendingFile::Create(mode_t mode, std::string& error) {
  Discard();
  dirfd_ = open(directory_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  {
    InterruptsHeld held;
    char temp[TempNameSize];
    if (dirfd_ >= 0) fd_ = CreateUnnamedFile(dirfd_, mode, temp);
    if (fd_ < 0) {
      error = "cannot create a temporary file beside " + Quoted(target_) + ": " + std::strerror(errno);
      Discard();
      return false;
    }
    temp_ = temp;
    if (!temp_.empty()) RemoveOnInterrupt(TemporaryPath().c_str());
  }
  size_ = 0;
  // The exact mode (the archive's own, when it is replaced), not the umask's.
  if (fchmod(fd_, mode) != 0) {
    error = Failure("write");
    Discard();
    return false;
  }
  return true;
}

bool PendingFile::Append(const void* data, size_t size, std::string& error) {
  if (fd_ < 0 || !WriteAll(fd_, (const uint8_t*)data, size)) {
    if (fd_ < 0) errno = EBADF;
    error = Failure("write");
    return false;
  }
  size_ += size;
  return true;
}

bool PendingFile::Sync(std::string& error) {
  if (fd_ >= 0 && fsync(fd_) == 0) return true;
  if (fd_ < 0) errno = EBADF;
  error = Failure("write");
  return false;
}

bool PendingFile::Write(const Bytes& data, mode_t mode, std::string& error) {
  if (Create(mode, error) && Append(data.data(), data.size(), error) && Sync(error)) return true;
  Discard();
  return false;
}

bool PendingFile::Commit(std::string& error) {
  if (!Sync(error)) {
    Discard();
    return false;
  }
  InterruptsHeld held;
  if (!NameUnnamedFile(fd_, dirfd_, temp_.c_str(), name_.c_str())) {
    error = Failure("write");
    Discard();
    return false;
  }
  RemoveOnInterrupt(nullptr);
  temp_.clear();
  int fd = fd_;
  fd_ = -1;
  // The file is in place and on disk (Sync); a close has nothing left to lose.
  close(fd);
  Discard();
  return true;
}

bool WriteAtomically(const std::string& path, const Bytes& data, mode_t mode, std::string& error) {
  PendingFile file(path);
  return file.Write(data, mode, error) && file.Commit(error);
}

bool CopyRange(int fd, const std::string& source, uint64_t offset, uint64_t count, PendingFile& out,
               std::string& error) {
  std::vector<uint8_t> piece((size_t)std::min<uint64_t>(count, CopyPieceSize));
  while (count > 0) {
    size_t want = (size_t)std::min<uint64_t>(count, piece.size());
    if (ReadAt(fd, offset, piece.data(), want) != want) {
      error = "cannot read " + Quoted(source) + ": " +
              (errno != 0 ? std::strerror(errno) : "the file ends early");
      return false;
    }
    if (!out.Append(piece.data(), want, error)) return false;
    offset += want;
    count -= want;
  }
  return true;
}
