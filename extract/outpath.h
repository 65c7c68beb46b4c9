// Turns a stored member name into the output path under the destination,
// makes every component acceptable to the volume (long names or 8.3), creates
// the directories on the way, and shortens paths for the status line.
#pragma once
#include <stdint.h>

void MapOutputPath(char* output, const char* destDir, const char* storedName);
void AppendPathSeparator(char* path, uint32_t size);
void SanitizePath(char* path, int longNames);
void SanitizeComponent(char* component, int longNames);
char* SanitizeNamePart(char* text, uint32_t limit, int longNames);
void ShortenForDisplay(char* output, const char* path, uint32_t limit);
void MakeParentDirectories(const char* path);
