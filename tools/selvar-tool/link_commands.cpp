#include <memory>
#include <ostream>
#include <string>

#include "commands.h"
#include "description/device_description.h"
#include "description/parameter_table.h"
#include "description/tree_loader.h"
#include "link/device_io.h"
#include "link/port_map.h"
#include "model/parameter.h"
#include "platform/text.h"

namespace {

// Exit status when the port cannot be opened, as a driven run reports it.
constexpr int kPortFailed = 201;

// The modification's table with its trees' bindings, so that composite
// parameters find their partners and operative ones their addresses.
struct LoadedModification {
    ParameterTable table;
    std::unique_ptr<DescBranch> trees[3];
};

bool LoadModification(const std::string& name, LoadedModification& m, Io& io) {
    const CDeviceDescription* d = FindDeviceDescription(name);
    if (!d) throw UsageError("unknown modification '" + name + "' (a1, b4, b2 or a display name)");
    if (LoadParameterTable(m.table, DescriptionPath(d->parametersFile)) != TableLoadStatus::Ok) {
        io.err << "selvar-tool: cannot read " << DescriptionPath(d->parametersFile) << '\n';
        return false;
    }
    m.trees[0] = LoadTree(m.table, DescriptionPath(d->treeFile), "");
    m.trees[1] = LoadTree(m.table, DescriptionPath(d->operativeTreeFile), "");
    m.trees[2] = LoadTree(m.table, DescriptionPath(d->hiddenTreeFile), "hidden");
    m.trees[1]->PrepareOperative(nullptr);
    return true;
}

int RunExchange(const Args& args, Io& io, Direction direction) {
    bool write = direction == Direction::Write;
    args.ExpectOperands(write ? 2 : 1, write ? 2 : 1,
                        write ? "NAME[:INDEX] and VALUE" : "NAME[:INDEX]");
    if (!args.Text("--port")) throw UsageError("--port is required");
    const std::string& key = args.Operands()[0];
    NamedParameter named = ParseNamedParameter(key);
    const std::string& name = named.name;
    int index = named.index.value_or(-1);

    DeviceIO device;
    ConfigurePort(args, device.Port());

    LoadedModification modification;
    Parameter unknown;
    Parameter* p = &unknown;
    if (auto mod = args.Text("--modification")) {
        if (!LoadModification(*mod, modification, io)) return ExchangeCode::kFailed;
        if (Parameter* found = modification.table.Find(name, index))
            p = found;
        else if (Parameter* family = modification.table.Find(name)) {
            // Another instance of a described family: its type and range, this index.
            unknown.type = family->type;
            unknown.decimals = family->decimals;
            unknown.minValue = family->minValue;
            unknown.maxValue = family->maxValue;
        }
    }
    if (p == &unknown) {
        unknown.name = name;
        unknown.hasLinearIndex = index >= 0;
        unknown.linearIndex = index >= 0 ? index : 0;
    }
    if (write) {
        // Checked before the port is touched: a refused value sends nothing.
        if (int refused = TakeWriteValue(args, *p, args.Operands()[1], io)) return refused;
    }

    if (device.Port().Open() != 0) {
        io.err << "selvar-tool: " << PortFailureMessage(device.Port()) << '\n';
        return kPortFailed;
    }
    device.RenewOperationStamp();
    ExchangeLog log;
    bool verbose = args.Has("-v");
    int result = device.exchange_parameter(direction, *p, verbose ? &log : nullptr);
    for (const std::string& line : log)
        io.err << line << '\n';
    if (result == ExchangeCode::kOk) {
        io.out << p->value << '\n';
    } else {
        io.err << "selvar-tool: " << key << ": "
               << (p->error.empty() ? "exchange failed (result " + std::to_string(result) + ")"
                                    : p->error)
               << '\n';
        // Undecodable answers are still worth seeing.
        if (result == ExchangeCode::kUndecodable && p->rawLength > 0) {
            std::string hex;
            for (int i = 0; i < p->rawLength; ++i)
                hex += Format(i ? " %02X" : "%02X", p->rawData[static_cast<std::size_t>(i)]);
            io.out << hex << '\n';
        }
    }
    return result;
}

}  // namespace

int RunPorts(const Args& args, Io& io) {
    args.ExpectOperands(0, 0, "nothing");
    auto field = [](const std::string& text) { return text.empty() ? std::string("-") : text; };
    for (const PortInfo& port : FindPorts()) {
        std::string path = port.target;
        if (!port.device.empty() && port.device != port.target) path += " → " + port.device;
        std::string why = ProbePort(port);
        io.out << field(port.name) << '\t' << path << '\t'
               << (why.empty() ? "ok" : "cannot open: " + why) << '\t' << field(port.description)
               << '\t' << field(port.stablePath) << '\n';
    }
    return Exit::kOk;
}

int RunRead(const Args& args, Io& io) {
    return RunExchange(args, io, Direction::Read);
}
int RunWrite(const Args& args, Io& io) {
    return RunExchange(args, io, Direction::Write);
}
