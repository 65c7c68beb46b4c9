// Recognising a program built from our stub: the DOS header whose new-header
// pointer holds StubPeOffset, the PE signature there, and the real-mode
// notice between RealModeOffset and StubPeOffset. Any other program is not a
// self-extracting file of ours, whatever its first two bytes.
#pragma once
#include <cstddef>
#include <cstdint>

#include "core/image.h"
#include "core/pe.h"

// "PE\0\0" at StubPeOffset ends what StubImageRecognised looks at.
constexpr size_t StubSignatureSize = StubPeOffset + PeSignatureLength;

// The stub seeks with signed 32-bit file offsets: no self-extracting file
// may be larger.
constexpr uint64_t MaxSfxFileSize = 0x7FFFFFFFu;

// True when the first size bytes of a file (at least StubSignatureSize for a
// match) are those of a stub of ours.
bool StubImageRecognised(const uint8_t* image, size_t size);
// Whether the configuration block of such an image is still all zero: a bare
// stub, not yet made into a self-extracting file.
bool StubConfigIsBlank(const uint8_t* image, size_t size);
