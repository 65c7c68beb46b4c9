// Reading and rewriting the stub's resource tree. The tree is read into a
// flat list of leaves (type, name, language, data), changed there, and laid
// out again from scratch in a new section: directories first, then the data
// entries, the name strings and the data, each piece aligned as the loader
// expects. Rebuilding beats patching in place: a larger icon or a version
// block would not fit the linker's section, and moving the sections behind
// it would move the relocations and the imports too.
#include "cli/peresource.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <set>

#include "core/image.h"
#include "cli/utf8.h"
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

// Icon files.
constexpr uint32_t IcoHeaderSize = 6, IcoEntrySize = 16, GroupEntrySize = 14;
constexpr uint16_t IcoTypeIcon = 1;
// Real icons hold a dozen images at most; the bound keeps the new icon ids
// well inside 16 bits whatever the stub already holds.
constexpr uint32_t MaxIconImages = 256;
constexpr uint32_t BitmapHeaderSize = 40;
constexpr uint8_t PngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// Version information.
constexpr uint32_t FixedInfoSize = 52;
constexpr uint32_t FixedSignature = 0xFEEF04BD, FixedStrucVersion = 0x00010000;
constexpr uint32_t FileFlagsMask = 0x3F, FileOsNtWindows32 = 0x00040004, FileTypeApp = 1;
constexpr uint16_t UnicodeCodePage = 1200;
constexpr uint16_t TextNode = 1, BinaryNode = 0;
constexpr uint32_t NodeHeaderSize = 6;

void Add16(Bytes& b, uint16_t v) {
  b.push_back((uint8_t)v);
  b.push_back((uint8_t)(v >> 8));
}
void Add32(Bytes& b, uint32_t v) {
  Add16(b, (uint16_t)v);
  Add16(b, (uint16_t)(v >> 16));
}
void PadTo(Bytes& b, size_t alignment) { b.resize(AlignUp(b.size(), alignment), 0); }
bool Inside(uint64_t at, uint64_t size, uint64_t limit) { return at <= limit && size <= limit - at; }

// ---- PE headers ------------------------------------------------------------

struct PeView {
  uint32_t pe = 0, opt = 0, optSize = 0, sections = 0, table = 0;
  uint32_t sectionAlignment = 0, fileAlignment = 0, dirCount = 0, dirs = 0;
};

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

// The file offset of size bytes at rva, when a section's raw data holds them.
bool RvaToOffset(const Bytes& image, const PeView& v, uint32_t rva, uint32_t size, uint32_t& offset,
                 uint32_t* available = nullptr) {
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

// ---- Reading the tree ------------------------------------------------------

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

// ---- Text ------------------------------------------------------------------

bool Utf8ToUtf16(const std::string& in, std::u16string& out) {
  out.clear();
  for (size_t i = 0; i < in.size();) {
    char32_t cp;
    const size_t n = Utf8SequenceAt(in, i, &cp);
    if (n == 0) return false;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += (char16_t)(0xD800 + (cp >> 10));
      out += (char16_t)(0xDC00 + (cp & 0x3FF));
    } else {
      out += (char16_t)cp;
    }
    i += n;
  }
  return true;
}

std::string Utf16ToUtf8(const std::u16string& in) {
  std::string out;
  for (size_t i = 0; i < in.size(); i++) {
    uint32_t cp = in[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < in.size() && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (in[i + 1] - 0xDC00);
      i++;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;  // a lone half of a pair
    }
    if (cp < 0x80) {
      out += (char)cp;
    } else if (cp < 0x800) {
      out += (char)(0xC0 | (cp >> 6));
      out += (char)(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += (char)(0xE0 | (cp >> 12));
      out += (char)(0x80 | ((cp >> 6) & 0x3F));
      out += (char)(0x80 | (cp & 0x3F));
    } else {
      out += (char)(0xF0 | (cp >> 18));
      out += (char)(0x80 | ((cp >> 12) & 0x3F));
      out += (char)(0x80 | ((cp >> 6) & 0x3F));
      out += (char)(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

std::u16string Ascii16(const char* text) {
  std::u16string out;
  while (*text != 0) out += (char16_t)*text++;
  return out;
}

// ---- Version nodes ---------------------------------------------------------

// One node of the version block: its header, key, value and children, each
// on a 4-byte boundary. Its length leaves out padding after its end.
Bytes VersionNode(const std::u16string& key, const Bytes& value, uint16_t valueLength, uint16_t type,
                  const std::vector<Bytes>& children) {
  Bytes b(NodeHeaderSize, 0);
  for (char16_t c : key) Add16(b, c);
  Add16(b, 0);
  PadTo(b, 4);
  b.insert(b.end(), value.begin(), value.end());
  for (const Bytes& child : children) {
    PadTo(b, 4);
    b.insert(b.end(), child.begin(), child.end());
  }
  Put16(b, 0, (uint16_t)b.size());
  Put16(b, 2, valueLength);
  Put16(b, 4, type);
  return b;
}

// a.b.c.d with every part 0..65535: the two 32-bit halves of a version.
bool ParseQuad(const std::string& text, uint32_t& high, uint32_t& low) {
  uint32_t parts[4];
  size_t at = 0;
  for (int i = 0; i < 4; i++) {
    if (at >= text.size() || text[at] < '0' || text[at] > '9') return false;
    uint32_t n = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
      n = n * 10 + (uint32_t)(text[at++] - '0');
      if (n > 0xFFFF) return false;
    }
    parts[i] = n;
    if (i < 3 && (at >= text.size() || text[at++] != '.')) return false;
  }
  if (at != text.size()) return false;
  high = parts[0] << 16 | parts[1];
  low = parts[2] << 16 | parts[3];
  return true;
}

struct Node {
  uint32_t length = 0, valueLength = 0, type = 0;
  std::u16string key;
  size_t value = 0, end = 0;  // where the value starts, where the node ends
};

// Reads the node at `at`, which must end by `limit`.
bool ReadNode(const Bytes& b, size_t at, size_t limit, Node& n) {
  if (!Inside(at, NodeHeaderSize, limit)) return false;
  n.length = Get16(b, at);
  n.valueLength = Get16(b, at + 2);
  n.type = Get16(b, at + 4);
  if (n.length < NodeHeaderSize || !Inside(at, n.length, limit)) return false;
  n.end = at + n.length;
  n.key.clear();
  size_t p = at + NodeHeaderSize;
  for (;;) {
    if (p + 2 > n.end) return false;
    char16_t c = (char16_t)Get16(b, p);
    p += 2;
    if (c == 0) break;
    n.key += c;
  }
  n.value = AlignUp(p - at, 4) + at;
  return n.value <= n.end;
}

// The children of a node start after its value, each on a 4-byte boundary.
template <typename Visit>
bool EachChild(const Bytes& b, const Node& parent, size_t valueBytes, Visit visit) {
  size_t at = AlignUp(parent.value + valueBytes, 4);
  while (at + NodeHeaderSize <= parent.end) {
    Node child;
    if (!ReadNode(b, at, parent.end, child)) return false;
    if (!visit(child)) return false;
    at = AlignUp(child.end, 4);
  }
  return true;
}

std::vector<uint16_t> GroupIconIds(const Bytes& group) {
  std::vector<uint16_t> ids;
  if (group.size() < IcoHeaderSize) return ids;
  const uint32_t count = Get16(group, 4);
  for (uint32_t i = 0; i < count && Inside(IcoHeaderSize + (uint64_t)i * GroupEntrySize, GroupEntrySize, group.size()); i++)
    ids.push_back(Get16(group, IcoHeaderSize + i * GroupEntrySize + 12));
  return ids;
}

bool IsProgramIconGroup(const ResourceLeaf& leaf) {
  return !leaf.type.named && leaf.type.id == ResourceTypeGroupIcon && !leaf.name.named &&
         leaf.name.id == ProgramIconId;
}

// ---- Writing the tree ------------------------------------------------------

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

bool ParseIcoFile(const Bytes& ico, std::vector<IconImage>& images, std::string& error) {
  images.clear();
  if (ico.size() < IcoHeaderSize || Get16(ico, 0) != 0 || Get16(ico, 2) != IcoTypeIcon) {
    error = "not an icon file (no .ico header)";
    return false;
  }
  const uint32_t count = Get16(ico, 4);
  if (count == 0) {
    error = "the icon file holds no images";
    return false;
  }
  if (count > MaxIconImages) {
    error = "the icon file holds " + std::to_string(count) + " images, more than " +
            std::to_string(MaxIconImages);
    return false;
  }
  if (!Inside(IcoHeaderSize, (uint64_t)count * IcoEntrySize, ico.size())) {
    error = "the icon file's directory runs past its end";
    return false;
  }
  for (uint32_t i = 0; i < count; i++) {
    const size_t e = IcoHeaderSize + i * IcoEntrySize;
    const uint32_t size = Get32(ico, e + 8), offset = Get32(ico, e + 12);
    if (size == 0 || !Inside(offset, size, ico.size())) {
      error = "image " + std::to_string(i + 1) + " of the icon file lies outside the file";
      return false;
    }
    const bool png = size >= sizeof PngSignature && std::memcmp(&ico[offset], PngSignature, sizeof PngSignature) == 0;
    const bool bitmap = size >= BitmapHeaderSize && Get32(ico, offset) == BitmapHeaderSize;
    if (!png && !bitmap) {
      error = "image " + std::to_string(i + 1) + " of the icon file is neither a bitmap nor a PNG";
      return false;
    }
    IconImage image;
    image.width = ico[e];
    image.height = ico[e + 1];
    image.colors = ico[e + 2];
    image.planes = Get16(ico, e + 4);
    image.bitCount = Get16(ico, e + 6);
    image.data.assign(ico.begin() + offset, ico.begin() + offset + size);
    images.push_back(std::move(image));
  }
  return true;
}

void ReplaceProgramIcon(std::vector<ResourceLeaf>& leaves, const std::vector<IconImage>& images) {
  // The images the old group names go, unless another group names them too.
  std::set<uint16_t> oldIds, keptIds;
  uint16_t language = VersionLanguage;
  bool haveLanguage = false;
  for (const ResourceLeaf& leaf : leaves) {
    if (leaf.type.named || leaf.type.id != ResourceTypeGroupIcon) continue;
    std::vector<uint16_t> ids = GroupIconIds(leaf.data);
    (IsProgramIconGroup(leaf) ? oldIds : keptIds).insert(ids.begin(), ids.end());
    if (IsProgramIconGroup(leaf) && !haveLanguage) language = leaf.language, haveLanguage = true;
  }
  std::erase_if(leaves, [&](const ResourceLeaf& leaf) {
    if (IsProgramIconGroup(leaf)) return true;
    return !leaf.type.named && leaf.type.id == ResourceTypeIcon && !leaf.name.named &&
           oldIds.count(leaf.name.id) != 0 && keptIds.count(leaf.name.id) == 0;
  });
  std::set<uint16_t> used;
  for (const ResourceLeaf& leaf : leaves)
    if (!leaf.type.named && leaf.type.id == ResourceTypeIcon && !leaf.name.named) used.insert(leaf.name.id);

  ResourceLeaf group;
  group.type.id = ResourceTypeGroupIcon;
  group.name.id = ProgramIconId;
  group.language = language;
  Add16(group.data, 0);
  Add16(group.data, IcoTypeIcon);
  Add16(group.data, (uint16_t)images.size());
  uint16_t next = 1;
  for (const IconImage& image : images) {
    while (used.count(next) != 0) next++;
    used.insert(next);
    ResourceLeaf icon;
    icon.type.id = ResourceTypeIcon;
    icon.name.id = next;
    icon.language = language;
    icon.data = image.data;
    leaves.push_back(std::move(icon));
    group.data.push_back(image.width);
    group.data.push_back(image.height);
    group.data.push_back(image.colors);
    group.data.push_back(0);
    Add16(group.data, image.planes);
    Add16(group.data, image.bitCount);
    Add32(group.data, (uint32_t)image.data.size());
    Add16(group.data, next);
  }
  leaves.push_back(std::move(group));
}

const char* const VersionKeys[8] = {"FileDescription", "CompanyName", "ProductName", "FileVersion",
                                    "ProductVersion", "LegalCopyright", "OriginalFilename", "Comments"};

bool IsVersionKey(const std::string& key) {
  return std::any_of(std::begin(VersionKeys), std::end(VersionKeys),
                     [&](const char* k) { return key == k; });
}

bool BuildVersionInfo(const std::vector<std::pair<std::string, std::string>>& strings, Bytes& block,
                      std::string& error) {
  uint32_t fileHigh = 0, fileLow = 0, productHigh = 0, productLow = 0;
  std::vector<Bytes> entries;
  for (const auto& [key, value] : strings) {
    std::u16string wide;
    if (!Utf8ToUtf16(value, wide)) {
      error = "--version " + key + ": the value is not UTF-8";
      return false;
    }
    if (wide.size() + 1 > 0x7FFF / 2) {
      error = "--version " + key + ": the value is too long";
      return false;
    }
    if (key == "FileVersion") ParseQuad(value, fileHigh, fileLow);
    if (key == "ProductVersion") ParseQuad(value, productHigh, productLow);
    Bytes text;
    for (char16_t c : wide) Add16(text, c);
    Add16(text, 0);
    entries.push_back(VersionNode(Ascii16(key.c_str()), text, (uint16_t)(wide.size() + 1), TextNode, {}));
  }
  char tableKey[9];
  std::snprintf(tableKey, sizeof tableKey, "%04X%04X", VersionLanguage, UnicodeCodePage);
  Bytes table = VersionNode(Ascii16(tableKey), {}, 0, TextNode, entries);
  Bytes stringInfo = VersionNode(Ascii16("StringFileInfo"), {}, 0, TextNode, {table});
  Bytes translation;
  Add16(translation, VersionLanguage);
  Add16(translation, UnicodeCodePage);
  Bytes var = VersionNode(Ascii16("Translation"), translation, (uint16_t)translation.size(), BinaryNode, {});
  Bytes varInfo = VersionNode(Ascii16("VarFileInfo"), {}, 0, TextNode, {var});
  Bytes fixed;
  for (uint32_t v : {FixedSignature, FixedStrucVersion, fileHigh, fileLow, productHigh, productLow,
                     FileFlagsMask, 0u, FileOsNtWindows32, FileTypeApp, 0u, 0u, 0u})
    Add32(fixed, v);
  static_assert(FixedInfoSize == 13 * 4, "VS_FIXEDFILEINFO");
  block = VersionNode(Ascii16("VS_VERSION_INFO"), fixed, FixedInfoSize, BinaryNode, {stringInfo, varInfo});
  if (block.size() > 0xFFFF) {
    error = "--version: the version information is larger than 65535 bytes";
    return false;
  }
  return true;
}

void SetVersionResource(std::vector<ResourceLeaf>& leaves, const Bytes& block) {
  std::erase_if(leaves, [](const ResourceLeaf& leaf) {
    return !leaf.type.named && leaf.type.id == ResourceTypeVersion;
  });
  ResourceLeaf leaf;
  leaf.type.id = ResourceTypeVersion;
  leaf.name.id = VersionResourceId;
  leaf.language = VersionLanguage;
  leaf.data = block;
  leaves.push_back(std::move(leaf));
}

bool ReadVersionStrings(const Bytes& block, std::vector<std::pair<std::string, std::string>>& strings) {
  strings.clear();
  Node root;
  if (!ReadNode(block, 0, block.size(), root) || root.key != Ascii16("VS_VERSION_INFO")) return false;
  return EachChild(block, root, root.valueLength, [&](const Node& info) {
    if (info.key != Ascii16("StringFileInfo")) return true;
    return EachChild(block, info, 0, [&](const Node& table) {
      return EachChild(block, table, 0, [&](const Node& entry) {
        std::u16string value;
        for (size_t p = entry.value; p + 2 <= entry.end; p += 2) {
          char16_t c = (char16_t)Get16(block, p);
          if (c == 0) break;
          value += c;
        }
        strings.emplace_back(Utf16ToUtf8(entry.key), Utf16ToUtf8(value));
        return true;
      });
    });
  });
}

int ProgramIconCount(const std::vector<ResourceLeaf>& leaves) {
  for (const ResourceLeaf& leaf : leaves)
    if (IsProgramIconGroup(leaf)) return (int)GroupIconIds(leaf.data).size();
  return -1;
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

bool UpdatePeChecksum(Bytes& image, std::string& error) {
  PeView pe;
  if (!ReadPe(image, pe, error)) return false;
  Put32(image, pe.opt + OptCheckSum, PeChecksum(image.data(), image.size(), pe.opt + OptCheckSum));
  return true;
}
