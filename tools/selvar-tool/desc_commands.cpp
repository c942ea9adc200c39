#include <cstring>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "commands.h"
#include "description/device_description.h"
#include "description/gzip_reader.h"
#include "description/parameter_table.h"
#include "description/record_layout.h"
#include "description/tooltips.h"
#include "description/tree_loader.h"
#include "platform/codepage.h"
#include "platform/text.h"
#include "reports/parameter_list.h"

namespace {

const CDeviceDescription& Modification(const std::string& name) {
    const CDeviceDescription* d = FindDeviceDescription(name);
    if (!d) throw UsageError("unknown modification '" + name + "' (a1, b4, b2 or a display name)");
    return *d;
}

// Loads a modification's table; a file that cannot be read is reported, not shown empty.
bool LoadTable(const CDeviceDescription& d, ParameterTable& table, Io& io) {
    std::string path = DescriptionPath(d.parametersFile);
    TableLoadStatus status = LoadParameterTable(table, path);
    if (status == TableLoadStatus::Ok) return true;
    io.err << "selvar-tool: " << path
           << (status == TableLoadStatus::Missing ? ": cannot open the file\n"
                                                  : ": the file is damaged\n");
    return status == TableLoadStatus::Damaged;  // what could be read is still shown
}

std::string Number(double v) {
    return Format("%g", v);
}

int ListDescriptions(Io& io) {
    for (const CDeviceDescription& d : DeviceDescriptions())
        io.out << d.displayName << '\t' << d.parametersFile << '\t' << d.treeFile << '\t'
               << d.hiddenTreeFile << '\t' << d.operativeTreeFile << '\t' << d.tooltipFile << '\n';
    return Exit::kOk;
}

int PrintTable(const CDeviceDescription& d, Io& io) {
    ParameterTable table;
    if (!LoadTable(d, table, io)) return Exit::kRefused;
    io.out << "position\tname\ttype\thasLinearIndex\tlinearIndex\tdeviceAddress\twritable\t"
              "minValue\tmaxValue\tdecimals\tdefaultValue\tforceWrite\tbindingKind\t"
              "attributeKind\taccessAttribute\townerAttribute\tprivacy\tdescription\n";
    std::size_t position = 0;
    for (const Parameter& p : table.All()) {
        io.out << position++ << '\t' << p.name << '\t' << p.type << '\t' << p.hasLinearIndex << '\t'
               << p.linearIndex << '\t' << p.deviceAddress << '\t' << p.writable << '\t'
               << Number(p.minValue) << '\t' << Number(p.maxValue) << '\t' << p.decimals << '\t'
               << p.defaultValue << '\t' << p.forceWrite << '\t' << p.bindingKind << '\t'
               << p.attributeKind << '\t' << int{p.accessAttribute} << '\t' << int{p.ownerAttribute}
               << '\t' << p.privacy << '\t' << p.description << '\n';
    }
    return Exit::kOk;
}

// Walks the records as they stand in the file, so that a damaged or surprising
// tree shows exactly what it holds.
class TreePrinter {
  public:
    TreePrinter(const ParameterTable& table, std::span<const std::uint8_t> records, Io& io)
        : table_(table), records_(records), io_(io) {}

    // False when the branches nest deeper than the loader follows; the
    // records from there on are not shown, as the loader does not use them.
    bool Print() {
        std::size_t cursor = 0;
        while (cursor < Count())
            Item(cursor, 0);
        return !tooDeep_;
    }

  private:
    std::size_t Count() const { return records_.size() / TreeRecord::kSize; }
    const std::uint8_t* At(std::size_t i) const { return records_.data() + i * TreeRecord::kSize; }

    static std::int32_t I32(const std::uint8_t* r, std::size_t at) { return RecordInt32(r, at); }
    static float F32(const std::uint8_t* r, std::size_t at) { return RecordFloat(r, at); }
    static std::string Text(const std::uint8_t* r, std::size_t at, std::size_t size) {
        return RecordText(r, at, size);
    }

    void Item(std::size_t& cursor, int depth) {
        const std::uint8_t* r = At(cursor++);
        std::string indent(static_cast<std::size_t>(2 * depth), ' ');
        switch (r[TreeRecord::kKind]) {
            case TreeRecord::kBranch: {
                if (depth > TreeRecord::kMaxDepth) {
                    tooDeep_ = true;
                    cursor = Count();
                    return;
                }
                std::int64_t children = std::int64_t{I32(r, TreeRecord::kChildCount1)} +
                                        I32(r, TreeRecord::kChildCount2) +
                                        I32(r, TreeRecord::kChildCount3);
                io_.out << indent << "branch \""
                        << Text(r, TreeRecord::kBranchName, TreeRecord::kBranchNameSize)
                        << "\" children=" << children << " A=" << I32(r, TreeRecord::kValueA)
                        << " image=" << I32(r, TreeRecord::kValueB) << '/'
                        << I32(r, TreeRecord::kValueC)
                        << (I32(r, TreeRecord::kMarked) == 1 ? " marked" : "") << '\n';
                for (std::int64_t i = 0; i < children && cursor < Count(); ++i)
                    Item(cursor, depth + 1);
                break;
            }
            case TreeRecord::kConnector:
                io_.out << indent << "connector \""
                        << Text(r, TreeRecord::kSourceText, TreeRecord::kSourceTextSize)
                        << "\" state=\""
                        << Text(r, TreeRecord::kStateText, TreeRecord::kStateTextSize)
                        << "\" selector=\""
                        << Text(r, TreeRecord::kSelector, TreeRecord::kSelectorSize) << "\" "
                        << I32(r, TreeRecord::kFirst) << ".." << I32(r, TreeRecord::kLast) << '\n';
                break;
            default: {
                std::int32_t index = I32(r, TreeRecord::kTableIndex);
                const Parameter* p =
                    index >= 0 ? table_.At(static_cast<std::size_t>(index)) : nullptr;
                io_.out << indent << "parameter #" << index << ' '
                        << (p ? p->name +
                                    (p->hasLinearIndex ? ":" + std::to_string(p->linearIndex) : "")
                              : std::string("<no such table entry>"));
                float lower = F32(r, TreeRecord::kLower), upper = F32(r, TreeRecord::kUpper);
                if (lower != 0 || upper != 0)
                    io_.out << " range=" << Number(lower) << ".." << Number(upper);
                if (r[TreeRecord::kReadOnly]) io_.out << " read-only";
                std::string label = Text(r, TreeRecord::kLabel, TreeRecord::kLabelSize);
                if (!label.empty()) io_.out << " \"" << label << '"';
                io_.out << '\n';
                break;
            }
        }
    }

    const ParameterTable& table_;
    std::span<const std::uint8_t> records_;
    Io& io_;
    bool tooDeep_ = false;
};

int PrintTree(const CDeviceDescription& d, const std::string& which, Io& io) {
    const char* file = which == "ordinary"    ? d.treeFile
                       : which == "operative" ? d.operativeTreeFile
                       : which == "hidden"    ? d.hiddenTreeFile
                                              : nullptr;
    if (!file) throw UsageError("expected ordinary, operative or hidden, got '" + which + "'");
    ParameterTable table;
    if (!LoadTable(d, table, io)) return Exit::kRefused;
    std::string path = DescriptionPath(file);
    GzipBuffer records = GunzipFile(path);
    if (records.status != GzipStatus::Ok) {
        io.err << "selvar-tool: " << path << ": " << GzipStatusText(records.status) << '\n';
        if (records.size == 0) return Exit::kRefused;
    }
    if (!TreePrinter(table, records.Span(), io).Print()) {
        io.err << "selvar-tool: " << path << ": branches nested deeper than "
               << TreeRecord::kMaxDepth << " levels; the rest of the file is not shown\n";
        return Exit::kRefused;
    }
    return Exit::kOk;
}

}  // namespace

int RunDesc(const Args& args, Io& io) {
    args.ExpectOperands(1, 3, "list, table MOD or tree MOD ordinary|operative|hidden");
    const std::vector<std::string>& ops = args.Operands();
    if (ops[0] == "list") {
        args.ExpectOperands(1, 1, "nothing after list");
        return ListDescriptions(io);
    }
    if (ops[0] == "table") {
        args.ExpectOperands(2, 2, "table MOD");
        return PrintTable(Modification(ops[1]), io);
    }
    if (ops[0] == "tree") {
        args.ExpectOperands(3, 3, "tree MOD ordinary|operative|hidden");
        return PrintTree(Modification(ops[1]), ops[2], io);
    }
    throw UsageError("expected list, table or tree, got '" + ops[0] + "'");
}

int RunComment(const Args& args, Io& io) {
    args.ExpectOperands(2, 2, "MOD and NAME[:INDEX]");
    const CDeviceDescription& d = Modification(args.Operands()[0]);
    const std::string& key = args.Operands()[1];
    auto [name, index] = ParseNamedParameter(key);
    ParameterTable table;
    LoadParameterTable(table, DescriptionPath(d.parametersFile));
    std::string path = DescriptionPath(d.tooltipFile);
    const Parameter* p = table.Find(name, index.value_or(-1));
    // "del" has fixed comments by its index, described or not.
    Parameter probe;
    if (!p && EqualsNoCase(name, "del")) {
        probe.name = name;
        probe.linearIndex = index.value_or(0);
        p = &probe;
    }
    std::string comment = p ? FindComment(path, *p) : FindComment(path, name, index);
    if (!comment.empty()) io.out << comment << '\n';
    return Exit::kOk;
}

int RunParlist(const Args& args, Io& io) {
    args.ExpectOperands(1, 2, "MOD [OUT.html]");
    const CDeviceDescription& d = Modification(args.Operands()[0]);
    ParameterTable table;
    if (!LoadTable(d, table, io)) return Exit::kRefused;
    std::unique_ptr<DescBranch> tree = LoadTree(table, DescriptionPath(d.treeFile), "");
    std::string path = args.Operands().size() == 2 ? args.Operands()[1] : ParameterListPath();
    if (!WriteParameterList(tree.get(), path)) return Exit::kRefused;
    io.out << path << '\n';
    return Exit::kOk;
}
