#include "device/polling.h"

#include <poll.h>
#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdint>
#include <deque>
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
    bool stopped = false;  // no value is handed over any more
    // The value waiting to be shown, cancelled by the stop.
    std::shared_ptr<OperativeValueTicket::State> ticket;
};

void ClearPolling(const std::vector<Parameter*>& params) {
    std::lock_guard<std::mutex> lock(FlagLock());
    for (Parameter* p : params)
        p->StopPollTimer();
}

bool StillPolling(const Parameter& p) {
    std::lock_guard<std::mutex> lock(FlagLock());
    return p.polling;
}

}  // namespace

struct Device::PollingThreads {
    // The polling threads' own stop: it ends their waits and their exchanges
    // (through Sio::ThreadAbort) and leaves the exchange thread alone.
    Event stop{Event::Reset::Manual};
    std::shared_ptr<Worker> scan = std::make_shared<Worker>();
    std::shared_ptr<Worker> second = std::make_shared<Worker>();
    std::atomic<std::uint64_t> missed{0};
};

namespace {

void Release(Worker& w) {
    {
        std::lock_guard<std::mutex> lock(w.mutex);
        w.released = true;
    }
    w.changed.notify_all();
}

// Hands the value to the main window and waits until it was shown, or until
// the polling stops.
void HandOver(Worker& w, Parameter& p) {
    auto ticket = std::make_shared<OperativeValueTicket::State>(p);
    {
        std::lock_guard<std::mutex> lock(w.mutex);
        if (w.stopped) return;
        w.ticket = ticket;
    }
    Notifications().OperativeValueReady(OperativeValueTicket(ticket));
    ticket->Wait();
    std::lock_guard<std::mutex> lock(w.mutex);
    w.ticket.reset();
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
    Sio::ThreadAbort abort(state->stop);

    constexpr std::size_t kFirstTimer = 2;
    std::vector<pollfd> fds;
    fds.push_back({state->stop.Fd(), POLLIN, 0});
    fds.push_back({device.Port().ShutdownEvent().Fd(), POLLIN, 0});
    for (PeriodicTimer* t : w.timers)
        fds.push_back({t->Fd(), POLLIN, 0});

    // Expired timers are served in the order they expired, so that no
    // parameter starves when the line cannot keep up with every period.
    const std::size_t count = w.timers.size();
    std::deque<std::size_t> ready;
    std::vector<char> queued(count, 0);
    std::size_t rotate = 0;  // where the scan of a poll's results starts
    for (;;) {
        for (pollfd& f : fds)
            f.revents = 0;
        int n = ::poll(fds.data(), static_cast<nfds_t>(fds.size()), ready.empty() ? -1 : 0);
        if (n < 0) {
            // A failing wait must not turn into a busy loop in either thread.
            if (errno != EINTR) std::this_thread::sleep_for(50ms);
            continue;
        }
        if (fds[0].revents || fds[1].revents) break;  // both manual reset: they stay set
        for (std::size_t k = 0; k < count; ++k) {
            std::size_t i = (rotate + k) % count;
            if (!fds[kFirstTimer + i].revents || !w.timers[i]->Consume()) continue;
            if (queued[i]) {
                ++state->missed;  // expired again before the line got to it
                continue;
            }
            queued[i] = 1;
            ready.push_back(i);
        }
        if (ready.empty()) continue;
        std::size_t i = ready.front();
        ready.pop_front();
        queued[i] = 0;
        rotate = i + 1;
        Parameter& p = *w.waited[i];
        if (!StillPolling(p)) continue;
        device.exchange_parameter(Direction::Read, p);
        if (state->stop.IsSet()) break;
        HandOver(w, p);
    }
}

// Stops one thread: no value is handed over from now on, the one waiting
// to be shown is cancelled, and the thread, whose waits and exchanges the
// stop event ends, is joined.
void StopWorker(Worker& w) {
    {
        std::lock_guard<std::mutex> lock(w.mutex);
        w.stopped = true;
        w.released = true;
        if (w.ticket) w.ticket->Cancel();
    }
    w.changed.notify_all();
    if (w.thread.joinable()) w.thread.join();
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
        state->stop.Set();
        StopWorker(*state->second);
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
    if (state) {
        state->stop.Set();
        StopWorker(*state->second);
    }
    if (stopExchange) stopExchange();
    if (state) StopWorker(*state->scan);
    if (stopExchange) device.Port().ShutdownEvent().ResetEvent();
    return 1;
}

std::uint64_t MissedPolls(const Device& device) {
    return device.pollingThreads ? device.pollingThreads->missed.load() : 0;
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
    if (!StillPolling(p)) return;
    device.exchange_parameter(Direction::Read, p);
    Notifications().OperativeValueRead(p);
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
