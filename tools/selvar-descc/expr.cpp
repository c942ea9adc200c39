#include "expr.h"

#include <cctype>

#include "platform/text.h"

namespace descc {

Env Env::With(const std::string& name, std::int64_t value) const {
    Env copy = *this;
    copy.vars_.emplace_back(name, value);
    return copy;
}

bool Env::Lookup(std::string_view name, std::int64_t& value) const {
    for (auto it = vars_.rbegin(); it != vars_.rend(); ++it) {
        if (it->first == name) {
            value = it->second;
            return true;
        }
    }
    if (constants_) {
        auto it = constants_->find(std::string(name));
        if (it != constants_->end()) {
            value = it->second;
            return true;
        }
    }
    return false;
}

bool Env::Has(std::string_view name) const {
    std::int64_t ignored = 0;
    return Lookup(name, ignored);
}

namespace {

class Parser {
  public:
    Parser(std::string_view text, const Env& env) : s_(text), env_(env) {}

    bool Run(std::int64_t& value, std::string& error) {
        if (!Compare(value)) {
            error = error_;
            return false;
        }
        Blanks();
        if (i_ != s_.size()) {
            error = "unexpected '" + std::string(s_.substr(i_, 1)) + "' in expression \"" +
                    std::string(s_) + "\"";
            return false;
        }
        return true;
    }

  private:
    void Blanks() {
        while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t'))
            ++i_;
    }
    bool Fail(const std::string& text) {
        if (error_.empty()) error_ = text + " in expression \"" + std::string(s_) + "\"";
        return false;
    }
    // Comparisons give 1 or 0 and bind loosest: "i%8==0" is "(i%8)==0".
    bool Compare(std::int64_t& v) {
        if (!Sum(v)) return false;
        Blanks();
        static constexpr std::string_view kOps[] = {"==", "!=", "<=", ">=", "<", ">"};
        for (std::string_view op : kOps) {
            if (s_.substr(i_, op.size()) != op) continue;
            i_ += op.size();
            std::int64_t r = 0;
            if (!Sum(r)) return false;
            v = op == "=="   ? v == r
                : op == "!=" ? v != r
                : op == "<=" ? v <= r
                : op == ">=" ? v >= r
                : op == "<"  ? v < r
                             : v > r;
            return true;
        }
        return true;
    }
    bool Sum(std::int64_t& v) {
        if (!Product(v)) return false;
        for (;;) {
            Blanks();
            if (i_ >= s_.size() || (s_[i_] != '+' && s_[i_] != '-')) return true;
            char op = s_[i_++];
            std::int64_t r = 0;
            if (!Product(r)) return false;
            v = op == '+' ? v + r : v - r;
        }
    }
    bool Product(std::int64_t& v) {
        if (!Unary(v)) return false;
        for (;;) {
            Blanks();
            if (i_ >= s_.size() || (s_[i_] != '*' && s_[i_] != '/' && s_[i_] != '%')) return true;
            char op = s_[i_++];
            std::int64_t r = 0;
            if (!Unary(r)) return false;
            if (op == '*') {
                v *= r;
            } else if (r == 0) {
                return Fail("division by zero");
            } else {
                v = op == '/' ? v / r : v % r;
            }
        }
    }
    bool Unary(std::int64_t& v) {
        Blanks();
        if (i_ < s_.size() && s_[i_] == '-') {
            ++i_;
            if (!Unary(v)) return false;
            v = -v;
            return true;
        }
        if (i_ < s_.size() && s_[i_] == '+') {
            ++i_;
            return Unary(v);
        }
        return Primary(v);
    }
    bool Primary(std::int64_t& v) {
        Blanks();
        if (i_ >= s_.size()) return Fail("missing operand");
        char c = s_[i_];
        if (c == '(') {
            ++i_;
            if (!Compare(v)) return false;
            Blanks();
            if (i_ >= s_.size() || s_[i_] != ')') return Fail("missing ')'");
            ++i_;
            return true;
        }
        if (std::isdigit(static_cast<unsigned char>(c))) {
            v = 0;
            while (i_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[i_]))) {
                v = v * 10 + (s_[i_++] - '0');
                if (v > (std::int64_t{1} << 40)) return Fail("number too large");
            }
            return true;
        }
        if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
            std::size_t start = i_;
            while (i_ < s_.size() &&
                   (std::isalnum(static_cast<unsigned char>(s_[i_])) || s_[i_] == '_'))
                ++i_;
            std::string_view name = s_.substr(start, i_ - start);
            if (!env_.Lookup(name, v)) return Fail("unknown name '" + std::string(name) + "'");
            return true;
        }
        return Fail("unexpected '" + std::string(1, c) + "'");
    }

    std::string_view s_;
    const Env& env_;
    std::size_t i_ = 0;
    std::string error_;
};

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

}  // namespace

bool Evaluate(std::string_view text, const Env& env, std::int64_t& value, std::string& error) {
    Parser p(text, env);
    return p.Run(value, error);
}

bool Expand(std::string_view text, const Env& env, std::string& out, std::string& error) {
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '{' && i + 1 < text.size() && text[i + 1] == '{') {
            out += '{';
            ++i;
        } else if (c == '}' && i + 1 < text.size() && text[i + 1] == '}') {
            out += '}';
            ++i;
        } else if (c == '}') {
            error = "unmatched '}' in \"" + std::string(text) + "\" (write }} for a brace)";
            return false;
        } else if (c == '{') {
            std::size_t end = text.find('}', i + 1);
            if (end == std::string_view::npos) {
                error = "unterminated '{' in \"" + std::string(text) + "\"";
                return false;
            }
            std::int64_t v = 0;
            if (!Evaluate(text.substr(i + 1, end - i - 1), env, v, error)) return false;
            out += std::to_string(v);
            i = end;
        } else {
            out += c;
        }
    }
    return true;
}

bool ParseIndexList(std::string_view text, const Env& env, std::vector<int>& out,
                    std::string& error) {
    std::string expanded;
    if (!Expand(text, env, expanded, error)) return false;
    constexpr std::int64_t kMaxIndex = 0x7FFF;  // two bytes on the wire, high byte first
    auto checked = [&](std::int64_t v) {
        if (v < 0 || v > kMaxIndex) {
            error = "index " + std::to_string(v) + " outside 0.." + std::to_string(kMaxIndex);
            return false;
        }
        return true;
    };
    out.clear();
    for (const std::string& item : Split(expanded, ',')) {
        std::string_view it = Trim(item);
        if (it.empty()) {
            error = "empty item in index list \"" + expanded + "\"";
            return false;
        }
        std::size_t dots = it.find("..");
        std::int64_t a = 0;
        if (dots == std::string_view::npos) {
            if (!Evaluate(it, env, a, error) || !checked(a)) return false;
            out.push_back(static_cast<int>(a));
            continue;
        }
        std::string_view rest = it.substr(dots + 2);
        std::string_view stepText;
        if (std::size_t colon = rest.find(':'); colon != std::string_view::npos) {
            stepText = rest.substr(colon + 1);
            rest = rest.substr(0, colon);
        }
        std::int64_t b = 0;
        std::int64_t step = 1;
        if (!Evaluate(it.substr(0, dots), env, a, error) || !Evaluate(rest, env, b, error))
            return false;
        if (!stepText.empty() && !Evaluate(stepText, env, step, error)) return false;
        if (step <= 0) {
            error = "the step of \"" + std::string(it) + "\" must be positive";
            return false;
        }
        if (b < a) continue;  // empty: "0..N-1" with N = 0
        if (!checked(a) || !checked(b)) return false;
        for (std::int64_t v = a; v <= b; v += step)
            out.push_back(static_cast<int>(v));
    }
    return true;
}

bool ParseReal(std::string_view text, double& value) {
    text = Trim(text);
    if (text.empty()) return false;
    std::size_t used = ParseLeadingReal(text, value);
    return used == text.size();
}

bool ParseRealRange(std::string_view text, double& lo, double& hi) {
    // The first ".." that is not part of a number: "0.5..9.5" splits after 0.5.
    std::size_t dots = text.find("..");
    if (dots == std::string_view::npos) return false;
    return ParseReal(text.substr(0, dots), lo) && ParseReal(text.substr(dots + 2), hi);
}

}  // namespace descc
