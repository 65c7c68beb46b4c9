// The publisher's icon and version information, as create puts them into
// the stub's resources and info reads them back: the images of an .ico
// file, the program icon group, and the VS_VERSIONINFO block with its
// strings in UTF-16.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "cli/restree.h"

enum : uint16_t {
  ProgramIconId = 101,  // IDI_ICON1 in resources/resource.h
  VersionResourceId = 1,
  VersionLanguage = 0x0411,  // Japanese, the stub's own language
};

// The images of an .ico file, each with its 16-byte directory entry.
struct IconImage {
  uint8_t width = 0, height = 0, colors = 0;
  uint16_t planes = 0, bitCount = 0;
  Bytes data;
};
bool ParseIcoFile(const Bytes& ico, std::vector<IconImage>& images, std::string& error);
// Replaces the program icon group (every image it names) by the given images.
void ReplaceProgramIcon(std::vector<ResourceLeaf>& leaves, const std::vector<IconImage>& images);
// How many images the program icon group names; -1 when there is none.
int ProgramIconCount(const std::vector<ResourceLeaf>& leaves);

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
