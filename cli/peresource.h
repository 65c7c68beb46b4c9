// The stub's resources as create brands them: the resource tree read from a
// PE image, a publisher's icon and version information put in, and the tree
// written back as a new last section. The stub's own file layout (the
// configuration block at 512, the real-mode notice, the PE headers at 0x500)
// stays as it is: the old resource section is left in place, unreferenced.
// Every byte read comes from an untrusted file (the stub, the .ico) and is
// read inside its buffer.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

using Bytes = std::vector<uint8_t>;

enum : uint16_t {
  ResourceTypeIcon = 3,
  ResourceTypeGroupIcon = 14,
  ResourceTypeVersion = 16,
  ProgramIconId = 101,  // IDI_ICON1 in resources/resource.h
  VersionResourceId = 1,
  VersionLanguage = 0x0411,  // Japanese, the stub's own language
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

// The images of an .ico file, each with its 16-byte directory entry.
struct IconImage {
  uint8_t width = 0, height = 0, colors = 0;
  uint16_t planes = 0, bitCount = 0;
  Bytes data;
};
bool ParseIcoFile(const Bytes& ico, std::vector<IconImage>& images, std::string& error);

// Replaces the program icon group (every image it names) by the given images.
void ReplaceProgramIcon(std::vector<ResourceLeaf>& leaves, const std::vector<IconImage>& images);

// The version keys create accepts.
extern const char* const VersionKeys[8];
bool IsVersionKey(const std::string& key);
// Builds the VS_VERSIONINFO block from UTF-8 key/value pairs; FileVersion
// and ProductVersion of the form a.b.c.d fill the fixed numbers too. False
// when a value is not UTF-8.
bool BuildVersionInfo(const std::vector<std::pair<std::string, std::string>>& strings, Bytes& block,
                      std::string& error);
// Replaces any version resource by this one.
void SetVersionResource(std::vector<ResourceLeaf>& leaves, const Bytes& block);

// Reads a VS_VERSIONINFO block back: its strings, UTF-8, in order.
bool ReadVersionStrings(const Bytes& block, std::vector<std::pair<std::string, std::string>>& strings);
// How many images the program icon group names; -1 when there is none.
int ProgramIconCount(const std::vector<ResourceLeaf>& leaves);

// Writes the tree as a new last section of the image, points the resource
// directory at it, and sets the sizes and the PE checksum. The image must end
// where its last section's raw data ends.
bool AppendResourceSection(Bytes& image, const std::vector<ResourceLeaf>& leaves, std::string& error);

// Recomputes the PE checksum of the image.
bool UpdatePeChecksum(Bytes& image, std::string& error);
