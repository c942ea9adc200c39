#pragma once

#include <string>

class Parameter;
struct CDeviceDescription;

// The help text shown for the selected parameter: its description and name,
// the range of values it accepts (not for operative parameters) and its
// comment, always under its heading "КОММЕНТАРИЙ: " (alone when there is no
// comment).
std::string ParameterHelpText(const Parameter& p, const std::string& comment);

// The same with the comment looked up in the modification's comment file.
std::string ParameterHelpText(const Parameter& p, const CDeviceDescription& modification);

// The range part alone; empty when the type has none or the range is empty.
std::string ParameterRangeText(const Parameter& p);
