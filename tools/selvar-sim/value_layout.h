#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "link/frame.h"
#include "model/my_converter.h"

// What the device accepts and keeps for each value type: the data sizes of a
// write and the size of a value nobody set. The converter decides how values
// look; this decides how many bytes of them the device takes.
namespace sim {

struct SizeRule {
    std::size_t minWrite;
    std::size_t maxWrite;
    std::size_t initial;  // size of a value without a usable factory value
    bool numeric;         // NumericValue applies and the range is checked
};

SizeRule SizeRuleFor(const MyConverter& conv);

// The device's stored form of written data: a "time" of 1 to 3 fields is kept
// as the 4 bytes the device answers with.
std::vector<std::uint8_t> Normalise(const MyConverter& conv, const std::uint8_t* data,
                                    std::size_t count);

// The number a numeric value's data stand for (a "CLK frm" in seconds);
// nothing when the type is not numeric or the data do not hold a number.
std::optional<double> NumericValue(const MyConverter& conv, const std::uint8_t* data,
                                   std::size_t count);

// The decimal point position of "STORED DOT" data (bits 6-4 of byte 0).
int StoredDotPoint(const std::uint8_t* data, std::size_t count);

// True for the enumeration of a parameter's access attributes, which the
// master marks with 0xAC at its full access level.
bool IsAccessAttributeEnumeration(const MyConverter& conv);
constexpr std::uint8_t kFullAccessMark = 0xAC;

// Big-endian IEEE single, as the readings travel.
void PutFloat(float value, std::uint8_t* out);
float GetFloat(const std::uint8_t* data);

}  // namespace sim
