#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class Archive;

// Value conversion between a parameter's value text and the data bytes of a
// request or an answer, including the status codes a measuring parameter
// reports instead of a value. Base of Parameter.
class MyConverter {
  public:
    static constexpr std::size_t kMaxRawData = 103;
    static constexpr std::size_t kMaxValueText = 511;
    static constexpr const char* kUnknownType = "неизвестен";
    static constexpr const char* kNoData = "Нет данных";

    MyConverter() = default;
    MyConverter(const MyConverter&) = default;
    MyConverter& operator=(const MyConverter&) = default;
    virtual ~MyConverter() = default;

    // Writes `name` and the value in data form (label to index text); reading
    // takes the name and turns the stored text back by index text to label.
    virtual void Serialize(Archive& ar);

    // Encodes `text` (at most kMaxValueText characters; a longer text is
    // refused) into out, which has room for kMaxRawData bytes; count receives
    // the number of bytes. Returns 1 on success, 0 when the value cannot be
    // encoded, -1 when the parameter has no write method or the network name
    // is invalid (the reason, when there is one, goes to *errorText). With
    // indexSwitch an enumeration value is taken as the index number itself.
    // A number is refused rather than sent otherwise than it reads: it must
    // be the whole text (trailing blanks and control characters aside) and
    // fit the type; integer types take no exponent and no fraction beyond
    // 0.00001, and times and dates no empty or non-number field.
    int ConvertToData(std::string_view text, std::uint8_t* out, int& count,
                      bool indexSwitch = false, std::string* errorText = nullptr) const;

    // Decodes answer data into `value`. Returns 1 on success, -1 for a length
    // or network-name error (its text is now the value), 0 on failure (value
    // unchanged). Total over any data and count: a count beyond kMaxRawData is
    // taken as kMaxRawData, and null data count as no data.
    int ConvertFromData(const std::uint8_t* data, int count, bool hasLinearIndex);

    // Whether the parameter has a wire form for writing at all (a type or
    // name rule that encodes, possibly refusing every text).
    bool HasEncoder() const;

    // Enumeration helpers. A type text that names no value type is an
    // enumeration of its ':'-separated labels, even a single one (a list of
    // one serial port); an empty text and "неизвестен" are not.
    bool IsEnumeration() const;
    std::vector<std::string> Labels() const;  // '_' shown as ' '
    std::string LabelToIndexText(std::string_view label) const;
    std::string IndexTextToLabel(std::string_view text) const;
    std::string IndexToLabel(int index) const;

    // Cuts a text to what the device can hold (decimals, or digits within range).
    std::string FitText(std::string_view text, bool useDecimals = false) const;

    // The document's access level as the access-attribute enumeration sees
    // it: -1 when no document is open, else 0..2. Process-wide.
    static void SetDocumentAccessLevel(int level);
    static int DocumentAccessLevel();

    std::string name;
    std::string value;
    std::uint8_t rawLength = 0;
    std::array<std::uint8_t, kMaxRawData> rawData{};
    std::string type = kUnknownType;
    int decimals = 0;
    double maxValue = 0;
    double minValue = 0;
};

// The number at the start of a text as the encoders and the text checks
// read it: blanks before it skipped, a sign, digits with at most one point,
// an optional exponent. A number beyond a double is marked, never read as 0.
struct ValueNumber {
    std::size_t length = 0;  // characters taken, blanks before it included; 0: none
    double value = 0;        // 0 when it overflows
    bool overflow = false;
    bool exponent = false;
};
ValueNumber ReadValueNumber(std::string_view text);

// The own range of an integer type ("DEC dot", "int16", "uint16", "byte",
// "DWORD"), as its data hold it and read back; false for other types.
bool IntegerTypeRange(std::string_view type, std::int64_t& min, std::int64_t& max);

// Texts of the device's status codes, also used by the protocol export.
// A status is a first data byte 0xF0..0xFF. ReadingStatusText looks at the
// subcode in byte 3 where the code needs one; it returns an empty text when
// the first byte is no status or the subcode is missing (count below 4).
// isSetPoint selects the regulator texts of the set point ("Set.P").
std::string ReadingStatusText(const std::uint8_t* data, int count, bool isSetPoint);
// Empty for a code below 0xF0.
std::string StateStatusText(std::uint8_t code);
// The cause of the last restart, from byte 2 of the "exit" answer.
std::string RestartCauseText(std::uint8_t code);
