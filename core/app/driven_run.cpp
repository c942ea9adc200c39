#include "app/driven_run.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "app/exit_event.h"
#include "platform/app_state.h"
#include "platform/event.h"

namespace App {

namespace {

std::atomic<std::int64_t> gStopLimitMs{5000};

// How often the exit watcher looks at the named semaphore, which cannot be
// polled together with the events.
constexpr std::chrono::milliseconds kSemaphoreSlice{50};

// The done event is the process's, as the exchange thread that sets it may
// outlive the run's watchers.
Event& ProcessDoneEvent() {
    static Event* done = new Event(Event::Reset::Manual, true);
    return *done;
}

// SIGTERM and SIGINT only write to this event's descriptor, which is all a
// signal handler may safely do. Never destroyed, so that a late signal still
// finds it.
Event& SignalEvent() {
    static Event* signalled = new Event(Event::Reset::Manual, false);
    return *signalled;
}
std::atomic<int> gSignalFd{-1};
// The device's stop event while start-up's own exchanges may run; -1: none.
std::atomic<int> gStopFd{-1};

extern "C" void OnTerminationSignal(int) {
    const int saved = errno;
    std::uint64_t one = 1;
    for (const int fd : {gSignalFd.load(), gStopFd.load()})
        if (fd >= 0) (void)!write(fd, &one, sizeof one);
    errno = saved;
}

// Waits for a watcher to end for at most the stop limit; a thread that does
// not end is left to itself (a std::thread cannot be terminated). It keeps
// the run's state alive through its own shared_ptr, so nothing dangles.
void StopThread(std::thread& thread, Event& finished) {
    if (!thread.joinable()) return;
    if (finished.Wait(std::chrono::milliseconds(gStopLimitMs.load())))
        thread.join();
    else
        thread.detach();
}

}  // namespace

struct DrivenRun::State {
    CommandLine line;
    StartPlan plan;
    DrivenRunHooks hooks;

    Event shutdown{Event::Reset::Manual, false};
    // Set by the exit watcher to end the done watcher without its steps, as
    // terminating it would.
    Event abandonDone{Event::Reset::Manual, false};
    Event startExitWatcher{Event::Reset::Manual, false};
    Event doneFinished{Event::Reset::Manual, false};
    Event exitFinished{Event::Reset::Manual, false};
    std::unique_ptr<ExitEvent> exitEvent;
    std::string exitEventError;

    void DoneWatcher();
    void ExitWatcher();
    void ClearOptions();
};

void DrivenRun::State::ClearOptions() {
    // Everything from the action bits on; the mode bits (no port, silent,
    // test) stay for the rest of the process.
    StartupOptions& o = line.options;
    o.actionBits = 0;
    o.geometryBits = 0;
    o.port = 0;
    o.baud = 0;
    std::memset(o.address, 0, sizeof o.address);
    std::memset(o.stopBits, 0, sizeof o.stopBits);
    o.x = o.y = o.w = o.h = 0;
    StartupSwitches& s = Startup();
    s.driven = false;
    s.closeWhenDone = false;
    s.writeRequested = false;
    s.readRequested = false;
    s.doneEvent = nullptr;  // dropped; the event itself lives on
}

void DrivenRun::State::DoneWatcher() {
    startExitWatcher.Set();
    auto which = WaitAny({&shutdown, &ProcessDoneEvent(), &abandonDone}, std::nullopt);
    if (which && *which != 2) {
        const bool closeAfter =
            line.options.Has(ActionBit::kClose) || line.options.Has(ActionBit::kCalibrate);
        ClearOptions();
        if (hooks.clearFixed) hooks.clearFixed();
        if (closeAfter && *which == 1 && hooks.requestClose) hooks.requestClose();
    }
    doneFinished.Set();
}

void DrivenRun::State::ExitWatcher() {
    bool exitSignalled = false;
    startExitWatcher.Wait();
    for (;;) {
        std::optional<std::chrono::milliseconds> slice;
        if (exitEvent) slice = kSemaphoreSlice;
        auto which = WaitAny({&shutdown, &SignalEvent()}, slice);
        if (which && *which == 0) break;
        if ((which && *which == 1) || (exitEvent && exitEvent->TryTake())) {
            exitSignalled = true;
            break;
        }
    }
    if (exitSignalled) abandonDone.Set();
    doneFinished.Wait(std::chrono::milliseconds(gStopLimitMs.load()));
    if (exitSignalled) {
        Outcome::Latch(Outcome::kCancelled);
        exitEvent.reset();
        if (hooks.requestClose) hooks.requestClose();
    }
    if (hooks.stopDevice) hooks.stopDevice();
    exitFinished.Set();
}

// The thread objects belong to the DrivenRun and are touched only by the
// thread that calls Start and Shutdown.
struct DrivenRun::Threads {
    std::thread done;
    std::thread exit;
};

namespace {
struct sigaction gPreviousTerm {};
struct sigaction gPreviousInt {};
bool gHandlersInstalled = false;

// Once per driven run: a signal that came before the watchers started stays
// latched for them.
void InstallSignalHandlers() {
    if (gHandlersInstalled) return;
    SignalEvent().ResetEvent();
    gSignalFd = SignalEvent().Fd();
    struct sigaction action {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, &gPreviousTerm);
    sigaction(SIGINT, &action, &gPreviousInt);
    gHandlersInstalled = true;
}

void RestoreSignalHandlers() {
    gStopFd = -1;
    if (!gHandlersInstalled) return;
    sigaction(SIGTERM, &gPreviousTerm, nullptr);
    sigaction(SIGINT, &gPreviousInt, nullptr);
    gHandlersInstalled = false;
    gSignalFd = -1;
}
}  // namespace

void CatchTerminationSignals() {
    InstallSignalHandlers();
}

void StopOnTerminationSignal(Event* stop) {
    gStopFd = stop ? stop->Fd() : -1;
    if (stop && gHandlersInstalled && SignalEvent().IsSet()) stop->Set();
}

void ReleaseTerminationSignals() {
    RestoreSignalHandlers();
}

DrivenRun::DrivenRun(const CommandLine& line, const StartPlan& plan, DrivenRunHooks hooks)
    : state_(std::make_shared<State>()), threads_(std::make_unique<Threads>()) {
    state_->line = line;
    state_->plan = plan;
    state_->hooks = std::move(hooks);
}

DrivenRun::~DrivenRun() {
    Shutdown();
}

int DrivenRun::Start() {
    if (started_ || !state_->plan.driven) return 0;
    started_ = true;
    Event& done = ProcessDoneEvent();
    done.Set();
    if (state_->plan.commandToPost != 0) done.ResetEvent();
    Startup().doneEvent = &done;
    if (!state_->line.exitEventName.empty())
        state_->exitEvent = ExitEvent::Open(state_->line.exitEventName, &state_->exitEventError);
    InstallSignalHandlers();
    std::shared_ptr<State> state = state_;
    threads_->exit = std::thread([state] { state->ExitWatcher(); });
    threads_->done = std::thread([state] { state->DoneWatcher(); });
    // A signal during start-up already ends the run: its operation is not begun.
    if (SignalEvent().IsSet()) return 0;
    return state_->plan.commandToPost;
}

void DrivenRun::Shutdown() {
    if (!started_ || stopped_) return;
    stopped_ = true;
    state_->shutdown.Set();
    StopThread(threads_->exit, state_->exitFinished);
    StopThread(threads_->done, state_->doneFinished);
    RestoreSignalHandlers();
    Event* expected = &ProcessDoneEvent();
    Startup().doneEvent.compare_exchange_strong(expected, nullptr);
}

void DrivenRun::OperationNotRun() {
    if (!started_ || stopped_) return;
    Outcome::Set(Outcome::kCancelled);
    ProcessDoneEvent().Set();
}

Event& DrivenRun::DoneEvent() {
    return ProcessDoneEvent();
}

const std::string& DrivenRun::ExitEventError() const {
    return state_->exitEventError;
}

void DrivenRun::SetStopLimit(std::chrono::milliseconds limit) {
    gStopLimitMs = limit.count();
}

std::chrono::milliseconds DrivenRun::StopLimit() {
    return std::chrono::milliseconds(gStopLimitMs.load());
}

}  // namespace App
