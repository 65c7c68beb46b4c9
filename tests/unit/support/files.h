// Temporary files for the unit tests: write bytes out, read them back, and
// see where an open platform handle stands.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

#include "platform/platform.h"

// Writes bytes to a fresh file under the temporary directory; returns its path.
std::string WriteTempFile(const std::vector<uint8_t>& bytes);
// A fresh, not yet existing path under the temporary directory.
std::string TempPath();
std::vector<uint8_t> ReadFileBytes(const std::string& path);
// The offset of an open handle of the POSIX platform layer (an fd + 1).
int64_t FilePosition(FileHandle file);
