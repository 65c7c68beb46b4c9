// Reading and rewriting the stub's resource tree. The tree is read into a
// flat list of leaves (type, name, language, data), changed there, and laid
// out again from scratch in a new section: directories first, then the data
// entries, the name strings and the data, each piece aligned as the loader
// expects. Rebuilding beats patching in place: a larger icon or a version
// block would not fit the linker's section, and moving the sections behind
// it would move the relocations and the imports too.
#include "cli/restree.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "cli/peview.h"
#include "core/pe.h"

namespace {

constexpr uint32_t ReadOnlyDataSection = 0x40000040;  // initialised data, readable
constexpr char NewSectionName[8] = {'.', 'r', 's', 'r', 'c', 0, 0, 0};
// The old section keeps its bytes but gives up its name, so that a tool
// looking for ".rsrc" by name finds the tree the loader uses.
constexpr char OldSectionName[8] = {'.', 'r', 's', 'r', 'c', 'o', 'l', 'd'};

// Resource tree records.
constexpr uint32_t DirHeaderSize = 16, DirEntrySize = 8, DataEntrySize = 16;
constexpr uint32_t HighBit = 0x80000000u;
constexpr size_t MaxLeaves = 4096;  // the stub has five; a bound against hostile trees
constexpr uint32_t TreeDepth = 3;   // type, name, language

struct TreeReader {
  const Bytes& image;
  const PeView& pe;
  uint32_t base, limit;  // the tree's file offset and how many bytes follow it
  std::vector<ResourceLeaf>& leaves;
  std::string& error;

  bool Fail(const std::string& why) {
    error = "resource tree: " + why;
    return false;
  }

  bool Key(uint32_t field, ResourceKey& key) {
    if ((field & HighBit) == 0) {
      if (field > 0xFFFF) return Fail("an id above 65535");
      key.named = false;
      key.id = (uint16_t)field;
      return true;
    }
    const uint32_t at = field & ~HighBit;
    if (!Inside(at, 2, limit)) return Fail("a name outside the section");
    const uint32_t length = Get16(image, base + at);
    if (!Inside(at + 2, 2ull * length, limit)) return Fail("a name outside the section");
    key.named = true;
    key.name.clear();
    for (uint32_t i = 0; i < length; i++) key.name += (char16_t)Get16(image, base + at + 2 + 2 * i);
    return true;
  }

  bool Directory(uint32_t at, uint32_t depth, ResourceLeaf& path) {
    if (!Inside(at, DirHeaderSize, limit)) return Fail("a directory outside the section");
    const uint32_t count = (uint32_t)Get16(image, base + at + 12) + Get16(image, base + at + 14);
    if (!Inside(at + DirHeaderSize, (uint64_t)count * DirEntrySize, limit))
      return Fail("directory entries outside the section");
    for (uint32_t i = 0; i < count; i++) {
      const uint32_t entry = base + at + DirHeaderSize + i * DirEntrySize;
      const uint32_t nameField = Get32(image, entry), target = Get32(image, entry + 4);
      const bool subdirectory = (target & HighBit) != 0;
      if (subdirectory != (depth + 1 < TreeDepth)) return Fail("a tree that is not three levels deep");
      if (depth == 0 && !Key(nameField, path.type)) return false;
      if (depth == 1 && !Key(nameField, path.name)) return false;
      if (depth == 2) {
        if (nameField > 0xFFFF) return Fail("a language that is no number");
        path.language = (uint16_t)nameField;
      }
      if (subdirectory) {
        // Each level goes one deeper, so a directory pointing back at an
        // ancestor still ends at the third level.
        if (!Directory(target & ~HighBit, depth + 1, path)) return false;
        continue;
      }
      if (!Inside(target, DataEntrySize, limit)) return Fail("a data entry outside the section");
      const uint32_t dataRva = Get32(image, base + target), size = Get32(image, base + target + 4);
      uint32_t offset;
      if (!RvaToOffset(image, pe, dataRva, size, offset)) return Fail("resource data outside the file");
      if (leaves.size() >= MaxLeaves) return Fail("too many resources");
      ResourceLeaf leaf = path;
      leaf.codePage = Get32(image, base + target + 8);
      leaf.data.assign(image.begin() + offset, image.begin() + offset + size);
      leaves.push_back(std::move(leaf));
    }
    return true;
  }
};

void PutKey(Bytes& b, size_t entry, const ResourceKey& key, std::map<std::u16string, uint32_t>& strings) {
  Put32(b, entry, key.named ? (HighBit | strings[key.name]) : key.id);
}

Bytes BuildTree(const std::vector<ResourceLeaf>& leaves, uint32_t sectionRva) {
  using Languages = std::map<uint16_t, const ResourceLeaf*>;
  using Names = std::map<ResourceKey, Languages>;
  std::map<ResourceKey, Names> tree;
  std::map<std::u16string, uint32_t> strings;
  for (const ResourceLeaf& leaf : leaves) {
    tree[leaf.type][leaf.name][leaf.language] = &leaf;
    if (leaf.type.named) strings[leaf.type.name] = 0;
    if (leaf.name.named) strings[leaf.name.name] = 0;
  }
  // Sizes first: the directories, then the data entries, the strings, the data.
  uint32_t size = DirHeaderSize + DirEntrySize * (uint32_t)tree.size();
  for (const auto& [type, names] : tree) {
    size += DirHeaderSize + DirEntrySize * (uint32_t)names.size();
    for (const auto& [name, languages] : names) size += DirHeaderSize + DirEntrySize * (uint32_t)languages.size();
  }
  const uint32_t dataEntries = size;
  size += DataEntrySize * (uint32_t)leaves.size();
  for (auto& [text, at] : strings) {
    at = size;
    size += 2 + 2 * (uint32_t)text.size();
  }
  Bytes b(AlignUp(size, 8), 0);

  // Named entries come before numbered ones; the map's order already does.
  uint32_t nextDir = 0, nextData = dataEntries;
  auto directory = [&](size_t named, size_t numbered) {
    const uint32_t at = nextDir;
    Put16(b, at + 12, (uint16_t)named);
    Put16(b, at + 14, (uint16_t)numbered);
    nextDir += DirHeaderSize + DirEntrySize * (uint32_t)(named + numbered);
    return at;
  };
  auto countNamed = [](const auto& map) {
    size_t n = 0;
    for (const auto& entry : map) n += entry.first.named ? 1 : 0;
    return n;
  };
  const uint32_t root = directory(countNamed(tree), tree.size() - countNamed(tree));
  uint32_t typeIndex = 0;
  for (const auto& [type, names] : tree) {
    const uint32_t typeDir = directory(countNamed(names), names.size() - countNamed(names));
    const size_t rootEntry = root + DirHeaderSize + DirEntrySize * typeIndex++;
    PutKey(b, rootEntry, type, strings);
    Put32(b, rootEntry + 4, HighBit | typeDir);
    uint32_t nameIndex = 0;
    for (const auto& [name, languages] : names) {
      const uint32_t nameDir = directory(0, languages.size());
      const size_t typeEntry = typeDir + DirHeaderSize + DirEntrySize * nameIndex++;
      PutKey(b, typeEntry, name, strings);
      Put32(b, typeEntry + 4, HighBit | nameDir);
      uint32_t languageIndex = 0;
      for (const auto& [language, leaf] : languages) {
        const size_t nameEntry = nameDir + DirHeaderSize + DirEntrySize * languageIndex++;
        Put32(b, nameEntry, language);
        Put32(b, nameEntry + 4, nextData);
        PadTo(b, 8);
        Put32(b, nextData, sectionRva + (uint32_t)b.size());
        Put32(b, nextData + 4, (uint32_t)leaf->data.size());
        Put32(b, nextData + 8, leaf->codePage);
        nextData += DataEntrySize;
        b.insert(b.end(), leaf->data.begin(), leaf->data.end());
      }
    }
  }
  for (const auto& [text, at] : strings) {
    Put16(b, at, (uint16_t)text.size());
    for (size_t i = 0; i < text.size(); i++) Put16(b, at + 2 + 2 * i, text[i]);
  }
  return b;
}

}  // namespace

bool ResourceKey::operator<(const ResourceKey& other) const {
  if (named != other.named) return named;  // names sort before ids
  return named ? name < other.name : id < other.id;
}
bool ResourceKey::operator==(const ResourceKey& other) const {
  return named == other.named && (named ? name == other.name : id == other.id);
}

bool ReadResources(const Bytes& image, std::vector<ResourceLeaf>& leaves, std::string& error) {
  leaves.clear();
  PeView pe;
  if (!ReadPe(image, pe, error)) return false;
  const uint32_t dir = pe.dirs + DirectoryEntrySize * ResourceDir;
  const uint32_t rva = Get32(image, dir);
  if (rva == 0) return true;  // no resources at all
  uint32_t base, available;
  if (!RvaToOffset(image, pe, rva, DirHeaderSize, base, &available)) {
    error = "resource tree outside the file";
    return false;
  }
  ResourceLeaf path;
  TreeReader reader{image, pe, base, available, leaves, error};
  return reader.Directory(0, 0, path);
}

bool AppendResourceSection(Bytes& image, const std::vector<ResourceLeaf>& leaves, std::string& error) {
  PeView pe;
  if (!ReadPe(image, pe, error)) return false;
  const uint32_t headers = Get32(image, pe.opt + OptSizeOfHeaders);
  const uint64_t newHeader = pe.table + (uint64_t)pe.sections * SectionHeaderSize;
  // The new header must fit in the header area, over bytes nobody uses.
  if (newHeader + SectionHeaderSize > headers || headers > image.size()) {
    error = "no room for another section header";
    return false;
  }
  for (uint64_t i = newHeader; i < newHeader + SectionHeaderSize; i++) {
    if (image[i] != 0) {
      error = "the bytes after the section table are in use";
      return false;
    }
  }
  uint64_t virtualEnd = 0, rawEnd = 0;
  for (uint32_t s = 0; s < pe.sections; s++) {
    const size_t sec = pe.table + s * SectionHeaderSize;
    const uint64_t va = Get32(image, sec + SecVirtualAddress);
    const uint32_t rawSize = Get32(image, sec + SecRawSize);
    virtualEnd = std::max(virtualEnd, va + std::max(Get32(image, sec + SecVirtualSize), rawSize));
    if (rawSize != 0) rawEnd = std::max(rawEnd, (uint64_t)Get32(image, sec + SecRawPointer) + rawSize);
    if (std::memcmp(&image[sec], NewSectionName, sizeof NewSectionName) == 0)
      std::memcpy(&image[sec], OldSectionName, sizeof OldSectionName);
  }
  if (rawEnd > image.size()) {
    error = "a section runs past the end of the file";
    return false;
  }
  const uint64_t rva = AlignUp(virtualEnd, pe.sectionAlignment);
  const uint64_t raw = AlignUp(image.size(), pe.fileAlignment);
  Bytes tree = BuildTree(leaves, (uint32_t)rva);
  const uint64_t rawSize = AlignUp(tree.size(), pe.fileAlignment);
  if (rva + tree.size() > 0x7FFFFFFF || raw + rawSize > 0x7FFFFFFF) {
    error = "the resources are too large";
    return false;
  }
  image.resize(raw, 0);
  image.insert(image.end(), tree.begin(), tree.end());
  image.resize(raw + rawSize, 0);

  const size_t sec = newHeader;
  std::memcpy(&image[sec], NewSectionName, sizeof NewSectionName);
  Put32(image, sec + SecVirtualSize, (uint32_t)tree.size());
  Put32(image, sec + SecVirtualAddress, (uint32_t)rva);
  Put32(image, sec + SecRawSize, (uint32_t)rawSize);
  Put32(image, sec + SecRawPointer, (uint32_t)raw);
  Put32(image, sec + SecCharacteristics, ReadOnlyDataSection);
  Put16(image, pe.pe + CoffSectionCount, (uint16_t)(pe.sections + 1));
  Put32(image, pe.dirs + DirectoryEntrySize * ResourceDir, (uint32_t)rva);
  Put32(image, pe.dirs + DirectoryEntrySize * ResourceDir + 4, (uint32_t)tree.size());
  Put32(image, pe.opt + OptSizeOfImage, (uint32_t)AlignUp(rva + tree.size(), pe.sectionAlignment));
  Put32(image, pe.opt + OptInitializedData,
        Get32(image, pe.opt + OptInitializedData) + (uint32_t)rawSize);
  return UpdatePeChecksum(image, error);
}

