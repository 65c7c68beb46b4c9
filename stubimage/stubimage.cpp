// Post-link layout of the stub: rewrites the linker's PE so that the file
// holds a 512-byte DOS header, the zeroed configuration block at 512, the
// real-mode notice program at 0x460 and the PE headers at 0x500, with every
// section's raw data moved by the same whole number of file-alignment units.
// The loaded image is unchanged; refuses any input it cannot move safely.
#include <cstdint>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/image.h"
#include "core/pe.h"

namespace {

using Bytes = std::vector<uint8_t>;

// File layout (the offsets themselves come from core/image.h).
constexpr uint32_t DosHeaderParagraphs = DosHeaderSize / 16;
constexpr uint32_t DosProgramOffset = RealModeOffset;
constexpr uint32_t PeHeaderOffset = StubPeOffset;
constexpr uint32_t DosPageSize = 512;

// DOS header fields.
constexpr uint32_t ELastPageBytes = 2, EPageCount = 4, ERelocCount = 6, EHeaderParagraphs = 8,
                   EMinAlloc = 10, EMaxAlloc = 12, EInitialSs = 14, EInitialSp = 16,
                   EInitialIp = 20, EInitialCs = 22, ERelocTable = 24,
                   ENewHeader = NewHeaderPointerOffset;
// The real-mode program runs at load-module offset 0x260: CS = 0x26, IP = 0.
constexpr uint16_t DosCodeSegment = (DosProgramOffset - DosHeaderSize) / 16;
static_assert(DosCodeSegment == 0x26, "entry segment");
// A 256-byte stack at load-module offset 0x300..0x400, past the 719-byte
// load module; the extra paragraphs make DOS reserve that memory.
constexpr uint16_t DosStackSegment = 0x30, DosStackPointer = 0x100, DosExtraParagraphs = 0x20;
constexpr uint16_t DosMaxParagraphs = 0xFFFF;
constexpr uint16_t DosRelocTableOffset = 0x40;

// The notice, CP932 (this file is compiled with -fexec-charset=CP932).
constexpr char DosNotice[] = DosNoticeText;
constexpr uint32_t DosNoticeSize = sizeof(DosNotice) - 1;
static_assert(DosNoticeSize == 95, "the notice is 95 CP932 bytes");
constexpr uint8_t ShortJump = 0xEB;
constexpr uint32_t ShortJumpSize = 2;
// push cs / pop ds; mov dx, notice; mov ah, 9; int 21h; mov ax, 4C01h; int 21h
constexpr uint8_t DosCode[] = {0x0E, 0x1F, 0xBA, ShortJumpSize, 0x00, 0xB4, 0x09, 0xCD,
                               0x21, 0xB8, 0x01, 0x4C, 0xCD, 0x21};
constexpr uint32_t DosProgramSize = ShortJumpSize + DosNoticeSize + sizeof(DosCode);
constexpr uint32_t DosImageSize = DosProgramOffset + DosProgramSize;
static_assert(DosImageSize == 1231, "DOS image length");
static_assert(DosImageSize <= PeHeaderOffset, "DOS program ends before the PE headers");

bool Fail(const std::string& why) {
  std::fprintf(stderr, "stubimage: %s\n", why.c_str());
  return false;
}

void WriteDosPart(Bytes& out) {
  std::memcpy(&out[0], DosMagic, sizeof DosMagic);
  Put16(out, ELastPageBytes, DosImageSize % DosPageSize);
  Put16(out, EPageCount, (DosImageSize + DosPageSize - 1) / DosPageSize);
  Put16(out, ERelocCount, 0);
  Put16(out, EHeaderParagraphs, DosHeaderParagraphs);
  Put16(out, EMinAlloc, DosExtraParagraphs);
  Put16(out, EMaxAlloc, DosMaxParagraphs);
  Put16(out, EInitialSs, DosStackSegment);
  Put16(out, EInitialSp, DosStackPointer);
  Put16(out, EInitialIp, 0);
  Put16(out, EInitialCs, DosCodeSegment);
  Put16(out, ERelocTable, DosRelocTableOffset);
  Put32(out, ENewHeader, PeHeaderOffset);
  size_t at = DosProgramOffset;
  out[at++] = ShortJump;
  out[at++] = (uint8_t)DosNoticeSize;
  std::memcpy(&out[at], DosNotice, DosNoticeSize);
  at += DosNoticeSize;
  std::memcpy(&out[at], DosCode, sizeof(DosCode));
}

bool Relayout(const Bytes& in, Bytes& out, uint32_t maxSize) {
  if (in.size() < 64 || std::memcmp(in.data(), DosMagic, sizeof DosMagic) != 0)
    return Fail("not an MZ file");
  const uint32_t pe = Get32(in, ENewHeader);
  if ((uint64_t)pe + CoffSize > in.size() || Get32(in, pe) != PeSignature)
    return Fail("no PE signature");
  const uint32_t sections = Get16(in, pe + CoffSectionCount);
  const uint32_t optSize = Get16(in, pe + CoffOptionalSize);
  const uint32_t opt = pe + CoffSize;
  const uint64_t headersEnd = (uint64_t)opt + optSize + (uint64_t)sections * SectionHeaderSize;
  if (headersEnd > in.size()) return Fail("headers run past the file");
  if (Get32(in, pe + CoffSymbolTable) != 0) return Fail("symbol table present; link with -s");

  const uint16_t magic = Get16(in, opt + OptMagic);
  if (magic != Pe32Magic && magic != Pe32PlusMagic) return Fail("unknown optional header");
  const uint32_t dirCount = Get32(in, opt + (magic == Pe32Magic ? OptDirCount32 : OptDirCount64));
  const uint32_t dirs = opt + (magic == Pe32Magic ? OptDirs32 : OptDirs64);
  // Both hold file offsets that would need moving too; the stub has neither.
  for (uint32_t d : {CertificateDir, DebugDir}) {
    const uint32_t entry = dirs + DirectoryEntrySize * d;
    if (d < dirCount && entry + DirectoryEntrySize <= opt + optSize && Get32(in, entry + 4) != 0)
      return Fail("certificate or debug directory present");
  }

  const uint32_t alignment = Get32(in, opt + OptFileAlignment);
  const uint32_t oldHeaders = Get32(in, opt + OptSizeOfHeaders);
  if (alignment == 0 || (alignment & (alignment - 1)) != 0) return Fail("bad file alignment");
  if (oldHeaders > in.size() || oldHeaders < headersEnd) return Fail("bad SizeOfHeaders");
  for (size_t i = headersEnd; i < oldHeaders; i++) {
    if (in[i] != 0) return Fail("data hidden between the headers and the sections");
  }
  const uint64_t peLength = headersEnd - pe;
  const uint64_t newHeadersEnd = PeHeaderOffset + peLength;
  const uint32_t newHeaders = (uint32_t)AlignUp(newHeadersEnd, alignment);
  if (newHeaders < oldHeaders) return Fail("headers would shrink");
  const uint32_t growth = newHeaders - oldHeaders;

  uint32_t lowestSection = UINT32_MAX;
  for (uint32_t s = 0; s < sections; s++) {
    const size_t sec = opt + optSize + s * SectionHeaderSize;
    lowestSection = std::min(lowestSection, Get32(in, sec + SecVirtualAddress));
    const uint32_t raw = Get32(in, sec + SecRawPointer);
    if (raw != 0 && raw < oldHeaders) return Fail("section data inside the headers");
    if ((uint64_t)raw + Get32(in, sec + SecRawSize) > in.size()) return Fail("section past the end");
  }
  // The headers are mapped at the image base; they must not reach into the
  // first section's pages.
  if (newHeaders > lowestSection) return Fail("headers would overlap the first section");

  out.assign(in.size() + growth, 0);
  WriteDosPart(out);
  std::memcpy(&out[PeHeaderOffset], &in[pe], peLength);
  std::memcpy(&out[newHeaders], &in[oldHeaders], in.size() - oldHeaders);

  const uint32_t newOpt = PeHeaderOffset + CoffSize;
  Put32(out, newOpt + OptSizeOfHeaders, newHeaders);
  for (uint32_t s = 0; s < sections; s++) {
    const size_t sec = newOpt + optSize + s * SectionHeaderSize;
    const uint32_t raw = Get32(out, sec + SecRawPointer);
    if (raw != 0) Put32(out, sec + SecRawPointer, raw + growth);
  }
  Put32(out, newOpt + OptCheckSum, PeChecksum(out.data(), out.size(), newOpt + OptCheckSum));

  if (maxSize != 0 && out.size() > maxSize)
    return Fail("the stub has " + std::to_string(out.size()) + " bytes, more than " +
                std::to_string(maxSize));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && !(argc == 5 && std::string(argv[3]) == "--max-size")) {
    std::fprintf(stderr, "usage: stubimage LINKED.exe OUT.exe [--max-size BYTES]\n");
    return 2;
  }
  const uint32_t maxSize = argc == 5 ? (uint32_t)std::stoul(argv[4]) : 0;
  std::ifstream input(argv[1], std::ios::binary);
  if (!input) return Fail(std::string("cannot read ") + argv[1]), 1;
  Bytes in((std::istreambuf_iterator<char>(input)), std::istreambuf_iterator<char>());
  Bytes out;
  if (!Relayout(in, out, maxSize)) return 1;
  std::ofstream output(argv[2], std::ios::binary | std::ios::trunc);
  output.write((const char*)out.data(), (std::streamsize)out.size());
  output.close();
  if (!output) return Fail(std::string("cannot write ") + argv[2]), 1;
  // A program file, runnable from the shell under Wine as well.
  std::error_code ignored;
  std::filesystem::permissions(argv[2], std::filesystem::perms::owner_exec |
                                   std::filesystem::perms::group_exec |
                                   std::filesystem::perms::others_exec,
                               std::filesystem::perm_options::add, ignored);
  std::printf("stubimage: %s, %zu bytes (headers grew by %zu)\n", argv[2], out.size(),
              out.size() - in.size());
  return 0;
}
