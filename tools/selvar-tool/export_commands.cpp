#include <csignal>
#include <filesystem>
#include <memory>
#include <ostream>
#include <string>

#include "commands.h"
#include "description/desc_branch.h"
#include "description/device_description.h"
#include "description/tree_loader.h"
#include "device/device.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "protocol/export.h"
#include "protocol/protocol_files.h"

namespace fs = std::filesystem;

namespace {

constexpr int kPartialData = 2;     // written, but some data could be read only in part
constexpr int kNoDescriptions = 3;  // the description files could not be read

std::atomic<Protocol::ExportJob*> g_running{nullptr};

void OnInterrupt(int) {
    if (Protocol::ExportJob* job = g_running.load()) job->Cancel();
}

// While it lives, Ctrl+C cancels the export as the dialog's "Отмена" does.
class CancelOnInterrupt {
  public:
    explicit CancelOnInterrupt(Protocol::ExportJob& job) {
        g_running.store(&job);
        struct sigaction action {};
        action.sa_handler = OnInterrupt;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, &previous_);
    }
    ~CancelOnInterrupt() {
        sigaction(SIGINT, &previous_, nullptr);
        g_running.store(nullptr);
    }
    CancelOnInterrupt(const CancelOnInterrupt&) = delete;
    CancelOnInterrupt& operator=(const CancelOnInterrupt&) = delete;

  private:
    struct sigaction previous_ {};
};

Protocol::CivilDate DateOption(const Args& args, std::string_view option) {
    std::optional<std::string> text = args.Text(option);
    if (!text) throw UsageError(std::string(option) + " is needed in period mode");
    auto date = Protocol::CivilDate::Parse(*text);
    if (!date)
        throw UsageError(std::string(option) + " takes a date YYYY-MM-DD, not '" + *text + "'");
    return *date;
}

int Clear(const Args& args, Io& io) {
    args.ExpectOperands(2, 2, "clear MM-YYYY");
    const std::string& when = args.Operands()[1];
    int month = 0, year = 0;
    bool ok = when.size() == 7 && when[2] == '-';
    for (std::size_t i = 0; ok && i < when.size(); ++i)
        ok = i == 2 || (when[i] >= '0' && when[i] <= '9');
    if (ok) {
        month = std::stoi(when.substr(0, 2));
        year = std::stoi(when.substr(3));
    }
    if (!ok || month < 1 || month > 12)
        throw UsageError("clear takes a month MM-YYYY, not '" + when + "'");
    Protocol::ClearResult result =
        Protocol::ClearArchives(ProgramHome() + "/protocol", month, year);
    for (const std::string& name : result.deleted)
        io.err << "selvar-tool: deleted " << name << '\n';
    for (const std::string& skipped : result.skipped)
        io.err << "selvar-tool: kept " << skipped << '\n';
    io.out << result.deleted.size() << '\n';
    return result.skipped.empty() ? Exit::kOk : Exit::kRefused;
}

}  // namespace

int RunExport(const Args& args, Io& io) {
    const auto& ops = args.Operands();
    if (ops.empty()) throw UsageError("html|xlsx MOD ... or clear MM-YYYY");
    if (ops[0] == "clear") return Clear(args, io);
    if (ops[0] != "html" && ops[0] != "xlsx")
        throw UsageError("unknown export '" + ops[0] + "' (html, xlsx or clear)");
    args.ExpectOperands(2, 2, "html|xlsx and MOD");
    const CDeviceDescription* description = FindDeviceDescription(ops[1]);
    if (!description)
        throw UsageError("unknown modification '" + ops[1] + "' (a1, b4, b2 or a display name)");

    Protocol::ExportRequest request;
    request.format =
        ops[0] == "html" ? Protocol::ExportFormat::Html : Protocol::ExportFormat::Workbook;
    if (auto file = args.Text("--file")) {
        if (args.Has("--from") || args.Has("--to"))
            throw UsageError("--file and a period (--from, --to) exclude each other");
        if (!Protocol::IsSafeStreamName(*file))
            throw UsageError("--file takes the name of a log or archive stream, not '" + *file +
                             "'");
        request.byFile = true;
        request.dataFile = *file;
    } else {
        request.from = DateOption(args, "--from");
        request.to = DateOption(args, "--to");
        if (request.to.Serial() < request.from.Serial()) throw UsageError("--to is before --from");
    }
    request.filter = args.Text("--filter").value_or("");
    const std::string home = ProgramHome();
    request.protocolFolder = home + "/protocol";
    if (auto out = args.Text("--out")) {
        request.outputFolder = *out;
    } else {
        request.outputFolder = home + "/temp";
        request.clearOldPages = true;  // the program's own report folder
    }
    std::error_code ec;
    if (fs::exists(request.outputFolder, ec) && !fs::is_directory(request.outputFolder, ec))
        throw UsageError("--out " + request.outputFolder + " is not a folder");

    Device device;
    if (device.LoadTable(*description) != TableLoadStatus::Ok) {
        io.err << "selvar-tool: cannot read " << DescriptionPath(description->parametersFile)
               << '\n';
        return kNoDescriptions;
    }
    DescriptionTrees trees = LoadDescriptionTrees(device.Table(), *description, nullptr);
    if (trees.operative) request.columns = Protocol::OperativeColumns(*trees.operative);
    if (!request.filter.empty() && Protocol::FilterColumns(request.columns, request.filter).empty())
        throw UsageError("'" + request.filter + "' is not an operative parameter of " +
                         description->displayName);

    Protocol::ExportJob job(std::move(request));
    Protocol::ExportResult result;
    {
        CancelOnInterrupt interrupt(job);
        result = job.Run();
    }
    for (const std::string& w : result.warnings)
        io.err << "selvar-tool: " << w << '\n';
    switch (result.status) {
        case Protocol::ExportStatus::Done:
            for (const std::string& path : result.files)
                io.out << path << '\n';
            return result.warnings.empty() ? Exit::kOk : kPartialData;
        case Protocol::ExportStatus::Cancelled:
            io.err << "selvar-tool: the export was cancelled; nothing was written\n";
            return Exit::kRefused;
        default:
            io.err << "selvar-tool: " << ReplaceAll(result.message, "\n", " ");
            if (!result.detail.empty()) io.err << " (" << result.detail << ')';
            io.err << '\n';
            return Exit::kRefused;
    }
}
