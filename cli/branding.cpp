// The icon and version resources. An .ico file is taken image by image,
// each checked to lie inside the file and to be a bitmap or a PNG; the
// version block is built as nested nodes, each on a 4-byte boundary, and
// read back the same way, every node inside its parent.
#include "cli/branding.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <set>

#include "cli/utf8.h"
#include "core/pe.h"

namespace {

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
  for (char16_t c : key) Append16(b, c);
  Append16(b, 0);
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

// ---- Icon groups -----------------------------------------------------------

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

}  // namespace

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
  Append16(group.data, 0);
  Append16(group.data, IcoTypeIcon);
  Append16(group.data, (uint16_t)images.size());
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
    Append16(group.data, image.planes);
    Append16(group.data, image.bitCount);
    Append32(group.data, (uint32_t)image.data.size());
    Append16(group.data, next);
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
    for (char16_t c : wide) Append16(text, c);
    Append16(text, 0);
    entries.push_back(VersionNode(Ascii16(key.c_str()), text, (uint16_t)(wide.size() + 1), TextNode, {}));
  }
  char tableKey[9];
  std::snprintf(tableKey, sizeof tableKey, "%04X%04X", VersionLanguage, UnicodeCodePage);
  Bytes table = VersionNode(Ascii16(tableKey), {}, 0, TextNode, entries);
  Bytes stringInfo = VersionNode(Ascii16("StringFileInfo"), {}, 0, TextNode, {table});
  Bytes translation;
  Append16(translation, VersionLanguage);
  Append16(translation, UnicodeCodePage);
  Bytes var = VersionNode(Ascii16("Translation"), translation, (uint16_t)translation.size(), BinaryNode, {});
  Bytes varInfo = VersionNode(Ascii16("VarFileInfo"), {}, 0, TextNode, {var});
  Bytes fixed;
  for (uint32_t v : {FixedSignature, FixedStrucVersion, fileHigh, fileLow, productHigh, productLow,
                     FileFlagsMask, 0u, FileOsNtWindows32, FileTypeApp, 0u, 0u, 0u})
    Append32(fixed, v);
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

