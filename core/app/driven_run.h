#pragma once

#include <chrono>
#include <functional>
#include <memory>

#include "app/start_plan.h"
#include "app/startup_options.h"

class Event;

namespace App {

// SIGTERM and SIGINT of a driven run's process, caught from its very start
// (before the document and its connection check): a signal is only latched,
// and ends the run with the exit event's outcome as soon as the exit watcher
// starts. Interactive runs never call it and keep the default handling.
void CatchTerminationSignals();
// A signal also sets `stop` (the device's stop event), at once when one came
// already, so that start-up's exchanges end early; null forgets it, as must
// be done before the event goes.
void StopOnTerminationSignal(Event* stop);
// Puts SIGTERM and SIGINT back and forgets the stop event; DrivenRun's
// Shutdown does the same.
void ReleaseTerminationSignals();

// What the watcher threads ask of the main window. They are called on the
// watcher threads: the GUI queues each to its own thread and never waits for
// it there, as Shutdown holds the GUI thread while the watchers end.
struct DrivenRunHooks {
    std::function<void()>
        requestClose;                  // the main window's close request (closing question follows)
    std::function<void()> clearFixed;  // the window is no longer fixed
    std::function<void()> stopDevice;  // set the device's stop event, when a device exists
};

// The watchers of a driven run: one waits for the operation to be done, the
// other for the driving program's exit event (or SIGTERM/SIGINT).
class DrivenRun {
  public:
    DrivenRun(const CommandLine& line, const StartPlan& plan, DrivenRunHooks hooks);
    ~DrivenRun();  // = Shutdown()
    DrivenRun(const DrivenRun&) = delete;
    DrivenRun& operator=(const DrivenRun&) = delete;

    // Creates the done event (manual, set), resets it when a command is to be
    // posted and puts it into Startup().doneEvent, opens the exit event when
    // named, installs SIGTERM/SIGINT as the exit event (keeping a signal
    // CatchTerminationSignals latched before), starts DoneWatcher,
    // which starts ExitWatcher. Returns the command to post (0: none, also
    // when a signal already ends the run); the GUI posts it to its window.
    int Start();
    // The main window is destroyed: sets the shutdown event, waits up to
    // the stop limit for each watcher, then puts SIGTERM and SIGINT back.
    void Shutdown();
    // The posted operation was refused (no port to use, or the command is
    // off): the run ends as a cancelled one, 0x20, and the done event is set
    // so that the run closes when asked to; nothing is saved.
    void OperationNotRun();
    Event& DoneEvent();

    // Why the exit event could not be opened; empty when it was, or none was named.
    const std::string& ExitEventError() const;

    // How long Shutdown waits for each watcher (5000 ms); tests shorten it.
    static void SetStopLimit(std::chrono::milliseconds limit);
    static std::chrono::milliseconds StopLimit();

    struct State;

  private:
    // Shared with the watcher threads: one left running past the stop limit
    // keeps it alive by itself.
    std::shared_ptr<State> state_;
    struct Threads;
    std::unique_ptr<Threads> threads_;
    bool started_ = false;
    bool stopped_ = false;
};

}  // namespace App
