// The stub's file image as every tool sees it: the 512-byte DOS header, the
// configuration block at 512, the real-mode notice program, the PE headers at
// 0x500, and the archive appended behind the image at an aligned offset.
// stubimage lays the image out, the stub reads its block, create fills it and
// info shows it; all of them take the numbers from here.
#pragma once
#include <stddef.h>
#include <stdint.h>

// Sizes of the block's text fields, terminator included.
enum : uint32_t { TitleSize = 41, PromptSize = 41, DefaultDirSize = 256, CommandSize = 259 };

enum : uint32_t {
  DosHeaderSize = 512,
  StubConfigOffset = DosHeaderSize,   // the block follows the DOS header
  RealModeOffset = 0x460,             // the notice program
  StubPeOffset = 0x500,               // e_lfanew of every stub
  NewHeaderPointerOffset = 0x3C,      // where e_lfanew lies in the DOS header
  ArchiveAlignment = 512,             // the archive starts on such a boundary
};

#pragma pack(push, 1)
struct StubConfig {
  uint32_t archiveOffset;          // file offset of the first member header
  char title[TitleSize];           // dialog title and message-box caption
  char prompt[PromptSize];         // replaces the destination label when set
  char defaultDir[DefaultDirSize]; // proposed destination, or %WORK% etc.
  char command[CommandSize];       // started in the destination afterwards
  uint8_t flags;                   // Flag* bits below
  uint8_t restoreAttributes;       // non-zero: apply stored attributes
};
#pragma pack(pop)

constexpr uint32_t StubConfigSize = 603;
static_assert(sizeof(StubConfig) == StubConfigSize, "config block layout");
static_assert(offsetof(StubConfig, title) == 4, "title offset");
static_assert(offsetof(StubConfig, prompt) == 45, "prompt offset");
static_assert(offsetof(StubConfig, defaultDir) == 86, "defaultDir offset");
static_assert(offsetof(StubConfig, command) == 342, "command offset");
static_assert(offsetof(StubConfig, flags) == 601, "flags offset");
static_assert(offsetof(StubConfig, restoreAttributes) == 602, "attributes offset");
// The block sits inside the DOS load module, ahead of the real-mode program,
// which ends before the PE headers.
static_assert(StubConfigOffset + StubConfigSize <= RealModeOffset, "config overlaps DOS code");
static_assert(RealModeOffset < StubPeOffset, "real-mode code before the PE headers");

// Bit 2: wait for the command and every process it starts, and end with
// its exit code. Bit 3: extract into a new private temporary folder, run the
// command there and remove the folder afterwards (waiting as bit 2 does).
enum : uint8_t {
  FlagAutoStart = 0x01,
  FlagOverwriteSilently = 0x02,
  FlagWaitForCommand = 0x04,
  FlagTemporaryFolder = 0x08,
};

// What the real-mode program prints when the file is started under DOS:
// "This program is a self-extracting LZH archive for 32-bit Windows." /
// "It cannot run in MS-DOS mode." The literal takes the execution charset of
// the file that uses it: stubimage, which stores it, and cli/stubfile.cpp,
// which looks for it, are both compiled for CP932.
#define DosNoticeText                                            \
  "このプログラムは Windows 32ﾋﾞｯﾄ版の LZH 自己解凍書庫です.\r\n" \
  "MS-DOS モードでは実行できません．\r\n$"
