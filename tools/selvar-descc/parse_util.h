#pragma once

#include <initializer_list>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "expr.h"
#include "lexer.h"
#include "model.h"

namespace descc {

// The options of a line: "key=value" words, flag words, and quoted texts.
struct Options {
    std::map<std::string, std::string> values;
    std::vector<std::string> flags;
    std::vector<std::string> texts;  // quoted words in order

    bool Has(std::string_view key) const;
    const std::string* Value(std::string_view key) const;
};

// Reads tokens[from..]; an unknown key or flag, a flag with a value or an
// option given twice is reported and the result is false.
bool ParseOptions(const SourceLine& line, std::size_t from,
                  std::initializer_list<std::string_view> valued,
                  std::initializer_list<std::string_view> flags, Options& out, Diagnostics& diag);

// "define NAME = EXPRESSION": a constant of the modification. True when the
// line was a define (reported or not).
bool HandleDefine(const SourceLine& line, Modification& mod, Diagnostics& diag);

// Expand with the error reported at the line.
bool ExpandAt(const Location& loc, std::string_view text, const Env& env, std::string& out,
              Diagnostics& diag);

// An integer option value (an expression).
bool IntAt(const Location& loc, std::string_view what, std::string_view text, const Env& env,
           std::int64_t min, std::int64_t max, std::int64_t& out, Diagnostics& diag);

// A range "LO..HI": reals, or integer expressions ("0..STEPS-1").
bool RangeAt(const Location& loc, std::string_view what, std::string_view text, const Env& env,
             double& lo, double& hi, Diagnostics& diag);

// The tokens of the line from `from` on, joined by blanks.
std::string JoinTokens(const SourceLine& line, std::size_t from);

bool IsIdentifier(std::string_view text);

}  // namespace descc
