#include "parse_util.h"

#include <algorithm>
#include <cctype>

namespace descc {

bool Options::Has(std::string_view key) const {
    return values.count(std::string(key)) != 0 ||
           std::find(flags.begin(), flags.end(), key) != flags.end();
}

const std::string* Options::Value(std::string_view key) const {
    auto it = values.find(std::string(key));
    return it == values.end() ? nullptr : &it->second;
}

bool ParseOptions(const SourceLine& line, std::size_t from,
                  std::initializer_list<std::string_view> valued,
                  std::initializer_list<std::string_view> flags, Options& out, Diagnostics& diag) {
    bool ok = true;
    auto listOf = [](std::initializer_list<std::string_view> words) {
        std::string text;
        for (std::string_view w : words)
            text += (text.empty() ? "" : ", ") + std::string(w);
        return text.empty() ? std::string("none") : text;
    };
    for (std::size_t i = from; i < line.tokens.size(); ++i) {
        const Token& t = line.tokens[i];
        if (t.quoted) {
            out.texts.push_back(t.text);
            continue;
        }
        std::size_t eq = t.text.find('=');
        std::string key = t.text.substr(0, eq);
        bool isValued = std::find(valued.begin(), valued.end(), key) != valued.end();
        bool isFlag = std::find(flags.begin(), flags.end(), key) != flags.end();
        if (out.Has(key)) {
            diag.Error(line.loc, "option '" + key + "' given twice");
            ok = false;
        } else if (eq != std::string::npos && isValued) {
            out.values[key] = t.text.substr(eq + 1);
        } else if (eq == std::string::npos && isFlag) {
            out.flags.push_back(key);
        } else if (isValued) {
            diag.Error(line.loc, "option '" + key + "' needs a value (" + key + "=...)");
            ok = false;
        } else if (isFlag) {
            diag.Error(line.loc, "option '" + key + "' takes no value");
            ok = false;
        } else {
            diag.Error(line.loc, "unknown option '" + t.text + "' (options: " + listOf(valued) +
                                     "=...; flags: " + listOf(flags) + ")");
            ok = false;
        }
    }
    return ok;
}

bool IsIdentifier(std::string_view text) {
    if (text.empty() || std::isdigit(static_cast<unsigned char>(text[0]))) return false;
    return std::all_of(text.begin(), text.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
    });
}

bool HandleDefine(const SourceLine& line, Modification& mod, Diagnostics& diag) {
    const auto& t = line.tokens;
    if (t.empty() || t[0].quoted || t[0].text != "define") return false;
    if (t.size() < 4 || t[2].text != "=" || !IsIdentifier(t[1].text)) {
        diag.Error(line.loc, "expected: define NAME = EXPRESSION");
        return true;
    }
    Env env(&mod.constants);
    std::string expression = JoinTokens(line, 3);
    std::int64_t value = 0;
    std::string error;
    if (!Evaluate(expression, env, value, error)) {
        diag.Error(line.loc, error);
        return true;
    }
    const std::string& name = t[1].text;
    auto it = mod.constants.find(name);
    if (it != mod.constants.end() && it->second != value) {
        diag.Error(line.loc, "constant " + name + " already defined as " +
                                 std::to_string(it->second) + " at " +
                                 mod.constantPlaces[name].Text());
        return true;
    }
    mod.constants[name] = value;
    mod.constantPlaces.emplace(name, line.loc);
    return true;
}

bool ExpandAt(const Location& loc, std::string_view text, const Env& env, std::string& out,
              Diagnostics& diag) {
    std::string error;
    if (Expand(text, env, out, error)) return true;
    diag.Error(loc, error);
    return false;
}

bool IntAt(const Location& loc, std::string_view what, std::string_view text, const Env& env,
           std::int64_t min, std::int64_t max, std::int64_t& out, Diagnostics& diag) {
    std::string expanded;
    std::string error;
    if (!Expand(text, env, expanded, error) || !Evaluate(expanded, env, out, error)) {
        diag.Error(loc, std::string(what) + ": " + error);
        return false;
    }
    if (out < min || out > max) {
        diag.Error(loc, std::string(what) + " " + std::to_string(out) + " outside " +
                            std::to_string(min) + ".." + std::to_string(max));
        return false;
    }
    return true;
}

bool RangeAt(const Location& loc, std::string_view what, std::string_view text, const Env& env,
             double& lo, double& hi, Diagnostics& diag) {
    std::string expanded;
    if (!ExpandAt(loc, text, env, expanded, diag)) return false;
    std::size_t dots = expanded.find("..");
    bool ok = dots != std::string::npos;
    auto bound = [&](std::string_view part, double& out) {
        if (ParseReal(part, out)) return true;
        std::int64_t v = 0;
        std::string error;
        if (!Evaluate(part, env, v, error)) return false;
        out = static_cast<double>(v);
        return true;
    };
    ok = ok && bound(std::string_view(expanded).substr(0, dots), lo) &&
         bound(std::string_view(expanded).substr(dots + 2), hi);
    if (!ok) {
        diag.Error(loc, std::string(what) + ": bad range '" + expanded + "' (expected LO..HI)");
        return false;
    }
    if (lo > hi) {
        diag.Error(loc, std::string(what) + ": range " + expanded + " has its bounds reversed");
        return false;
    }
    return true;
}

std::string JoinTokens(const SourceLine& line, std::size_t from) {
    std::string text;
    for (std::size_t i = from; i < line.tokens.size(); ++i) {
        if (i > from) text += ' ';
        text += line.tokens[i].text;
    }
    return text;
}

}  // namespace descc
