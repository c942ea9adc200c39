#pragma once

#include <string>
#include <string_view>
#include <vector>

class DescBranch;
class DeviceIO;
class Parameter;
class ParameterTable;

// Direct access to one device parameter by name: "Произвольный доступ к
// отдельным параметрам (Single Point)". A name the description lacks is
// exchanged all the same, with its index in the request's data or in its
// address. Everything here is decided without a widget; the dialog only
// shows the answers, edits the fields and asks.
namespace SinglePoint {

constexpr const char* kInitialCommand = "vEr";
constexpr const char* kNoType = "<тип неопределен>";
constexpr const char* kIndexInData = "Индекс передается в посылке запроса";
constexpr const char* kIndexInAddress = "Индекс передается в поле адреса запроса";
constexpr const char* kAddressWarning = "Предупреждение: адрес увеличен более чем на 7!";
constexpr const char* kNotFound =
    "Данный параметр не найден!\nВозможно, ошибка в индексе параметра.";
constexpr const char* kNotFoundCaption = "Сообщение";
// The address form leaves the device's own block of eight addresses here.
constexpr int kFirstForeignOffset = 8;
// Indexes travel as 16 bits.
constexpr int kMaxIndex = 0xFFFF;

// The names of the command list: each name once (case ignored, the first
// spelling kept), in table order, without the parameters made of other
// parameters (binding kinds 1, 2, 5 and 6), which cannot be exchanged alone.
std::vector<std::string> CommandNames(const ParameterTable& table);

// What the dialog shows for a typed name.
struct CommandView {
    std::string hash;         // "0x%X"
    std::string description;  // description + " (" + type + ")"
    // The labels of an enumeration, '_' shown as ' ', each in double
    // quotes; hidden labels (mark "h") left out. Empty for other types.
    std::vector<std::string> values;
};
CommandView DescribeCommand(const ParameterTable& table, std::string_view name);

// An index field as a number: its leading digits, 0 without any, at most kMaxIndex.
int IndexNumber(std::string_view text);
// The upper index after the lower one was edited: raised to the lower when below it.
std::string UpperIndexAfter(std::string_view lower, std::string_view upper);

enum class Operation { Read, Write };
enum class IndexPlacement { Data, Address };

// The dialog's fields as the user left them.
struct Request {
    std::string command = kInitialCommand;
    Operation operation = Operation::Read;
    std::string valueText;
    bool linearIndex = false;
    std::string indexFrom = "0";
    std::string indexTo = "0";
    IndexPlacement placement = IndexPlacement::Data;
};

// Reads or writes the named parameter once, or once per index of the range,
// and returns the log of it: the placement of the index, the name with its
// description, a rounding of the value, the exchange's own lines and the
// outcome. Failures are log lines too; nothing is asked.
std::vector<std::string> Execute(DeviceIO& io, const ParameterTable& table, const Request& request);

// Where the named parameter shows in the trees: the configuration tree
// first, then the operative one; with the linear index on only the lower
// index matches. A null parameter when neither has it.
struct Location {
    Parameter* parameter = nullptr;
    const DescBranch* branch = nullptr;
};
Location Find(const DescBranch* configuration, const DescBranch* operative, const Request& request);

}  // namespace SinglePoint
