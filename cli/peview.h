// A PE image's headers, read once and checked, for the code that reads and
// rewrites the stub's resources: where the optional header, the data
// directories and the section table lie, and the alignments. Every offset
// it gives lies inside the image. The field offsets are core/pe.h's.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

struct PeView {
  uint32_t pe = 0, opt = 0, optSize = 0, sections = 0, table = 0;
  uint32_t sectionAlignment = 0, fileAlignment = 0, dirCount = 0, dirs = 0;
};

// False with a reason when the image is no PE32 or PE32+ file with a
// resource directory slot and a whole section table.
bool ReadPe(const Bytes& image, PeView& v, std::string& error);
// The file offset of size bytes at rva, when a section's raw data holds
// them; *available, when asked, is how many bytes of that section follow.
bool RvaToOffset(const Bytes& image, const PeView& v, uint32_t rva, uint32_t size, uint32_t& offset,
                 uint32_t* available = nullptr);
// Recomputes the PE checksum of the image.
bool UpdatePeChecksum(Bytes& image, std::string& error);
