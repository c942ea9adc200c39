#pragma once

#include <string>
#include <string_view>

// Texts are UTF-8 inside the program. The device's files and records keep
// their single-byte code pages; these convert at those boundaries only.
// A character the target code page lacks, or a malformed UTF-8 sequence,
// becomes '?': the conversion never fails and never drops a position.

std::string Cp1251ToUtf8(std::string_view bytes);
std::string Utf8ToCp1251(std::string_view text);
std::string Cp866ToUtf8(std::string_view bytes);
std::string Utf8ToCp866(std::string_view text);

// One code page byte to its UTF-8 form (appended to out).
void AppendCp1251Char(std::string& out, unsigned char byte);
