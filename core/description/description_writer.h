#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Writing of the description files: the inverse of the loader.
// The description compiler builds the files of the three modifications with
// it, and tests build synthetic files with it.
//
// Texts are given in UTF-8 and written in code page 1251, zero-terminated in
// their fields. A text that does not fit its field with the terminating zero,
// that holds a character code page 1251 lacks or a zero character is refused
// with a message that names the field: nothing is ever silently cut.
// Integers are written little-endian, reals as IEEE single precision.
namespace DescriptionWriter {

// One record of the parameter table (2343 bytes), field by field.
struct TableFields {
    std::string name;         // at most 8 bytes
    std::string description;  // at most 255 bytes
    std::int32_t index = -1;  // -1: not indexed
    bool indexIsAddress = false;
    bool notWritable = false;
    std::uint8_t flag = 0;
    std::int32_t bindingKind = 0;
    bool needUpdate = false;
    std::int32_t attributeKind = 0;
    std::uint8_t access = 1;  // used by the loader only when attributeKind is not 0
    std::uint8_t owner = 0;
    std::string type;  // type name or enumeration labels separated by ':'
    std::int32_t decimals = 0;
    float minValue = 0;
    float maxValue = 0;
    std::string value;        // initial value text ("Нет данных" for an unknown value)
    std::string factory;      // factory value in data form; empty = none
    bool forceWrite = false;  // written as '?' before the factory value
    std::string error;        // initial error text
};

// A branch record (512 bytes); the children follow it in the file.
struct BranchFields {
    std::string name;  // at most 482 bytes
    std::int32_t count1 = 0;
    std::int32_t count2 = 0;
    std::int32_t count3 = 0;
    std::int32_t valueA = 0;
    std::int32_t valueB = 0;  // image
    std::int32_t valueC = 0;  // selected image
    bool marked = false;
};

// A parameter reference record (512 bytes).
struct ParameterRefFields {
    std::int32_t tableIndex = 0;  // 0-based position in the parameter table
    float lower = 0;              // 0 and 0: the table's range stays
    float upper = 0;
    bool readOnly = false;
    std::string label;  // at most 493 bytes; empty = the table's description
};

// A connector record (512 bytes).
struct ConnectorFields {
    std::string source;    // at most 237 bytes
    std::string state;     // at most 255 bytes; '#' stands for the state number
    std::string selector;  // at most 8 bytes: the parameter the state is computed from
    std::int32_t first = 0;
    std::int32_t last = 0;
};

// One tool-tip entry. The key is the parameter's or branch's name as the
// program has it (spaces allowed, written as '_'), with an index (-1: any).
// Line breaks of the comment may be given as '\n' characters or as the two
// characters backslash and 'n'; spaces are written as '_'.
struct TooltipEntry {
    std::string name;
    std::int32_t index = -1;
    std::string comment;
};

// Converts a UTF-8 text for a field of fieldSize bytes (terminating zero
// included). Returns false with *error set (naming `field`) when it does not fit
// or cannot be written in code page 1251.
bool EncodeFieldText(std::string_view utf8, std::size_t fieldSize, std::string_view field,
                     std::string& cp1251, std::string* error);

// Each appends one whole record to out; on failure out is left as it was and
// *error says which field was refused.
bool AppendTableRecord(std::vector<std::uint8_t>& out, const TableFields& fields,
                       std::string* error);
bool AppendBranchRecord(std::vector<std::uint8_t>& out, const BranchFields& fields,
                        std::string* error);
bool AppendParameterRecord(std::vector<std::uint8_t>& out, const ParameterRefFields& fields,
                           std::string* error);
bool AppendConnectorRecord(std::vector<std::uint8_t>& out, const ConnectorFields& fields,
                           std::string* error);

// One gzip member (RFC 1952) holding `data`: a 10-byte header (modification
// time 0, so that the same input always gives the same bytes; operating
// system Unix), the optional zero-terminated file name (flag bit 3), raw
// deflate data with a 15-bit window, CRC-32 and ISIZE little-endian.
// Returns false with *error set only when zlib fails (out of memory).
bool GzipMember(std::span<const std::uint8_t> data, std::vector<std::uint8_t>& out,
                std::string* error, std::string_view storedName = {}, int level = 9);

// The tool-tip text before inversion: entries "key comment<<" back to back,
// in code page 1251. Refuses a key or comment that cannot be read back as
// given: an empty comment, '_' (the reader takes it for a space), "<<", a
// ':' in the key's name, a tab or another control character.
bool TooltipText(std::span<const TooltipEntry> entries, std::string& cp1251, std::string* error);
// The tool-tip file: TooltipText with every byte inverted (XOR 0xFF).
bool TooltipFile(std::span<const TooltipEntry> entries, std::vector<std::uint8_t>& out,
                 std::string* error);
// Every byte XOR 0xFF, in place (the inversion is its own inverse).
void InvertBytes(std::span<std::uint8_t> bytes);

// Writes the file through a temporary file in the same folder and a rename,
// so that a reader never sees a half-written file. Creates missing folders.
bool WriteFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes,
                         std::string* error);

}  // namespace DescriptionWriter
