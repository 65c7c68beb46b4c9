// The platform layer for the Linux host tool. Engine paths are CP932 and are
// converted to UTF-8 for the file system; a name that cannot be converted
// fails the operation. Writing calls never follow a symlink: every directory
// component is opened with O_NOFOLLOW and the last one is handled in place.
#include "platform/platform.h"
#include "platform/posix_host.h"

#include <errno.h>
#include <fcntl.h>
#include <iconv.h>
#include <limits.h>
#include <setjmp.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "startup/text.h"

jmp_buf* PlatformExitTrap = nullptr;

namespace {

// A CP932 byte becomes at most three UTF-8 bytes, so every engine path
// (516 bytes at most) fits; longer file-system paths are refused.
constexpr size_t FsPathSize = PATH_MAX;
constexpr mode_t NewFileMode = 0666;      // narrowed by the process umask
constexpr mode_t NewDirectoryMode = 0777;
constexpr mode_t AllWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;

// DOS date and time fields.
constexpr int DosYearBase = 1980;
constexpr int TmYearBase = 1900;

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
  if (path == nullptr || !Convert(Cp932ToUtf8, path, out, FsPathSize)) return 0;
  for (char* p = out; *p != '\0'; ++p)
    if (*p == '\\') *p = '/';
  return 1;
}

// A file-system path for the engine, cut to size; empty when it cannot be
// expressed in CP932 or does not fit.
void ToEnginePath(const char* fsPath, char* buffer, uint32_t size) {
  if (buffer == nullptr || size == 0) return;
  if (!Convert(Utf8ToCp932, fsPath, buffer, size)) buffer[0] = '\0';
}

// Opens the directory that holds the last component of an engine path,
// walking every directory component without following symlinks, and copies
// the last component into last (NAME_MAX + 1 bytes). The caller closes
// *dirFd. Trailing separators are ignored; a path naming only the root or
// the current directory yields ".". 1/0.
int OpenParent(const char* path, int* dirFd, char* last) {
  char fsPath[FsPathSize];
  if (!ToFsPath(path, fsPath) || fsPath[0] == '\0') return 0;

  size_t length = strlen(fsPath);
  while (length > 1 && fsPath[length - 1] == '/') fsPath[--length] = '\0';

  int fd = open(fsPath[0] == '/' ? "/" : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return 0;

  char* cursor = fsPath;
  for (;;) {
    while (*cursor == '/') ++cursor;
    char* slash = strchr(cursor, '/');
    if (slash == nullptr) break;
    *slash = '\0';
    int next = openat(fd, cursor, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    close(fd);
    if (next < 0) return 0;
    fd = next;
    cursor = slash + 1;
  }
  const char* name = *cursor != '\0' ? cursor : ".";
  if (strlen(name) > NAME_MAX) {
    close(fd);
    return 0;
  }
  strcpy(last, name);
  *dirFd = fd;
  return 1;
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
  if (fd < 0) return InvalidFile;
  struct stat info;
  if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    close(fd);
    return InvalidFile;
  }
  return HandleOf(fd);
}

// An existing read-only file (no owner write bit) is refused, as the Windows
// stub's create call refuses it; the driver clears the bit first when it is
// told to restore attributes.
FileHandle PlatformCreateWrite(const char* path) {
  int dirFd;
  char name[NAME_MAX + 1];
  if (!OpenParent(path, &dirFd, name)) return InvalidFile;
  struct stat info;
  if (fstatat(dirFd, name, &info, AT_SYMLINK_NOFOLLOW) == 0) {
    int refuse = S_ISDIR(info.st_mode) ||
                 (S_ISREG(info.st_mode) && (info.st_mode & S_IWUSR) == 0);
    if (refuse || unlinkat(dirFd, name, 0) != 0) {
      close(dirFd);
      return InvalidFile;
    }
  }
  int fd = openat(dirFd, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                  NewFileMode);
  close(dirFd);
  if (fd < 0) return InvalidFile;
  return HandleOf(fd);
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
      return 0;
    }
    if (n == 0) break;  // end of file: report what was moved
    *done += (uint32_t)n;
  }
  return 1;
}

int PlatformWrite(FileHandle file, const void* buffer, uint32_t count, uint32_t* done) {
  *done = 0;
  int fd = DescriptorOf(file);
  if (fd < 0) return 0;
  const uint8_t* p = static_cast<const uint8_t*>(buffer);
  while (*done < count) {
    ssize_t n = write(fd, p + *done, count - *done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return 0;
    }
    if (n == 0) return 0;
    *done += (uint32_t)n;
  }
  return 1;
}

int PlatformSeekSet(FileHandle file, uint32_t offset) {
  int fd = DescriptorOf(file);
  return fd >= 0 && lseek(fd, (off_t)offset, SEEK_SET) != (off_t)-1;
}

int PlatformSeekForward(FileHandle file, uint32_t distance) {
  int fd = DescriptorOf(file);
  return fd >= 0 && lseek(fd, (off_t)distance, SEEK_CUR) != (off_t)-1;
}

int PlatformClose(FileHandle file) {
  int fd = DescriptorOf(file);
  if (fd < 0) return 0;
  return close(fd) == 0;
}

// The DOS fields are taken as UTC; only the modification time is set.
void PlatformSetFileTime(FileHandle file, uint16_t dosDate, uint16_t dosTime) {
  int fd = DescriptorOf(file);
  if (fd < 0) return;
  struct tm fields = {};
  fields.tm_year = DosYearBase + (dosDate >> 9) - TmYearBase;
  fields.tm_mon = ((dosDate >> 5) & 0x0F) - 1;
  fields.tm_mday = dosDate & 0x1F;
  fields.tm_hour = dosTime >> 11;
  fields.tm_min = (dosTime >> 5) & 0x3F;
  fields.tm_sec = (dosTime & 0x1F) * 2;
  time_t seconds = timegm(&fields);
  if (seconds == (time_t)-1) return;
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = seconds;
  times[1].tv_nsec = 0;
  futimens(fd, times);  // the result is ignored, as callers expect
}

void PlatformDeleteFile(const char* path) {
  int dirFd;
  char name[NAME_MAX + 1];
  if (!OpenParent(path, &dirFd, name)) return;
  unlinkat(dirFd, name, 0);  // removes a symlink itself, never its target
  close(dirFd);
}

void PlatformCreateDirectory(const char* path) {
  int dirFd;
  char name[NAME_MAX + 1];
  if (!OpenParent(path, &dirFd, name)) return;
  mkdirat(dirFd, name, NewDirectoryMode);  // an existing one simply fails
  close(dirFd);
}

// A symlink counts as an existing (normal) file, so the caller asks before
// replacing it; the replacement removes the link, not its target.
uint32_t PlatformGetAttributes(const char* path) {
  int dirFd;
  char name[NAME_MAX + 1];
  if (!OpenParent(path, &dirFd, name)) return AttrAbsent;
  struct stat info;
  int found = fstatat(dirFd, name, &info, AT_SYMLINK_NOFOLLOW) == 0;
  close(dirFd);
  if (!found) return AttrAbsent;
  if (S_ISDIR(info.st_mode)) return AttrDirectory;
  if (S_ISREG(info.st_mode) && (info.st_mode & S_IWUSR) == 0) return AttrReadOnly;
  return AttrNormal;
}

// Read-only clears every write bit, anything else gives the owner write
// access back; symlinks are left alone.
void PlatformSetAttributes(const char* path, uint32_t attributes) {
  int dirFd;
  char name[NAME_MAX + 1];
  if (!OpenParent(path, &dirFd, name)) return;
  struct stat info;
  if (fstatat(dirFd, name, &info, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISLNK(info.st_mode)) {
    mode_t mode = info.st_mode & 07777;
    mode = (attributes & AttrReadOnly) ? (mode & ~AllWriteBits) : (mode | S_IWUSR);
    fchmodat(dirFd, name, mode, AT_SYMLINK_NOFOLLOW);  // ignored, as callers expect
  }
  close(dirFd);
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
void PlatformStartCommand(WindowHandle, const char*, const char*, const char*) {}

[[noreturn]] void PlatformExitProcess(int exitCode) {
  if (PlatformExitTrap != nullptr) longjmp(*PlatformExitTrap, ExitTrapBase + exitCode);
  fflush(nullptr);
  exit(exitCode);
}

FileHandle PlatformOpenDiscard() {
  int fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (fd < 0) return InvalidFile;
  return HandleOf(fd);
}
