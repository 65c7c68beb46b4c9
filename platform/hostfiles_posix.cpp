// The host's file services on Linux. O_TMPFILE makes a file that lives only
// as long as a descriptor holds it, and linkat through /proc/self/fd gives
// it a name (the form that needs no privilege). A file system without
// O_TMPFILE gets a temporary name instead, short enough to stand beside any
// name.
#include "platform/hostfiles.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace {

constexpr int NameTries = 100;
constexpr char TempPrefix[] = ".lzhsfx-";
constexpr char FdDirectory[] = "/proc/self/fd/";
constexpr size_t FdPathSize = sizeof FdDirectory + 16;

// Links the unnamed file fd holds to `to` in dirfd; fails with EEXIST
// when `to` exists.
int LinkTo(int fd, int dirfd, const char* to) {
  char path[FdPathSize];
  snprintf(path, sizeof path, "%s%d", FdDirectory, fd);
  return linkat(AT_FDCWD, path, dirfd, to, AT_SYMLINK_FOLLOW) == 0;
}

}  // namespace

void NextTempName(char temp[TempNameSize]) {
  static unsigned counter = 0;
  unsigned tag = (unsigned)getpid() * 2654435761u ^ (unsigned)time(nullptr) ^ (++counter * 40503u);
  snprintf(temp, TempNameSize, "%s%08x", TempPrefix, tag);
}

int CreateUnnamedFile(int dirfd, unsigned mode, char temp[TempNameSize]) {
  temp[0] = '\0';
  int fd = openat(dirfd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, (mode_t)mode);
  if (fd >= 0) return fd;
  for (int i = 0; i < NameTries; ++i) {
    NextTempName(temp);
    fd = openat(dirfd, temp, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, (mode_t)mode);
    if (fd >= 0 || errno != EEXIST) break;
  }
  if (fd < 0) temp[0] = '\0';
  return fd;
}

// An unnamed file is linked in directly where nothing stands at the name;
// otherwise, since a link never replaces anything, it takes a temporary
// name first and is renamed over what stands there (only between those two
// steps does a temporary name exist). A named one is renamed.
int NameUnnamedFile(int fd, int dirfd, const char* temp, const char* name) {
  if (temp[0] != '\0') return renameat(dirfd, temp, dirfd, name) == 0;
  if (LinkTo(fd, dirfd, name)) return 1;
  if (errno != EEXIST) return 0;
  char between[TempNameSize];
  for (int i = 0;; ++i) {
    NextTempName(between);
    if (LinkTo(fd, dirfd, between)) break;
    if (errno != EEXIST || i + 1 == NameTries) return 0;
  }
  if (renameat(dirfd, between, dirfd, name) == 0) return 1;
  int why = errno;
  unlinkat(dirfd, between, 0);
  errno = why;
  return 0;
}

void DropUnnamedFile(int dirfd, const char* temp) {
  if (temp[0] != '\0') unlinkat(dirfd, temp, 0);  // nothing more to do if it is gone
}

unsigned CurrentUmask() {
  mode_t mask = umask(0);
  umask(mask);
  return (unsigned)mask;
}

// access() asks with the real user's rights, which are the user's own: the
// tool is never installed set-user-id.
int MayWriteFile(const char* path) { return access(path, W_OK) == 0; }
