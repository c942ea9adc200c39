#include "document/tree_view_rules.h"

#include <algorithm>
#include <cmath>

#include "description/desc_branch.h"
#include "device/exchange_operations.h"
#include "device/polling.h"
#include "document/selvar_doc.h"
#include "elements/connector.h"
#include "elements/net_rs485.h"
#include "platform/text.h"
#include "platform/ui_services.h"

namespace TreeView {

namespace {

bool HasRemark(const Parameter& p) {
    return !p.error.empty() && p.error != Parameter::kNotInitialised;
}

bool IsDifference(const Parameter& p) {
    return p.error.rfind(Parameter::kDeviceValuePrefix, 0) == 0;
}

// The types the edit box serves; any other type text is a list of labels.
constexpr const char* kEditBoxTypes[] = {
    "string", "ASCI",     "float",      "DEC dot", "byte",
    "bin",    "int16",    "uint16",     "DWORD",   "CLK frm",
    "time",   "datetime", "STORED DOT", "name",    MyConverter::kUnknownType};

bool IsListType(const Parameter& p) {
    for (const char* type : kEditBoxTypes)
        if (EqualsNoCase(p.type, type)) return false;
    // A list without labels could not be chosen from.
    return !p.Labels().empty();
}

// The UTF-8 characters of a text, each as its own text.
std::vector<std::string> Characters(std::string_view text) {
    std::vector<std::string> chars;
    for (std::size_t i = 0; i < text.size();) {
        auto lead = static_cast<unsigned char>(text[i]);
        std::size_t n = lead < 0x80    ? 1
                        : lead >= 0xF0 ? 4
                        : lead >= 0xE0 ? 3
                        : lead >= 0xC0 ? 2
                                       : 1;
        n = std::min(n, text.size() - i);
        chars.emplace_back(text.substr(i, n));
        i += n;
    }
    return chars;
}

bool IsLetterOrDigit(char32_t c) {
    if (c < 0x80) return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    // Cyrillic letters; the block's few signs are not letters.
    return (c >= 0x0400 && c <= 0x0481) || (c >= 0x048A && c <= 0x04FF);
}

RowHandle Sibling(const RowTree& tree, RowHandle row, bool forward) {
    return forward ? tree.NextSibling(row) : tree.PreviousSibling(row);
}

// Along the sibling chain from `row`: the first erroneous row without
// children, entering erroneous rows that have some. The chain never goes on
// past `last`.
RowHandle SearchChain(RowTree& tree, RowHandle row, RowHandle last, bool forward) {
    for (RowHandle r = row; r; r = r == last ? nullptr : Sibling(tree, r, forward)) {
        if (!IsErrorColour(tree.Colour(r))) continue;
        if (!tree.HasChildren(r)) return r;
        tree.Expand(r);
        RowHandle inner = forward ? tree.FirstChild(r) : tree.LastChild(r);
        if (RowHandle found = SearchChain(tree, inner, nullptr, forward)) return found;
    }
    return nullptr;
}

std::string_view SkipLeadingBlanks(std::string_view text) {
    std::size_t start = text.find_first_not_of(' ');
    return start == std::string_view::npos ? std::string_view() : text.substr(start);
}

RowHandle FindBelow(const RowTree& tree, RowHandle row, const std::string& wanted,
                    const void* object) {
    if (ToLowerUtf8(SkipLeadingBlanks(tree.Text(row))) == wanted &&
        (!object || tree.Object(row) == object))
        return row;
    for (RowHandle child = tree.FirstChild(row); child; child = tree.NextSibling(child))
        if (RowHandle found = FindBelow(tree, child, wanted, object)) return found;
    return nullptr;
}

bool IsCoordinate(const Parameter& p) {
    if (p.name.empty() || p.linked.empty() || !p.linked.front()) return false;
    char first = p.name.front();
    return first == 'X' || first == 'x' || first == 'Y' || first == 'y';
}

// Puts the accepted coordinate into its packed partner; false when the value
// is no number or too large for the partner's 15 bits.
bool PackIntoPartner(const Parameter& p) {
    double x = 0;
    std::string_view value = p.value;
    std::size_t used = ParseLeadingReal(value, x);
    if (used == 0 || !TrimRight(value.substr(used)).empty()) return false;
    Parameter& partner = *p.linked.front();
    std::int64_t old = 0;
    if (ParseLeadingInt(partner.value, old) == 0 || old < 0) old = 0;
    auto packed = static_cast<std::uint32_t>(old);
    char first = p.name.front();
    if (!PackCoordinate(x, first == 'Y' || first == 'y', packed)) return false;
    partner.value = Format("%u", packed);
    return true;
}

struct SavedState {
    std::string value;
    bool needUpdate;
    explicit SavedState(const Parameter& p) : value(p.value), needUpdate(p.needUpdate) {}
    void Restore(Parameter& p) const {
        p.value = value;
        p.needUpdate = needUpdate;
    }
};

// Gives the text to the parameter; a refusal is reported and changes nothing.
bool Accept(Parameter& p, const std::string& text) {
    SavedState before(p);
    std::string reason;
    bool accepted = p.EnterText(text, &reason);
    if (accepted && IsCoordinate(p) && !PackIntoPartner(p)) {
        before.Restore(p);
        accepted = false;
    }
    if (!accepted) {
        std::string message = p.RefusalMessage(text);
        if (!reason.empty()) message += "\n" + reason;
        ShowMessage(message, kRefusedCaption, MessageIcon::Error);
    }
    return accepted;
}

bool InList(const ObjectWithParameters& owner, const Parameter& p) {
    return std::find(owner.parameters.begin(), owner.parameters.end(), &p) !=
           owner.parameters.end();
}

CommitResult CommitOperativeValue(CSelvarDoc& doc, const CellEdit& edit, CommitResult r) {
    Parameter& p = edit.parameter;
    if (!Accept(p, edit.newText)) return r;
    p.error.clear();
    doc.device().RenewOperationStamp();
    int result = edit.writeNow ? edit.writeNow(p) : doc.device().WriteParameter(p, 1);
    r.cellText = p.value;
    r.errorText = p.error;
    if (result == 0) {
        r.colour = ParameterColour(p);
        return r;
    }
    r.colour = kErrorRed;
    ShowMessage(p.error.empty() ? kWriteFailedCaption : p.error, kWriteFailedCaption,
                MessageIcon::Error);
    return r;
}

// The element's own refusals of a network setting; true when one was shown.
bool RefusedByElement(const Elements::InvisibleElement& element, const Parameter& p,
                      const std::string& text) {
    if (!Elements::CheckCombination(element, p.name, text)) {
        ShowMessage(kNetworkRefused, kValueCaption, MessageIcon::Information);
        return true;
    }
    std::string why;
    if ((EqualsNoCase(p.name, "A.Len") || EqualsNoCase(p.name, "Addr")) &&
        !Elements::CheckAddress(element, p.name, text, why)) {
        ShowMessage(why, kValueCaption, MessageIcon::Error);
        return true;
    }
    return false;
}

CommitResult CommitProgramSetting(CSelvarDoc& doc, const CellEdit& edit, const SavedState& before,
                                  CommitResult r) {
    Parameter& p = edit.parameter;
    r.refreshAll = true;
    if (doc.ConfigurationSetUp()) {
        // Another device on the line may need a configuration of its own.
        MessageResult answer = MessageResult::Cancel;
        if (!RefuseWhilePolling(doc.OperativeTree()))
            answer =
                ShowMessage(kResetQuestion, "", MessageIcon::Question, MessageButtons::YesNoCancel);
        if (answer == MessageResult::Cancel) {
            before.Restore(p);
            r.cellText = edit.oldText;
            return r;
        }
        if (answer == MessageResult::Yes) doc.NewDocument();
    }
    Elements::NetRS485prg& settings = doc.device().ProgramSettings();
    settings.Store();
    doc.device().reopen_port();
    r.cellText = p.value;
    return r;
}

}  // namespace

// --- colours ---

Rgb FromColourRef(std::uint32_t bgr) {
    return {static_cast<std::uint8_t>(bgr & 0xFF), static_cast<std::uint8_t>((bgr >> 8) & 0xFF),
            static_cast<std::uint8_t>((bgr >> 16) & 0xFF)};
}

Rgb ParameterColour(const Parameter& p) {
    if (HasRemark(p)) return IsDifference(p) ? kDiffersBlue : kErrorRed;
    if (p.HasPendingUpdate()) return kChangedGreen;
    return kWindowText;
}

Rgb BranchColour(const DescBranch& branch) {
    bool differs = false;
    for (const Parameter* p : branch.parameters) {
        if (!HasRemark(*p)) continue;
        if (!IsDifference(*p)) return kErrorRed;
        differs = true;
    }
    if (differs) return kDiffersBlue;
    for (const auto& child : branch.branches) {
        Rgb colour = BranchColour(*child);
        if (IsErrorColour(colour)) return colour;
    }
    return kWindowText;
}

bool IsErrorColour(Rgb colour) {
    return colour == kErrorRed || colour == kDiffersBlue;
}

// --- columns ---

const std::array<ColumnInfo, kColumnCount>& Columns() {
    static const std::array<ColumnInfo, kColumnCount> columns{{
        {"Название", 20, Alignment::Left},
        {"Значение", 10, Alignment::Centre},
        {"Имя Лудра", 8, Alignment::Centre},
        {"Индекс Лудра", 7, Alignment::Centre},
        {"Тип", 5, Alignment::Centre},
        {"Минимум", 10, Alignment::Centre},
        {"Максимум", 10, Alignment::Centre},
        {"Заводское значение", 10, Alignment::Centre},
        {"Ошибки обмена и несоответствия", 20, Alignment::Left},
    }};
    return columns;
}

std::array<int, kColumnCount> ColumnWidths(int clientWidth) {
    const int unit = std::max(0, clientWidth - 15) / 10;
    std::array<int, kColumnCount> widths{};
    for (int i = 0; i < kColumnCount; ++i)
        widths[static_cast<std::size_t>(i)] =
            Columns()[static_cast<std::size_t>(i)].tenths * unit / 10;
    return widths;
}

int FolderImage(int image, bool expanded) {
    if (expanded && image == Image::kFolderClosed) return Image::kFolderOpen;
    if (!expanded && image == Image::kFolderOpen) return Image::kFolderClosed;
    return image;
}

// --- fixed rows ---

std::string RootRowText(const std::string& modificationName, const std::string& path) {
    return "Конфигурация " + modificationName + "(" + path + ")";
}

RowTexts PlaceholderRowTexts() {
    RowTexts texts;
    texts[Column::kLabel] = kPlaceholderRow;
    texts[Column::kName] = kPlaceholderNote;
    return texts;
}

RowTexts OperativeHeaderTexts() {
    RowTexts texts;
    texts[Column::kLabel] = "     Имя параметра";
    texts[Column::kValue] = "Период, мс";
    texts[Column::kName] = "Значение";
    texts[Column::kMinimum] = "Ошибки ввода-вывода";
    return texts;
}

// --- parameter rows ---

bool PutFirst(const Parameter& p) {
    return p.name == "nPC";
}

bool IsOperative(const Parameter& p) {
    return p.pollTimer != nullptr;
}

bool IsProtocolParameter(const Parameter& p) {
    return p.name == Parameter::kServiceName;
}

RowView ParameterRowView(const Parameter& p, const ParameterRow& row, bool noPort) {
    RowView view;
    view.colour = FromColourRef(row.colour);
    view.image = row.image;
    RowTexts& t = view.texts;
    t[Column::kLabel] = p.DisplayDescription();
    if (IsProtocolParameter(p)) {
        view.image = Image::kProtocol;
        t[Column::kValue] = p.value;
        t[Column::kName] = p.name;
        return view;
    }
    if (IsOperative(p)) {
        t[Column::kValue] = row.pollPeriod;
        t[Column::kName] = row.value;
        t[Column::kMinimum] = row.error;
        view.hasCheckBox = !noPort && row.hasCheckBox;
        view.checked = view.hasCheckBox && row.checked;
        return view;
    }
    t[Column::kValue] = row.value;
    t[Column::kName] = row.name;
    t[Column::kIndex] = row.index;
    t[Column::kType] = row.type;
    t[Column::kMinimum] = row.lower;
    t[Column::kMaximum] = row.upper;
    t[Column::kFactory] = row.factory;
    t[Column::kErrors] = row.error;
    return view;
}

RowView ParameterRowView(const Parameter& p, bool noPort) {
    return ParameterRowView(p, p.RowTexts(false), noPort);
}

RowView ProtocolRowView(CSelvarDoc& doc, bool noPort) {
    RowView view = ParameterRowView(doc.ProtocolParameter(), noPort);
    view.hasCheckBox = !noPort;
    view.checked = !noPort && doc.recordProtocol;
    return view;
}

std::string ConnectorRowText(const Elements::Connector& connector, const DescBranch& branch) {
    std::string state = connector.ConnectorState(branch);
    return state == Parameter::kNoData ? "нет" : state;
}

bool ReadsOnExpand(const Parameter& p, bool autoRead) {
    return autoRead && !IsOperative(p) && !IsProtocolParameter(p) &&
           p.value == Parameter::kNoData && p.error.empty();
}

// --- a polled value arriving ---

bool PolledBitTexts(const Parameter& p, std::array<std::string, 8>& texts) {
    if (p.name != "r.cn" && p.name != "r.oe.s") return false;
    std::vector<std::string> chars = Characters(p.value);
    for (std::size_t k = 0; k < texts.size(); ++k)
        texts[k] = k < chars.size() ? chars[k] : std::string();
    return true;
}

PolledValue OnPolledValue(CSelvarDoc& doc, const Parameter& p, std::time_t now) {
    PolledValue shown;
    shown.recorded = doc.RecordPolledValue(p, now);
    shown.value = p.value;
    shown.error = p.error;
    shown.colour = ParameterColour(p);
    shown.hasBitRows = PolledBitTexts(p, shown.bitRows);
    return shown;
}

// --- check boxes ---

bool ToggleCheck(CSelvarDoc& doc, Parameter& p, bool checked) {
    if (IsProtocolParameter(p)) {
        if (doc.recordProtocol == checked) return false;
        doc.recordProtocol = checked;
        return true;
    }
    if (!IsOperative(p)) return false;
    return (checked ? StartParameterPolling(p) : StopParameterPolling(p)) == 0;
}

// --- in-place editing ---

Editor CellEditor(const Parameter& p, int column, bool rowDisabled) {
    if (rowDisabled || !p.CanWrite()) return Editor::None;
    const Editor forValue = IsListType(p) ? Editor::List : Editor::EditBox;
    if (IsOperative(p)) {
        if (column == Column::kValue) return Editor::EditBox;
        return column == Column::kName ? forValue : Editor::None;
    }
    return column == Column::kValue ? forValue : Editor::None;
}

ListChoice ListChoices(const Parameter& p) {
    ListChoice choice;
    choice.labels = p.Labels();
    for (std::size_t i = 0; i < choice.labels.size(); ++i) {
        if (EqualsNoCase(choice.labels[i], p.value)) {
            choice.current = static_cast<int>(i);
            break;
        }
    }
    return choice;
}

bool AcceptsCharacter(std::string_view type, char32_t c) {
    if (c == kBackspace) return true;
    auto among = [c](std::u32string_view allowed) {
        return allowed.find(c) != std::u32string_view::npos;
    };
    if (EqualsNoCase(type, "dec dot")) return among(U"1234567890-");
    if (EqualsNoCase(type, "stored dot") || EqualsNoCase(type, "float"))
        return among(U"1234567890-.");
    if (EqualsNoCase(type, "bin")) return among(U"10");
    if (EqualsNoCase(type, "byte")) return among(U"1234567890");
    if (EqualsNoCase(type, "clk frm") || EqualsNoCase(type, "time")) return among(U"1234567890:");
    if (EqualsNoCase(type, "name") || EqualsNoCase(type, "ASCI") || EqualsNoCase(type, "string"))
        return IsLetterOrDigit(c) || among(U" -./_");
    return true;
}

std::string NormaliseCellText(const Parameter& p, int column, bool operative,
                              std::string_view typed) {
    // A period is milliseconds whatever the value's type.
    if (operative && column == Column::kValue) return ReplaceAll(typed, ",", ".");
    return p.NormaliseEditedText(typed);
}

bool PackCoordinate(double entered, bool high, std::uint32_t& packed) {
    const double tenths = std::floor(entered * 10 + 0.5);
    const double magnitude = std::fabs(tenths);
    if (!(magnitude <= 0x7FFF)) return false;
    std::uint32_t code = static_cast<std::uint32_t>(magnitude);
    if (tenths < 0) code |= 0x8000;
    packed = high ? (packed & 0x0000FFFFu) | (code << 16) : (packed & 0xFFFF0000u) | code;
    return true;
}

CommitResult CommitEdit(CSelvarDoc& doc, const CellEdit& edit) {
    CommitResult r;
    r.cellText = edit.oldText;
    if (edit.newText == edit.oldText) return r;
    const bool period = edit.operative && edit.column == Column::kValue;
    const bool operativeValue = edit.operative && edit.column == Column::kName;
    const bool value = !edit.operative && edit.column == Column::kValue;
    if (!period && !operativeValue && !value) return r;

    doc.SetModifiedFlag(true);
    r.committed = true;
    Parameter& p = edit.parameter;
    if (period) {
        if (ChangePollPeriod(p, edit.newText)) r.cellText = std::to_string(p.pollPeriod);
        return r;
    }
    if (operativeValue) return CommitOperativeValue(doc, edit, r);

    Elements::NetRS485prg& programSettings = doc.device().ProgramSettings();
    const bool programSetting = InList(programSettings, p);
    const Elements::InvisibleElement* owner = edit.owner;
    if (!owner && programSetting) owner = &programSettings;
    if (dynamic_cast<const Elements::NetRS485*>(owner) && RefusedByElement(*owner, p, edit.newText))
        return r;

    const SavedState before(p);
    if (!Accept(p, edit.newText)) return r;
    r.cellText = p.value;
    if (programSetting) return CommitProgramSetting(doc, edit, before, r);

    // The protocol file's name is the program's own, never the device's.
    if (!IsProtocolParameter(p)) InstantWrite(doc.device(), p);
    r.colour = kChangedGreen;
    return r;
}

// --- setting no data ---

bool SetNoData(Parameter* p) {
    if (!p) {
        ShowMessage(kNothingSelected, "", MessageIcon::Exclamation);
        return false;
    }
    p->value = Parameter::kNoData;
    p->error.clear();
    p->needUpdate = p->needUpdateAccess = p->needUpdateOwner = false;
    return true;
}

// --- context menus ---

int ViewCommand(int menuCommand) {
    switch (menuCommand) {
        case MenuCommand::kReadBranch:
        case MenuCommand::kReadParameter:
            return CommandId::kReadBranch;
        case MenuCommand::kWriteBranch:
        case MenuCommand::kWriteParameter:
            return CommandId::kWriteBranch;
        case MenuCommand::kWriteChangedBranch:
            return CommandId::kWriteChangedBranch;
        case MenuCommand::kCompareBranch:
            return CommandId::kCompareBranch;
        default:
            return 0;
    }
}

std::optional<ContextMenu> ContextMenuFor(bool hasDocument, bool noPort, const MenuTarget& target) {
    if (!hasDocument || noPort) return std::nullopt;
    if (target.branch && !target.inOperativePart) {
        ContextMenu menu{"<Tree>",
                         {{MenuCommand::kReadBranch, "Прочитать все параметры выделенной ветви"},
                          {MenuCommand::kWriteBranch, "Записать все параметры выделенной ветви"},
                          {MenuCommand::kWriteChangedBranch,
                           "Записать только измененные параметры выделенной ветви"},
                          {MenuCommand::kCompareBranch,
                           "Сравнить значения с реальными в пределах выделеной ветви"}}};
        // Curve points are packed in pairs: a branch of them is not written alone.
        if (target.branch->elementName.find("Точка") != std::string::npos)
            menu.items.erase(menu.items.begin() + 1, menu.items.begin() + 3);
        return menu;
    }
    if (target.parameter && target.inConfigurationTree) {
        ContextMenu menu{"<Tree1>", {{MenuCommand::kReadParameter, "Прочитать параметр"}}};
        if (target.parameter->CanWrite())
            menu.items.push_back({MenuCommand::kWriteParameter, "Записать параметр"});
        menu.items.push_back({MenuCommand::kSeparator, ""});
        menu.items.push_back({MenuCommand::kSetNoData, "Установить значение в \"Нет данных\""});
        return menu;
    }
    return std::nullopt;
}

// --- walking the rows ---

RowHandle FindErrorRow(RowTree& tree, RowHandle selected, RowHandle configurationRow,
                       bool forward) {
    RowHandle level = selected ? selected : configurationRow;
    RowHandle start = nullptr;
    if (!selected || selected == configurationRow) {
        // The configuration row is searched itself, never past.
        start = forward || !selected ? configurationRow : nullptr;
    } else if (!tree.HasChildren(selected)) {
        start = Sibling(tree, selected, forward);
    } else {
        start = forward ? selected : tree.PreviousSibling(selected);
    }
    while (level) {
        if (start) {
            if (RowHandle found = SearchChain(tree, start, configurationRow, forward)) return found;
        }
        if (level == configurationRow) break;
        RowHandle parent = tree.Parent(level);
        if (!parent || parent == configurationRow) break;
        level = parent;
        start = Sibling(tree, parent, forward);
    }
    ShowMessage(kNoMoreErrors, kNoMoreErrorsCaption, MessageIcon::Information);
    return nullptr;
}

RowHandle FindRow(const RowTree& tree, RowHandle start, std::string_view name, const void* object) {
    if (!start) return nullptr;
    return FindBelow(tree, start, ToLowerUtf8(SkipLeadingBlanks(name)), object);
}

}  // namespace TreeView
