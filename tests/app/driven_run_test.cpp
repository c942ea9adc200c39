// The watchers of a driven run with hooks that record what the main window
// was asked: the done event, the driving program's exit event (a real named
// semaphore), SIGTERM, and the shutdown with watchers still waiting.
#include "app/driven_run.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <semaphore.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <memory>
#include <string>

#include "app/exit_event.h"
#include "platform/app_state.h"
#include "platform/event.h"

namespace {

using namespace App;
using std::chrono::milliseconds;

// Generous: only a hang makes a wait this long.
constexpr milliseconds kHang{30000};

struct Recorder {
    Event closed, unfixed, stopped;
    std::atomic<int> closes{0}, clears{0}, stops{0};
    DrivenRunHooks Hooks() {
        return {[this] {
                    ++closes;
                    closed.Set();
                },
                [this] {
                    ++clears;
                    unfixed.Set();
                },
                [this] {
                    ++stops;
                    stopped.Set();
                }};
    }
};

class DrivenRunTest : public ::testing::Test {
  protected:
    void TearDown() override {
        run.reset();
        ReleaseTerminationSignals();
        DrivenRun::SetStopLimit(milliseconds(5000));
        StartupSwitches& s = Startup();
        s.noPort = s.silent = s.driven = s.closeWhenDone = false;
        s.writeRequested = s.readRequested = s.test = false;
        s.doneEvent = nullptr;
        Outcome::Unlatch();
        Outcome::Reset();
        if (!semName.empty()) sem_unlink(semName.c_str());
    }

    int Begin(const std::vector<std::string>& args) {
        CommandLine line = ParseCommandLine(args);
        StartPlan plan = PlanStartup(line);
        ApplyStartPlan(line, plan);
        run = std::make_unique<DrivenRun>(line, plan, rec.Hooks());
        return run->Start();
    }

    // A name no other test run uses, in the case the driving program typed.
    std::string UniqueEventName() {
        std::string typed = "SelvarTestExit" + std::to_string(getpid());
        semName = ExitEventSemaphoreName(typed);
        return typed;
    }

    void Post() {
        sem_t* sem = sem_open(semName.c_str(), 0);
        ASSERT_NE(sem, SEM_FAILED) << "the configurator created it under " << semName;
        sem_post(sem);
        sem_close(sem);
    }

    Recorder rec;
    std::unique_ptr<DrivenRun> run;
    std::string semName;
};

TEST_F(DrivenRunTest, DoneWithCloseClearsTheRunAndClosesTheWindow) {
    EXPECT_EQ(Begin({"/write/port:2/close/x:0/y:0/w:300/h:200", "a.svx"}), 140);
    EXPECT_EQ(Startup().doneEvent.load(), &run->DoneEvent());
    EXPECT_FALSE(run->DoneEvent().IsSet()) << "reset while the write runs";
    EXPECT_TRUE(Startup().driven);

    run->DoneEvent().Set();  // as the exchange thread does after the write
    ASSERT_TRUE(rec.closed.Wait(kHang));
    EXPECT_EQ(rec.clears.load(), 1);
    EXPECT_FALSE(Startup().driven) << "operations show their boxes again";
    EXPECT_FALSE(Startup().closeWhenDone);
    EXPECT_FALSE(Startup().writeRequested);
    EXPECT_EQ(Startup().doneEvent.load(), nullptr);

    run->Shutdown();
    EXPECT_EQ(rec.closes.load(), 1);
    EXPECT_EQ(rec.stops.load(), 1) << "the exit watcher ends with the device stopped";
    EXPECT_EQ(Outcome::Flags(), 0u);
}

TEST_F(DrivenRunTest, DoneWithoutCloseKeepsTheWindowOpen) {
    EXPECT_EQ(Begin({"/read/port:2", "out.svx"}), 139);
    run->DoneEvent().Set();
    ASSERT_TRUE(rec.unfixed.Wait(kHang));
    run->Shutdown();
    EXPECT_EQ(rec.closes.load(), 0);
    EXPECT_EQ(rec.clears.load(), 1);
    EXPECT_FALSE(Startup().readRequested);
}

TEST_F(DrivenRunTest, ARefusedOperationEndsTheRunCancelled) {
    EXPECT_EQ(Begin({"/read/close", "out.svx"}), 139);
    run->OperationNotRun();
    ASSERT_TRUE(rec.closed.Wait(kHang)) << "closes after its question";
    EXPECT_TRUE(run->DoneEvent().IsSet());
    run->Shutdown();
    EXPECT_EQ(Outcome::ExitCode(Outcome::Flags()), 205);
}

TEST_F(DrivenRunTest, NoOperationLeavesTheDoneEventSet) {
    // A port alone: the options are cleared at once, nothing is closed.
    EXPECT_EQ(Begin({"/port:3"}), 0);
    ASSERT_TRUE(rec.unfixed.Wait(kHang));
    EXPECT_TRUE(run->DoneEvent().IsSet());
    run->Shutdown();
    EXPECT_EQ(rec.closes.load(), 0);
}

TEST_F(DrivenRunTest, ExitEventPostedEndsTheRunCancelled) {
    const std::string typed = UniqueEventName();
    EXPECT_EQ(Begin({"/write/port:2/exitevent:" + typed, "a.svx"}), 140);
    EXPECT_TRUE(run->ExitEventError().empty()) << run->ExitEventError();
    Outcome::Set(Outcome::kNoAnswer | Outcome::kPortFailed);

    Post();
    ASSERT_TRUE(rec.stopped.Wait(kHang));
    EXPECT_EQ(Outcome::Flags(), Outcome::kCancelled) << "the whole field becomes 0x20";
    EXPECT_EQ(rec.closes.load(), 1);
    // The write still in flight times out, and a later check starts afresh:
    // the run stays cancelled.
    Outcome::Set(Outcome::kNoAnswer);
    Outcome::Clear(Outcome::kCancelled);
    Outcome::Reset(Outcome::kUnknownDevice);
    EXPECT_EQ(Outcome::ExitCode(Outcome::Flags()), 205);
    run->Shutdown();
    EXPECT_EQ(rec.stops.load(), 1);
    // The done watcher was abandoned before the operation ended: the run's
    // options were never cleared.
    EXPECT_EQ(rec.clears.load(), 0);
    EXPECT_EQ(rec.closes.load(), 1);
}

TEST_F(DrivenRunTest, ExitEventAfterTheOperationStillCloses) {
    const std::string typed = UniqueEventName();
    Begin({"/write/port:2/exitevent:" + typed, "a.svx"});
    run->DoneEvent().Set();
    ASSERT_TRUE(rec.unfixed.Wait(kHang));
    EXPECT_EQ(rec.closes.load(), 0);
    Post();
    ASSERT_TRUE(rec.closed.Wait(kHang));
    run->Shutdown();
    EXPECT_EQ(Outcome::Flags(), Outcome::kCancelled);
}

TEST_F(DrivenRunTest, TerminationSignalActsAsTheExitEvent) {
    Begin({"/write/port:2", "a.svx"});
    std::raise(SIGTERM);
    ASSERT_TRUE(rec.closed.Wait(kHang));
    ASSERT_TRUE(rec.stopped.Wait(kHang));
    EXPECT_EQ(Outcome::Flags(), Outcome::kCancelled);
    run->Shutdown();
    EXPECT_EQ(rec.closes.load(), 1);
}

TEST_F(DrivenRunTest, ASignalDuringStartUpEndsTheRunOnceTheWatcherStarts) {
    CatchTerminationSignals();
    Event checkStop, readStop;
    StopOnTerminationSignal(&checkStop);
    std::raise(SIGINT);  // while the connection check runs: the process lives on
    EXPECT_TRUE(checkStop.IsSet()) << "the check's exchanges stop";
    StopOnTerminationSignal(&readStop);
    EXPECT_TRUE(readStop.IsSet()) << "a stop event named after the signal is set at once";
    StopOnTerminationSignal(nullptr);
    Outcome::Set(Outcome::kNoAnswer);  // what the cut check recorded

    EXPECT_EQ(Begin({"/write/port:2", "a.svx"}), 0) << "the write is not begun";
    ASSERT_TRUE(rec.closed.Wait(kHang));
    ASSERT_TRUE(rec.stopped.Wait(kHang));
    EXPECT_EQ(Outcome::ExitCode(Outcome::Flags()), 205);
}

TEST_F(DrivenRunTest, ShutdownEndsWaitingWatchers) {
    Begin({"/write/port:2/close", "a.svx"});
    run->Shutdown();
    // Nothing was done and nothing signalled: no close, no outcome.
    EXPECT_EQ(rec.closes.load(), 0);
    EXPECT_EQ(rec.stops.load(), 1);
    EXPECT_EQ(rec.clears.load(), 1);
    EXPECT_EQ(Outcome::Flags(), 0u);
    EXPECT_EQ(Startup().doneEvent.load(), nullptr);
    run->Shutdown();  // a second time changes nothing
    EXPECT_EQ(rec.stops.load(), 1);
}

TEST_F(DrivenRunTest, ShutdownDoesNotWaitForeverForAStuckWatcher) {
    DrivenRun::SetStopLimit(milliseconds(20));
    // Owned by the hook itself: the abandoned watcher outlives this test.
    auto release = std::make_shared<Event>(), returned = std::make_shared<Event>();
    DrivenRunHooks hooks;
    hooks.stopDevice = [release, returned] {
        release->Wait();  // a window that never answers
        returned->Set();
    };
    CommandLine line = ParseCommandLine({"/write/port:2", "a.svx"});
    run = std::make_unique<DrivenRun>(line, PlanStartup(line), hooks);
    run->Start();
    run->Shutdown();  // returns although the exit watcher is stuck
    run.reset();      // and the run may go; the watcher keeps what it uses
    release->Set();
    ASSERT_TRUE(returned->Wait(kHang));
}

TEST_F(DrivenRunTest, AnExitEventThatCannotBeOpenedIsReported) {
    Begin({"/write/port:2/exitevent:\"bad/name\"", "a.svx"});
    EXPECT_FALSE(run->ExitEventError().empty());
    run->DoneEvent().Set();
    ASSERT_TRUE(rec.unfixed.Wait(kHang));
}

TEST_F(DrivenRunTest, InteractiveStartStartsNoWatchers) {
    EXPECT_EQ(Begin({"a.svx"}), 0);
    EXPECT_EQ(Startup().doneEvent.load(), nullptr);
    run->Shutdown();
    EXPECT_EQ(rec.stops.load(), 0);
}

TEST(ExitEventName, LowerCasedWithOneLeadingSlash) {
    EXPECT_EQ(ExitEventSemaphoreName("StopIt"), "/stopit");
    EXPECT_EQ(ExitEventSemaphoreName("/Already"), "/already");
    std::string error;
    EXPECT_EQ(ExitEvent::Open("", &error), nullptr);
    EXPECT_FALSE(error.empty());
}

}  // namespace
