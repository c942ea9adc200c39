#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "diagnostics.h"

namespace descc {

// One word of a source line. Quoted parts ("...") may hold blanks; the quotes
// are removed, and inside them \" and \\ stand for " and \. A token that was
// one quoted string and nothing else is `quoted`.
struct Token {
    std::string text;
    bool quoted = false;
};

// Lines of a source file with its includes spliced in. EnterFile and
// LeaveFile lines (without tokens) mark where an included file starts and
// ends, so that a parser can keep settings per file.
enum class LineKind { Normal, EnterFile, LeaveFile };

struct SourceLine {
    LineKind kind = LineKind::Normal;
    Location loc;
    std::vector<Token> tokens;
};

// Gives the text of a file, or nothing when it cannot be read.
using FileReader = std::function<std::optional<std::string>(const std::string& path)>;
FileReader DiskReader();

// Splits a text into lines of tokens: '#' at the start of a word begins a
// comment; a line whose last word is a lone '\' continues on the next line;
// "include PATH" (relative to the including file) splices that file in.
std::vector<SourceLine> ReadSource(const std::string& path, const FileReader& reader,
                                   Diagnostics& diag);

// The same for a text already in memory (no includes resolved from it unless
// the reader can read them).
std::vector<SourceLine> ReadSourceText(const std::string& path, const std::string& text,
                                       const FileReader& reader, Diagnostics& diag);

}  // namespace descc
