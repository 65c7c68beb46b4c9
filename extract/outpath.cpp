// Joins the destination and a stored member name into the output path, makes
// each component acceptable to the volume (255-byte long names or 8.3), creates
// the directories on the way and shortens paths for the status line. Nothing
// here splits a CP932 pair or writes past the 516-byte output path.
#include "extract/outpath.h"

#include "platform/platform.h"
#include "base/text.h"
#include "core/workarea.h"

namespace {

enum : uint32_t {
  SystemDirPrefixLength = sizeof SystemDirPrefix - 1,
  WinDirPrefixLength = sizeof WinDirPrefix - 1,
  LongNameLimit = 255,
  ShortBaseLimit = 8,
  ShortExtensionLimit = 3,
  DisplayTitleSize = 256,
};
static_assert(SystemDirPrefixLength == 11 && WinDirPrefixLength == 8, "prefix lengths");

const char Ellipsis[] = ".../";
enum : uint32_t { EllipsisLength = sizeof Ellipsis - 1 };

// Bytes a long-name volume refuses in a component.
const char LongNameForbidden[] = "\"*/:<>?\\|";
// Bytes a short-name volume refuses, besides every byte from 0x01 to 0x20.
const char ShortNameForbidden[] = "\"*+,./:;<=>?[\\]|\xFF";
enum : uint8_t { LastControlOrSpace = 0x20 };

int InSet(uint8_t b, const char* set) {
  for (const uint8_t* p = (const uint8_t*)set; *p != 0; ++p)
    if (*p == b) return 1;
  return 0;
}

int IsSeparator(char c) { return c == '/' || c == '\\'; }

int HasDrivePrefix(const char* path) { return path[0] != '\0' && path[1] == ':'; }

// Moves a terminated text to an earlier (or the same) position.
void MoveTextDown(char* dest, const char* src) {
  while ((*dest++ = *src++) != '\0') {
  }
}

}  // namespace

void MapOutputPath(char* output, const char* destDir, const char* storedName) {
  CopyText(output, destDir, OutputPathSize);
  if (TextStartsNoCase(storedName, SystemDirPrefix)) {
    PlatformGetSystemDirectory(output, OutputPathSize);
    AppendText(output, storedName + SystemDirPrefixLength, OutputPathSize);
    return;
  }
  if (TextStartsNoCase(storedName, WinDirPrefix)) {
    PlatformGetWindowsDirectory(output, OutputPathSize);
    AppendText(output, storedName + WinDirPrefixLength, OutputPathSize);
    return;
  }
  if (IsSeparator(storedName[0])) {
    // A rooted name keeps only the destination's drive.
    if (HasDrivePrefix(output)) {
      output[2] = '\0';
      AppendText(output, storedName, OutputPathSize);
    } else {
      CopyText(output, storedName, OutputPathSize);
    }
    return;
  }
  int bareDrive = HasDrivePrefix(output) && output[2] == '\0';
  if (output[0] != '\0' && !bareDrive) AppendPathSeparator(output, OutputPathSize);
  AppendText(output, storedName, OutputPathSize);
}

// The last character is found from the start, so a trail byte 0x5C is never
// taken for a separator.
void AppendPathSeparator(char* path, uint32_t size) {
  uint32_t length = TextLength(path);
  const char* last = PlatformCharPrev(path, path + length);
  if (length == 0 || !IsSeparator(*last)) AppendText(path, "/", size);
}

void SanitizePath(char* path, int longNames) {
  if (*path == '/') ++path;
  char* write = path;
  char* read = path;
  for (;;) {
    char* slash = read;
    while (*slash != '\0' && *slash != '/') ++slash;
    int more = *slash == '/';
    *slash = '\0';
    SanitizeComponent(read, longNames);
    // Components only shrink, so the write position never passes the read one.
    MoveTextDown(write, read);
    write += TextLength(write);
    if (!more) return;
    *write++ = '/';
    read = slash + 1;
  }
}

void SanitizeComponent(char* component, int longNames) {
  if (longNames) {
    SanitizeNamePart(component, LongNameLimit, 1);
    return;
  }
  // '.' never occurs as a CP932 trail byte, so a plain byte search is safe.
  char* dot = nullptr;
  for (char* p = component; *p != '\0'; ++p)
    if (*p == '.') dot = p;
  if (dot == nullptr) {
    SanitizeNamePart(component, ShortBaseLimit, 0);
    return;
  }
  *dot = '\0';
  char* baseEnd = SanitizeNamePart(component, ShortBaseLimit, 0);
  *baseEnd = '.';
  char* extension = dot + 1;
  SanitizeNamePart(extension, ShortExtensionLimit, 0);
  MoveTextDown(baseEnd + 1, extension);
}

char* SanitizeNamePart(char* text, uint32_t limit, int longNames) {
  uint32_t i = 0;
  int pendingTrail = 0;
  for (; i < limit && text[i] != '\0'; ++i) {
    uint8_t b = (uint8_t)text[i];
    if (pendingTrail) {
      pendingTrail = 0;
    } else if (IsLeadByte(b)) {
      pendingTrail = 1;
    } else if (longNames) {
      if (InSet(b, LongNameForbidden)) text[i] = '_';
    } else if (b <= LastControlOrSpace || InSet(b, ShortNameForbidden)) {
      text[i] = '_';
    }
  }
  // A lead byte whose trail byte fell beyond the limit (or is missing) goes.
  if (pendingTrail) --i;
  text[i] = '\0';
  return text + i;
}

// output receives at most limit - 1 bytes of the path when it is short, else
// a prefix, ".../" and the title (up to 255 bytes), so it needs limit plus
// 260 bytes; the driver passes text. A directory path ending in '/' shows its
// last directory followed by '/'.
void ShortenForDisplay(char* output, const char* path, uint32_t limit) {
  uint32_t pathLength = TextLength(path);
  uint32_t outputSize = limit + EllipsisLength + DisplayTitleSize;
  if (pathLength < limit) {
    CopyText(output, path, outputSize);
    return;
  }
  char title[DisplayTitleSize];
  if (pathLength > 0 && path[pathLength - 1] == '/') {
    char directory[OutputPathSize];
    CopyText(directory, path, OutputPathSize);
    uint32_t end = TextLength(directory);
    while (end > 0 && directory[end - 1] == '/') directory[--end] = '\0';
    PlatformGetFileTitle(directory, title, DisplayTitleSize - 1);
    AppendText(title, "/", DisplayTitleSize);
  } else {
    PlatformGetFileTitle(path, title, DisplayTitleSize);
  }
  int32_t n = (int32_t)limit - (int32_t)TextLength(title) - (int32_t)EllipsisLength;
  output[0] = '\0';
  if (n > 0) {
    CopyText(output, path, (uint32_t)n);
    // Cut by characters: a lead byte left without its trail byte is dropped.
    uint32_t kept = TextLength(output);
    const char* last = PlatformCharPrev(output, output + kept);
    if (kept > 0 && IsLeadByte((uint8_t)*last) && last + 1 == output + kept)
      output[kept - 1] = '\0';
  }
  AppendText(output, Ellipsis, outputSize);
  AppendText(output, title, outputSize);
}

// Results are ignored on purpose: existing directories, a bare drive or an
// empty prefix simply fail, and a real failure shows when the file is created.
void MakeParentDirectories(const char* path) {
  char prefix[OutputPathSize];
  for (uint32_t i = 0; i + 1 < OutputPathSize && path[i] != '\0'; ++i) {
    if (path[i] == '/') {
      prefix[i] = '\0';
      PlatformCreateDirectory(prefix);
    }
    prefix[i] = path[i];
  }
}
