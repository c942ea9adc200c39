#include "app/driven_run.h"

#include <string>

#include "platform/event.h"

namespace App {

struct DrivenRun::State {
    Event done{Event::Reset::Manual, true};
    std::string exitEventError;
};

namespace {
std::chrono::milliseconds gStopLimit{5000};
}

DrivenRun::DrivenRun(const CommandLine&, const StartPlan&, DrivenRunHooks)
    : state_(std::make_shared<State>()) {}
DrivenRun::~DrivenRun() {
    Shutdown();
}
int DrivenRun::Start() {
    return 0;
}
void DrivenRun::Shutdown() {}
Event& DrivenRun::DoneEvent() {
    return state_->done;
}
const std::string& DrivenRun::ExitEventError() const {
    return state_->exitEventError;
}
void DrivenRun::SetStopLimit(std::chrono::milliseconds limit) {
    gStopLimit = limit;
}
std::chrono::milliseconds DrivenRun::StopLimit() {
    return gStopLimit;
}

}  // namespace App
