#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

class DescBranch;
class Device;
class Parameter;

// Background polling of the operative parameters and the automatic reading.
namespace Polling {
// One wait set holds the shutdown event and at most this many timers.
constexpr int kPerThread = 63;
constexpr int kMaxPolled = 2 * kPerThread;
constexpr int kMinPeriodMs = 1000;

constexpr const char* kThreadFailure =
    "Не могу запустить поток (ScanThread), необходимый для работы сканеров";
constexpr const char* kPeriodRefused =
    "Период опроса должен быть задан числом в миллисекундах.\n"
    "Период опроса не может быть меньше 1000 миллисекунд";
constexpr const char* kPeriodCaption = "Неудалось изменить период опроса";
constexpr const char* kRefusedWhilePolling =
    "Нельзя выполнить эту операцию, так как включен опрос оперативных параметров.\n"
    "Выключите опрос всех оперативных параметров, затем повторите попытку.";
}  // namespace Polling

// Creates ScanThread (operative parameters 1 to 63, depth-first over the
// tree) and the second polling thread (64 to 126) unless they run already.
// 0, or 1 with an error box when ScanThread could not be created.
int StartPolling(Device& device, const DescBranch& operativeRoot);

// Stops both polling threads: their own stop event ends their waits and the
// exchange under way (the exchange thread is not disturbed), a value waiting
// to be shown is dropped, and each thread is joined: none outlives the table
// it polls. stopExchange (when given) runs between the two, and the link
// shutdown event is reset after it. Every parameter of both sets stops
// polling. Returns 1.
int StopPolling(Device& device, const std::function<void()>& stopExchange = {});

// Timer expiries that found their parameter still waiting for the line: the
// line cannot keep up with the periods asked for. 0 without polling threads.
std::uint64_t MissedPolls(const Device& device);

// True while the polling threads of the device exist.
bool PollingThreadsRunning(const Device& device);
// Which thread serves p: 1 ScanThread, 2 the second thread, 0 none (or not running).
int PollingThreadOf(const Device& device, const Parameter& p);

// One poll: reads p (no log, no counters, no watchdog) when it is polling,
// then hands it to the main window and returns when that was handled.
void PollParameter(Device& device, Parameter& p);

// Switch the polling of one parameter; these take the lock the polling
// threads test the flag under. Results as Parameter::StartPollTimer and
// StopPollTimer.
int StartParameterPolling(Parameter& p);
int StopParameterPolling(Parameter& p);
// The period typed into the tree: a number of at least 1000 ms restarts a
// running timer with it; anything else shows the refusal box and returns false.
bool ChangePollPeriod(Parameter& p, const std::string& text);
// 1 when a parameter of the subtree with a timer is polling.
int IsPolling(const DescBranch& branch);
// True, after the refusal box, when the operative tree is polling.
bool RefuseWhilePolling(const DescBranch* operativeRoot);

// Examines the table from the auto-read cursor for a parameter that is
// marked for the automatic reading, has no timer, no value and no error;
// reads it and leaves the cursor on it. Runs only when the link-idle
// semaphore is free at once. True when it read a parameter.
bool AutoReadStep(Device& device);

// The automatic-reading tick of the main window; the GUI's timer calls Tick
// every kPeriod. Each tick reads at most one parameter on the caller's
// thread, so the period leaves that thread free most of the time even at
// 9600 bit/s, while a table of a few hundred parameters still fills in within
// minutes.
class AutoReadTicker {
  public:
    static constexpr std::chrono::milliseconds kPeriod{500};
    static constexpr int kRefreshEvery = 10;

    explicit AutoReadTicker(Device& device) : device_(device) {}

    // Nothing happens unless configured() holds (when set), no progress
    // window is open and the automatic reading is checked. Every tenth read
    // calls refresh (when set; else the main window's Refresh notice).
    void Tick();

    std::function<bool()> configured;
    std::function<void()> refresh;
    int ReadCount() const { return count_; }

  private:
    Device& device_;
    int count_ = 0;
};
