#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "model/my_converter.h"
#include "model/parameter_device.h"

// The fixed record of one parameter carried by the dBase export and import.
constexpr std::size_t kSavedRecordSize = 252;
using SavedRecord = std::array<std::uint8_t, kSavedRecordSize>;

// Colours of a parameter's row, as 0x00BBGGRR values.
namespace RowColour {
constexpr std::uint32_t kNormal = 0x000000;
constexpr std::uint32_t kChanged = 0x00BB00;        // green: waits to be written
constexpr std::uint32_t kDeviceDiffers = 0xFF4040;  // blue: compare found another value
constexpr std::uint32_t kError = 0x0000D5;          // red
}  // namespace RowColour

// Pictures of the tree's image list used for parameter rows.
namespace RowImage {
constexpr int kOperative = 17;
constexpr int kPlain = 27;
constexpr int kNumeric = 28;
}  // namespace RowImage

// What the tree view shows for one parameter.
struct ParameterRow {
    std::uint32_t colour = RowColour::kNormal;
    int image = RowImage::kPlain;
    std::string name;
    std::string index;
    std::string type;
    std::string lower;
    std::string upper;
    std::string value;
    std::string factory;
    std::string error;
    std::string pollPeriod;  // operative parameters only
    bool hasCheckBox = false;
    bool checked = false;
    bool putFirst = false;  // shown before its siblings ("nPC")
};

// One device parameter: a converter (name, value, type, range) plus the
// bookkeeping of the configuration.
class Parameter : public MyConverter {
  public:
    static constexpr const char* kNoDescription = "<неизвестный параметр>";
    // Error text of a write skipped because the parameter was not initialised;
    // it is a remark, not a failure.
    static constexpr const char* kNotInitialised =
        "Значение не записано, так как параметер не инициализирован";
    // Prefix of the remark a comparison leaves when the device holds another value.
    static constexpr const char* kDeviceValuePrefix = "Знач-е в приборе:";
    // The service parameter that names the current protocol file.
    static constexpr const char* kServiceName = "    ";

    Parameter() { value = kNoData; }
    Parameter(const Parameter&) = delete;
    Parameter& operator=(const Parameter&) = delete;
    ~Parameter() override;

    void Serialize(Archive& ar) override;
    // Parses and checks a user's text; on success it becomes the value and
    // the parameter is marked changed. A rounding shows a warning box.
    virtual bool SetValueFromText(const std::string& text);
    // The text the tree's edit box hands on when it closes: every ',' read
    // as '.'; without a ':' a plain number of seconds becomes "mm:ss" for
    // "CLK frm" and "hh:mm:ss" for "time"; for "bin" every character other
    // than '1' becomes '0'. Enumerations, chosen from a list, stay as given.
    std::string NormaliseEditedText(std::string_view text) const;
    // A value as the tree's editor takes it, and the tool's write: the
    // normalised text, a real number with nothing after it, then
    // SetValueFromText; a text the type's encoder refuses is refused too,
    // its reason (a network name's, say) in *reason. False changes nothing.
    bool EnterText(std::string_view typed, std::string* reason = nullptr);

    const std::string& DisplayDescription() const {
        return treeLabel.empty() ? description : treeLabel;
    }
    void SetDescription(std::string text) { description = std::move(text); }
    std::uint16_t Hash() const;
    // Saved values are keyed by (linearIndex << 16) | hash.
    std::uint32_t Key() const;
    std::string TypeDescription() const;
    std::string TypeCaption() const;
    bool IsEmptyValue() const { return value.empty() || value == kNoData; }
    bool HasPendingUpdate() const { return needUpdate || needUpdateAccess || needUpdateOwner; }
    bool CanWrite() const { return writable && treeWritable; }
    void Reset();

    void ToRecord(std::vector<SavedRecord>& records) const;
    void FromRecord(const SavedRecord& record);

    // 1 when already polling (or there is no timer), else 0.
    int StartPollTimer();
    // 1 when there is no timer or it is not running, else 0.
    int StopPollTimer();

    ParameterRow RowTexts(bool withIndexes) const;
    // The bounds as the tree shows them; both empty when the parameter has
    // no range and is not an enumeration.
    std::pair<std::string, std::string> RangeTexts() const;
    // The message that reports a text SetValueFromText refused.
    std::string RefusalMessage(const std::string& text) const;

    bool hasLinearIndex = false;
    std::string description = kNoDescription;
    std::string treeLabel;
    bool needUpdate = false;
    bool needUpdateAccess = false;
    bool needUpdateOwner = false;
    std::string error;
    bool writable = true;
    bool treeWritable = true;
    std::uint8_t accessAttribute = 1;
    std::uint8_t ownerAttribute = 0;
    int attributeKind = 0;
    int deviceAddress = 0;
    int linearIndex = 0;
    std::vector<Parameter*> linked;  // not owned
    int privacy = 0;
    bool tableFlag = false;
    int bindingKind = 0;
    int pollPeriod = 1000;
    bool polling = false;
    std::unique_ptr<PollTimer> pollTimer;
    void* treeItem = nullptr;
    std::string defaultValue;
    bool forceWrite = false;
    bool autoReadPending = false;
    std::vector<std::string> labelMarks;
    // Stamp of the bulk operation that last exchanged this parameter.
    std::array<std::uint8_t, 16> operationStamp{};
};
