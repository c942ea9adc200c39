// The polling threads and the automatic reading against the simulated
// controller: when the first value comes, which thread serves which
// parameter, that stopping never hangs, and that polling and other reads
// share the link.
#include "device/polling.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "description/desc_branch.h"
#include "device/device.h"
#include "device/exchange_operations.h"
#include "device/program_modes.h"
#include "device/progress_window.h"
#include "model/parameter.h"
#include "model/waitable_poll_timer.h"
#include "platform/text.h"
#include "platform/ui_services.h"
#include "support/message_recorder.h"
#include "support/sim_process.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kNoHang = 5s;

struct Notice {
    Parameter* p;
    std::string thread;
    std::string value;
    std::string error;
    Clock::time_point at;
};

// Keeps every operative-value notice; can hold the polling thread in the
// handler until released.
class NoticeRecorder : public MainWindowNotifications {
  public:
    void OperativeValueRead(Parameter& p) override {
        char name[16] = {};
        pthread_getname_np(pthread_self(), name, sizeof name);
        std::unique_lock<std::mutex> lock(mutex);
        notices.push_back({&p, name, p.value, p.error, Clock::now()});
        changed.notify_all();
        if (hold) {
            ++held;
            changed.notify_all();
            changed.wait_for(lock, 10s, [&] { return !hold; });
            --held;
            changed.notify_all();
        }
    }
    void Refresh() override { ++refreshes; }

    std::vector<Notice> Of(const Parameter& p) {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<Notice> out;
        for (const Notice& n : notices)
            if (n.p == &p) out.push_back(n);
        return out;
    }
    std::size_t Count(const Parameter& p) { return Of(p).size(); }
    // Waits until p was notified `count` times.
    bool WaitFor(const Parameter& p, std::size_t count) {
        for (auto end = Clock::now() + kNoHang; Clock::now() < end;
             std::this_thread::sleep_for(10ms))
            if (Count(p) >= count) return true;
        return false;
    }
    void Release() {
        std::unique_lock<std::mutex> lock(mutex);
        hold = false;
        changed.notify_all();
        changed.wait_for(lock, kNoHang, [&] { return held == 0; });
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Notice> notices;
    bool hold = false;
    int held = 0;
    int refreshes = 0;
};

class PollingSim : public ::testing::Test {
  protected:
    void SetUp() override {
        SetLinkPauses({0, 0});
        ResetConsecutiveTimeouts();
        Modes().autoRead = false;
        SetMainWindowNotifications(&notices);
    }
    void TearDown() override {
        notices.Release();
        StopPolling(device);
        SetMainWindowNotifications(nullptr);
        SetLinkPauses({-1, -1});
        ResetConsecutiveTimeouts();
        Modes().autoRead = false;
    }

    bool Connect(std::vector<std::string> args = {}) {
        args.insert(args.begin(), {"--modification", "a1", "--pty"});
        sim = std::make_unique<SimProcess>(SELVAR_SIM, args);
        if (!sim->Running()) return false;
        device.Port().portName = sim->Address();
        device.Port().speed = 115200;
        return device.Port().Open() == 0;
    }

    // An operative tree of `count` readings of the first input, each with
    // its waitable timer and the given period.
    void MakeOperative(std::size_t count, int periodMs) {
        const Parameter* reading = device.FindParameter("rEAd");
        ASSERT_NE(reading, nullptr);
        for (std::size_t i = 0; i < count; ++i) {
            auto p = std::make_unique<Parameter>();
            p->name = reading->name;
            p->type = reading->type;
            p->decimals = reading->decimals;
            p->pollPeriod = periodMs;
            operative.AddParameter(p.get());
            owned.push_back(std::move(p));
        }
        operative.PrepareOperative(MakeWaitablePollTimer);
    }
    Parameter& Op(std::size_t i) { return *owned.at(i); }

    MessageRecorder boxes;
    NoticeRecorder notices;
    Device device;
    std::unique_ptr<SimProcess> sim;
    std::vector<std::unique_ptr<Parameter>> owned;
    DescBranch operative;
};

}  // namespace

TEST_F(PollingSim, TheFirstValueComesOnePeriodAfterTheStart) {
    ASSERT_TRUE(Connect());
    MakeOperative(2, 200);
    ASSERT_EQ(StartPolling(device, operative), 0);
    EXPECT_EQ(StartPolling(device, operative), 0);  // already running: nothing new

    auto start = Clock::now();
    EXPECT_EQ(StartParameterPolling(Op(0)), 0);
    EXPECT_EQ(IsPolling(operative), 1);
    ASSERT_TRUE(notices.WaitFor(Op(0), 2));
    std::vector<Notice> got = notices.Of(Op(0));
    // A timer never fires early; a value at once would come well before.
    EXPECT_GE(got[0].at - start, 190ms);
    EXPECT_GE(got[1].at - start, 390ms);
    double value = 0;
    EXPECT_GT(ParseLeadingReal(got[0].value, value), 0u) << got[0].value;
    EXPECT_EQ(got[0].error, "");
    EXPECT_EQ(got[0].thread, "ScanThread");
    // The unchecked one is never read.
    EXPECT_EQ(notices.Count(Op(1)), 0u);
    EXPECT_EQ(Op(1).value, Parameter::kNoData);

    // Unchecking stops the notices; one poll may be under way.
    EXPECT_EQ(StopParameterPolling(Op(0)), 0);
    EXPECT_EQ(IsPolling(operative), 0);
    std::size_t after = notices.Count(Op(0));
    std::this_thread::sleep_for(450ms);
    EXPECT_LE(notices.Count(Op(0)), after + 1);
}

TEST_F(PollingSim, TheSixtyFourthParameterIsServedByTheSecondThread) {
    ASSERT_TRUE(Connect());
    MakeOperative(Polling::kMaxPolled + 1, 100);
    ASSERT_EQ(StartPolling(device, operative), 0);
    EXPECT_EQ(PollingThreadOf(device, Op(0)), 1);
    EXPECT_EQ(PollingThreadOf(device, Op(62)), 1);
    EXPECT_EQ(PollingThreadOf(device, Op(63)), 2);
    EXPECT_EQ(PollingThreadOf(device, Op(125)), 2);
    EXPECT_EQ(PollingThreadOf(device, Op(126)), 0);  // beyond what two wait sets hold

    StartParameterPolling(Op(62));
    StartParameterPolling(Op(63));
    StartParameterPolling(Op(125));
    ASSERT_TRUE(notices.WaitFor(Op(62), 1));
    ASSERT_TRUE(notices.WaitFor(Op(63), 1));
    ASSERT_TRUE(notices.WaitFor(Op(125), 1));
    EXPECT_EQ(notices.Of(Op(62))[0].thread, "ScanThread");
    EXPECT_EQ(notices.Of(Op(63))[0].thread, "PollThread2");
    EXPECT_EQ(notices.Of(Op(125))[0].thread, "PollThread2");

    // Stopping clears the polling of both sets, and a new start serves again.
    StopPolling(device);
    EXPECT_FALSE(PollingThreadsRunning(device));
    EXPECT_FALSE(Op(62).polling);
    EXPECT_FALSE(Op(63).polling);
    EXPECT_FALSE(device.Port().ShutdownEvent().IsSet());
    ASSERT_EQ(StartPolling(device, operative), 0);
    StartParameterPolling(Op(63));
    EXPECT_TRUE(notices.WaitFor(Op(63), 2));

    // The threads refer to parameters of the table: replacing it ends them first.
    device.LoadTable(DeviceDescriptions().front());
    EXPECT_FALSE(PollingThreadsRunning(device));
    EXPECT_FALSE(Op(63).polling);
}

TEST_F(PollingSim, StoppingDoesNotHangOnASilentDevice) {
    ASSERT_TRUE(Connect({"--fault-noanswer", "1"}));
    SetLinkPauses({0, 1000});  // a retry pause the shutdown must cut short
    MakeOperative(65, 50);
    ASSERT_EQ(StartPolling(device, operative), 0);
    StartParameterPolling(Op(0));
    StartParameterPolling(Op(64));
    std::this_thread::sleep_for(300ms);  // both threads are inside exchanges

    bool exchangeStopped = false;
    auto start = Clock::now();
    StopPolling(device, [&] { exchangeStopped = true; });
    auto took = Clock::now() - start;
    EXPECT_LT(took, kNoHang);
    EXPECT_TRUE(exchangeStopped);
    EXPECT_FALSE(Op(0).polling);
    EXPECT_FALSE(Op(64).polling);
    EXPECT_FALSE(device.Port().ShutdownEvent().IsSet());
    // Silence is reported with the parameter, never by a box.
    EXPECT_TRUE(boxes.boxes.empty());
}

// Receives values as a window does: the ticket is queued for a thread that
// is busy elsewhere (here: never delivered until the test says so).
class QueuingNotices : public NoticeRecorder {
  public:
    void OperativeValueReady(const OperativeValueTicket& ticket) override {
        std::lock_guard<std::mutex> lock(mutex);
        queued.push_back(ticket);
        changed.notify_all();
    }
    bool WaitQueued() {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, kNoHang, [&] { return !queued.empty(); });
    }
    std::vector<OperativeValueTicket> queued;
};

TEST_F(PollingSim, StoppingFromTheThreadAValueWaitsForNeitherHangsNorLeavesAThread) {
    QueuingNotices window;
    SetMainWindowNotifications(&window);
    ASSERT_TRUE(Connect());
    MakeOperative(1, 50);
    ASSERT_EQ(StartPolling(device, operative), 0);
    StartParameterPolling(Op(0));
    ASSERT_TRUE(window.WaitQueued());

    // The polling thread waits for the value to be shown by the thread that
    // now stops the polling: the stop cancels the wait and joins the thread.
    auto start = Clock::now();
    StopPolling(device);
    EXPECT_LT(Clock::now() - start, kNoHang);
    EXPECT_FALSE(PollingThreadsRunning(device));
    EXPECT_FALSE(Op(0).polling);
    // Delivered late, after the table may be gone, a ticket does nothing.
    std::vector<OperativeValueTicket> late;
    {
        std::lock_guard<std::mutex> lock(window.mutex);
        late = window.queued;
    }
    for (const OperativeValueTicket& t : late)
        t.Deliver();
    EXPECT_EQ(window.Count(Op(0)), 0u);
    SetMainWindowNotifications(&notices);
}

TEST_F(PollingSim, StoppingPollingLeavesTheExchangeThreadServing) {
    // A slow line: every exchange of the polling threads is in flight for a while.
    ASSERT_TRUE(Connect({"--turnaround", "120"}));
    MakeOperative(2, 50);
    StartExchangeThread(device);
    ASSERT_EQ(StartPolling(device, operative), 0);
    StartParameterPolling(Op(0));
    StartParameterPolling(Op(1));
    ASSERT_TRUE(notices.WaitFor(Op(0), 1));

    // Reloading the table stops the polling while an exchange is under way.
    device.LoadTable(DeviceDescriptions().front());
    EXPECT_FALSE(PollingThreadsRunning(device));
    EXPECT_FALSE(device.Port().ShutdownEvent().IsSet());
    EXPECT_TRUE(ExchangeThreadRunning());

    // The exchange thread still takes operations: a launcher returns.
    Parameter* dev = device.FindParameter("dev");
    ASSERT_NE(dev, nullptr);
    ProgressRenderer quiet;
    LaunchContext context{device, quiet};
    SetFinishPause(0ms);
    std::atomic<bool> returned{false};
    std::thread launcher([&] {
        LaunchReadOne(context, *dev);
        returned = true;
    });
    for (auto end = Clock::now() + kNoHang; !returned && Clock::now() < end;)
        std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(returned);
    if (!returned) device.stopEvent.Set();
    launcher.join();
    EXPECT_NE(dev->value, Parameter::kNoData);
    StopExchangeThread();
    device.Port().ShutdownEvent().ResetEvent();
    SetFinishPause(2000ms);
}

TEST_F(PollingSim, AnOverloadedLineServesEveryParameterInTurnAndSaysItCannotKeepUp) {
    // Far more parameters at a far shorter period than the line can serve.
    ASSERT_TRUE(Connect({"--turnaround", "5"}));
    constexpr std::size_t kCount = 40;
    MakeOperative(kCount, 50);
    ASSERT_EQ(StartPolling(device, operative), 0);
    for (std::size_t i = 0; i < kCount; ++i)
        StartParameterPolling(Op(i));
    // Every parameter is served at least twice before any is served often.
    for (std::size_t i = 0; i < kCount; ++i)
        ASSERT_TRUE(notices.WaitFor(Op(i), 2)) << "parameter " << i << " starves";
    std::size_t most = 0;
    for (std::size_t i = 0; i < kCount; ++i)
        most = std::max(most, notices.Count(Op(i)));
    EXPECT_LE(most, 4u);
    EXPECT_GT(MissedPolls(device), 0u);
}

TEST_F(PollingSim, PollingAndAnotherThreadsReadsShareTheLink) {
    ASSERT_TRUE(Connect());
    MakeOperative(4, 50);
    ASSERT_EQ(StartPolling(device, operative), 0);
    for (std::size_t i = 0; i < 4; ++i)
        StartParameterPolling(Op(i));

    Parameter* dev = device.FindParameter("dev");
    ASSERT_NE(dev, nullptr);
    int failures = 0;
    std::string wrong;
    // Reads go on until every polled parameter was read a few times
    // meanwhile, so that the two really interleave.
    auto polledEnough = [&] {
        for (std::size_t i = 0; i < 4; ++i)
            if (notices.Count(Op(i)) < 3) return false;
        return true;
    };
    std::thread reader([&] {
        auto deadline = Clock::now() + kNoHang;
        for (int i = 0; i < 40 || (!polledEnough() && Clock::now() < deadline); ++i) {
            dev->value = Parameter::kNoData;
            if (device.ReadParameter(*dev) != 0) ++failures;
            if (dev->value != "Селвар") wrong = dev->value;
        }
    });
    reader.join();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(wrong, "");
    StopPolling(device);

    std::size_t polled = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        for (const Notice& n : notices.Of(Op(i))) {
            ++polled;
            double value = 0;
            EXPECT_GT(ParseLeadingReal(n.value, value), 0u) << n.value;
            EXPECT_EQ(n.error, "");
        }
    }
    EXPECT_GE(polled, 12u);
}

TEST(PollPeriod, OnlyWholeNumbersOfAtLeastASecondAreTaken) {
    MessageRecorder boxes;
    Parameter p;
    p.pollTimer = MakeWaitablePollTimer();

    for (const char* bad : {"999", "abc", "", "1500ms", "-2000"}) {
        EXPECT_FALSE(ChangePollPeriod(p, bad)) << bad;
        EXPECT_EQ(p.pollPeriod, 1000) << bad;
    }
    ASSERT_EQ(boxes.boxes.size(), 5u);
    EXPECT_EQ(boxes.boxes[0].text, Polling::kPeriodRefused);
    EXPECT_EQ(boxes.boxes[0].caption, Polling::kPeriodCaption);
    EXPECT_EQ(boxes.boxes[0].icon, MessageIcon::Error);

    // Not polling: the period is only stored.
    EXPECT_TRUE(ChangePollPeriod(p, "1500"));
    EXPECT_EQ(p.pollPeriod, 1500);
    EXPECT_FALSE(p.polling);
    // Polling: the timer runs on with the new period.
    StartParameterPolling(p);
    EXPECT_TRUE(ChangePollPeriod(p, " 2000 "));
    EXPECT_EQ(p.pollPeriod, 2000);
    EXPECT_TRUE(p.polling);
    StopParameterPolling(p);
}

TEST_F(PollingSim, AutomaticReadingSkipsPolledFilledAndFailedParameters) {
    ASSERT_TRUE(Connect());
    device.ResetSession();
    std::span<Parameter> all = device.Table().All();
    ASSERT_GT(all.size(), 4u);
    Parameter* dev = device.FindParameter("dev");
    ASSERT_NE(dev, nullptr);
    const std::size_t n = all.size();
    const std::size_t d = static_cast<std::size_t>(dev - all.data());
    Parameter& operativeOne = all[(d + n - 3) % n];
    Parameter& filled = all[(d + n - 2) % n];
    Parameter& failed = all[(d + n - 1) % n];
    for (Parameter* p : {&operativeOne, &filled, &failed, dev})
        p->autoReadPending = true;
    operativeOne.pollTimer = MakeWaitablePollTimer();
    operativeOne.value = Parameter::kNoData;
    filled.value = "5";
    failed.value = Parameter::kNoData;
    failed.error = "old failure";
    dev->value = Parameter::kNoData;
    device.autoReadCursor = (d + n - 3) % n;

    // Busy link: nothing is examined.
    ASSERT_TRUE(device.LinkIdle().TryAcquire());
    EXPECT_FALSE(AutoReadStep(device));
    EXPECT_EQ(device.autoReadCursor, (d + n - 3) % n);
    device.LinkIdle().Release();

    EXPECT_TRUE(AutoReadStep(device));
    EXPECT_EQ(device.autoReadCursor, d);
    EXPECT_EQ(dev->value, "Селвар");
    EXPECT_EQ(operativeOne.value, Parameter::kNoData);
    EXPECT_EQ(filled.value, "5");
    EXPECT_EQ(failed.error, "old failure");
    // Nothing is left to read; the semaphore was given back.
    EXPECT_FALSE(AutoReadStep(device));
    EXPECT_TRUE(device.LinkIdle().TryAcquire());
    device.LinkIdle().Release();
}

TEST_F(PollingSim, TheTickReadsOnlyWhenAllowedAndRefreshesEveryTenthRead) {
    ASSERT_TRUE(Connect());
    device.ResetSession();
    std::span<Parameter> all = device.Table().All();
    ASSERT_GE(all.size(), 12u);
    for (std::size_t i = 0; i < 12; ++i) {
        all[i].autoReadPending = true;
        all[i].value = Parameter::kNoData;
        all[i].error.clear();
    }
    AutoReadTicker ticker(device);
    bool configured = false;
    ticker.configured = [&] { return configured; };

    ticker.Tick();  // the mode is off
    Modes().autoRead = true;
    ticker.Tick();  // not configured
    configured = true;
    struct NoLog : ProgressLog {
        void LogLine(const std::string&, bool, std::uint32_t, bool) override {}
    } window;
    device.SetProgressLog(&window);
    ticker.Tick();  // a progress window is open
    device.SetProgressLog(nullptr);
    EXPECT_EQ(ticker.ReadCount(), 0);
    EXPECT_EQ(all[0].value, Parameter::kNoData);

    device.autoReadCursor = all.size();  // past the end: starts again at 0
    for (int i = 0; i < 9; ++i)
        ticker.Tick();
    EXPECT_EQ(ticker.ReadCount(), 9);
    EXPECT_EQ(notices.refreshes, 0);
    ticker.Tick();
    EXPECT_EQ(ticker.ReadCount(), 0);
    EXPECT_EQ(notices.refreshes, 1);
    for (std::size_t i = 0; i < 10; ++i)
        EXPECT_TRUE(all[i].value != Parameter::kNoData || !all[i].error.empty()) << i;
}
