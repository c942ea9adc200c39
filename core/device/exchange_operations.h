#pragma once

#include <chrono>
#include <vector>

#include "device/progress_window.h"

class Device;
class DescBranch;
class Event;
class Parameter;

// The number a progress window is opened with; it picks the title and the
// event the exchange thread wakes on.
namespace OperationCode {
constexpr int kReadAll = 1;
constexpr int kReadOne = 3;
constexpr int kWriteAll = 4;
constexpr int kWriteChanged = 5;
constexpr int kCompare = 6;
constexpr int kInitialise = 7;
constexpr int kReadStructure = 8;
constexpr int kWriteOne = 9;
constexpr int kGroupRead = 17;
constexpr int kGroupWrite = 18;
constexpr int kGroupCompare = 19;
}  // namespace OperationCode

// The window title of an operation code; empty for unknown codes.
const char* OperationTitle(int code);
// The event of an operation code; null for unknown codes.
Event* OperationEvent(Device& device, int code);

// The whole configuration (the root of the ordinary tree): the target of
// initialisation and of the instant write, and what makes a write-all write
// with mode 2. Null when no tree is loaded.
void SetConfigurationRoot(DescBranch* root);
DescBranch* ConfigurationRoot();

// The exchange thread: one per process, waiting for the device's operation
// events. Start does nothing when it runs already; Stop signals the link
// shutdown event (which also ends the polling threads) and joins.
void StartExchangeThread(Device& device);
void StopExchangeThread();
bool ExchangeThreadRunning();

// How long the end step of an operation waits for the stop event before it
// turns the button into "Закрыть" (2 s; tests shorten it).
void SetFinishPause(std::chrono::milliseconds pause);

// Shows a progress window until it is closed: the GUI runs its modal dialog,
// the headless default just waits.
class ProgressPresenter {
  public:
    virtual ~ProgressPresenter() = default;
    // Called after the window started its operation; returns when it is
    // closed. False when it was not closed normally.
    virtual bool Exec(ProgressWindow& window) {
        window.WaitClosed();
        return true;
    }
};

// What a launcher needs to show its window.
struct LaunchContext {
    Device& device;
    ProgressRenderer& renderer;
    ProgressPresenter* presenter = nullptr;  // null: wait headless
    bool autoClose = true;  // first state of "Автоматически закрывать окно"
};

// The launchers fill the operation's inputs, open the progress window and
// return when it is closed and the operation is over: true when the window
// was shown and closed normally (the caller refreshes the tree). A null
// branch is refused.
bool LaunchReadAll(LaunchContext& context, DescBranch* branch);
bool LaunchReadOne(LaunchContext& context, Parameter& p);
bool LaunchWriteAll(LaunchContext& context, DescBranch* branch);
bool LaunchWriteChanged(LaunchContext& context, DescBranch* branch);
bool LaunchWriteOne(LaunchContext& context, Parameter& p);
// Over the whole configuration; only at the maximum access level (else an
// error box and false).
bool LaunchInitialise(LaunchContext& context);
bool LaunchReadStructure(LaunchContext& context, DescBranch* branch);
// False without a window when no parameter of the whole configuration has
// an error; the caller then says so.
bool LaunchWriteErrors(LaunchContext& context);
bool LaunchCompare(LaunchContext& context, DescBranch* branch);
// Group operations over a list: mode 1 read, 2 write, 3 compare.
bool LaunchGroup(LaunchContext& context, std::vector<Parameter*> list, int mode);

// After an edit in the tree: with "Режим немедленной записи" on and the
// parameter changed, writes the changed parameters of the whole
// configuration without a window. True when the write was started.
bool InstantWrite(Device& device, const Parameter& edited);
// Writes every changed parameter of the whole configuration without a
// window (the instant write switched on). False without a configuration.
bool WriteChangedWithoutWindow(Device& device);
