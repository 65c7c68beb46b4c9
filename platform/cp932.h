// Conversion between the CP932 bytes stored in archives and the UTF-8 text
// the host prints and names files with. ToUtf8 never fails: a byte sequence
// that is not CP932 comes out as U+FFFD, so a hostile name still prints.
#pragma once
#include <string>

// CP932 to UTF-8; undecodable bytes become U+FFFD one by one.
std::string ToUtf8(const std::string& cp932);
// CP932 to UTF-8; false (out unspecified) when the bytes are not CP932.
bool FromCp932(const std::string& cp932, std::string& out);
// UTF-8 to CP932; false (out unspecified) when a character has no CP932 form
// or the input is not valid UTF-8.
bool ToCp932(const std::string& utf8, std::string& out);
