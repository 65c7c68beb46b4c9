// The configuration block inside the program's own file: read it, make every
// text field terminated whatever the file holds, and resolve the title and
// the proposed destination. Portable: no window and no Win32 call here.
#include "platform/platform.h"
#include "core/messages.h"
#include "startup/startup.h"
#include "base/text.h"
#include "core/workarea.h"

// The block is written by a separate tool and may be damaged; the rest of
// the program reads its fields with string operations, so each field is cut
// to its own size here.
static void TerminateFields(StubConfig* config) {
  config->title[TitleSize - 1] = 0;
  config->prompt[PromptSize - 1] = 0;
  config->defaultDir[DefaultDirSize - 1] = 0;
  config->command[CommandSize - 1] = 0;
}

void LoadStubConfig() {
  StubConfig* config = &Work->config;
  FileHandle file = PlatformOpenRead(Work->archivePath);
  if (file != InvalidFile) {
    if (PlatformSeekSet(file, StubConfigOffset)) {
      uint32_t done = 0;
      // A short read leaves the rest of the block as it was: all zeros.
      PlatformRead(file, config, StubConfigSize, &done);
    }
    PlatformClose(file);  // opened for reading only; its close result changes nothing
  }
  TerminateFields(config);
  if (config->title[0] == 0) CopyText(config->title, DefaultTitle, TitleSize);

  char* dir = config->defaultDir;
  if (TextEqualNoCase(dir, WorkDirName)) {
    PlatformGetTempDirectory(dir, DefaultDirSize);
  } else if (TextEqualNoCase(dir, WinDirPrefix)) {
    PlatformGetWindowsDirectory(dir, DefaultDirSize);
  } else if (TextEqualNoCase(dir, SystemDirPrefix)) {
    PlatformGetSystemDirectory(dir, DefaultDirSize);
  }
  // After the special names, so a destination given on the command line is
  // taken literally.
  if (DestinationFromCommandLine) CopyText(dir, Work->text, DefaultDirSize);
  if (dir[0] == 0) PlatformGetCurrentDirectory(dir, DefaultDirSize);
}
