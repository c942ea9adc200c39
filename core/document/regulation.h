#pragma once

// Starting and stopping the regulation of the device's eight objects over
// the network, and watching their states: the decisions and the watching
// thread of the regulation dialog, without a widget.

#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "model/parameter.h"
#include "model/parameter_device.h"
#include "platform/event.h"

class Device;

namespace Regulation {

constexpr int kObjects = 8;
// Commands sent again when an object does not follow one.
constexpr int kRetries = 2;

constexpr const char* kStateName = "r.st";
constexpr const char* kCommandName = "r-s";
constexpr const char* kNetworkStartName = "str.s";
constexpr const char* kChannelsName = "n.Ch";

constexpr const char* kNoStateParameter = "Не найден параметр \"r.st\"!";
constexpr const char* kNoSelection = "Нет выделенного параметра!";
constexpr const char* kFailureCaption = "Ошибка";
constexpr const char* kStartFailed =
    "Попытка запуска прибора по сети RS485 неудачна.\n Возможно управление прибором по сети "
    "заблокировано параметром STR.S";
constexpr const char* kStopFailed =
    "Попытка остановки прибора по сети RS485 неудачна.\n Возможно управление прибором по сети "
    "заблокировано параметром STR.S";

// What was last asked of an object and is not confirmed yet.
enum class Pending { None = 0, Start = 1, Stop = 2 };

// How long a command waits for the link to fall idle before it is left to
// the retries (a windowless write may hold the link).
void SetLinkBusyWait(std::chrono::milliseconds wait);

// What the watching thread reports; called on that thread, so the receiver
// hands each call on to its own thread.
struct WatchCallbacks {
    // Once per object after its channel count was read: false for an object
    // with no channels, whose row is disabled.
    std::function<void(int object, bool enabled)> objectEnabled;
    // The object whose state is due to be read (Refresh, then the next one).
    std::function<void(int object)> refreshDue;
    // The watching thread has ended after a stop was asked for.
    std::function<void()> stopped;
};

// The eight objects and the network start switch of the document's device.
// Every member except the watching thread runs on the caller's (the user's)
// thread; the device's exchange lock keeps the two threads' exchanges apart.
class Control {
  public:
    // None, with kNoStateParameter in `error`, when the device's table has no
    // "r.st". `exchanges` carries the reads and writes (the device's own when
    // null), so that a test can watch them.
    static std::unique_ptr<Control> Create(Device& device, std::string& error,
                                           ParameterDevice* exchanges = nullptr);
    // Stops the watching thread and waits for it.
    ~Control();
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    Parameter& Object(int k) { return *objects_[static_cast<std::size_t>(k)]; }
    // "str.s" of the table; null when the description has none.
    Parameter* NetworkStart() const { return networkStart_; }
    // The labels of the switch ('_' shown as ' '); empty without one.
    std::vector<std::string> NetworkStartLabels() const;
    // Reads the switch from the device; its value afterwards ("" without one).
    std::string ReadNetworkStart();

    Pending PendingCommand(int k) const { return pending_[static_cast<std::size_t>(k)]; }
    int Retries(int k) const { return retries_[static_cast<std::size_t>(k)]; }

    // Clears the retries and pending marks and starts the watching thread;
    // once only.
    void StartWatching(WatchCallbacks callbacks);
    bool Watching() const { return started_; }
    // Asks the watching thread to end; `callbacks.stopped` follows once it
    // has. False when no thread was started (the caller closes at once).
    bool RequestStop();
    bool StopRequested() const { return stopping_.load(); }

    // The refresh of one object: reads its state and settles a pending
    // command (sent again, or reported after the retries), then lets the
    // watching thread go on. Returns the value to show.
    std::string Refresh(int k);

    // "Запустить" (start) or "Остановить" for the selected row (-1: none).
    // False when nothing was selected (after the box).
    bool Command(bool start, int selectedRow);

    // "Запуск по сети:": the chosen label is written to the device.
    void SetNetworkStart(const std::string& label);

  private:
    Control(Device& device, ParameterDevice& exchanges, const Parameter& state);
    void Watch(WatchCallbacks callbacks);
    // Writes when the link falls idle in time; else leaves it to the retries.
    int WriteWhenIdle(Parameter& p);
    int SendCommand(int k, bool start);

    Device& device_;
    ParameterDevice& exchanges_;
    std::array<std::unique_ptr<Parameter>, kObjects> objects_;
    std::array<std::unique_ptr<Parameter>, kObjects> channels_;  // the watcher's own
    std::unique_ptr<Parameter> command_;
    Parameter* networkStart_ = nullptr;
    std::array<int, kObjects> retries_{};
    std::array<Pending, kObjects> pending_{};

    Event stop_{Event::Reset::Manual, false};
    Event next_{Event::Reset::Manual, true};
    std::atomic<bool> stopping_{false};
    std::thread watcher_;
    std::thread closer_;
    std::mutex stoppedMutex_;
    std::function<void()> stopped_;
    bool started_ = false;
};

}  // namespace Regulation
