#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/codepage.h"

// Byte layouts of the description files' records. Texts are zero-terminated
// within their fields in code page 1251; integers are little-endian; reals
// are IEEE single precision.

namespace TableRecord {
constexpr std::size_t kSize = 2343;
constexpr std::size_t kName = 0, kNameSize = 9;
constexpr std::size_t kDescription = 9, kDescriptionSize = 256;
constexpr std::size_t kIndex = 265;           // int32
constexpr std::size_t kIndexIsAddress = 269;  // byte 0/1
constexpr std::size_t kNotWritable = 270;     // byte 0/1
constexpr std::size_t kFlag = 271;            // byte
constexpr std::size_t kBindingKind = 272;     // int32
constexpr std::size_t kNeedUpdate = 276;      // byte
constexpr std::size_t kAttributeKind = 277;   // int32
constexpr std::size_t kAccess = 281;          // byte
constexpr std::size_t kOwner = 282;           // byte
constexpr std::size_t kType = 283, kTypeSize = 1024;
constexpr std::size_t kDecimals = 1307;  // int32
constexpr std::size_t kMin = 1311;       // float
constexpr std::size_t kMax = 1315;       // float
constexpr std::size_t kValue = 1319, kValueSize = 256;
constexpr std::size_t kFactory = 1575, kFactorySize = 256;
constexpr std::size_t kError = 1831, kErrorSize = 512;
}  // namespace TableRecord

namespace TreeRecord {
constexpr std::size_t kSize = 512;
constexpr std::size_t kKind = 0;  // byte: 1 branch, 2 connector, other parameter reference
constexpr unsigned char kBranch = 1;
constexpr unsigned char kConnector = 2;
constexpr unsigned char kParameter = 3;  // what this project writes; any other value reads alike

// Branch record.
constexpr std::size_t kChildCount1 = 1, kChildCount2 = 5, kChildCount3 = 9;  // int32 each
constexpr std::size_t kValueA = 13, kValueB = 17, kValueC = 21;              // int32 each
constexpr std::size_t kMarked = 25;                                          // int32, 1 = marked
constexpr std::size_t kBranchName = 29, kBranchNameSize = 483;

// Parameter reference record.
constexpr std::size_t kTableIndex = 1;  // int32, 0-based position in the parameter table
constexpr std::size_t kLower = 5;       // float
constexpr std::size_t kUpper = 9;       // float
constexpr std::size_t kReadOnly = 13;   // byte
constexpr std::size_t kReserved = 14;   // int32
constexpr std::size_t kLabel = 18, kLabelSize = 494;

// Connector record.
constexpr std::size_t kSourceText = 1, kSourceTextSize = 238;
constexpr std::size_t kStateText = 239, kStateTextSize = 256;
constexpr std::size_t kSelector = 495, kSelectorSize = 9;
constexpr std::size_t kFirst = 504, kLast = 508;  // int32 each

// Branches nested deeper than any real description mean a damaged file;
// every reader of tree records stops there to keep its recursion off the
// end of the stack.
constexpr int kMaxDepth = 64;
}  // namespace TreeRecord

// Field readers shared by the loaders and the tools that show records.
inline std::int32_t RecordInt32(const std::uint8_t* record, std::size_t offset) {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < 4; ++i)
        v |= static_cast<std::uint32_t>(record[offset + i]) << (8 * i);
    return static_cast<std::int32_t>(v);
}

inline float RecordFloat(const std::uint8_t* record, std::size_t offset) {
    return std::bit_cast<float>(static_cast<std::uint32_t>(RecordInt32(record, offset)));
}

// The zero-terminated code page 1251 text of a field as UTF-8; a field
// without its terminator ends at the field's end.
inline std::string RecordText(const std::uint8_t* record, std::size_t offset, std::size_t size) {
    const auto* begin = reinterpret_cast<const char*>(record + offset);
    const void* zero = std::memchr(begin, 0, size);
    const std::size_t length =
        zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - begin) : size;
    return Cp1251ToUtf8(std::string_view(begin, length));
}
