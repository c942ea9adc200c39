#pragma once

// What the configuration tree shows and what an edit in it does, without a
// widget: the GUI's view asks these functions and only shows the answers.

#include <array>
#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/row_sink.h"

class CSelvarDoc;
class DescBranch;
class Parameter;

namespace Elements {
class Connector;
class InvisibleElement;
}  // namespace Elements

namespace TreeView {

// --- colours ---

struct Rgb {
    std::uint8_t r = 0, g = 0, b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};
constexpr Rgb kWindowText{0, 0, 0};       // black: nothing to report
constexpr Rgb kErrorRed{213, 0, 0};       // an exchange error
constexpr Rgb kDiffersBlue{64, 64, 255};  // the device holds another value
constexpr Rgb kChangedGreen{0, 187, 0};   // waits to be written

// A 0x00BBGGRR value (RowColour) as red, green and blue.
Rgb FromColourRef(std::uint32_t bgr);
// The first matching rule: difference blue, error red, pending green, black.
Rgb ParameterColour(const Parameter& p);
// Red when one of the branch's own parameters has an exchange error, else
// blue when one has a difference mark, else the colour of the first child
// branch that has one of the two, else black.
Rgb BranchColour(const DescBranch& branch);
// The colours the error search stops at.
bool IsErrorColour(Rgb colour);

// --- columns ---

constexpr int kColumnCount = 9;
namespace Column {
constexpr int kLabel = 0;
constexpr int kValue = 1;  // the period of an operative row
constexpr int kName = 2;   // the value of an operative row
constexpr int kIndex = 3;
constexpr int kType = 4;
constexpr int kMinimum = 5;  // the error of an operative row
constexpr int kMaximum = 6;
constexpr int kFactory = 7;
constexpr int kErrors = 8;
}  // namespace Column

enum class Alignment { Left, Centre };
struct ColumnInfo {
    const char* header;
    int tenths;  // width in tenths of the usable width
    Alignment alignment;
};
const std::array<ColumnInfo, kColumnCount>& Columns();
// Widths for a view whose client area is clientWidth pixels wide: 15 pixels
// are kept for the scroll bar, a tenth of the rest is the unit.
std::array<int, kColumnCount> ColumnWidths(int clientWidth);

// --- images ---

namespace Image {
constexpr int kPlaceholder = 1;
constexpr int kComputer = 2;
constexpr int kFolderClosed = 5;
constexpr int kFolderOpen = 6;
constexpr int kOperative = 17;
constexpr int kRoot = 25;
constexpr int kPlain = 27;
constexpr int kNumeric = 28;
constexpr int kProtocol = 42;
constexpr int kOperativeHeader = 49;
}  // namespace Image
// A folder row's image after it was expanded or collapsed; others keep theirs.
int FolderImage(int image, bool expanded);

// --- fixed rows ---

using RowTexts = std::array<std::string, kColumnCount>;

constexpr const char* kComputerRow = "Параметры компьютера";
constexpr const char* kPlaceholderRow = "Параметры прибора";
constexpr const char* kPlaceholderNote = "(не определены)";  // column 2
// "Конфигурация " + display name + "(" + path + ")".
std::string RootRowText(const std::string& modificationName, const std::string& path);
RowTexts PlaceholderRowTexts();
RowTexts OperativeHeaderTexts();

// --- parameter rows ---

// What one parameter's row shows.
struct RowView {
    RowTexts texts;
    Rgb colour;
    int image = Image::kPlain;
    bool hasCheckBox = false;
    bool checked = false;
};
// The row of an operative parameter (one with a poll timer) shows its period,
// its value and its error in columns 1, 2 and 5; the protocol parameter its
// label, value and name; every other parameter the nine columns. With noPort
// no row has a check box.
RowView ParameterRowView(const Parameter& p, const ParameterRow& row, bool noPort);
RowView ParameterRowView(const Parameter& p, bool noPort);
// The protocol row: the switch's label, the log file's name, and a check box
// (none with noPort) ticked while recording is on.
RowView ProtocolRowView(CSelvarDoc& doc, bool noPort);
// "nPC" is inserted before its siblings, every other row after them.
bool PutFirst(const Parameter& p);
bool IsOperative(const Parameter& p);
// The protocol switch's parameter, named by four blanks.
bool IsProtocolParameter(const Parameter& p);

// The state text a connector's row shows in column 2 ("нет" for no data).
std::string ConnectorRowText(const Elements::Connector& connector, const DescBranch& branch);

// Whether expanding a branch reads this child parameter first: an ordinary
// parameter without data and without error, with the automatic reading on.
bool ReadsOnExpand(const Parameter& p, bool autoRead);

// --- a polled value arriving ---

struct PolledValue {
    std::string value;  // column 2
    std::string error;  // column 5
    Rgb colour;
    // "r.cn" and "r.oe.s": one character of the value per bit row, in order.
    bool hasBitRows = false;
    std::array<std::string, 8> bitRows;
    bool recorded = false;  // appended to the measurement protocol
};
// Records the value when recording is on, and says what the row shows now.
PolledValue OnPolledValue(CSelvarDoc& doc, const Parameter& p, std::time_t now);
// The bit rows of "r.cn" and "r.oe.s"; false for other parameters.
bool PolledBitTexts(const Parameter& p, std::array<std::string, 8>& texts);

// --- check boxes ---

// Ticking an operative row polls it, unticking stops it; the protocol row
// switches recording. False when nothing changed.
bool ToggleCheck(CSelvarDoc& doc, Parameter& p, bool checked);

// --- in-place editing ---

enum class Editor { None, EditBox, List };
// The editor of a cell: only a writable parameter in a row that is not
// disabled; column 1 of an ordinary row, columns 1 (period, always an edit
// box) and 2 of an operative one. Enumerations are chosen from a list.
Editor CellEditor(const Parameter& p, int column, bool rowDisabled);
// The labels of the list and the current one (-1 when the value is none).
struct ListChoice {
    std::vector<std::string> labels;
    int current = -1;
};
ListChoice ListChoices(const Parameter& p);

constexpr char32_t kBackspace = 0x08;
// Whether the edit box of a parameter of this type takes the character
// (a code point); backspace always.
bool AcceptsCharacter(std::string_view type, char32_t c);
// The text the edit box hands on: the value's normalisation for a value
// cell; the period only reads ',' as '.'.
std::string NormaliseCellText(const Parameter& p, int column, bool operative,
                              std::string_view typed);

// Texts of the boxes an edit may show.
constexpr const char* kWriteFailedCaption = "Значение не удалось записать в прибор";
constexpr const char* kNetworkRefused = "Заданные сетевые настройки не поддерживаются прибором!";
constexpr const char* kValueCaption = "Неудалось изменить значение";
constexpr const char* kRefusedCaption = "Не удалось изменить параметр";
constexpr const char* kResetQuestion =
    "Сбросить конфигурацию прибора?\n\n(Если у вас несколько приборов и вы сейчас\n"
    "переключаететсь с одного прибора на другой,\nследует сбросить конфигурацию)";

struct CellEdit {
    Parameter& parameter;
    int column = Column::kValue;
    std::string oldText;  // what the cell showed
    std::string newText;  // normalised
    bool operative = false;
    // The object of the row's parent: a network settings element may refuse.
    const Elements::InvisibleElement* owner = nullptr;
    // Writes an operative value at once; the device's write when not given.
    std::function<int(Parameter&)> writeNow;
};

struct CommitResult {
    bool committed = false;     // the text differed: the document is modified
    std::string cellText;       // what the cell shows now
    std::optional<Rgb> colour;  // the row's new colour, when it changes
    // The row's error text when it changes (column 5 of an operative row,
    // where the polling shows its errors too).
    std::optional<std::string> errorText;
    bool refreshAll = false;  // every row is to be shown again
};
// Runs the commit rules in order and reports what the view shows. Refusals
// put the old text back after their box; nothing of a refused text stays.
CommitResult CommitEdit(CSelvarDoc& doc, const CellEdit& edit);

// The packed scheme coordinates: the entered number in tenths, sign in bit
// 15, replaces the low half of `packed` for X and the high half for Y. False
// when the number does not fit 15 bits.
bool PackCoordinate(double entered, bool high, std::uint32_t& packed);

// --- setting no data (32866) ---

constexpr const char* kNothingSelected = "Параметр не выделен!";
// The parameter loses its value, error and change marks; without one the
// box says so. Either way the row goes back to the window-text colour.
bool SetNoData(Parameter* p);

// --- context menus ---

namespace MenuCommand {
constexpr int kReadBranch = 32831;
constexpr int kWriteBranch = 32833;
constexpr int kWriteChangedBranch = 32835;
constexpr int kCompareBranch = 32837;
constexpr int kReadParameter = 32863;
constexpr int kWriteParameter = 32864;
constexpr int kSetNoData = 32866;
constexpr int kSeparator = 0;
}  // namespace MenuCommand
// The view's command a menu item stands for (284, 285, 281, 282); 0 for
// 32866, which the view handles itself, and for unknown numbers.
int ViewCommand(int menuCommand);

struct MenuItem {
    int command = MenuCommand::kSeparator;
    std::string text;
};
struct ContextMenu {
    std::string name;
    std::vector<MenuItem> items;
};
// What the right-clicked row shows and where it lies.
struct MenuTarget {
    const DescBranch* branch = nullptr;
    const Parameter* parameter = nullptr;
    bool inConfigurationTree = false;
    bool inOperativePart = false;  // the operative tree or a row below it
};
// None without a document, with the no-port bit, or on rows without a menu.
std::optional<ContextMenu> ContextMenuFor(bool hasDocument, bool noPort, const MenuTarget& target);

// --- walking the rows ---

// The control's rows as the searches see them; a row is a RowHandle, null
// for none. The GUI's control implements it over its own items.
class RowTree {
  public:
    virtual ~RowTree() = default;
    virtual RowHandle Parent(RowHandle row) const = 0;
    virtual RowHandle FirstChild(RowHandle row) const = 0;
    virtual RowHandle LastChild(RowHandle row) const = 0;
    virtual RowHandle NextSibling(RowHandle row) const = 0;
    virtual RowHandle PreviousSibling(RowHandle row) const = 0;
    virtual std::string Text(RowHandle row) const = 0;  // column 0
    virtual const void* Object(RowHandle row) const = 0;
    virtual Rgb Colour(RowHandle row) const = 0;
    // A row that would show children once expanded counts as having them.
    virtual bool HasChildren(RowHandle row) const { return FirstChild(row) != nullptr; }
    // Puts the row's children in when they are not there yet.
    virtual void Expand(RowHandle row) { (void)row; }
};

constexpr const char* kNoMoreErrors = "Больше нет параметров с ошибками!";
constexpr const char* kNoMoreErrorsCaption = "Сообщение";
// The previous or next erroneous row without children, from `selected`,
// never leaving the configuration tree's row once inside it; null, after the
// box, when there is none.
RowHandle FindErrorRow(RowTree& tree, RowHandle selected, RowHandle configurationRow, bool forward);

// The first row of start's subtree, depth-first, whose column-0 text equals
// name regardless of case and leading blanks and, when object is given,
// that shows object; null when none.
RowHandle FindRow(const RowTree& tree, RowHandle start, std::string_view name,
                  const void* object = nullptr);

}  // namespace TreeView
