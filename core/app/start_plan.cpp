#include "app/start_plan.h"

#include <fcntl.h>
#include <unistd.h>

#include "link/port_setup.h"
#include "platform/app_state.h"

namespace App {

StartPlan PlanStartup(const CommandLine& line) {
    const StartupOptions& o = line.options;
    StartPlan plan;
    plan.driven = o.Driven();
    plan.noPort = plan.driven && o.port == 0;
    plan.silent = o.HasMode(ModeBit::kSilent);
    plan.test = o.HasMode(ModeBit::kTest);

    // Placement: a rectangle needs all four values; w and h of 0 mean no
    // window at all, only the tray icon.
    const bool sized = o.HasGeometry(GeometryBit::kW) && o.HasGeometry(GeometryBit::kH);
    if (sized) {
        plan.x = o.HasGeometry(GeometryBit::kX) ? o.x : 0;
        plan.y = o.HasGeometry(GeometryBit::kY) ? o.y : 0;
        plan.w = o.w;
        plan.h = o.h;
        plan.hidden = o.w == 0 && o.h == 0;
        const bool placed = o.HasGeometry(GeometryBit::kX) && o.HasGeometry(GeometryBit::kY);
        if (plan.hidden) {
            plan.maximized = false;
        } else if (placed) {
            plan.maximized = false;
            plan.fixed = true;
        }
    }

    if (o.HasMode(ModeBit::kAutoReadOn)) plan.autoReadStart = 1;
    if (o.HasMode(ModeBit::kAutoReadOff)) plan.autoReadStart = 0;
    if (o.HasMode(ModeBit::kAutoWriteOn)) plan.instantWriteStart = 1;
    if (o.HasMode(ModeBit::kAutoWriteOff)) plan.instantWriteStart = 0;

    // The first plain argument is opened; a read run starts from a new
    // configuration and saves into the last one instead.
    const bool read = o.Has(ActionBit::kRead);
    if (!read && !line.plainArguments.empty()) plan.openFile = line.plainArguments.front();
    plan.newStart = plan.openFile.empty() && !read;

    if (plan.driven) {
        if (o.Has(ActionBit::kWrite))
            plan.commandToPost = DrivenCommand::kWriteAll;
        else if (o.Has(ActionBit::kCalibrate))
            plan.commandToPost = DrivenCommand::kCalibrate;
        else if (read)
            plan.commandToPost = DrivenCommand::kReadAll;
    }
    plan.closeWhenDone = o.Has(ActionBit::kClose);
    return plan;
}

void ApplyStartPlan(const CommandLine& line, const StartPlan& plan) {
    StartupSwitches& s = Startup();
    s.noPort = plan.noPort;
    s.silent = plan.silent;
    s.driven = plan.driven;
    s.closeWhenDone = plan.closeWhenDone;
    s.writeRequested = line.options.Has(ActionBit::kWrite);
    s.readRequested = line.options.Has(ActionBit::kRead);
    s.test = plan.test;
    s.autoReadStart = plan.autoReadStart;
    s.instantWriteStart = plan.instantWriteStart;
    if (!line.errorLog.empty()) {
        // Emptied at start so that the file holds this run's failures only;
        // a file that cannot be created is not an obstacle to the run.
        int fd = ::open(line.errorLog.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd >= 0) ::close(fd);
    }
}

int ConverterTypeAtStart(const StartupOptions& options) {
    return DecideConverterType(options.Rs485());
}

int ExitCodeAtEnd(std::uint32_t outcomeFlags, bool testOption, int normalCode) {
    int code = Outcome::ExitCode(outcomeFlags);
    if (code != 0) return code;
    return testOption ? 0 : normalCode;
}

}  // namespace App
