#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace descc {

// Integer names visible to expressions: the modification's constants and the
// variables of the enclosing loops or families.
class Env {
  public:
    Env() = default;
    explicit Env(const std::map<std::string, std::int64_t>* constants) : constants_(constants) {}

    // A copy with one more variable.
    Env With(const std::string& name, std::int64_t value) const;
    bool Lookup(std::string_view name, std::int64_t& value) const;
    bool Has(std::string_view name) const;

  private:
    const std::map<std::string, std::int64_t>* constants_ = nullptr;
    std::vector<std::pair<std::string, std::int64_t>> vars_;
};

// An integer expression: decimal numbers, names, + - * / % and parentheses,
// unary minus, and one comparison (== != < <= > >=, giving 1 or 0); / and %
// truncate toward zero. False with `error` set on a
// syntax error, an unknown name or a division by zero.
bool Evaluate(std::string_view text, const Env& env, std::int64_t& value, std::string& error);

// Replaces every {expression} of the text by its decimal value; "{{" and "}}"
// stand for the braces themselves.
bool Expand(std::string_view text, const Env& env, std::string& out, std::string& error);

// A list of indexes: items separated by ',', each an expression or a range
// "a..b" or "a..b:step" (from a up to b; empty when b < a). Templates are
// expanded first.
bool ParseIndexList(std::string_view text, const Env& env, std::vector<int>& out,
                    std::string& error);

// A real number, the whole text (blanks around it allowed).
bool ParseReal(std::string_view text, double& value);
// A range "lo..hi" of reals.
bool ParseRealRange(std::string_view text, double& lo, double& hi);

}  // namespace descc
