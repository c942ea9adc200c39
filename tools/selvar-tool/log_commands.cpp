#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <ostream>
#include <string>
#include <system_error>
#include <vector>

#include "commands.h"
#include "description/desc_branch.h"
#include "description/device_description.h"
#include "description/tree_loader.h"
#include "device/device.h"
#include "platform/codepage.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "protocol/protocol_files.h"

namespace fs = std::filesystem;

namespace {

constexpr int kFileFailed = 2;      // the log or the archive could not be read whole
constexpr int kNoDescriptions = 3;  // the description files could not be read

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

// Each record's data decoded the way the polling decoded them: with the
// operative tree's parameter of that name and address, whose linear index
// flag the set-up cleared.
class RecordPrinter {
  public:
    explicit RecordPrinter(Io& io) : io_(io) {}

    // False when the modification's table cannot be read.
    bool Load(const CDeviceDescription& description) {
        device_ = std::make_unique<Device>();
        if (device_->LoadTable(description) != TableLoadStatus::Ok) return false;
        trees_ = LoadDescriptionTrees(device_->Table(), description, nullptr);
        return true;
    }

    void Print(const Protocol::LogRecord& r) {
        io_.out << LocalTimeText(r.time) << '\t' << r.name << '\t' << int(r.address) << '\t'
                << (r.failed ? "failed" : "ok") << '\t';
        if (const Parameter* p = device_ ? Find(r) : nullptr) {
            // A composite value's record holds the text the polling showed.
            if (Protocol::RecordsShownText(*p) && !r.data.empty()) {
                std::string text = Cp1251ToUtf8(Utf8ToCp1251(
                    std::string_view(reinterpret_cast<const char*>(r.data.data()), r.data.size())));
                for (char& c : text)
                    if (static_cast<unsigned char>(c) < 0x20) c = '?';  // one record a line
                io_.out << text << '\t' << p->type << '\n';
                return;
            }
            MyConverter converter;
            converter.name = p->name;
            converter.type = p->type;
            converter.decimals = p->decimals;
            converter.minValue = p->minValue;
            converter.maxValue = p->maxValue;
            if (converter.ConvertFromData(r.data.data(), static_cast<int>(r.data.size()),
                                          p->hasLinearIndex) != 0) {
                io_.out << converter.value << '\t' << p->type << '\n';
                return;
            }
        }
        io_.out << Hex(r.data) << '\n';
    }

  private:
    const Parameter* Find(const Protocol::LogRecord& r) const {
        const Parameter* byName = nullptr;
        const Parameter* found = nullptr;
        if (trees_.operative) {
            trees_.operative->ForEachBranch([&](const DescBranch& b) {
                for (const Parameter* p : b.parameters) {
                    if (found || p->name != r.name) continue;
                    if ((p->deviceAddress & 0xFF) == r.address) found = p;
                    if (!byName) byName = p;
                }
            });
        }
        if (found) return found;
        if (byName) return byName;
        // Only operative parameters are polled; any other is decoded as the
        // table describes it.
        return device_->FindParameter(r.name);
    }

    Io& io_;
    std::unique_ptr<Device> device_;  // with --modification only
    DescriptionTrees trees_;
};

// Bytes read from a log at a time; what a dump holds beyond them is one
// partial record.
constexpr std::size_t kReadBlock = 1 << 16;

int DumpFailed(Io& io, const std::string& text) {
    io.err << "selvar-tool: " << text << '\n';
    return kFileFailed;
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
        std::vector<Protocol::SkippedLog> skipped;
        int packed = files.PackOldLogs(&error, &skipped);
        io.out << packed << " log file(s) packed\n";
        for (const Protocol::SkippedLog& s : skipped)
            io.err << "selvar-tool: " << s.name << " left in the folder: " << s.reason << '\n';
        if (!error.empty()) {
            io.err << "selvar-tool: " << error << '\n';
            return Exit::kRefused;
        }
        return skipped.empty() ? Exit::kOk : Exit::kRefused;
    }
    if (ops[0] != "dump") throw UsageError("unknown log command '" + ops[0] + "'");
    args.ExpectOperands(2, 3, "dump FILE.log | dump ARCHIVE.var STREAM");

    RecordPrinter printer(io);
    if (auto mod = args.Text("--modification")) {
        const CDeviceDescription* description = FindDeviceDescription(*mod);
        if (!description)
            throw UsageError("unknown modification '" + *mod + "' (a1, b4, b2 or a display name)");
        if (!printer.Load(*description)) {
            io.err << "selvar-tool: cannot read " << DescriptionPath(description->parametersFile)
                   << '\n';
            return kNoDescriptions;
        }
    }

    // Records are printed as they are decoded; nothing grows with the log.
    Protocol::LogDecoder decoder;
    auto print = [&](const Protocol::LogRecord& r) {
        printer.Print(r);
        return static_cast<bool>(io.out);
    };
    const std::string& path = ops[1];
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (!fs::exists(status)) return DumpFailed(io, "cannot open " + path);
    if (!fs::is_regular_file(status))
        return DumpFailed(io, "cannot open " + path + ": not a regular file");
    std::string error;
    if (ops.size() == 2) {
        std::ifstream in(path, std::ios::binary);
        if (!in) return DumpFailed(io, "cannot open " + path);
        std::vector<char> block(kReadBlock);
        while (in) {
            in.read(block.data(), static_cast<std::streamsize>(block.size()));
            auto got = static_cast<std::size_t>(in.gcount());
            if (got == 0) break;
            if (!decoder.Feed(std::string_view(block.data(), got), print)) break;
        }
        if (in.bad()) return DumpFailed(io, "cannot read " + path);
    } else {
        auto archive = Protocol::OpenArchive(path, false, &error);
        if (!archive) return DumpFailed(io, error);
        bool read = Protocol::ReadLogStream(
            *archive, ops[2], [&](std::string_view part) { return decoder.Feed(part, print); },
            &error);
        if (!read && !decoder.damaged() && io.out) return DumpFailed(io, error);
    }
    if (decoder.damaged())
        return DumpFailed(io, Format("the log is damaged at byte %llu: no record can start there",
                                     static_cast<unsigned long long>(decoder.offset())));
    if (!decoder.AtBoundary()) return DumpFailed(io, "the log ends inside a record");
    return Exit::kOk;
}
