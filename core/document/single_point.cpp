#include "document/single_point.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>

#include "description/desc_branch.h"
#include "description/parameter_table.h"
#include "link/device_io.h"
#include "link/frame.h"
#include "model/parameter.h"
#include "platform/text.h"

namespace SinglePoint {

namespace {

// A range check's slack on both sides, as the tree's editor allows it.
constexpr double kRangeTolerance = 0.0009;

bool Composite(const Parameter& p) {
    return p.bindingKind == 1 || p.bindingKind == 2 || p.bindingKind == 5 || p.bindingKind == 6;
}

// An enumeration here is a type with a ':' after its first character; a
// single label is no list to choose from.
bool ListsLabels(const std::string& type) {
    std::size_t colon = type.find(':');
    return colon != std::string::npos && colon > 0;
}

Parameter* FindInTable(const ParameterTable& table, std::string_view name) {
    return table.Find(name);
}

std::string Unquoted(std::string text) {
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
        text = text.substr(1, text.size() - 2);
    return text;
}

// The text as the device will hold it, when the number lies within the
// parameter's range; the text itself otherwise. A text that reads back as
// the same number (5 against 5.00) is kept as typed.
std::string DeviceForm(const Parameter& p, const std::string& text) {
    if (p.maxValue == 0 && p.minValue == 0) return text;
    ValueNumber typed = ReadValueNumber(text);
    if (typed.length == 0 || typed.overflow) return text;
    if (typed.value < p.minValue - kRangeTolerance || typed.value > p.maxValue + kRangeTolerance)
        return text;
    MyConverter probe = p;
    std::uint8_t data[MyConverter::kMaxRawData] = {};
    int count = 0;
    if (probe.ConvertToData(text, data, count) != 1) return text;
    if (probe.ConvertFromData(data, count, false) != 1) return text;
    ValueNumber back = ReadValueNumber(probe.value);
    if (back.length == 0 || back.overflow) return text;
    // The device keeps single precision: what a float cannot tell apart is no rounding.
    const double slack = 1e-6 * std::max(1.0, std::fabs(typed.value));
    return std::fabs(back.value - typed.value) > slack ? probe.value : text;
}

}  // namespace

std::vector<std::string> CommandNames(const ParameterTable& table) {
    std::vector<std::string> names;
    for (const Parameter& p : table.All()) {
        if (Composite(p) || p.name.empty()) continue;
        bool known = std::any_of(names.begin(), names.end(),
                                 [&](const std::string& n) { return EqualsNoCase(n, p.name); });
        if (!known) names.push_back(p.name);
    }
    return names;
}

CommandView DescribeCommand(const ParameterTable& table, std::string_view name) {
    CommandView view;
    view.hash = Format("0x%X", static_cast<unsigned>(hash_name(name)));
    std::string description = Parameter::kNoDescription;
    std::string type = kNoType;
    const Parameter* p = FindInTable(table, name);
    if (p) {
        description = p->description;
        type = p->type;
    }
    view.description = description + " (" + type + ")";
    if (p && ListsLabels(p->type)) {
        std::vector<std::string> labels = p->Labels();
        for (std::size_t i = 0; i < labels.size(); ++i) {
            if (i < p->labelMarks.size() && p->labelMarks[i] == "h") continue;
            view.values.push_back("\"" + labels[i] + "\"");
        }
    }
    return view;
}

int IndexNumber(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    long long n = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        n = n * 10 + (text[i] - '0');
        if (n > kMaxIndex) return kMaxIndex;
    }
    return static_cast<int>(n);
}

std::string UpperIndexAfter(std::string_view lower, std::string_view upper) {
    return IndexNumber(upper) < IndexNumber(lower) ? std::string(lower) : std::string(upper);
}

std::vector<std::string> Execute(DeviceIO& io, const ParameterTable& table,
                                 const Request& request) {
    std::vector<std::string> log;
    auto p = std::make_unique<Parameter>();
    p->name = request.command;
    if (const Parameter* known = FindInTable(table, request.command)) {
        p->name = known->name;
        p->description = known->description;
        p->maxValue = known->maxValue;
        p->minValue = known->minValue;
        p->type = known->type;
        p->decimals = known->decimals;
        p->bindingKind = known->bindingKind;
    }
    const bool write = request.operation == Operation::Write;
    int from = 0;
    int to = 0;
    if (request.linearIndex) {
        from = IndexNumber(request.indexFrom);
        to = IndexNumber(request.indexTo);
    }
    for (int i = from; i <= to; ++i) {
        if (request.linearIndex) {
            if (request.placement == IndexPlacement::Data) {
                p->hasLinearIndex = true;
                p->linearIndex = i;
                log.push_back(kIndexInData);
            } else {
                p->hasLinearIndex = false;
                p->deviceAddress = i;
                log.push_back(kIndexInAddress);
                if (i >= kFirstForeignOffset) log.push_back(kAddressWarning);
            }
        }
        log.push_back(p->name + " (" + p->description + ")");
        if (write) {
            std::string text = request.valueText;
            std::string fitted = DeviceForm(*p, text);
            if (fitted != text) {
                log.push_back("Значение было округлено до " + fitted);
                text = fitted;
            }
            p->value = Unquoted(text);
        }
        p->error.clear();
        int result = io.exchange_parameter(write ? Direction::Write : Direction::Read, *p, &log);
        if (result != ExchangeCode::kOk) {
            if (!p->error.empty()) log.push_back(p->error);
        } else if (!p->error.empty()) {
            log.push_back("Имеет место ошибка:");
            log.push_back(p->error);
        } else if (write) {
            log.push_back("Нет ошибок; записано. Обратно вернулось='" + p->value + "'");
        } else {
            log.push_back("Нет ошибок; строковая нотация ответа:");
            log.push_back(p->value);
        }
        if (request.linearIndex) log.push_back("");
    }
    return log;
}

Location Find(const DescBranch* configuration, const DescBranch* operative,
              const Request& request) {
    const int index = request.linearIndex ? IndexNumber(request.indexFrom) : -1;
    Location found;
    for (const DescBranch* tree : {configuration, operative}) {
        if (!tree) continue;
        found.parameter = tree->FindParameter(request.command, index, &found.branch);
        if (found.parameter) return found;
    }
    return {};
}

}  // namespace SinglePoint
