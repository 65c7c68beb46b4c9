// The checks a hostile image must pass before any field behind them is read:
// each header is inside the file before its fields are taken.
#include "cli/peview.h"

#include <cstring>

#include "core/image.h"
#include "core/pe.h"

bool ReadPe(const Bytes& image, PeView& v, std::string& error) {
  if (image.size() < DosHeaderSize || std::memcmp(image.data(), DosMagic, sizeof DosMagic) != 0) {
    error = "no MZ header";
    return false;
  }
  v.pe = Get32(image, NewHeaderPointerOffset);
  if (!Inside(v.pe, CoffSize, image.size()) || Get32(image, v.pe) != PeSignature) {
    error = "no PE header";
    return false;
  }
  v.sections = Get16(image, v.pe + CoffSectionCount);
  v.optSize = Get16(image, v.pe + CoffOptionalSize);
  v.opt = v.pe + CoffSize;
  if (!Inside(v.opt, 2, image.size())) {
    error = "no PE optional header";
    return false;
  }
  const uint16_t magic = Get16(image, v.opt + OptMagic);
  if (magic != Pe32Magic && magic != Pe32PlusMagic) {
    error = "unknown PE optional header";
    return false;
  }
  const uint32_t dirs = magic == Pe32Magic ? OptDirs32 : OptDirs64;
  if (v.optSize < dirs + DirectoryEntrySize * (ResourceDir + 1) || !Inside(v.opt, v.optSize, image.size())) {
    error = "PE optional header too short";
    return false;
  }
  v.dirs = v.opt + dirs;
  v.dirCount = Get32(image, v.opt + (magic == Pe32Magic ? OptDirCount32 : OptDirCount64));
  if (v.dirCount <= ResourceDir) {
    error = "no resource directory slot";
    return false;
  }
  v.table = v.opt + v.optSize;
  if (!Inside(v.table, (uint64_t)v.sections * SectionHeaderSize, image.size())) {
    error = "section table past the end of the file";
    return false;
  }
  v.sectionAlignment = Get32(image, v.opt + OptSectionAlignment);
  v.fileAlignment = Get32(image, v.opt + OptFileAlignment);
  auto power = [](uint32_t a) { return a != 0 && (a & (a - 1)) == 0; };
  if (!power(v.sectionAlignment) || !power(v.fileAlignment)) {
    error = "bad section or file alignment";
    return false;
  }
  return true;
}

bool RvaToOffset(const Bytes& image, const PeView& v, uint32_t rva, uint32_t size, uint32_t& offset,
                 uint32_t* available) {
  for (uint32_t s = 0; s < v.sections; s++) {
    const size_t sec = v.table + s * SectionHeaderSize;
    const uint32_t va = Get32(image, sec + SecVirtualAddress);
    const uint32_t raw = Get32(image, sec + SecRawPointer);
    const uint32_t rawSize = Get32(image, sec + SecRawSize);
    if (rva < va || rva - va >= rawSize) continue;
    if (!Inside(raw, rawSize, image.size())) return false;
    const uint32_t left = rawSize - (rva - va);
    if (size > left) return false;
    offset = raw + (rva - va);
    if (available != nullptr) *available = left;
    return true;
  }
  return false;
}

bool UpdatePeChecksum(Bytes& image, std::string& error) {
  PeView pe;
  if (!ReadPe(image, pe, error)) return false;
  Put32(image, pe.opt + OptCheckSum, PeChecksum(image.data(), image.size(), pe.opt + OptCheckSum));
  return true;
}

