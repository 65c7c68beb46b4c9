// The one record that holds every buffer and all state of a run, the
// configuration block as it lies in the program file, and the process-wide
// values. Everything is fixed-size: nothing is allocated while decoding.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "base/format.h"
#include "core/image.h"
#include "platform/platform.h"

// The bit reader's buffer is one machine register wide: 64 bits where the
// machine has them, 32 on a 32-bit one, where 64-bit shifts take several
// instructions and two of its few registers. LZHSFX_BIT_WORD_BITS chooses a
// width explicitly (the tests build the narrow reader on a 64-bit host).
#if defined(LZHSFX_BIT_WORD_BITS) ? LZHSFX_BIT_WORD_BITS == 32 : UINTPTR_MAX == UINT32_MAX
typedef uint32_t BitWord;
#else
typedef uint64_t BitWord;
#endif

// Sizes of the work area's own text fields, terminator included.
enum : uint32_t {
  MemberNameSize = 260,
  ArchivePathSize = 260,
  OutputPathSize = 516,
  DestDirSize = 256,
  TextSize = 1024,
  UnixNameSize = 64,               // user and group names of the Unix records
};

// Decoder dimensions.
enum : uint32_t {
  // The largest window (-lh7-) twice, and room for a match behind them
  // (extract/decode); also the copy buffer of stored members.
  RingBufferSize = 2 * MaxWindowSize + 512,
  NodeCount = 1019,                // tree nodes of the literal code, 510..1018
  LiteralTableBits = 12,
  AuxTableBits = 8,
  LiteralTableSize = 1u << LiteralTableBits,
  AuxTableSize = 1u << AuxTableBits,
  AuxLengthCount = 128,
  InputBufferSize = 16384,
};
static_assert(NodeCount == 2 * LiteralSymbolCount - 1, "one node per merge");

// A canonical code of PMarc's -pm2- as it is read: how many codes each
// length has and the symbols in code order; or a single symbol, no bits.
struct PmCode {
  uint8_t count[PmLongestCode + 1];
  uint8_t symbol[Pm2SymbolLimit];
  uint8_t single;
  uint8_t singleSymbol;
};

struct SfxWorkArea {
  // The fields used most, and text, the array used most, stand first:
  // the stub's code reaches them with one-byte offsets.
  // Run state (startup, ui, extract/driver, core/runlog)
  WindowHandle dialog;                  // owner of message boxes, or none
  int32_t cancelRequested;
  int32_t busy;
  int32_t failed;                       // the current run failed
  uint8_t messageLoaded;                // message member text is in text
  uint8_t scanning;                     // the scan for the message member runs
  uint8_t stoppedByUser;                // Cancel at an overwrite question
  FileHandle logFile;                   // -l: the log (null or InvalidFile: none)
  // Bit reader (extract/bitreader)
  uint16_t bitWindow;                   // the next 16 input bits, MSB first
  uint8_t pendingByte;                  // kept 0: bitBuffer holds the bits
  uint8_t pendingBits;                  //   drawn ahead of the window
  BitWord bitBuffer;                    // next bitCount input bits, MSB first
  uint32_t bitCount;                    // at least 16 between decoder steps
  uint32_t zeroBitsDrawn;               // bits supplied past the member's data
  // Member header (extract/header)
  uint8_t* header;                      // current header buffer
  uint16_t headerCrc;                   // CRC from the type-0 record
  uint8_t* headerCrcField;              // where that CRC lies in the buffer
  uint8_t* dirName;                     // directory-name record data
  uint8_t* fileName;                    // file-name record data
  uint16_t attributes;                  // attributes to apply
  uint16_t dirNameLength;
  uint16_t fileNameLength;
  uint8_t headerFault;                  // HeaderFault of the last InvalidHeader
  uint8_t nameCut;                      // memberName holds only the name's start
  // Files (extract/driver)
  FileHandle archiveFile;               // own file, open during a run
  FileHandle outputFile;                // InvalidFile: output goes to text
  uint16_t crc;                         // running CRC of the member's output
  // Member decoding (extract/decode)
  uint16_t blockRemaining;              // symbols left in the Huffman block
  uint16_t windowBits;
  uint32_t windowSize;
  MemberSize originalSize;
  MemberSize compressedRemaining;       // compressed bytes not yet drawn
  MemberSize decodedCount;
  uint32_t ringPos;                     // where the next byte goes in ringBuffer
  uint32_t flushPos;                    // where the chunk being filled starts
  uint32_t inputPos;                    // >= InputBufferSize means empty
  uint16_t offsetSymbolCount;           // 14 or 17
  uint16_t offsetCountBits;             // 4 or 5
  char text[TextSize];                  // shared scratch text
  char memberName[MemberNameSize];      // stored name, '/' separated (extract/header)
  // Member walk (extract/walk)
  FileOffset archiveSize;               // bytes in the archive's file
  FileOffset headerOffset;              // where the current header starts
  uint64_t nextHeaderOffset;            // where the current member's data ends
  // Decoding (extract/decode, bitreader, huffman, crc16)
  uint8_t ringBuffer[RingBufferSize];   // window and output / stored copy buffer
  uint16_t crcTable[256];               // CRC-16/ARC table
  uint16_t crcSlices[7][256];           // entry i followed by 1..7 zero bytes
  // Huffman tables (extract/huffman)
  uint16_t zeroChild[NodeCount];
  uint16_t oneChild[NodeCount];
  uint16_t literalTable[LiteralTableSize];
  uint16_t auxTable[AuxTableSize];
  uint16_t literalFast[LiteralTableSize]; // literalTable entries with their
  uint16_t offsetFast[AuxTableSize];      //   code lengths packed in (decode)
  uint8_t literalLengths[LiteralSymbolCount];
  uint8_t auxLengths[AuxLengthCount];
  // Paths (startup, extract/outpath)
  char archivePath[ArchivePathSize];    // own program file
  char outputPath[OutputPathSize];      // current output / chosen directory
  char destDir[DestDirSize];            // confirmed destination
  // Input buffer (extract/bitreader)
  uint8_t inputBuffer[InputBufferSize];
  // Dialog and configuration (startup, ui)
  StubConfig config;
  // Run record (core/runlog, extract/driver, startup)
  char workFolder[DestDirSize];         // temporary-folder mode: removed at the end
  uint8_t continueAfterFault;           // host: go on after a failed member
  uint8_t checkDirectories;             // host: a directory entry not made fails
  // Host only (extract/*_host.cpp): the other header levels, the Unix
  // records and the methods the stub does not decode. The stub never sets
  // or reads these; they stand last so the fields above keep their offsets.
  uint8_t stubHeadersOnly;              // read headers as the stub does (create's check)
  FileOffset resumeOffset;              // where a run starts instead of the archive's start (0: there)
  uint32_t headerLength;                // bytes of the header on disk, records included
  uint32_t compressedHigh;              // the sizes' upper halves, from the 64-bit size record
  uint32_t originalHigh;
  uint8_t headerLevel;                  // 0..3, as stored
  uint8_t timeIsLocal;                  // the time is a level-0/1 local DOS time:
  uint32_t dosDateTime;                 //   this one, as stored
  uint8_t hasUnixMode;
  uint8_t hasUnixIds;
  uint16_t unixMode;
  uint16_t unixUid;
  uint16_t unixGid;
  char unixUser[UnixNameSize];          // "" when the header names none
  char unixGroup[UnixNameSize];
  char storedMethod[MethodIdLength];    // the method id as stored, before the host's marks
  uint8_t isLink;                       // a symbolic link: memberName is the link
  char linkTarget[MemberNameSize];      //   and this where it points, as stored
  uint16_t lh1Frequency[Lh1NodeCount + 1];  // -lh1-: counts, a sentinel above the root
  uint16_t lh1Parent[Lh1NodeCount + Lh1SymbolCount];  // of nodes, then of leaves
  uint16_t lh1Child[Lh1NodeCount];      // a node's first child, or a leaf's symbol + node count
  uint8_t positionLengths[Lh3PositionCount];  // -lh1-, -lh3-: the position code
  uint16_t positionTable[AuxTableSize];
  uint16_t dynFrequency[DynTreeSize];   // -lh2-: both adaptive trees (extract/lh2_host)
  int16_t dynChild[DynTreeSize];        //   a node's first child, or ~symbol for a leaf
  uint16_t dynParent[DynTreeSize];
  uint16_t dynBlock[DynTreeSize];       //   the run of equal counts a node is in
  uint16_t dynLeader[DynTreeSize];      //   a run's first node
  uint16_t dynFreeRuns[DynTreeSize];    //   run numbers not in use
  uint16_t dynLeaf[DynTreeSize / 2];    //   where each symbol's leaf stands
  uint16_t dynRunsUsed;
  uint16_t dynLastPosition;             //   the position tree's last node
  uint16_t dynPositionTotal;            //   positions counted since the last rebuild
  uint32_t dynNextGrowth;               //   output count past which a position value is added
  uint8_t lzFlags;                      // -lz5-: the flag byte being used up
  uint8_t lzFlagCount;                  //   and how many of its bits are left
  uint8_t pmList[PmListSize];           // -pm1-, -pm2-: byte values, latest first (extract/pmarc_host)
  uint8_t pm1ByteCode[1u << Pm1LongestByteCode];  // -pm1-: literal class and code length by the next bits
  PmCode pm2Code;                       // -pm2-: literals and copies
  PmCode pm2Offset;                     //   the offset classes
  uint8_t pm2NeedOffset;                //   whether the code tree's copies read offsets
};

// Process-wide values, all starting at zero.
extern SfxWorkArea* Work;
extern void* SfxIcon;
extern void* InstanceHandle;
extern int AutoStartMode;               // 0 wait, 1 auto, 11/12 transient
extern int DestinationFromCommandLine;
extern int IsWin32s;
extern int OverwriteSilently;
extern int SilentMode;                  // -s: no window; questions answered Yes
// The command line's text after "--", handed to the command after its own
// parameters, or null; it stays until the process ends.
extern const char* CommandTail;

