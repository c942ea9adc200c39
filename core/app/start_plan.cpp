#include "app/start_plan.h"

#include "link/port_setup.h"
#include "platform/app_state.h"

namespace App {

StartPlan PlanStartup(const CommandLine& line) {
    StartPlan plan;
    plan.openFile = line.file;
    return plan;
}

void ApplyStartPlan(const CommandLine&, const StartPlan&) {}

int ConverterTypeAtStart(const StartupOptions& options) {
    return DecideConverterType(options.Rs485());
}

int ExitCodeAtEnd(std::uint32_t outcomeFlags, bool testOption, int normalCode) {
    int code = Outcome::ExitCode(outcomeFlags);
    if (code != 0) return code;
    return testOption ? 0 : normalCode;
}

}  // namespace App
