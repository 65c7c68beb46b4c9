// The host's own file services beyond the engine's (platform.h): files that
// take their name only when they are complete, and what the host asks about
// permissions. A new file is made without a name where the file system
// allows it, so that whatever ends the process, even SIGKILL, leaves
// nothing behind; elsewhere it is made under a short temporary name in the
// same directory, which a name of the file system's full length still
// leaves room beside. Either way it then takes its name in one step,
// replacing what stood there.
#pragma once
#include <stddef.h>
#include <stdint.h>

// The most bytes a temporary name takes, its terminator included.
enum : uint32_t { TempNameSize = 32 };

// A fresh temporary name (each call gives another) for objects that cannot
// be made without one, such as symbolic links.
void NextTempName(char temp[TempNameSize]);
// Creates a file in the directory dirfd holds, open for reading and
// writing, with the permission bits mode (narrowed by the umask). temp
// receives its temporary name, or "" when it has none. The descriptor, or
// -1 with errno set.
int CreateUnnamedFile(int dirfd, unsigned mode, char temp[TempNameSize]);
// Gives the file that fd holds (made by CreateUnnamedFile, temp as it gave)
// the name `name` in dirfd, replacing an object of that name (a symbolic
// link itself, never its target). 1, or 0 with errno set (the file keeps no
// name then).
int NameUnnamedFile(int fd, int dirfd, const char* temp, const char* name);
// Removes the temporary name of a file that is given up (nothing when it
// has none); the caller closes the descriptor.
void DropUnnamedFile(int dirfd, const char* temp);
// The permission bits a new file or directory loses to the umask.
unsigned CurrentUmask();
// 1 when this user may write the existing object at path; 0 (errno set)
// when not, or when there is none.
int MayWriteFile(const char* path);
