#include "document/help_text.h"

#include <cmath>
#include <string_view>

#include "description/device_description.h"
#include "description/tooltips.h"
#include "model/parameter.h"
#include "platform/text.h"

namespace {

constexpr const char* kRangePrefix = "ДИАПАЗОН ЗНАЧЕНИЙ: Значение должно быть ";

// Bounds of the time types are seconds; anything outside an unsigned count
// of seconds is shown at the nearer end.
unsigned Seconds(double bound) {
    if (!(bound > 0)) return 0;
    return static_cast<unsigned>(std::fmin(bound, 4294967295.0));
}

std::string RealRange(double low, double high, int decimals) {
    return Format("%sвещественного типа, от %.*f до %.*f.", kRangePrefix, decimals, low, decimals,
                  high);
}

}  // namespace

std::string ParameterRangeText(const Parameter& p) {
    if (p.minValue == p.maxValue || p.pollTimer) return {};
    const std::string& type = p.type;
    if (EqualsNoCase(type, "stored dot")) return RealRange(p.minValue, p.maxValue, 3);
    if (EqualsNoCase(type, "clk frm")) {
        unsigned low = Seconds(p.minValue), high = Seconds(p.maxValue);
        return Format("%sот %02u:%02u до %02u:%02u.", kRangePrefix, low / 60, low % 60, high / 60,
                      high % 60);
    }
    if (EqualsNoCase(type, "time")) {
        unsigned low = Seconds(p.minValue), high = Seconds(p.maxValue);
        return Format("%sот %02u:%02u:%02u до %02u:%02u:%02u.", kRangePrefix, low / 3600,
                      (low / 60) % 60, low % 60, high / 3600, (high / 60) % 60, high % 60);
    }
    if (EqualsNoCase(type, "dec dot") || EqualsNoCase(type, "byte"))
        return Format("%sцелого типа, от %.0f до %.0f.", kRangePrefix, p.minValue, p.maxValue);
    // The device keeps at most three decimals; other counts name no format.
    if (EqualsNoCase(type, "float") && p.decimals >= 0 && p.decimals <= 3)
        return RealRange(p.minValue, p.maxValue, p.decimals);
    return {};
}

std::string ParameterHelpText(const Parameter& p, const std::string& comment) {
    // Each part is a line of the help pane.
    std::string first = p.DisplayDescription() + " (\"" + p.name + "\")\n";
    std::string range = ParameterRangeText(p);
    if (!range.empty()) range += '\n';
    // The comment heading stands even without a comment, so the pane's
    // layout does not depend on the comment file.
    return first + range + kCommentPrefix + comment;
}

std::string ParameterHelpText(const Parameter& p, const CDeviceDescription& modification) {
    std::string found = FindComment(DescriptionPath(modification.tooltipFile), p);
    std::string_view comment = found;
    if (comment.starts_with(kCommentPrefix))
        comment.remove_prefix(std::string_view(kCommentPrefix).size());
    return ParameterHelpText(p, std::string(comment));
}
