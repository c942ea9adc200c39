#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace descc {

// The value type names, as the files spell them.
// Accepts any letter case and '_' for a space ("STORED_DOT", "dec_dot").
bool CanonicalTypeName(std::string_view text, std::string& canonical);

// Numeric types whose values the range check applies to.
bool IsNumericType(std::string_view canonical);

// An enumeration's type text as the loader makes it: hide marks removed, empty parts skipped, '_'
// shown as ' '. The marks go to *marks when given.
std::string ShownEnumerationType(std::string_view typeText, std::vector<std::string>* marks);

// Checks an enumeration's type text: at least one label, no empty label (the
// loader would skip it and renumber the others), at most 127 labels (an
// index byte keeps its top bit clear), well-formed hide marks.
bool CheckEnumerationText(std::string_view typeText, std::string& error);

struct FactoryInput {
    std::string_view canonicalType;  // empty for an enumeration
    std::string_view shownType;      // for an enumeration
    std::string_view name;           // device name (some names decode specially)
    double minValue = 0;
    double maxValue = 0;
};

// Turns a factory value given as value text into the data form the table
// holds: an enumeration's label (or "#N") to
// its index, "pair(Y,X)" of a "DWORD" to the packed coordinates, any other
// value checked for its type and range and kept as it is.
bool FactoryToData(const FactoryInput& in, std::string_view valueText, std::string& data,
                   std::string& error);

}  // namespace descc
