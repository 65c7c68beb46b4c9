// The stub's resource tree as create rebuilds it: read from a PE image into
// a flat list of leaves (type, name, language, data), changed there, and
// written back as a new last section. The stub's own file layout (the
// configuration block at 512, the real-mode notice, the PE headers at
// 0x500) stays as it is: the old resource section is left in place,
// unreferenced. Every byte read comes from an untrusted file and is read
// inside its buffer.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

enum : uint16_t {
  ResourceTypeIcon = 3,
  ResourceTypeGroupIcon = 14,
  ResourceTypeVersion = 16,
};

// A resource type or name: a number, or a UTF-16 string.
struct ResourceKey {
  bool named = false;
  uint16_t id = 0;
  std::u16string name;
  bool operator<(const ResourceKey& other) const;
  bool operator==(const ResourceKey& other) const;
};

struct ResourceLeaf {
  ResourceKey type, name;
  uint16_t language = 0;
  uint32_t codePage = 0;
  Bytes data;
};

// Reads every leaf of the image's resource tree. False with a reason when
// the image is no PE32 file or its tree is damaged.
bool ReadResources(const Bytes& image, std::vector<ResourceLeaf>& leaves, std::string& error);
// Writes the tree as a new last section of the image, points the resource
// directory at it, and sets the sizes and the PE checksum. The image must end
// where its last section's raw data ends.
bool AppendResourceSection(Bytes& image, const std::vector<ResourceLeaf>& leaves, std::string& error);
