// The platform layer for the Linux host tool. Engine paths are CP932 and are
// converted to UTF-8 for the file system; a name that cannot be converted
// fails the operation. Writing calls never follow a symlink: every directory
// component is opened with O_NOFOLLOW and the last one is handled in place.
#include "platform/platform.h"
#include "platform/posix_host.h"

#include <errno.h>
#include <fcntl.h>
#include <ftw.h>
#include <iconv.h>
#include <limits.h>
#include <setjmp.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <set>
#include <utility>

#include "base/dostime.h"
#include "base/text.h"
#include "platform/hostfiles.h"

jmp_buf* PlatformExitTrap = nullptr;
int PlatformOutputMode = -1;
int64_t PlatformOutputTime = -1;
const char* PlatformOutputLink = nullptr;
int PlatformLastError = 0;
int PlatformUtf8Paths = 0;
int PlatformDiscardTo = -1;

namespace {

// Records why a call failed (see PlatformLastError) and returns 0.
int Failed(int error) {
  PlatformLastError = error;
  return 0;
}

// A CP932 byte becomes at most three UTF-8 bytes, so every engine path
// (516 bytes at most) fits; longer file-system paths are refused. A
// component may be as long as the file system allows (vfat takes 255
// UTF-16 units, up to 765 bytes of UTF-8): only the whole path is bounded.
constexpr size_t FsPathSize = PATH_MAX;
constexpr size_t ComponentSize = FsPathSize;
constexpr mode_t NewFileMode = 0666;      // narrowed by the process umask
constexpr mode_t NewDirectoryMode = 0777;
constexpr mode_t AllWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;
constexpr int TempNameTries = 100;

// A handle holds the descriptor plus one, so that neither the null handle nor
// InvalidFile ever names a real descriptor.
FileHandle HandleOf(int fd) { return (FileHandle)(intptr_t)(fd + 1); }
int DescriptorOf(FileHandle file) {
  if (file == nullptr || file == InvalidFile) return -1;
  return (int)((intptr_t)file - 1);
}

enum Direction { Cp932ToUtf8, Utf8ToCp932, DirectionCount };

// One converter per direction, opened on first use and kept for the life of
// the process: every member touches several paths.
iconv_t Converter(Direction direction) {
  static iconv_t converters[DirectionCount] = {(iconv_t)-1, (iconv_t)-1};
  if (converters[direction] == (iconv_t)-1)
    converters[direction] = direction == Cp932ToUtf8 ? iconv_open("UTF-8", "CP932")
                                                     : iconv_open("CP932", "UTF-8");
  return converters[direction];
}

// Converts in into out (outSize bytes, terminated). 1/0.
int Convert(Direction direction, const char* in, char* out, size_t outSize) {
  if (outSize == 0) return 0;
  iconv_t cd = Converter(direction);
  if (cd == (iconv_t)-1) return 0;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
  char* src = const_cast<char*>(in);
  size_t srcLeft = strlen(in);
  char* dst = out;
  size_t dstLeft = outSize - 1;  // room for the terminator
  size_t result = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
  int ok = result != (size_t)-1 && srcLeft == 0;
  if (ok) ok = iconv(cd, nullptr, nullptr, &dst, &dstLeft) != (size_t)-1;
  if (!ok) {
    out[0] = '\0';
    return 0;
  }
  *dst = '\0';
  return 1;
}

// An engine path as a file-system path. '\' counts as a separator; after the
// conversion a 0x5C byte can only be a real backslash, never a trail byte.
int ToFsPath(const char* path, char* out) {
  if (path != nullptr && PlatformUtf8Paths) {
    size_t length = strlen(path);
    if (length >= FsPathSize) return Failed(ENAMETOOLONG);
    memcpy(out, path, length + 1);
  } else if (path == nullptr || !Convert(Cp932ToUtf8, path, out, FsPathSize)) {
    return Failed(EILSEQ);
  }
  for (char* p = out; *p != '\0'; ++p)
    if (*p == '\\') *p = '/';
  return 1;
}

// A file-system path for the engine, cut to size; empty when it cannot be
// expressed in CP932 or does not fit.
void ToEnginePath(const char* fsPath, char* buffer, uint32_t size) {
  if (buffer == nullptr || size == 0) return;
  if (PlatformUtf8Paths) {
    if (strlen(fsPath) < size) memcpy(buffer, fsPath, strlen(fsPath) + 1);
    else buffer[0] = '\0';
    return;
  }
  if (!Convert(Utf8ToCp932, fsPath, buffer, size)) buffer[0] = '\0';
}

// Reaching a path's directory. Every directory component is opened with
// O_NOFOLLOW | O_DIRECTORY from the current directory (or the root), so no
// symlink is ever followed on the way. Walking afresh costs two system calls
// per component on every call, and an extraction makes several calls per
// member into the same few directories; so the host may have the walk kept.
//
// What is kept: Kept.fds[0] is the start of the walk ("." or "/", after
// Kept.absolute) and Kept.fds[i] the directory reached through the first i
// components of Kept.path. Kept.path spells each component behind a '/'
// ("/usr/share" for usr/share, and for /usr/share when absolute), and
// Kept.ends[i] is its length up to the end of component i, so the kept part
// of a new walk is found by comparing text; only the components beyond it
// are opened.
//
// Why it stays correct: each kept descriptor was reached without following a
// symlink and goes on naming that directory whatever later happens to the
// names. Nothing here removes or renames a directory (only files are
// unlinked), and the host keeps the walk only while it neither changes the
// current directory nor removes directories itself. Should another process
// swap a kept directory for a symlink, writes still go through the
// descriptor into the directory that was walked, or fail when it is gone;
// never through the symlink.

// Kept levels; real trees are far shallower. The rest of a deeper walk runs
// on a descriptor of its own, so a path never holds more than this many open.
constexpr int MaxKeptLevels = 64;
constexpr int NothingKept = -1;
constexpr int WalkFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

struct KeptWalk {
  int keep = 0;             // keep the walk between calls (the host's choice)
  int depth = NothingKept;  // fds[0..depth] are open
  int absolute = 0;         // the walk starts at "/", not at "."
  int fds[MaxKeptLevels + 1];
  size_t ends[MaxKeptLevels + 1];
  char path[FsPathSize];
};
KeptWalk Kept;

// Closes the kept levels beyond the first `levels` (NothingKept: all).
void TruncateKept(int levels) {
  for (; Kept.depth > levels; --Kept.depth) close(Kept.fds[Kept.depth]);
  if (Kept.depth >= 0) Kept.path[Kept.ends[Kept.depth]] = '\0';
}

// 1 when text, a directory in the kept spelling, runs through the first
// `length` bytes of Kept.path and ends or goes on with a new component there.
int MatchesKept(const char* text, size_t length) {
  return strncmp(text, Kept.path, length) == 0 && (text[length] == '\0' || text[length] == '/');
}

// A path ready for the walk: its directory in the kept spelling ("/a/b" for
// a/b/name, "" for a name alone) and its last component ("." when the path
// names the start of the walk itself).
struct ParentPath {
  int absolute;
  char directory[FsPathSize + 1];  // one '/' more than the path may hold
  char name[ComponentSize];
  int fd;     // the directory, once opened
  int owned;  // fd is the caller's to close (beyond the kept levels)
};

// Splits an engine path; trailing and doubled separators are ignored. 1/0.
int SplitPath(const char* path, ParentPath* parent) {
  char fsPath[FsPathSize];
  if (!ToFsPath(path, fsPath) || fsPath[0] == '\0') return 0;
  parent->absolute = fsPath[0] == '/';
  size_t length = strlen(fsPath);
  while (length > 0 && fsPath[length - 1] == '/') fsPath[--length] = '\0';
  char* slash = strrchr(fsPath, '/');
  const char* name = slash != nullptr ? slash + 1 : fsPath;
  if (*name == '\0') name = ".";
  if (strlen(name) >= ComponentSize) return Failed(ENAMETOOLONG);
  strcpy(parent->name, name);
  // What stays of fsPath is the directory part.
  if (slash != nullptr)
    *slash = '\0';
  else
    fsPath[0] = '\0';
  char* out = parent->directory;
  for (const char* cursor = fsPath; *cursor != '\0';) {
    if (*cursor == '/') {
      ++cursor;
      continue;
    }
    *out++ = '/';
    while (*cursor != '\0' && *cursor != '/') *out++ = *cursor++;
  }
  *out = '\0';
  return 1;
}

// Lets go of what OpenParent left open for one call.
void CloseParent(ParentPath* parent) {
  if (parent->owned) close(parent->fd);
  parent->owned = 0;
  if (!Kept.keep) TruncateKept(NothingKept);
}

// Opens the directory of a split path into parent->fd, starting from the kept
// walk where it agrees. Every successful call is ended with CloseParent. 1/0.
int WalkToParent(ParentPath* parent) {
  parent->owned = 0;
  if (Kept.depth != NothingKept && Kept.absolute != parent->absolute) TruncateKept(NothingKept);
  if (Kept.depth == NothingKept) {
    int start = open(parent->absolute ? "/" : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (start < 0) return Failed(errno);
    Kept.depth = 0;
    Kept.fds[0] = start;
    Kept.ends[0] = 0;
    Kept.path[0] = '\0';
    Kept.absolute = parent->absolute;
  }
  char* directory = parent->directory;
  int level = 0;
  while (level < Kept.depth && MatchesKept(directory, Kept.ends[level + 1])) ++level;
  char* cursor = directory + Kept.ends[level];
  // A call that needs only a kept level leaves the deeper ones for later.
  if (*cursor != '\0') TruncateKept(level);

  int fd = Kept.fds[level];
  while (*cursor == '/') {
    char* component = cursor + 1;
    char* end = component;
    while (*end != '\0' && *end != '/') ++end;
    char saved = *end;
    *end = '\0';
    int next = openat(fd, component, WalkFlags);
    *end = saved;
    if (parent->owned) close(fd);
    if (next < 0) {
      Failed(errno);
      parent->owned = 0;
      CloseParent(parent);
      return 0;
    }
    fd = next;
    if (!parent->owned && Kept.depth < MaxKeptLevels) {
      ++Kept.depth;
      Kept.fds[Kept.depth] = next;
      Kept.ends[Kept.depth] = (size_t)(end - directory);
      memcpy(Kept.path + Kept.ends[Kept.depth - 1], component - 1,
             Kept.ends[Kept.depth] - Kept.ends[Kept.depth - 1]);
      Kept.path[Kept.ends[Kept.depth]] = '\0';
    } else {
      parent->owned = 1;
    }
    cursor = end;
  }
  parent->fd = fd;
  return 1;
}

// SplitPath and WalkToParent in one.
int OpenParent(const char* path, ParentPath* parent) {
  return SplitPath(path, parent) && WalkToParent(parent);
}

// 1 when the walk kept so far went through the directory that path names,
// so that it is known to exist as a real directory.
int KeptWalkPasses(const ParentPath& parent) {
  if (!Kept.keep || Kept.depth == NothingKept || Kept.absolute != parent.absolute) return 0;
  size_t directoryLength = strlen(parent.directory);
  size_t length = directoryLength + 1 + strlen(parent.name);
  if (length > Kept.ends[Kept.depth] || !MatchesKept(parent.directory, directoryLength))
    return 0;
  return Kept.path[directoryLength] == '/' &&
         strncmp(Kept.path + directoryLength + 1, parent.name, length - directoryLength - 1) == 0 &&
         (Kept.path[length] == '\0' || Kept.path[length] == '/');
}

// Copies src into a buffer of size bytes, cut if needed, always terminated.
void CopyBounded(char* buffer, const char* src, uint32_t size) {
  if (buffer == nullptr || size == 0) return;
  uint32_t i = 0;
  for (; i + 1 < size && src[i] != '\0'; ++i) buffer[i] = src[i];
  buffer[i] = '\0';
}

void GetDirectoryFromEnvironment(const char* name, const char* fallback, char* buffer,
                                 uint32_t size) {
  if (buffer == nullptr || size == 0) return;
  const char* value = getenv(name);
  if (value == nullptr || value[0] == '\0') value = fallback;
  if (value == nullptr) {
    buffer[0] = '\0';
    return;
  }
  ToEnginePath(value, buffer, size);
}

}  // namespace

FileHandle PlatformOpenRead(const char* path) {
  char fsPath[FsPathSize];
  if (!ToFsPath(path, fsPath)) return InvalidFile;
  int fd = open(fsPath, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Failed(errno), InvalidFile;
  struct stat info;
  if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    Failed(S_ISDIR(info.st_mode) ? EISDIR : errno);
    close(fd);
    return InvalidFile;
  }
  return HandleOf(fd);
}

namespace {

// The one output being written: the engine writes a member at a time. Its
// data goes into a file without a name (or with a temporary one where the
// file system cannot do without) in the destination's directory, held open
// by dirfd, so a rename cannot be sent elsewhere by a swapped path; it
// takes the destination's name only on commit. fd keeps the file beyond the
// engine's close of its own handle: an unnamed file lives only as long as a
// descriptor does.
struct PendingOutput {
  int dirfd = -1;
  int fd = -1;
  char temp[TempNameSize];
  char name[ComponentSize];
  char path[FsPathSize];  // the engine path it stands for
};
PendingOutput Pending;

// The files, links and directories this process committed or made, by
// identity, so that a later member landing on one of them is told apart
// from a file that was there before, whatever the file system takes for
// the same name (letter case, normalisation, short names).
std::set<std::pair<dev_t, ino_t>> Written;

void Remember(int dirfd, const char* name) {
  struct stat info;
  if (fstatat(dirfd, name, &info, AT_SYMLINK_NOFOLLOW) == 0) Written.insert({info.st_dev, info.st_ino});
}

void ForgetPending() {
  if (Pending.fd >= 0) close(Pending.fd);
  if (Pending.dirfd >= 0) close(Pending.dirfd);
  Pending.fd = Pending.dirfd = -1;
  Pending.path[0] = '\0';
}

int IsPending(const char* path) {
  return Pending.dirfd >= 0 && path != nullptr && strcmp(path, Pending.path) == 0;
}

// Puts a symbolic link to target in the pending output's place: made under
// a temporary name beside it, then renamed over the name. 1/0.
int CommitLink(const char* target) {
  char temp[TempNameSize];
  for (int i = 0;; ++i) {
    if (i == TempNameTries) return Failed(EEXIST);
    NextTempName(temp);
    if (symlinkat(target, Pending.dirfd, temp) == 0) break;
    if (errno != EEXIST) return Failed(errno);
  }
  if (renameat(Pending.dirfd, temp, Pending.dirfd, Pending.name) == 0) return 1;
  Failed(errno);
  unlinkat(Pending.dirfd, temp, 0);  // the link never took the name
  return 0;
}

// Gives the object fd holds the permission bits mode (-1: left alone),
// narrowed by the umask as any new object's are and never set-user-id or
// set-group-id, and the modification time (-1: left alone). 1, or 0 when
// either could not be set.
int ApplyFacts(int fd, int mode, int64_t time) {
  constexpr mode_t KeptModeBits = 01777;
  int ok = 1;
  if (mode >= 0 && fchmod(fd, (mode_t)mode & ~(mode_t)CurrentUmask() & KeptModeBits) != 0) ok = Failed(errno);
  if (time >= 0) {
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = (time_t)time;
    times[1].tv_nsec = 0;
    if (futimens(fd, times) != 0) ok = Failed(errno);
  }
  return ok;
}

}  // namespace

// An existing read-only file (no owner write bit) and a directory are
// refused, as the Windows call refuses them, unless the engine has cleared
// the attribute first because it was told to restore attributes. Anything
// else in the destination's place (a symlink included) is replaced by the
// commit, which replaces a link itself, never its target.
FileHandle PlatformCreateWrite(const char* path) {
  ForgetPending();
  ParentPath parent;
  if (!OpenParent(path, &parent)) return InvalidFile;
  struct stat info;
  int fd = -1;
  if (fstatat(parent.fd, parent.name, &info, AT_SYMLINK_NOFOLLOW) != 0 ||
      !(S_ISDIR(info.st_mode) || (S_ISREG(info.st_mode) && (info.st_mode & S_IWUSR) == 0))) {
    Pending.fd = CreateUnnamedFile(parent.fd, NewFileMode, Pending.temp);
    if (Pending.fd < 0) Failed(errno);
  } else {
    Failed(S_ISDIR(info.st_mode) ? EISDIR : EACCES);
  }
  if (Pending.fd >= 0) {
    Pending.dirfd = dup(parent.fd);
    fd = Pending.dirfd >= 0 ? dup(Pending.fd) : -1;
    if (fd < 0) {
      Failed(errno);
      if (Pending.dirfd >= 0) DropUnnamedFile(Pending.dirfd, Pending.temp);
      ForgetPending();
    } else {
      strcpy(Pending.name, parent.name);
      CopyBounded(Pending.path, path, sizeof Pending.path);
    }
  }
  CloseParent(&parent);
  if (fd < 0) return InvalidFile;
  return HandleOf(fd);
}

int PlatformCommitOutput(const char* path) {
  if (!IsPending(path)) return 1;
  int ok;
  if (PlatformOutputLink != nullptr) {
    ok = CommitLink(PlatformOutputLink);
    DropUnnamedFile(Pending.dirfd, Pending.temp);  // the empty file stood in for the link
  } else {
    // The mode and time are the archive's wish; a file that cannot take
    // them keeps its own, which is no reason to lose the member.
    (void)ApplyFacts(Pending.fd, PlatformOutputMode, PlatformOutputTime);
    ok = NameUnnamedFile(Pending.fd, Pending.dirfd, Pending.temp, Pending.name);
    if (!ok) {
      Failed(errno);
      DropUnnamedFile(Pending.dirfd, Pending.temp);
    }
  }
  if (ok) Remember(Pending.dirfd, Pending.name);
  ForgetPending();
  return ok;
}

void PlatformDiscardOutput(const char* path) {
  if (!IsPending(path)) {
    PlatformDeleteFile(path);
    return;
  }
  DropUnnamedFile(Pending.dirfd, Pending.temp);  // the destination's own file is left alone
  ForgetPending();
}

int PlatformRead(FileHandle file, void* buffer, uint32_t count, uint32_t* done) {
  *done = 0;
  int fd = DescriptorOf(file);
  if (fd < 0) return 0;
  uint8_t* p = static_cast<uint8_t*>(buffer);
  while (*done < count) {
    ssize_t n = read(fd, p + *done, count - *done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Failed(errno);
    }
    if (n == 0) break;  // end of file: report what was moved
    *done += (uint32_t)n;
  }
  return 1;
}

namespace {

// The file PlatformNarrowOutput narrowed, and what is left of its ranges.
struct NarrowedOutput {
  int fd = -1;
  uint32_t skip = 0;
  uint32_t keep = 0;
  uint8_t* capture = nullptr;
  uint32_t captureLeft = 0;
};
NarrowedOutput Narrowed;

int WriteAll(int fd, const uint8_t* p, uint32_t count) {
  for (uint32_t written = 0; written < count;) {
    ssize_t n = write(fd, p + written, count - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Failed(errno);
    }
    if (n == 0) return Failed(ENOSPC);
    written += (uint32_t)n;
  }
  return 1;
}

// Takes count bytes at *p through the narrowed ranges: the captured ones are
// copied, the skipped ones passed over; *p and *count become what goes out.
void Narrow(const uint8_t** p, uint32_t* count) {
  uint32_t copy = *count < Narrowed.captureLeft ? *count : Narrowed.captureLeft;
  if (Narrowed.capture != nullptr) {
    memcpy(Narrowed.capture, *p, copy);
    Narrowed.capture += copy;
  }
  Narrowed.captureLeft -= copy;
  uint32_t pass = *count < Narrowed.skip ? *count : Narrowed.skip;
  Narrowed.skip -= pass;
  *p += pass;
  *count -= pass;
  if (*count > Narrowed.keep) *count = Narrowed.keep;
  Narrowed.keep -= *count;
}

}  // namespace

void PlatformNarrowOutput(FileHandle file, uint32_t skip, uint32_t keep, uint8_t* capture,
                          uint32_t captureSize) {
  Narrowed.fd = DescriptorOf(file);
  Narrowed.skip = skip;
  Narrowed.keep = keep;
  Narrowed.capture = capture;
  Narrowed.captureLeft = capture != nullptr ? captureSize : 0;
}

int PlatformWrite(FileHandle file, const void* buffer, uint32_t count, uint32_t* done) {
  *done = 0;
  int fd = DescriptorOf(file);
  if (fd < 0) return 0;
  const uint8_t* p = static_cast<const uint8_t*>(buffer);
  uint32_t out = count;
  if (fd == Narrowed.fd) Narrow(&p, &out);
  if (!WriteAll(fd, p, out)) return 0;
  *done = count;
  return 1;
}

int PlatformSeekSet(FileHandle file, FileOffset offset) {
  int fd = DescriptorOf(file);
  if (fd >= 0 && lseek(fd, (off_t)offset, SEEK_SET) != (off_t)-1) return 1;
  return Failed(fd >= 0 ? errno : EBADF);
}

int PlatformSeekForward(FileHandle file, uint32_t distance) {
  int fd = DescriptorOf(file);
  if (fd >= 0 && lseek(fd, (off_t)distance, SEEK_CUR) != (off_t)-1) return 1;
  return Failed(fd >= 0 ? errno : EBADF);
}

int PlatformFileSize(FileHandle file, FileOffset* size) {
  int fd = DescriptorOf(file);
  struct stat info;
  if (fd < 0 || fstat(fd, &info) != 0) return Failed(fd >= 0 ? errno : EBADF);
  *size = info.st_size < 0 ? 0 : (FileOffset)info.st_size;
  return 1;
}

int PlatformClose(FileHandle file) {
  int fd = DescriptorOf(file);
  if (fd < 0) return Failed(EBADF);
  if (fd == Narrowed.fd) Narrowed = NarrowedOutput();
  return close(fd) == 0 || Failed(errno);
}

// The DOS fields are taken as UTC; only the modification time is set.
void PlatformSetFileTime(FileHandle file, uint16_t dosDate, uint16_t dosTime) {
  int fd = DescriptorOf(file);
  if (fd < 0) return;
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = DosDateTimeToUnix((uint32_t)dosDate << 16 | dosTime);
  times[1].tv_nsec = 0;
  futimens(fd, times);  // the result is ignored, as callers expect
}

void PlatformDeleteFile(const char* path) {
  ParentPath parent;
  if (!OpenParent(path, &parent)) return;
  unlinkat(parent.fd, parent.name, 0);  // removes a symlink itself, never its target
  CloseParent(&parent);
}

// A directory the kept walk went through exists already; asking again would
// only fail.
void PlatformCreateDirectory(const char* path) {
  ParentPath parent;
  if (!SplitPath(path, &parent) || KeptWalkPasses(parent) || !WalkToParent(&parent)) return;
  // An existing directory is no failure; anything else in its place is.
  if (mkdirat(parent.fd, parent.name, NewDirectoryMode) != 0) {
    int error = errno;
    struct stat info;
    if (error != EEXIST || fstatat(parent.fd, parent.name, &info, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISDIR(info.st_mode))
      Failed(error);
  }
  CloseParent(&parent);
}

// A symlink counts as an existing (normal) file, so the caller asks before
// replacing it; the replacement removes the link, not its target.
uint32_t PlatformGetAttributes(const char* path) {
  ParentPath parent;
  if (!OpenParent(path, &parent)) return AttrAbsent;
  struct stat info;
  int found = fstatat(parent.fd, parent.name, &info, AT_SYMLINK_NOFOLLOW) == 0;
  CloseParent(&parent);
  if (!found) return AttrAbsent;
  if (S_ISDIR(info.st_mode)) return AttrDirectory;
  if (S_ISREG(info.st_mode) && (info.st_mode & S_IWUSR) == 0) return AttrReadOnly;
  return AttrNormal;
}

// Read-only clears every write bit, anything else gives the owner write
// access back; symlinks are left alone. A mode that is already right is not
// set again.
void PlatformSetAttributes(const char* path, uint32_t attributes) {
  ParentPath parent;
  if (!OpenParent(path, &parent)) return;
  struct stat info;
  if (fstatat(parent.fd, parent.name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
      !S_ISLNK(info.st_mode)) {
    mode_t mode = info.st_mode & 07777;
    mode_t wanted = (attributes & AttrReadOnly) ? (mode & ~AllWriteBits) : (mode | S_IWUSR);
    if (wanted != mode)
      fchmodat(parent.fd, parent.name, wanted, AT_SYMLINK_NOFOLLOW);  // ignored, as callers expect
  }
  CloseParent(&parent);
}

int PlatformOutputWritten(const char* path) {
  ParentPath parent;
  if (!OpenParent(path, &parent)) return 0;
  struct stat info;
  int found = fstatat(parent.fd, parent.name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
              Written.count({info.st_dev, info.st_ino}) != 0;
  CloseParent(&parent);
  return found;
}

// The directory is opened without following a symlink and changed through
// that descriptor, so what is changed is the directory the walk reached.
int PlatformSetDirectoryFacts(const char* path, int mode, int64_t time) {
  ParentPath parent;
  if (!OpenParent(path, &parent)) return 0;
  int fd = openat(parent.fd, parent.name, WalkFlags);
  CloseParent(&parent);
  if (fd < 0) return Failed(errno);
  int ok = ApplyFacts(fd, mode, time);
  close(fd);
  return ok;
}

void PlatformKeepDirectories(int keep) {
  TruncateKept(NothingKept);
  Kept.keep = keep;
}

// A Windows drive root does not exist here; the current directory's file
// system is asked instead.
uint32_t PlatformMaxComponentLength(const char* root) {
  long length = -1;
  char fsPath[FsPathSize];
  if (root != nullptr && ToFsPath(root, fsPath)) length = pathconf(fsPath, _PC_NAME_MAX);
  if (length < 0) length = pathconf(".", _PC_NAME_MAX);
  return length < 0 ? 0 : (uint32_t)length;
}

void PlatformGetSystemDirectory(char* buffer, uint32_t size) {
  GetDirectoryFromEnvironment("LZHSFX_SYSTEMDIR", nullptr, buffer, size);
}

void PlatformGetWindowsDirectory(char* buffer, uint32_t size) {
  GetDirectoryFromEnvironment("LZHSFX_WINDIR", nullptr, buffer, size);
}

void PlatformGetTempDirectory(char* buffer, uint32_t size) {
  GetDirectoryFromEnvironment("TMPDIR", "/tmp", buffer, size);
}

void PlatformGetCurrentDirectory(char* buffer, uint32_t size) {
  if (buffer == nullptr || size == 0) return;
  char fsPath[FsPathSize];
  if (getcwd(fsPath, sizeof fsPath) == nullptr) {
    buffer[0] = '\0';
    return;
  }
  ToEnginePath(fsPath, buffer, size);
}

void PlatformGetModuleFileName(char* buffer, uint32_t size) {
  if (buffer == nullptr || size == 0) return;
  char fsPath[FsPathSize];
  ssize_t n = readlink("/proc/self/exe", fsPath, sizeof fsPath - 1);
  if (n < 0) {
    buffer[0] = '\0';
    return;
  }
  fsPath[n] = '\0';
  ToEnginePath(fsPath, buffer, size);
}

uint32_t PlatformGetEnvironment(const char* name, char* buffer, uint32_t size) {
  const char* value = getenv(name);
  if (value == nullptr) return 0;
  size_t length = strlen(value);
  if (length >= size) return (uint32_t)length;
  memcpy(buffer, value, length + 1);
  return (uint32_t)length;
}

void* PlatformAlloc(uint32_t size) { return calloc(1, size != 0 ? size : 1); }

void PlatformFree(void* block) { free(block); }

const char* PlatformCharPrev(const char* start, const char* position) {
  if (position <= start) return start;
  const char* p = start;
  const char* previous = start;
  while (p < position) {
    previous = p;
    p += (IsLeadByte((uint8_t)*p) && p[1] != '\0') ? 2 : 1;
  }
  return previous;
}

void PlatformGetFileTitle(const char* path, char* buffer, uint32_t size) {
  if (buffer == nullptr || size == 0) return;
  const char* title = path;
  for (const char* p = path; *p != '\0'; ++p) {
    if (IsLeadByte((uint8_t)*p)) {
      if (p[1] == '\0') break;
      ++p;
    } else if (*p == '/' || *p == '\\') {
      title = p + 1;
    }
  }
  CopyBounded(buffer, title, size);
}

// The host tool never runs a command that an archive names.
// The host tool starts no command after extracting.
void PlatformStartCommand(WindowHandle, const char*, const char*, const char*, const char*, int) {}
int PlatformWaitCommand(uint32_t*) { return 0; }

// mkdtemp makes the folder with mode 0700 and never takes an existing name.
int PlatformMakePrivateFolder(char* path, uint32_t size) {
  char temp[FsPathSize];
  PlatformGetTempDirectory(temp, sizeof temp);
  char fsPath[FsPathSize];
  if (!ToFsPath(temp, fsPath)) return 0;
  size_t length = strlen(fsPath);
  static const char Pattern[] = "/lzhsfx-XXXXXX";
  if (length + sizeof Pattern > sizeof fsPath) return Failed(ENAMETOOLONG);
  memcpy(fsPath + length, Pattern, sizeof Pattern);
  if (mkdtemp(fsPath) == nullptr) return Failed(errno);
  ToEnginePath(fsPath, path, size);
  return 1;
}

namespace {
int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
  remove(path);  // what cannot be removed stays, and its folder with it
  return 0;
}
}  // namespace

// Depth first and physical: a symlink is removed, never followed.
void PlatformRemoveTree(const char* path) {
  char fsPath[FsPathSize];
  if (!ToFsPath(path, fsPath) || fsPath[0] == '\0') return;
  enum { OpenDirectories = 16 };
  nftw(fsPath, RemoveEntry, OpenDirectories, FTW_DEPTH | FTW_PHYS);
}

FileHandle PlatformOpenAppend(const char* path) {
  char fsPath[FsPathSize];
  if (!ToFsPath(path, fsPath)) return InvalidFile;
  int fd = open(fsPath, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, NewFileMode);
  if (fd < 0) return Failed(errno), InvalidFile;
  return HandleOf(fd);
}

void PlatformAppendLine(FileHandle file, const char* first, const char* second, const char* third) {
  char line[FsPathSize];
  char utf8[FsPathSize];
  int start = snprintf(line, sizeof line, "%s\t", first);
  snprintf(line + start, sizeof line - start, "%s\t%s\r\n", second, third);
  for (char* field = line + start; field < line + start + strlen(second) && *field != '\0'; field++)
    if ((uint8_t)*field < ' ') *field = '?';
  if (!Convert(Cp932ToUtf8, line, utf8, sizeof utf8)) return;
  ssize_t written = write(DescriptorOf(file), utf8, strlen(utf8));
  (void)written;  // a log that cannot be written is passed over
}

[[noreturn]] void PlatformExitProcess(int exitCode) {
  if (PlatformExitTrap != nullptr) longjmp(*PlatformExitTrap, ExitTrapBase + exitCode);
  fflush(nullptr);
  exit(exitCode);
}

FileHandle PlatformOpenDiscard() {
  int fd = PlatformDiscardTo >= 0 ? fcntl(PlatformDiscardTo, F_DUPFD_CLOEXEC, 0)
                                  : open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (fd < 0) return Failed(errno), InvalidFile;
  return HandleOf(fd);
}

// The fields go to the C library's calendar as they are: no detour through
// a count of seconds that would have to be read back.
int PlatformLocalDosTimeToUnix(uint32_t dosDateTime, int64_t* seconds) {
  constexpr int CalendarYearBase = 1900, CalendarMonthBase = 1;
  DosFields f = UnpackDosDateTime(dosDateTime);
  struct tm fields {};
  fields.tm_year = (int)f.year - CalendarYearBase;
  fields.tm_mon = (int)f.month - CalendarMonthBase;
  fields.tm_mday = (int)f.day;
  fields.tm_hour = (int)f.hour;
  fields.tm_min = (int)f.minute;
  fields.tm_sec = (int)f.second;
  fields.tm_isdst = -1;  // whatever the zone's rule says for that day
  time_t local = mktime(&fields);
  if (local == (time_t)-1) return 0;
  *seconds = (int64_t)local;
  return 1;
}
