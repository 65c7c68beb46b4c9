// The one record that holds every buffer and all state of a run, the
// configuration block as it lies in the program file, and the process-wide
// values. Everything is fixed-size: nothing is allocated while decoding.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "platform/platform.h"

// Sizes of the text fields, terminator included.
enum : uint32_t {
  TitleSize = 41,
  PromptSize = 41,
  DefaultDirSize = 256,
  CommandSize = 259,
  MemberNameSize = 260,
  ArchivePathSize = 260,
  OutputPathSize = 516,
  DestDirSize = 256,
  TextSize = 1024,
};

// Where the archive-building tool finds the block inside the program file.
constexpr uint32_t StubConfigOffset = 512;

#pragma pack(push, 1)
struct StubConfig {
  uint32_t archiveOffset;          // file offset of the first member header
  char title[TitleSize];           // dialog title and message-box caption
  char prompt[PromptSize];         // replaces the destination label when set
  char defaultDir[DefaultDirSize]; // proposed destination, or %WORK% etc.
  char command[CommandSize];       // started in the destination afterwards
  uint8_t flags;                   // bit 0 auto start, bit 1 overwrite silently
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
// The block sits inside the DOS load module, ahead of the real-mode program.
static_assert(StubConfigOffset + StubConfigSize <= 0x460, "config overlaps DOS code");

enum : uint8_t { FlagAutoStart = 0x01, FlagOverwriteSilently = 0x02 };

// Decoder dimensions.
enum : uint32_t {
  RingBufferSize = 65536,          // largest window (-lh7-), also the copy buffer
  LiteralSymbolCount = 510,        // 256 literals + 254 match lengths
  NodeCount = 1019,                // tree nodes of the literal code, 510..1018
  LiteralTableBits = 12,
  AuxTableBits = 8,
  LiteralTableSize = 1u << LiteralTableBits,
  AuxTableSize = 1u << AuxTableBits,
  AuxLengthCount = 128,
  InputBufferSize = 16384,
};
static_assert(NodeCount == 2 * LiteralSymbolCount - 1, "one node per merge");

struct SfxWorkArea {
  // Decoding (extract/decode, bitreader, huffman, crc16)
  uint8_t ringBuffer[RingBufferSize];   // sliding window / stored copy buffer
  uint16_t crcTable[256];               // CRC-16/ARC table
  uint16_t crcSlices[7][256];           // entry i followed by 1..7 zero bytes
  // Member header (extract/header)
  char memberName[MemberNameSize];      // stored name, '/' separated
  uint8_t* header;                      // current header buffer
  uint16_t headerCrc;                   // CRC from the type-0 record
  uint8_t* headerCrcField;              // where that CRC lies in the buffer
  uint8_t* dirName;                     // directory-name record data
  uint8_t* fileName;                    // file-name record data
  uint16_t attributes;                  // attributes to apply
  uint16_t dirNameLength;
  uint16_t fileNameLength;
  // Files (extract/driver)
  FileHandle archiveFile;               // own file, open during a run
  FileHandle outputFile;                // InvalidFile: output goes to text
  uint16_t crc;                         // running CRC of the member's output
  // Member decoding (extract/decode)
  uint16_t blockRemaining;              // symbols left in the Huffman block
  uint16_t windowBits;
  uint32_t windowSize;
  uint32_t originalSize;
  uint32_t compressedRemaining;         // compressed bytes not yet drawn
  uint32_t decodedCount;
  uint32_t ringPos;
  // Huffman tables (extract/huffman)
  uint16_t zeroChild[NodeCount];
  uint16_t oneChild[NodeCount];
  uint16_t literalTable[LiteralTableSize];
  uint16_t auxTable[AuxTableSize];
  uint16_t literalFast[LiteralTableSize]; // literalTable entries with their
  uint16_t offsetFast[AuxTableSize];      //   code lengths packed in (decode)
  uint8_t literalLengths[LiteralSymbolCount];
  uint8_t auxLengths[AuxLengthCount];
  uint16_t offsetSymbolCount;           // 14 or 17
  uint16_t offsetCountBits;             // 4 or 5
  // Bit reader (extract/bitreader)
  uint16_t bitWindow;                   // the next 16 input bits, MSB first
  uint8_t pendingByte;                  // kept 0: bitBuffer holds the bits
  uint8_t pendingBits;                  //   drawn ahead of the window
  uint64_t bitBuffer;                   // next bitCount input bits, MSB first
  uint32_t bitCount;                    // at least 16 between decoder steps
  // Paths (startup, extract/outpath)
  char archivePath[ArchivePathSize];    // own program file
  char outputPath[OutputPathSize];      // current output / chosen directory
  char destDir[DestDirSize];            // confirmed destination
  // Input buffer (extract/bitreader)
  uint8_t inputBuffer[InputBufferSize];
  uint32_t inputPos;                    // >= InputBufferSize means empty
  // Dialog and configuration (startup, ui)
  WindowHandle dialog;                  // owner of message boxes, or none
  StubConfig config;
  int32_t cancelRequested;
  int32_t busy;
  char text[TextSize];                  // shared scratch text
  uint8_t messageLoaded;                // message member text is in text
  int32_t failed;                       // the current run failed
};

// Process-wide values, all starting at zero.
extern SfxWorkArea* Work;
extern void* SfxIcon;
extern void* InstanceHandle;
extern int AutoStartMode;               // 0 wait, 1 auto, 11/12 transient
extern int DestinationFromCommandLine;
extern int IsWin32s;
extern int OverwriteSilently;

