#include <ostream>
#include <string>

#include "commands.h"
#include "description/device_description.h"
#include "device/device.h"
#include "device/progress_log.h"

namespace {

// Exit statuses of the connection check.
constexpr int kKnown = 0;
constexpr int kUnknownModification = 1;
constexpr int kNoAnswer = 2;
constexpr int kNoDescriptions = 3;
constexpr int kPortFailed = 201;

// The reads of the check, one line each, for -v.
class StreamLog : public ProgressLog {
  public:
    explicit StreamLog(std::ostream& os) : os_(os) {}
    void LogLine(const std::string& text, bool, std::uint32_t, bool) override {
        os_ << text << '\n';
    }

  private:
    std::ostream& os_;
};

}  // namespace

int RunCheck(const Args& args, Io& io) {
    args.ExpectOperands(0, 0, "nothing");
    if (!args.Text("--port")) throw UsageError("--port is required");
    const CDeviceDescription* description = nullptr;
    if (auto mod = args.Text("--modification")) {
        description = FindDeviceDescription(*mod);
        if (!description)
            throw UsageError("unknown modification '" + *mod + "' (a1, b4, b2 or a display name)");
    }

    Device device;
    ConfigurePort(args, device.Port());
    if (description && device.LoadTable(*description) != TableLoadStatus::Ok) {
        io.err << "selvar-tool: cannot read " << DescriptionPath(description->parametersFile)
               << '\n';
        return kNoDescriptions;
    }
    if (!device.FindParameter("dev")) {
        io.err << "selvar-tool: the description files cannot be read (" << DescriptionDirectory()
               << ")\n";
        return kNoDescriptions;
    }
    if (device.Port().Open() != 0) {
        io.err << "selvar-tool: " << PortFailureMessage(device.Port()) << '\n';
        return kPortFailed;
    }
    device.RenewOperationStamp();
    StreamLog log(io.err);
    if (args.Has("-v")) device.SetProgressLog(&log);

    std::string error;
    std::uint8_t flags = 0;
    std::string report = device.CheckDevice(error, &flags, false);
    io.out << report;
    io.err << error;
    if (flags & CheckFlags::kKnownModification) return kKnown;
    return flags & CheckFlags::kAnswered ? kUnknownModification : kNoAnswer;
}
