// The commands that work on a whole configuration: reading and writing it
// through the exchange operations, polling, the .svx files, the structure
// report, the help texts and the dBase tables.
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <iomanip>
#include <map>
#include <mutex>
#include <ostream>
#include <sstream>
#include <string>
#include <thread>

#include "commands.h"
#include "dbf/parameter_export.h"
#include "description/device_description.h"
#include "device/polling.h"
#include "device/program_modes.h"
#include "device/progress_log.h"
#include "document/access_level.h"
#include "document/configuration_contents.h"
#include "document/selvar_doc.h"
#include "platform/app_state.h"
#include "platform/text.h"
#include "platform/ui_services.h"

namespace {

// Exit statuses of the configuration commands.
constexpr int kFailures = 1;        // some parameters failed, or the name is unknown
constexpr int kFileFailed = 2;      // the configuration file could not be read or written
constexpr int kNoDescriptions = 3;  // the description files could not be read
constexpr int kPortFailed = 201;

// Written by the signal handler, read by the watcher thread and the poll
// loop: a lock-free atomic is safe in both places.
std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void OnInterrupt(int) {
    g_interrupted.store(true);
}

// While it lives, Ctrl+C does what "Остановить" does: the running operation
// stops at its next parameter, and a poll ends.
class InterruptGuard {
  public:
    InterruptGuard() {
        g_interrupted.store(false);
        struct sigaction action {};
        action.sa_handler = OnInterrupt;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, &previous_);
        watcher_ = std::thread([this] {
            bool pressed = false;
            while (!done_) {
                if (g_interrupted.load() && !pressed) {
                    if (auto window = RegisteredProgressWindow()) {
                        window->PressButton();
                        pressed = true;
                    }
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        });
    }
    ~InterruptGuard() {
        done_ = true;
        watcher_.join();
        sigaction(SIGINT, &previous_, nullptr);
    }
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

    bool Interrupted() const { return g_interrupted.load(); }

  private:
    struct sigaction previous_ {};
    std::atomic<bool> done_{false};
    std::thread watcher_;
};

std::string ColourMarker(std::uint32_t colour) {
    // The log's colours are 0x00BBGGRR, the marker reads as #RRGGBB.
    return Format("[#%02X%02X%02X]", colour & 0xFFu, (colour >> 8) & 0xFFu, (colour >> 16) & 0xFFu);
}

// One record a line: a text's own line breaks and tabs are written as
// escapes, so that they neither end the line nor shift the columns.
std::string EscapeLineBreaks(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                out += c;
        }
    }
    return out;
}

// The progress window's log as text lines: bold, colour and italics become
// markers in front of the line.
class PrintingRenderer : public ProgressRenderer {
  public:
    explicit PrintingRenderer(std::ostream& os) : os_(os) {}
    void AppendLine(const std::string& text, bool bold, std::uint32_t colour,
                    bool italic) override {
        std::lock_guard lock(mutex_);
        if (bold) os_ << "[b]";
        if (italic) os_ << "[i]";
        if (colour != LogColour::kBlack) os_ << ColourMarker(colour);
        if (bold || italic || colour != LogColour::kBlack) os_ << ' ';
        os_ << text << '\n';
    }

  private:
    std::ostream& os_;
    std::mutex mutex_;
};

const CDeviceDescription& Modification(const std::string& name) {
    const CDeviceDescription* d = FindDeviceDescription(name);
    if (!d) throw UsageError("unknown modification '" + name + "' (a1, b4, b2 or a display name)");
    return *d;
}

// Sets up the document for a modification; false (reported) when its
// description files cannot be read.
bool SetUp(CSelvarDoc& doc, const CDeviceDescription& modification, Io& io) {
    // The tool reads only what it is told to.
    Modes().autoRead = false;
    if (doc.SetUpConfiguration(&modification, false)) return true;
    io.err << "selvar-tool: " << doc.LastError() << " (" << DescriptionDirectory() << ")\n";
    return false;
}

// Opens the port for the whole run, so that a port that cannot be opened is
// reported as such rather than as parameters that failed.
bool Connect(CSelvarDoc& doc, const Args& args, Io& io) {
    if (!args.Text("--port")) throw UsageError("--port is required");
    Sio& port = doc.device().Port();
    ConfigurePort(args, port);
    if (port.Open() != 0) {
        io.err << "selvar-tool: " << PortFailureMessage(port) << '\n';
        return false;
    }
    // The end pause is the window user's chance to stop; here Ctrl+C is.
    SetFinishPause(std::chrono::milliseconds(0));
    doc.StartExchange();
    return true;
}

// Runs a document command through a window whose log is printed to `log`,
// then the counts; kFailures when a parameter failed or the run was stopped.
int RunOperation(CSelvarDoc& doc, int command, Io& io, std::ostream& log) {
    PrintingRenderer renderer(log);
    doc.renderer = &renderer;
    Outcome::Clear(Outcome::kCancelled);
    bool ok;
    {
        InterruptGuard interrupt;
        OperationState().counters.Reset();
        ok = doc.OnCommand(command);
    }
    doc.renderer = nullptr;
    const OperationCounters& c = OperationState().counters;
    log << "processed " << c.processed << " of " << c.total << ", failed " << c.failed << '\n';
    if (Outcome::Flags() & Outcome::kCancelled) io.err << "selvar-tool: stopped\n";
    return ok && c.failed == 0 && !(Outcome::Flags() & Outcome::kCancelled) ? Exit::kOk : kFailures;
}

// The file is opened as a command-line run opens it: no questions, the
// file's own modification and level.
bool OpenFile(CSelvarDoc& doc, const std::string& path, Io& io) {
    Startup().driven = true;
    bool ok = doc.OpenDocument(path);
    // A refusal the loader showed has been printed already.
    if (!ok && !doc.LastErrorShown()) io.err << "selvar-tool: " << doc.LastError() << '\n';
    return ok;
}

// False (reported) unless the path names a regular file.
bool RegularFile(const std::string& path, Io& io) {
    std::error_code ec;
    const auto st = std::filesystem::status(path, ec);
    if (std::filesystem::is_regular_file(st)) return true;
    if (ec || std::filesystem::is_directory(st))
        io.err << "selvar-tool: Не удается открыть файл '" << path << "'.\n";
    else
        io.err << "selvar-tool: Файл '" << path << "' не является обычным файлом.\n";
    return false;
}

std::string LocalTime(std::time_t t) {
    std::tm tm{};
    localtime_r(&t, &tm);
    std::ostringstream os;
    os << std::put_time(&tm, "%Y-%m-%d %H:%M:%S");
    return os.str();
}

std::string Key(const Parameter& p) {
    return p.hasLinearIndex ? p.name + ":" + std::to_string(p.linearIndex) : p.name;
}

// Prints (and records) each polled value as the polling threads hand it over.
class PollPrinter : public MainWindowNotifications {
  public:
    PollPrinter(CSelvarDoc& doc, std::ostream& os) : doc_(doc), os_(os) {}
    void OperativeValueRead(Parameter& p) override {
        std::lock_guard lock(mutex_);
        const std::time_t now = std::time(nullptr);
        os_ << LocalTime(now) << '\t' << Key(p) << '\t' << p.deviceAddress << '\t'
            << EscapeLineBreaks(p.error.empty() ? p.value : p.error) << '\n';
        os_.flush();
        if (doc_.recordProtocol && !doc_.RecordPolledValue(p, now)) ++recordFailures;
        ++count;
    }
    int count = 0;
    int recordFailures = 0;

  private:
    CSelvarDoc& doc_;
    std::ostream& os_;
    std::mutex mutex_;
};

}  // namespace

int RunReadAll(const Args& args, Io& io) {
    args.ExpectOperands(1, 1, "MOD");
    const CDeviceDescription& modification = Modification(args.Operands()[0]);
    CSelvarDoc doc;
    if (!SetUp(doc, modification, io)) return kNoDescriptions;
    if (!Connect(doc, args, io)) return kPortFailed;
    return RunOperation(doc, CommandId::kReadAll, io, io.out);
}

int RunSave(const Args& args, Io& io) {
    args.ExpectOperands(2, 2, "MOD and OUT.svx");
    const CDeviceDescription& modification = Modification(args.Operands()[0]);
    const std::string& out = args.Operands()[1];
    CSelvarDoc doc;
    if (!SetUp(doc, modification, io)) return kNoDescriptions;
    if (!Connect(doc, args, io)) return kPortFailed;
    doc.NewDocument();
    int status = RunOperation(doc, CommandId::kReadAll, io, io.out);
    // A read that was stopped, by Ctrl+C or by the device falling silent,
    // holds "Нет данных" for what it did not reach: it replaces a file only
    // when asked to.
    const OperationCounters& c = OperationState().counters;
    const bool complete = c.processed >= c.total && !(Outcome::Flags() & Outcome::kCancelled);
    if (!complete && !args.Has("--partial")) {
        std::error_code ec;
        io.out << (std::filesystem::exists(out, ec) ? "kept " + out + " unchanged"
                                                    : "nothing written to " + out)
               << ": the read did not complete (--partial saves what was read)\n";
        return kFailures;
    }
    Startup().driven = true;  // the save reports its failure here, not in a box
    if (!doc.SaveDocument(out)) {
        io.err << "selvar-tool: " << doc.LastError() << '\n';
        return kFileFailed;
    }
    io.out << (complete ? "saved " : "saved the partial read into ") << out << '\n';
    return complete ? status : kFailures;
}

int RunLoad(const Args& args, Io& io) {
    args.ExpectOperands(1, 1, "FILE.svx");
    int command = 0;
    if (auto write = args.Text("--write")) {
        if (*write == "all")
            command = CommandId::kWriteAll;
        else if (*write == "changed")
            command = CommandId::kWriteChanged;
        else
            throw UsageError("--write takes all or changed");
    }
    if (command && !args.Text("--port")) throw UsageError("--write needs --port");
    CSelvarDoc doc;
    if (!SetUp(doc, *doc.Modification(), io)) return kNoDescriptions;
    if (!OpenFile(doc, args.Operands()[0], io)) return kFileFailed;
    io.out << "opened " << doc.PathName() << ": " << doc.Modification()->displayName << ", "
           << Access::LevelName(Access::Level()) << '\n';
    if (!command) return Exit::kOk;
    if (!Connect(doc, args, io)) return kPortFailed;
    return RunOperation(doc, command, io, io.out);
}

int RunStructure(const Args& args, Io& io) {
    args.ExpectOperands(1, 1, "MOD");
    const CDeviceDescription& modification = Modification(args.Operands()[0]);
    CSelvarDoc doc;
    if (!SetUp(doc, modification, io)) return kNoDescriptions;
    if (!Connect(doc, args, io)) return kPortFailed;
    // The report is the output; the reads' log goes beside it.
    int status = RunOperation(doc, CommandId::kReadStructure, io, io.err);
    io.out << doc.StructureListing();
    return status;
}

int RunHelpText(const Args& args, Io& io) {
    args.ExpectOperands(2, 2, "MOD and NAME[:INDEX]");
    const CDeviceDescription& modification = Modification(args.Operands()[0]);
    NamedParameter named = ParseNamedParameter(args.Operands()[1]);
    CSelvarDoc doc;
    if (!SetUp(doc, modification, io)) return kNoDescriptions;
    Parameter* p = doc.device().FindParameter(named.name, named.index.value_or(-1));
    if (!p) {
        io.err << "selvar-tool: " << modification.displayName << " has no parameter "
               << args.Operands()[1] << '\n';
        return kFailures;
    }
    std::string text = doc.HelpText(*p);
    io.out << text << (text.ends_with('\n') ? "" : "\n");
    return Exit::kOk;
}

int RunPoll(const Args& args, Io& io) {
    args.ExpectOperands(1, SIZE_MAX, "MOD and the parameters");
    const CDeviceDescription& modification = Modification(args.Operands()[0]);
    const int period =
        static_cast<int>(args.Int("--period", Polling::kMinPeriodMs, 86400000, 1000));
    const std::int64_t seconds = args.Int("--seconds", 1, 31536000, 10);

    CSelvarDoc doc;
    if (!SetUp(doc, modification, io)) return kNoDescriptions;
    DescBranch& operative = *doc.OperativeTree();
    std::vector<Parameter*> chosen;
    for (std::size_t i = 1; i < args.Operands().size(); ++i) {
        NamedParameter named = ParseNamedParameter(args.Operands()[i]);
        Parameter* p = operative.FindParameter(named.name, named.index.value_or(-1), nullptr);
        if (!p || !p->pollTimer)
            throw UsageError("'" + args.Operands()[i] + "' is not an operative parameter of " +
                             modification.displayName);
        chosen.push_back(p);
    }
    if (chosen.empty())
        operative.ForEachBranch([&](const DescBranch& b) {
            for (Parameter* p : b.parameters)
                if (p->pollTimer) chosen.push_back(p);
        });
    if (chosen.size() > static_cast<std::size_t>(Polling::kMaxPolled))
        throw UsageError(Format("at most %d parameters can be polled", Polling::kMaxPolled));

    if (!Connect(doc, args, io)) return kPortFailed;
    doc.recordProtocol = args.Has("--record");
    PollPrinter printer(doc, io.out);
    SetMainWindowNotifications(&printer);
    for (Parameter* p : chosen) {
        p->pollPeriod = period;
        StartParameterPolling(*p);
    }
    int status = Exit::kOk;
    {
        InterruptGuard interrupt;
        if (StartPolling(doc.device(), operative) != 0) status = kFailures;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (status == Exit::kOk && !interrupt.Interrupted() &&
               std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const std::uint64_t missed = MissedPolls(doc.device());
        StopPolling(doc.device(), [] { StopExchangeThread(); });
        if (missed > 0)
            io.err << "selvar-tool: the line could not keep up with the periods asked for: "
                   << missed << " polls came before the previous one of the same parameter "
                   << "was served\n";
    }
    SetMainWindowNotifications(nullptr);
    if (doc.recordProtocol) {
        io.err << "selvar-tool: recorded into " << doc.ProtocolFiles().folder() << '/'
               << doc.ProtocolParameter().value << '\n';
        if (printer.recordFailures) {
            io.err << "selvar-tool: " << printer.recordFailures
                   << " values could not be recorded\n";
            status = kFailures;
        }
    }
    return status;
}

int RunSvx(const Args& args, Io& io) {
    args.ExpectOperands(2, 2, "dump and FILE.svx");
    if (args.Operands()[0] != "dump") throw UsageError("svx takes dump FILE.svx");
    // The header comes first in the file; it is printed before the first
    // record, or at the end when there is none.
    Svx::Contents contents;
    bool headerShown = false;
    auto showHeader = [&] {
        if (headerShown) return;
        headerShown = true;
        io.out << "access level: " << contents.accessLevel << '\n'
               << "modification: " << EscapeLineBreaks(contents.modification) << '\n'
               << "common parameters: " << EscapeLineBreaks(contents.commonName) << '\n';
        for (const auto& p : contents.common)
            io.out << "  " << EscapeLineBreaks(p->name) << " = " << EscapeLineBreaks(p->value)
                   << '\n';
        io.out << "table: " << EscapeLineBreaks(contents.tableName) << ", " << contents.tableSize
               << " parameters, " << contents.recordCount << " records\n";
    };
    contents.onRecord = [&](std::uint32_t key, const Parameter& p) {
        showHeader();
        io.out << Format("%08X", key) << '\t' << EscapeLineBreaks(p.name) << '\t'
               << (p.hasLinearIndex ? std::to_string(p.linearIndex) : "-") << '\t'
               << EscapeLineBreaks(p.value) << '\t' << EscapeLineBreaks(p.error) << '\t'
               << (p.needUpdate ? 'v' : '-') << (p.needUpdateAccess ? 'a' : '-')
               << (p.needUpdateOwner ? 'o' : '-') << '\n';
    };
    std::string error;
    bool ok = Svx::ReadContents(args.Operands()[1], contents, error);
    if (!ok && contents.modification.empty()) {
        io.err << "selvar-tool: " << error << '\n';
        return kFileFailed;
    }
    showHeader();
    if (!ok) {
        io.err << "selvar-tool: " << error << '\n';
        return kFileFailed;
    }
    return Exit::kOk;
}

int RunDbf(const Args& args, Io& io) {
    args.ExpectOperands(3, 4, "export FILE.svx OUT.dbf | import FILE.svx IN.dbf [OUT.svx]");
    const std::vector<std::string>& ops = args.Operands();
    const bool import = ops[0] == "import";
    if (!import && ops[0] != "export") throw UsageError("dbf takes export or import");
    if (!import && ops.size() != 3) throw UsageError("dbf export takes FILE.svx and OUT.dbf");

    // A pipe or a device given as the table would never end.
    if (import && !RegularFile(ops[2], io)) return kFileFailed;
    CSelvarDoc doc;
    if (!SetUp(doc, *doc.Modification(), io)) return kNoDescriptions;
    if (!OpenFile(doc, ops[1], io)) return kFileFailed;
    if (!import)
        return ExportParameters(*doc.ConfigurationTree(), ops[2]) ? Exit::kOk : kFileFailed;
    if (!ImportParameters(*doc.ConfigurationTree(), ops[2])) return kFileFailed;
    // Without OUT.svx the configuration file itself takes the imported values.
    const std::string& out = ops.size() == 4 ? ops[3] : ops[1];
    if (!doc.SaveDocument(out)) {
        io.err << "selvar-tool: " << doc.LastError() << '\n';
        return kFileFailed;
    }
    return Exit::kOk;
}
