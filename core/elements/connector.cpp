#include "elements/connector.h"

#include "description/desc_branch.h"
#include "platform/text.h"

namespace Elements {

namespace {

constexpr int kMaxLabels = 127;

// The state index a parameter's value stands for, or false when it names none.
bool StateOf(const Parameter& p, std::int64_t& n) {
    std::vector<std::string> labels = Split(p.type, ':');
    if (EqualsNoCase(ReplaceAll(labels.front(), "_", " "), "DEC dot")) {
        std::int64_t v = 0;
        if (ParseLeadingInt(p.value, v) == 0) return false;
        n = v;
        return true;
    }
    for (std::size_t i = 0; i < labels.size() && i < kMaxLabels; ++i) {
        if (EqualsNoCase(ReplaceAll(labels[i], "_", " "), p.value)) {
            n = static_cast<std::int64_t>(i);
            return true;
        }
    }
    return false;
}

// first - 1: no data; first - 2: the values contradict each other.
std::int64_t ComputeState(const DescBranch& branch, const std::string& selector, int first,
                          int last) {
    const std::int64_t none = static_cast<std::int64_t>(first) - 1;
    const std::int64_t contradiction = static_cast<std::int64_t>(first) - 2;
    std::int64_t c = none;
    auto take = [&](std::int64_t n) {
        if (n < first || n > last || n == c) return true;
        if (c == none) {
            c = n;
            return true;
        }
        c = contradiction;
        return false;
    };
    for (const Parameter* p : branch.parameters) {
        if (p->value == Parameter::kNoData || !EqualsNoCase(p->name, selector)) continue;
        std::int64_t n = 0;
        if (StateOf(*p, n) && !take(n)) return c;
    }
    for (const auto& child : branch.branches) {
        if (!take(ComputeState(*child, selector, first, last))) return c;
    }
    return c;
}

}  // namespace

std::string Connector::ConnectorState(const DescBranch& branch) const {
    std::int64_t c = ComputeState(branch, selector, first, last);
    if (c == static_cast<std::int64_t>(first) - 2) return "противоречия!";
    if (c == static_cast<std::int64_t>(first) - 1) return Parameter::kNoData;
    std::string number = Format(" №%lld", static_cast<long long>(c + 1 - first));
    if (stateText.find('#') == std::string::npos) return stateText + number;
    return ReplaceAll(stateText, "#", number);
}

}  // namespace Elements
