#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

class Parameter;

// The tool-tip comments of a modification. The file holds every byte
// inverted; inverted, it is code page 1251 text of entries ended by "<<",
// each a key token "name[:index]" and a comment token, separated by blanks.
struct TooltipEntry {
    std::string name;          // '_' read as ' '
    bool anyIndex = true;      // the key has no ":index"
    std::optional<int> index;  // empty when the key's index is not a number
    std::string comment;       // '_' read as ' ', "\n" (backslash, n) as a line break
};

// Parses the file's bytes as stored (still inverted).
std::vector<TooltipEntry> ParseTooltips(std::span<const std::uint8_t> stored);

constexpr const char* kCommentPrefix = "КОММЕНТАРИЙ: ";

// "КОММЕНТАРИЙ: " + the comment of the first entry, in file order, whose name
// equals keyName without regard to case and whose index is absent or equals
// keyIndex; an object without index (nullopt) matches only entries without
// one. "" when none matches or the file is missing. The file is parsed once
// and kept until another path is asked for.
std::string FindComment(const std::string& path, std::string_view keyName,
                        std::optional<int> keyIndex);

// The index under which a parameter's comment is filed: the device address of
// an operative parameter (one with a poll timer), else the linear index.
int CommentKeyIndex(const Parameter& p);

// The comment of a parameter, including the fixed comments of "del".
std::string FindComment(const std::string& path, const Parameter& p);
