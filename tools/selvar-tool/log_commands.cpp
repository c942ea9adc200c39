#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>

#include "commands.h"
#include "description/device_description.h"
#include "device/device.h"
#include "platform/paths.h"
#include "protocol/protocol_files.h"

namespace fs = std::filesystem;

namespace {

std::string LocalTimeText(std::int64_t seconds) {
    std::time_t t = static_cast<std::time_t>(seconds);
    std::tm local{};
    if (!localtime_r(&t, &local)) return std::to_string(seconds);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

std::string Hex(const std::vector<std::uint8_t>& data) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (std::uint8_t b : data) {
        if (!out.empty()) out += ' ';
        out += kDigits[b >> 4];
        out += kDigits[b & 15];
    }
    return out.empty() ? "-" : out;
}

// One line per record; with a device table the data are shown decoded.
void PrintRecords(const std::vector<Protocol::LogRecord>& records, const Device* device, Io& io) {
    for (const auto& r : records) {
        io.out << LocalTimeText(r.time) << '\t' << r.name << '\t' << int(r.address) << '\t'
               << (r.failed ? "failed" : "ok") << '\t';
        const Parameter* p = device ? device->FindParameter(r.name) : nullptr;
        if (p) {
            MyConverter converter;
            converter.name = p->name;
            converter.type = p->type;
            converter.decimals = p->decimals;
            converter.minValue = p->minValue;
            converter.maxValue = p->maxValue;
            if (converter.ConvertFromData(r.data.data(), static_cast<int>(r.data.size()),
                                          p->hasLinearIndex) != 0) {
                io.out << converter.value << '\t' << p->type << '\n';
                continue;
            }
        }
        io.out << Hex(r.data) << '\n';
    }
}

}  // namespace

int RunLog(const Args& args, Io& io) {
    const auto& ops = args.Operands();
    if (ops.empty()) throw UsageError("dump FILE.log | dump ARCHIVE.var STREAM | pack [DIR]");

    if (ops[0] == "pack") {
        args.ExpectOperands(1, 2, "pack [DIR]");
        const std::string folder = ops.size() > 1 ? ops[1] : ProgramHome() + "/protocol";
        Protocol::ProtocolFiles files(folder, std::time(nullptr));
        std::string error;
        int packed = files.PackOldLogs(&error);
        io.out << packed << " log file(s) packed\n";
        if (!error.empty()) {
            io.err << "selvar-tool: " << error << '\n';
            return Exit::kRefused;
        }
        return Exit::kOk;
    }
    if (ops[0] != "dump") throw UsageError("unknown log command '" + ops[0] + "'");
    args.ExpectOperands(2, 3, "dump FILE.log | dump ARCHIVE.var STREAM");

    std::unique_ptr<Device> device;
    if (auto mod = args.Text("--modification")) {
        const CDeviceDescription* description = FindDeviceDescription(*mod);
        if (!description)
            throw UsageError("unknown modification '" + *mod + "' (a1, b4, b2 or a display name)");
        device = std::make_unique<Device>();
        if (device->LoadTable(*description) != TableLoadStatus::Ok) {
            io.err << "selvar-tool: cannot read " << DescriptionPath(description->parametersFile)
                   << '\n';
            return Exit::kRefused;
        }
    }

    std::string bytes;
    std::string error;
    if (ops.size() == 2) {
        std::ifstream in(ops[1], std::ios::binary);
        if (!in) {
            io.err << "selvar-tool: cannot open " << ops[1] << '\n';
            return Exit::kRefused;
        }
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    } else {
        auto archive = Protocol::OpenArchive(ops[1], false, &error);
        if (!archive || !Protocol::ReadLogStream(
                            *archive, ops[2],
                            [&](std::string_view part) {
                                bytes.append(part);
                                return true;
                            },
                            &error)) {
            io.err << "selvar-tool: " << error << '\n';
            return Exit::kRefused;
        }
    }
    std::vector<Protocol::LogRecord> records;
    bool whole = Protocol::DecodeRecords(bytes, records);
    PrintRecords(records, device.get(), io);
    if (!whole) {
        io.err << "selvar-tool: the log ends inside a record\n";
        return Exit::kPartial;
    }
    return Exit::kOk;
}
