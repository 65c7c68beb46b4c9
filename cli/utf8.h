// The one UTF-8 decoder of the host tool: whether a name is UTF-8 (cli/names),
// what to escape when printing it (cli/escape) and the UTF-16 of version
// strings (cli/branding) all read UTF-8 through it, so they agree on what
// UTF-8 is: shortest forms only, no surrogate halves, nothing past U+10FFFF.
#pragma once
#include <cstddef>
#include <string_view>

// The length of the well-formed sequence that starts at s[i], with its code
// point in *cp; 0 when the bytes there are not one (a stray continuation
// byte, a sequence cut short by the end of s, an overlong form).
size_t Utf8SequenceAt(std::string_view s, size_t i, char32_t* cp);
// Whether the whole of s is well-formed UTF-8.
bool IsUtf8(std::string_view s);
