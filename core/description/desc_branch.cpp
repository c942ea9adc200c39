#include "description/desc_branch.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "description/parameter_table.h"
#include "description/record_layout.h"
#include "platform/archive.h"
#include "platform/codepage.h"
#include "platform/text.h"

namespace {

constexpr std::uint32_t kBlack = 0;

std::int32_t I32(const std::uint8_t* r, std::size_t offset) {
    return RecordInt32(r, offset);
}
float F32(const std::uint8_t* r, std::size_t offset) {
    return RecordFloat(r, offset);
}
std::string Text(const std::uint8_t* r, std::size_t offset, std::size_t size) {
    return RecordText(r, offset, size);
}

// Curve points that bound partners of kinds 1 and 2 default to, by the
// partner's index: X, Y of "grtp", Y of "Grtr".
struct CurvePoint {
    int x, yGrtp, yGrtr;
};
constexpr CurvePoint kCurvePoints[] = {{-50, 50, 50}, {-25, 35, 35}, {-5, 25, 25}, {8, 22, 22},
                                       {20, 20, 20},  {30, 17, -17}, {50, 14, 14}};

// A tenth-resolution coordinate: magnitude × 10 with bit 15 as sign.
std::uint32_t PointCode(int v) {
    return v >= 0 ? static_cast<std::uint32_t>(v * 10)
                  : (static_cast<std::uint32_t>(-v * 10) | 0x8000u);
}

void Link(Parameter& p, Parameter* partner) {
    // A parameter shown in several branches is bound once.
    if (partner && std::find(p.linked.begin(), p.linked.end(), partner) == p.linked.end())
        p.linked.push_back(partner);
}

void SetCurveDefaults(Parameter& p, Parameter& partner, bool grtr) {
    if (partner.linearIndex < 0 || partner.linearIndex >= 7) return;
    const CurvePoint& pt = kCurvePoints[partner.linearIndex];
    int y = grtr ? pt.yGrtr : pt.yGrtp;
    partner.defaultValue = Format("%u", (PointCode(y) << 16) | PointCode(pt.x));
    if (EqualsNoCase(p.name, "X")) p.defaultValue = Format("%d", pt.x);
    if (EqualsNoCase(p.name, "Y")) p.defaultValue = Format("%d", y);
}

void ApplyBinding(ParameterTable& table, Parameter& p) {
    auto same = [&](const char* name) { return table.Find(name, p.linearIndex); };
    switch (p.bindingKind) {
        case 1:
        case 2: {
            bool grtr = p.bindingKind == 2;
            if (grtr) std::replace(p.name.begin(), p.name.end(), '_', ' ');
            Parameter* partner = same(grtr ? "Grtr" : "grtp");
            if (!partner) break;
            Link(p, partner);
            SetCurveDefaults(p, *partner, grtr);
            break;
        }
        case 3:
            p.hasLinearIndex = true;
            break;
        case 4:
            p.hasLinearIndex = false;
            break;
        case 5:
            for (const char* n : {"in.sl", "in.sh", "read"})
                Link(p, same(n));
            std::erase(p.name, '_');
            break;
        case 6:
            std::replace(p.name.begin(), p.name.end(), '_', ' ');
            Link(p, table.Find("rtC"));
            Link(p, table.Find("s.w"));
            break;
        case 8:
            Link(p, same("Abor"));
            std::replace(p.name.begin(), p.name.end(), '_', ' ');
            break;
        case 9:
            p.hasLinearIndex = true;
            std::erase(p.name, '_');
            break;
        default:
            break;
    }
}

struct RecordReader {
    ParameterTable& table;
    std::span<const std::uint8_t> records;
    const std::string& treeName;
    std::size_t Count() const { return records.size() / TreeRecord::kSize; }
    const std::uint8_t* At(std::size_t i) const { return records.data() + i * TreeRecord::kSize; }
};

void ReadBranch(DescBranch& branch, RecordReader& in, std::size_t& cursor, int depth);

void ReadChild(DescBranch& branch, RecordReader& in, std::size_t& cursor, int depth) {
    const std::uint8_t* r = in.At(cursor);
    switch (r[TreeRecord::kKind]) {
        case TreeRecord::kBranch: {
            auto child = std::make_unique<DescBranch>();
            child->elementName = "<?}";
            ReadBranch(*child, in, cursor, depth + 1);
            branch.branches.push_back(std::move(child));
            break;
        }
        case TreeRecord::kConnector:
            ++cursor;
            branch.connectors.push_back(std::make_unique<Elements::Connector>(
                Text(r, TreeRecord::kSourceText, TreeRecord::kSourceTextSize), branch.elementName,
                Text(r, TreeRecord::kStateText, TreeRecord::kStateTextSize),
                Text(r, TreeRecord::kSelector, TreeRecord::kSelectorSize),
                I32(r, TreeRecord::kFirst), I32(r, TreeRecord::kLast)));
            break;
        default: {
            ++cursor;
            std::int32_t index = I32(r, TreeRecord::kTableIndex);
            Parameter* p = index >= 0 ? in.table.At(static_cast<std::size_t>(index)) : nullptr;
            if (!p || p->name == "offs") break;
            p->treeLabel = Text(r, TreeRecord::kLabel, TreeRecord::kLabelSize);
            if (in.treeName != "hidden") p->treeWritable = r[TreeRecord::kReadOnly] == 0;
            float lower = F32(r, TreeRecord::kLower);
            float upper = F32(r, TreeRecord::kUpper);
            if ((lower != 0 || upper != 0) && std::isfinite(lower) && std::isfinite(upper)) {
                p->minValue = lower;
                p->maxValue = upper;
            }
            branch.parameters.push_back(p);
            ApplyBinding(in.table, *p);
            break;
        }
    }
}

void ReadBranch(DescBranch& branch, RecordReader& in, std::size_t& cursor, int depth) {
    if (cursor >= in.Count()) return;
    const std::uint8_t* r = in.At(cursor++);
    if (r[TreeRecord::kKind] != TreeRecord::kBranch) return;
    if (depth > TreeRecord::kMaxDepth) {
        cursor = in.Count();
        return;
    }
    branch.elementName = Text(r, TreeRecord::kBranchName, TreeRecord::kBranchNameSize);
    branch.valueA = I32(r, TreeRecord::kValueA);
    branch.valueB = I32(r, TreeRecord::kValueB);
    branch.valueC = I32(r, TreeRecord::kValueC);
    branch.ownsParameters = false;
    // Counts come from the file: summed wide, and the records run out first
    // when they announce more than there is.
    std::int64_t children = std::int64_t{I32(r, TreeRecord::kChildCount1)} +
                            I32(r, TreeRecord::kChildCount2) + I32(r, TreeRecord::kChildCount3);
    for (std::int64_t i = 0; i < children && cursor < in.Count(); ++i)
        ReadChild(branch, in, cursor, depth);
    if (I32(r, TreeRecord::kMarked) == 1) in.table.markedBranch = &branch;
}

}  // namespace

DescBranch::~DescBranch() {
    parameters.clear();
}

void DescBranch::ReadRecords(ParameterTable& table, std::size_t& cursor,
                             std::span<const std::uint8_t> records, const std::string& treeName) {
    RecordReader in{table, records, treeName};
    ReadBranch(*this, in, cursor, 0);
}

void DescBranch::Serialize(Archive& ar) {
    if (ar.IsStoring())
        ar.WriteText(elementName);
    else
        ar.ReadText();
    SerializeCountedParameters(ar);
    if (ar.IsStoring()) {
        ar.WriteI32(kindValue);
        ar.WriteI32(valueA);
    } else {
        kindValue = ar.ReadI32();
        valueA = ar.ReadI32();
    }
    for (auto& child : branches)
        child->Serialize(ar);
}

ListResult DescBranch::CompareAll(ParameterDevice& device) {
    if (device.StopRequested()) return {0, 0};
    ListResult total = InvisibleElement::CompareAll(device);
    for (auto& child : branches) {
        ListResult r = child->CompareAll(device);
        total.first += r.first;
        total.second += r.second;
    }
    return total;
}

ListResult DescBranch::ReadAll(ParameterDevice& device) {
    if (device.StopRequested()) return {0, 0};
    ListResult total = InvisibleElement::ReadAll(device);
    for (auto& child : branches) {
        ListResult r = child->ReadAll(device);
        total.first += r.first;
        total.second += r.second;
    }
    return total;
}

ListResult DescBranch::WriteAll(ParameterDevice& device, int mode) {
    if (device.StopRequested()) return {0, 0};
    // The branch is named in the log only when something of it will be written.
    bool announce =
        mode >= 1 || std::any_of(parameters.begin(), parameters.end(), [&](Parameter* p) {
            bool writable = p->CanWrite() || p->forceWrite;
            return writable && (mode == 0 ? p->HasPendingUpdate() : !p->defaultValue.empty());
        });
    if (announce) device.LogLine("Пишем ветвь '" + elementName + "'", true, kBlack, false);
    ListResult total = ObjectWithParameters::WriteAll(device, mode);
    for (auto& child : branches) {
        ListResult r = child->WriteAll(device, mode);
        total.first += r.first;
        total.second += r.second;
    }
    return total;
}

void DescBranch::ClearValues() {
    ObjectWithParameters::ClearValues();
    for (auto& child : branches)
        child->ClearValues();
}

void DescBranch::CollectRecords(std::vector<SavedRecord>& records) const {
    ObjectWithParameters::CollectRecords(records);
    for (const auto& child : branches)
        child->CollectRecords(records);
}

void DescBranch::ApplyRecords(const RecordMap& map, int limit, int& missingCount,
                              std::string& missingText) {
    ObjectWithParameters::ApplyRecords(map, limit, missingCount, missingText);
    for (auto& child : branches)
        child->ApplyRecords(map, limit, missingCount, missingText);
}

namespace {

struct BitRows {
    const char* name;
    const char* format;  // %i takes 1..8
};
constexpr BitRows kBitRows[] = {
    {"r.cn", "вход %i"}, {"Inv.d", "вход №%i"}, {"r.oe.s", "Выход №%i"}};

}  // namespace

void DescBranch::ShowTree(RowSink& view, RowHandle parent, int options) {
    RowHandle row = ShowOwnRow(view, parent);
    ObjectWithParameters::ShowInTree(view, row, -1, options);
    bool withIndexes = (options & ShowOption::kWithIndexes) != 0;
    for (auto& child : branches) {
        if (!child->branches.empty() || child->parameters.size() != 1 ||
            !child->connectors.empty()) {
            child->ShowTree(view, row, options);
            continue;
        }
        // A branch of one parameter is shown as that parameter, under the branch's name.
        Parameter& p = *child->parameters.front();
        p.treeLabel = child->elementName;
        p.treeItem = view.InsertParameterRow(row, p, p.RowTexts(withIndexes));
        child->shownCount = 1;
        for (const BitRows& bits : kBitRows) {
            if (p.name != bits.name) continue;
            for (int i = 1; i <= 8; ++i)
                view.InsertSubRow(p.treeItem, Format(bits.format, i));
        }
    }
    if (!connectorsShown && shownCount == static_cast<int>(parameters.size())) {
        for (auto& c : connectors) {
            std::string state = c->ConnectorState(*this);
            view.InsertConnectorRow(row, *c, state == Parameter::kNoData ? "нет" : state);
        }
        connectorsShown = true;
    }
}

bool InverterBitTexts(const Parameter& p, std::array<std::string, 8>& texts) {
    std::int64_t v = 0;
    if (p.name != "Inv.d" || ParseLeadingInt(p.value, v) == 0) return false;
    for (std::size_t k = 0; k < texts.size(); ++k)
        texts[k] = (v >> k) & 1 ? "инвертор" : "повторитель";
    return true;
}

bool DescBranch::IsLinkedTo(const Elements::InvisibleElement& element) const {
    for (const auto& c : connectors) {
        std::string state = c->ConnectorState(*this);
        if (!state.empty() && element.elementName.find(state) != std::string::npos) return true;
    }
    return false;
}

bool DescBranch::AcceptLink(const Elements::InvisibleElement* element) const {
    if (!element) return false;
    // The element decides; a plain element asks back whether this branch links to it.
    if (const auto* other = dynamic_cast<const DescBranch*>(element))
        return other->IsLinkedTo(*this);
    return false;
}

void DescBranch::PrepareOperative(const std::function<std::unique_ptr<PollTimer>()>& makeTimer) {
    for (Parameter* p : parameters) {
        if (!p->pollTimer && makeTimer) p->pollTimer = makeTimer();
        p->hasLinearIndex = false;
    }
    for (auto& child : branches)
        child->PrepareOperative(makeTimer);
}

int DescBranch::IsPolling() const {
    for (const Parameter* p : parameters)
        if (p->pollTimer && p->polling) return 1;
    for (const auto& child : branches)
        if (child->IsPolling() == 1) return 1;
    return 0;
}

int DescBranch::CollectPolled(std::vector<Parameter*>& list) const {
    int count = 0;
    ForEachBranch([&](const DescBranch& b) {
        for (Parameter* p : b.parameters) {
            if (!p->pollTimer) continue;
            list.push_back(p);
            ++count;
        }
    });
    return count;
}

int DescBranch::CollectErrors(std::vector<Parameter*>& list) const {
    int count = 0;
    ForEachBranch([&](const DescBranch& b) {
        for (Parameter* p : b.parameters) {
            if (p->error.empty() || p->error == Parameter::kNotInitialised) continue;
            if (std::find(list.begin(), list.end(), p) != list.end()) continue;
            list.push_back(p);
            ++count;
        }
    });
    return count;
}

int DescBranch::CountChanged(bool all) const {
    int count = 0;
    ForEachBranch([&](const DescBranch& b) {
        for (const Parameter* p : b.parameters)
            if (all || p->needUpdate) ++count;
    });
    return count;
}

Parameter* DescBranch::FindParameter(std::string_view name, int index,
                                     const DescBranch** owner) const {
    for (Parameter* p : parameters) {
        if (EqualsNoCase(p->name, name) && (index < 0 || p->linearIndex == index)) {
            if (owner) *owner = this;
            return p;
        }
    }
    for (const auto& child : branches)
        if (Parameter* p = child->FindParameter(name, index, owner)) return p;
    return nullptr;
}

const DescBranch* DescBranch::FindOwner(const Parameter* p) const {
    if (std::find(parameters.begin(), parameters.end(), p) != parameters.end()) return this;
    for (const auto& child : branches)
        if (const DescBranch* b = child->FindOwner(p)) return b;
    return nullptr;
}

int DescBranch::SelectByNames(const std::map<std::string, std::string>& selectors,
                              std::vector<Parameter*>& list) const {
    int count = 0;
    ForEachBranch([&](const DescBranch& b) {
        for (Parameter* p : b.parameters) {
            auto it = selectors.find(ToLowerUtf8(p->name));
            if (it == selectors.end()) continue;
            bool selected = it->second.find("all") != std::string::npos;
            if (!selected) {
                for (const std::string& part : Split(it->second, ';')) {
                    std::int64_t v = 0;
                    if (ParseLeadingInt(part, v) > 0 && v == p->linearIndex) selected = true;
                }
            }
            if (selected) {
                list.push_back(p);
                ++count;
            }
        }
    });
    return count;
}
