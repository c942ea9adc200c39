#include "device/polling.h"

#include <poll.h>
#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "description/desc_branch.h"
#include "device/device.h"
#include "device/program_modes.h"
#include "model/parameter.h"
#include "model/waitable_poll_timer.h"
#include "platform/text.h"
#include "platform/ui_services.h"

namespace {

using namespace std::chrono_literals;

// Guards the polling flags and timers between the polling threads and
// whoever switches a parameter's polling.
std::mutex& FlagLock() {
    static std::mutex lock;
    return lock;
}

// One polling thread with its share of the operative parameters.
struct Worker {
    const char* name = "";
    bool scan = false;  // ScanThread, which releases the other one
    std::vector<Parameter*> params;
    // The parameters that can be waited for, and their timers, in wait order.
    std::vector<Parameter*> waited;
    std::vector<PeriodicTimer*> timers;

    std::thread thread;
    std::mutex mutex;
    std::condition_variable changed;
    bool released = false;
    bool done = false;
    // Set when StopPolling gave up waiting: from then on the thread touches
    // nothing of the device, which may be gone when it wakes.
    bool abandoned = false;
};

void ClearPolling(const std::vector<Parameter*>& params) {
    std::lock_guard<std::mutex> lock(FlagLock());
    for (Parameter* p : params)
        p->StopPollTimer();
}

void PollOne(Device& device, Parameter& p, const std::atomic<bool>* stop) {
    {
        std::lock_guard<std::mutex> lock(FlagLock());
        if (!p.polling) return;
    }
    device.exchange_parameter(Direction::Read, p);
    // A stopping caller may be the thread that would handle the notice.
    if (stop && stop->load()) return;
    Notifications().OperativeValueRead(p);
}

}  // namespace

struct Device::PollingThreads {
    std::atomic<bool> stop{false};
    std::shared_ptr<Worker> scan = std::make_shared<Worker>();
    std::shared_ptr<Worker> second = std::make_shared<Worker>();
};

namespace {

void Release(Worker& w) {
    {
        std::lock_guard<std::mutex> lock(w.mutex);
        w.released = true;
    }
    w.changed.notify_all();
}

void RunWorker(Device& device, std::shared_ptr<Device::PollingThreads> state,
               std::shared_ptr<Worker> self) {
    Worker& w = *self;
    pthread_setname_np(pthread_self(), w.name);
    {
        std::unique_lock<std::mutex> lock(w.mutex);
        w.changed.wait(lock, [&] { return w.released; });
    }
    if (w.scan) Release(*state->second);

    std::vector<pollfd> fds;
    fds.push_back({device.Port().ShutdownEvent().Fd(), POLLIN, 0});
    for (PeriodicTimer* t : w.timers)
        fds.push_back({t->Fd(), POLLIN, 0});

    while (!state->stop.load()) {
        for (pollfd& f : fds)
            f.revents = 0;
        int n = ::poll(fds.data(), static_cast<nfds_t>(fds.size()), -1);
        if (n < 0) {
            // A failing wait must not turn into a busy loop in either thread.
            if (errno != EINTR) std::this_thread::sleep_for(50ms);
            continue;
        }
        if (fds[0].revents) break;  // link shutdown (manual reset: stays set)
        for (std::size_t i = 1; i < fds.size(); ++i) {
            if (fds[i].revents && w.timers[i - 1]->Consume()) {
                PollOne(device, *w.waited[i - 1], &state->stop);
                break;
            }
        }
    }

    std::lock_guard<std::mutex> lock(w.mutex);
    if (!w.abandoned) ClearPolling(w.params);
    w.done = true;
    w.changed.notify_all();
}

// Joins the thread when it ends within limit, else abandons it.
void WaitOrAbandon(Worker& w, std::chrono::milliseconds limit) {
    if (!w.thread.joinable()) return;
    std::unique_lock<std::mutex> lock(w.mutex);
    if (w.changed.wait_for(lock, limit, [&] { return w.done; })) {
        lock.unlock();
        w.thread.join();
        return;
    }
    w.abandoned = true;
    lock.unlock();
    w.thread.detach();
    ClearPolling(w.params);
}

void Share(Worker& w, const std::vector<Parameter*>& list, std::size_t from) {
    for (std::size_t i = from; i < list.size() && i < from + Polling::kPerThread; ++i) {
        Parameter* p = list[i];
        w.params.push_back(p);
        if (auto* t = dynamic_cast<WaitablePollTimer*>(p->pollTimer.get())) {
            w.waited.push_back(p);
            w.timers.push_back(&t->Waitable());
        }
    }
}

}  // namespace

int StartPolling(Device& device, const DescBranch& operativeRoot) {
    if (device.pollingThreads) return 0;
    std::vector<Parameter*> list;
    operativeRoot.CollectPolled(list);

    auto state = std::make_shared<Device::PollingThreads>();
    state->scan->name = "ScanThread";
    state->scan->scan = true;
    state->second->name = "PollThread2";
    Share(*state->scan, list, 0);
    Share(*state->second, list, Polling::kPerThread);

    // The second thread waits until ScanThread releases it, so that it never
    // runs alone.
    try {
        state->second->thread = std::thread(RunWorker, std::ref(device), state, state->second);
    } catch (const std::system_error&) {
    }
    try {
        state->scan->thread = std::thread(RunWorker, std::ref(device), state, state->scan);
    } catch (const std::system_error&) {
        state->stop = true;
        Release(*state->second);
        if (state->second->thread.joinable()) state->second->thread.join();
        ShowMessage(Polling::kThreadFailure, "Error", MessageIcon::Error);
        return 1;
    }
    Release(*state->scan);
    device.pollingThreads = std::move(state);
    return 0;
}

int StopPolling(Device& device, const std::function<void()>& stopExchange) {
    std::shared_ptr<Device::PollingThreads> state = std::move(device.pollingThreads);
    device.pollingThreads.reset();
    Event& shutdown = device.Port().ShutdownEvent();
    if (state) state->stop = true;
    shutdown.Set();
    if (state) WaitOrAbandon(*state->second, Polling::kSecondThreadLimit);
    if (stopExchange) stopExchange();
    if (state) WaitOrAbandon(*state->scan, Polling::kScanChecks * Polling::kScanCheckInterval);
    shutdown.ResetEvent();
    return 1;
}

bool PollingThreadsRunning(const Device& device) {
    return device.pollingThreads != nullptr;
}

int PollingThreadOf(const Device& device, const Parameter& p) {
    if (!device.pollingThreads) return 0;
    int which = 1;
    for (const auto& w : {device.pollingThreads->scan, device.pollingThreads->second}) {
        for (const Parameter* q : w->waited)
            if (q == &p) return which;
        ++which;
    }
    return 0;
}

void PollParameter(Device& device, Parameter& p) {
    PollOne(device, p, nullptr);
}

int StartParameterPolling(Parameter& p) {
    std::lock_guard<std::mutex> lock(FlagLock());
    return p.StartPollTimer();
}

int StopParameterPolling(Parameter& p) {
    std::lock_guard<std::mutex> lock(FlagLock());
    return p.StopPollTimer();
}

bool ChangePollPeriod(Parameter& p, const std::string& text) {
    std::int64_t period = 0;
    std::size_t used = ParseLeadingInt(text, period);
    bool number = used > 0 && TrimRight(std::string_view(text).substr(used)).empty();
    if (!number || period < Polling::kMinPeriodMs || period > INT_MAX) {
        ShowMessage(Polling::kPeriodRefused, Polling::kPeriodCaption, MessageIcon::Error);
        return false;
    }
    std::lock_guard<std::mutex> lock(FlagLock());
    bool running = p.polling;
    if (running) p.StopPollTimer();
    p.pollPeriod = static_cast<int>(period);
    if (running) p.StartPollTimer();
    return true;
}

int IsPolling(const DescBranch& branch) {
    std::lock_guard<std::mutex> lock(FlagLock());
    return branch.IsPolling();
}

bool RefuseWhilePolling(const DescBranch* operativeRoot) {
    if (!operativeRoot || IsPolling(*operativeRoot) != 1) return false;
    ShowMessage(Polling::kRefusedWhilePolling, {}, MessageIcon::Error);
    return true;
}

bool AutoReadStep(Device& device) {
    std::span<Parameter> all = device.Table().All();
    if (all.empty()) return false;
    // Device operations hold the semaphore; the user's thread never waits for it.
    if (!device.LinkIdle().TryAcquire()) return false;
    std::size_t& cursor = device.autoReadCursor;
    if (cursor >= all.size()) cursor = 0;
    bool read = false;
    for (std::size_t k = 0; k < 2 * all.size() + 1; ++k) {
        Parameter& p = all[cursor];
        if (p.autoReadPending && !p.pollTimer && p.value == Parameter::kNoData && p.error.empty()) {
            // A stopped read did nothing and counts as no read.
            read = device.ReadParameter(p) != Device::kStopped;
            break;
        }
        cursor = (cursor + 1) % all.size();
    }
    device.LinkIdle().Release();
    return read;
}

void AutoReadTicker::Tick() {
    if (!Modes().autoRead.load()) return;
    if (configured && !configured()) return;
    if (device_.GetProgressLog()) return;
    if (device_.Table().Size() == 0) return;
    if (device_.autoReadCursor >= device_.Table().Size()) device_.autoReadCursor = 0;
    if (AutoReadStep(device_)) ++count_;
    if (count_ >= kRefreshEvery) {
        count_ = 0;
        if (refresh)
            refresh();
        else
            Notifications().Refresh();
    }
}
