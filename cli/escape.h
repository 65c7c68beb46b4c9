// Names from an archive, the file system or the command line, made safe to
// show on a terminal: a control byte, DEL, a C1 control, an invisible
// character that turns or breaks a line, and a byte that is not UTF-8 are
// written as \xHH (a backslash itself as \\), as "ls -b" does, so a name can
// neither drive the terminal nor forge a line of output. Every name the
// commands print goes through Escaped; files are still written under their
// real names.
#pragma once
#include <string>
#include <string_view>

std::string Escaped(std::string_view utf8);
// Escaped, but line ends stay line ends (a carriage return before one is
// dropped): for the multi-line texts an archive shows, such as its question.
std::string EscapedText(std::string_view utf8);
// A CP932 name from an archive, converted and escaped.
std::string EscapedCp932(const std::string& cp932);
