#include "lexer.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace descc {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

// Splits one logical line; false after reporting an unterminated quote.
bool Tokenize(const std::string& line, const Location& loc, std::vector<Token>& out,
              Diagnostics& diag) {
    std::size_t i = 0;
    const std::size_t n = line.size();
    while (true) {
        while (i < n && IsBlank(line[i]))
            ++i;
        if (i >= n || line[i] == '#') return true;
        Token token;
        int quotedParts = 0;
        bool unquoted = false;
        while (i < n && !IsBlank(line[i])) {
            if (line[i] != '"') {
                unquoted = true;
                token.text += line[i++];
                continue;
            }
            ++quotedParts;
            ++i;
            while (i < n && line[i] != '"') {
                if (line[i] == '\\' && i + 1 < n && (line[i + 1] == '"' || line[i + 1] == '\\')) {
                    token.text += line[i + 1];
                    i += 2;
                } else {
                    token.text += line[i++];
                }
            }
            if (i >= n) {
                diag.Error(loc, "unterminated quoted text");
                return false;
            }
            ++i;  // closing quote
        }
        token.quoted = quotedParts == 1 && !unquoted;
        out.push_back(std::move(token));
    }
}

struct Reader {
    const FileReader& read;
    Diagnostics& diag;
    std::vector<std::string> stack;  // files being read, for include cycles
    std::vector<SourceLine> lines;

    void File(const std::string& path, const std::string& text) {
        stack.push_back(path);
        std::istringstream in(text);
        std::string physical;
        std::string logical;
        int lineNo = 0;
        int logicalStart = 0;
        bool first = true;
        while (std::getline(in, physical)) {
            ++lineNo;
            if (first && physical.rfind("\xEF\xBB\xBF", 0) == 0) physical.erase(0, 3);
            first = false;
            bool continuing = !logical.empty();
            if (!continuing) logicalStart = lineNo;
            // A continued line goes on where the text of the next one starts.
            std::string piece = physical;
            if (continuing) {
                std::size_t start = 0;
                while (start < piece.size() && IsBlank(piece[start]))
                    ++start;
                piece.erase(0, start);
            }
            // A backslash at the end continues the line: glued to the word
            // before it, the next line's first word goes on that word;
            // after a blank, a blank separates them.
            std::string trimmed = piece;
            while (!trimmed.empty() && IsBlank(trimmed.back()))
                trimmed.pop_back();
            if (!trimmed.empty() && trimmed.back() == '\\') {
                trimmed.pop_back();
                bool glued = !trimmed.empty() && !IsBlank(trimmed.back());
                while (!trimmed.empty() && IsBlank(trimmed.back()))
                    trimmed.pop_back();
                logical += trimmed;
                if (!glued) logical += ' ';
                if (logical.empty()) logical = " ";
                continue;
            }
            logical += piece;
            Line(path, logicalStart, logical);
            logical.clear();
        }
        if (!logical.empty()) Line(path, logicalStart, logical);
        stack.pop_back();
    }

    void Line(const std::string& path, int lineNo, const std::string& text) {
        Location loc{path, lineNo};
        std::vector<Token> tokens;
        if (!Tokenize(text, loc, tokens, diag) || tokens.empty()) return;
        if (!tokens[0].quoted && tokens[0].text == "include") {
            if (tokens.size() != 2) {
                diag.Error(loc, "include needs exactly one file name");
                return;
            }
            Include(loc, tokens[1].text);
            return;
        }
        lines.push_back(SourceLine{LineKind::Normal, loc, std::move(tokens)});
    }

    void Include(const Location& loc, const std::string& name) {
        namespace fs = std::filesystem;
        std::string path = (fs::path(loc.file).parent_path() / name).lexically_normal().string();
        if (std::find(stack.begin(), stack.end(), path) != stack.end()) {
            diag.Error(loc, "include cycle: " + path + " includes itself");
            return;
        }
        std::optional<std::string> text = read(path);
        if (!text) {
            diag.Error(loc, "cannot read included file " + path);
            return;
        }
        lines.push_back(SourceLine{LineKind::EnterFile, Location{path, 0}, {}});
        File(path, *text);
        lines.push_back(SourceLine{LineKind::LeaveFile, Location{path, 0}, {}});
    }
};

}  // namespace

FileReader DiskReader() {
    return [](const std::string& path) -> std::optional<std::string> {
        std::ifstream in(path, std::ios::binary);
        if (!in) return std::nullopt;
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    };
}

std::vector<SourceLine> ReadSourceText(const std::string& path, const std::string& text,
                                       const FileReader& reader, Diagnostics& diag) {
    Reader r{reader, diag, {}, {}};
    r.File(path, text);
    return std::move(r.lines);
}

std::vector<SourceLine> ReadSource(const std::string& path, const FileReader& reader,
                                   Diagnostics& diag) {
    std::optional<std::string> text = reader(path);
    if (!text) {
        diag.Error(Location{path, 0}, "cannot read the file");
        return {};
    }
    return ReadSourceText(path, *text, reader, diag);
}

}  // namespace descc
