// The narrow operating-system layer: every file, directory, environment and
// process service the engine and start-up use. win32.cpp implements it for
// the stub, converting every text from CP932 to UTF-16 for the wide Win32
// calls (and back), so the result is the same on any Windows code page;
// posix.cpp implements it for the host tool. Paths handed in are
// zero-terminated CP932 texts with '/' or '\'.
#pragma once
#include <stdint.h>

#include "base/format.h"

typedef void* FileHandle;
typedef void* WindowHandle;

// The "no file" value, distinct from a null handle, as on Win32.
#define InvalidFile ((FileHandle)(intptr_t)-1)
// A handle counts as open unless it is null (a field never set) or invalid.
inline int FileIsOpen(FileHandle file) { return file != nullptr && file != InvalidFile; }

// Attributes are the format's bits (AttrReadOnly, AttrDirectory, AttrNormal),
// which are Win32's; this value means that the object does not exist.
enum : uint32_t { AttrAbsent = 0xFFFFFFFFu };

// Opens an existing file for reading, sharing reads. InvalidFile on failure.
FileHandle PlatformOpenRead(const char* path);
// Creates (or truncates) a file for writing, not shared. InvalidFile on failure.
FileHandle PlatformCreateWrite(const char* path);
// Reads or writes up to count bytes; *done receives the bytes moved. 1/0.
int PlatformRead(FileHandle file, void* buffer, uint32_t count, uint32_t* done);
int PlatformWrite(FileHandle file, const void* buffer, uint32_t count, uint32_t* done);
// Moves to an absolute offset, or forward from the current position. 1/0.
int PlatformSeekSet(FileHandle file, FileOffset offset);
int PlatformSeekForward(FileHandle file, uint32_t distance);
// The file's size in *size; a size FileOffset cannot hold reports its
// largest value. 1/0.
int PlatformFileSize(FileHandle file, FileOffset* size);
// Closes a handle; 1 when the close (and, for output, the final flush) worked.
int PlatformClose(FileHandle file);
// Sets the last-write time from a DOS date and time taken as UTC.
void PlatformSetFileTime(FileHandle file, uint16_t dosDate, uint16_t dosTime);

// An output file made by PlatformCreateWrite, once closed: commit makes it the
// file at path (1/0), discard removes what was written. On Windows the file
// was written in place: commit has nothing to do and discard deletes it. The
// host writes into a temporary file beside path and renames it over path only
// on commit, so a member that fails never destroys the file it would replace.
int PlatformCommitOutput(const char* path);
void PlatformDiscardOutput(const char* path);

// The results of these are ignored by the callers on purpose.
void PlatformDeleteFile(const char* path);
void PlatformCreateDirectory(const char* path);
// AttrAbsent when the object does not exist.
uint32_t PlatformGetAttributes(const char* path);
void PlatformSetAttributes(const char* path, uint32_t attributes);

// Maximum file-name component length of the volume whose root is given
// ("C:\"), or of the current directory's volume when root is null; 0 when
// the query fails.
uint32_t PlatformMaxComponentLength(const char* root);

// Well-known folders, terminated and cut to size bytes (empty on failure).
void PlatformGetSystemDirectory(char* buffer, uint32_t size);
void PlatformGetWindowsDirectory(char* buffer, uint32_t size);
void PlatformGetTempDirectory(char* buffer, uint32_t size);
void PlatformGetCurrentDirectory(char* buffer, uint32_t size);
void PlatformGetModuleFileName(char* buffer, uint32_t size);
// Length of the variable's value, 0 when it is absent. When the value does
// not fit (length >= size) the buffer is left untouched.
uint32_t PlatformGetEnvironment(const char* name, char* buffer, uint32_t size);

// Zero-filled block from the local heap; null on failure.
void* PlatformAlloc(uint32_t size);
void PlatformFree(void* block);

// The start of the character before position (never splits a CP932 pair).
const char* PlatformCharPrev(const char* start, const char* position);
// The last component of path into buffer; always terminated.
void PlatformGetFileTitle(const char* path, char* buffer, uint32_t size);

// Starts a program with parameters followed by further arguments (may be
// null) in a working directory; the system shows no error of its own. With
// wait set, the program and every process it starts are kept track of for
// PlatformWaitCommand.
void PlatformStartCommand(WindowHandle owner, const char* program, const char* parameters,
                          const char* arguments, const char* directory, int wait);
// Waits until the program started with wait and every process it started
// have ended; 1 with the program's exit code in *exitCode, 0 when no program
// was started.
int PlatformWaitCommand(uint32_t* exitCode);

// Creates a new folder with an unguessable name in the temporary directory,
// open only to the current user, never taking an existing folder or link;
// its path goes into path (size bytes). 1/0.
int PlatformMakePrivateFolder(char* path, uint32_t size);
// Removes the folder with everything in it, never following a link out of
// it; what cannot be removed stays.
void PlatformRemoveTree(const char* path);

// Opens (or creates) a file for appending, sharing reads. InvalidFile on failure.
FileHandle PlatformOpenAppend(const char* path);
// Appends the line "first<TAB>second<TAB>third<CR><LF>" (CP932 texts of at
// most 1000 bytes together) as UTF-8; a failure, no file (null or
// InvalidFile) among them, is passed over (a log). The
// second field may come from an archive: a control byte in it (a line
// break, a tab) is written as '?', so that a line stays one line of three
// fields.
void PlatformAppendLine(FileHandle file, const char* first, const char* second, const char* third);

// Ends the process with the exit code (exit handlers run).
[[noreturn]] void PlatformExitProcess(int exitCode);

// A sink that accepts and discards every write (testing an archive).
FileHandle PlatformOpenDiscard();
