#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "description/device_description.h"
#include "description/parameter_table.h"
#include "description/tree_loader.h"
#include "device/progress_log.h"
#include "link/device_io.h"
#include "model/parameter_device.h"
#include "platform/event.h"

class DescBranch;

// State of the running exchange operation, shared by every exchange routine
// and the progress window; one per process, beside the Device.
struct SharedOperationState {
    OperationCounters counters;
    std::atomic<DescBranch*> target{nullptr};  // none: no operation
    // Raised by a successful write of a network parameter; the exchange
    // thread reports it to the main window after the operation.
    std::atomic<bool> networkParametersWritten{false};
};
SharedOperationState& OperationState();

// Shortcuts from the scheme elements to their parameters, by element number
// and role. The scheme elements fill them; the Device only holds and clears them.
struct ElementTables {
    static constexpr std::size_t kElements = 24;
    static constexpr std::size_t kRoles = 8;
    static constexpr std::size_t kFewRoles = 2;  // the single-reference table

    template <std::size_t Roles, std::size_t Refs>
    using Table = std::array<std::array<std::array<Parameter*, Refs>, Roles>, kElements>;

    Table<kRoles, 16> sixteen{};
    Table<kRoles, 10> ten{};
    Table<kRoles, 2> two{};
    Table<kRoles, 4> four{};
    Table<kFewRoles, 1> one{};
    int count = 0;

    void Clear() { *this = ElementTables{}; }
};

// Bits of the flags of the connection check.
namespace CheckFlags {
constexpr std::uint8_t kKnownModification = 1;
constexpr std::uint8_t kAnswered = 2;  // the device answered "dev"
}  // namespace CheckFlags

// The connection to the one controller: the protocol layer plus the
// parameter table of the active modification, the operation events and the
// per-parameter read and write with their log and watchdog.
class Device : public DeviceIO, public ParameterDevice {
  public:
    // Results of the per-parameter primitives besides the protocol's own.
    static constexpr int kStopped = -1;
    // A comparison the stop event prevented: no exchange was made.
    static constexpr int kCompareStopped = 3;
    static constexpr int kNothingToWrite = 5;
    static constexpr int kNegativeIndex = 6;

    static constexpr const char* kTimeoutText = "Таймаут при передаче данных (нет связи)";

    // Loads the parameter table of the first modification and becomes the
    // current device.
    Device();
    ~Device() override;

    // The parameter table of the active modification.
    ParameterTable& Table() { return table_; }
    const ParameterTable& Table() const { return table_; }
    // Replaces the table. Every reference into the old one (single target,
    // group list, element and structure tables, auto-read cursor) is dropped
    // first, so that nothing is left pointing at freed parameters.
    TableLoadStatus LoadTable(const CDeviceDescription& description);
    TableLoadStatus LoadTable(const std::string& path);

    // First parameter with the name (case-insensitive) and, unless index is
    // negative, that linear index; null when none.
    Parameter* FindParameter(std::string_view name, int index = -1) const;

    // Clears the auto-read marks of the table and the element tables.
    void ResetSession();

    // Reads "n.Err", "dev", "p.ver" and "ver". Returns the report; errorText
    // receives the failures, flags (when given) the CheckFlags bits. With
    // show, both texts are shown in message boxes.
    std::string CheckDevice(std::string& errorText, std::uint8_t* flags, bool show);
    // Modification key of the last check ("dev" trimmed, "-", two
    // characters of "p.ver"), empty when "p.ver" was not read, and its
    // description when the program knows it.
    const std::string& ConnectedKey() const { return connectedKey_; }
    const CDeviceDescription* ConnectedModification() const { return connectedDescription_; }

    int ReadParameter(Parameter& p) override;
    int ReadParameter(Parameter* p) { return p ? ReadParameter(*p) : 0; }
    int WriteParameter(Parameter& p, int mode) override;
    int WriteParameter(Parameter* p, int mode) { return p ? WriteParameter(*p, mode) : 0; }
    int CompareParameter(Parameter& p) override;

    bool StopRequested() const override { return stopEvent.IsSet(); }
    OperationCounters& Counters() override { return OperationState().counters; }
    // Nothing without a registered progress log.
    void LogLine(const std::string& text, bool bold, std::uint32_t colour, bool italic) override;

    // The progress window of the running operation; null when none shows one.
    void SetProgressLog(ProgressLog* log) { progressLog_.store(log); }
    ProgressLog* GetProgressLog() const { return progressLog_.load(); }

    // Operation events handed to the exchange thread.
    Event readAllEvent{Event::Reset::Auto};
    Event readOneEvent{Event::Reset::Manual};
    Event writeOneEvent{Event::Reset::Auto};
    Event writeAllEvent{Event::Reset::Auto};
    Event writeChangedEvent{Event::Reset::Auto};
    Event compareEvent{Event::Reset::Auto};
    Event initialiseEvent{Event::Reset::Auto};
    Event readStructureEvent{Event::Reset::Auto};
    Event groupEvent{Event::Reset::Auto};
    // Tested, never waited for, by every exchange step.
    mutable Event stopEvent{Event::Reset::Manual};

    // The next group operation: its parameters, their number when filled, and
    // 0 none, 1 read, 2 write, 3 compare.
    std::vector<Parameter*> groupList;
    int groupCount = 0;
    int groupMode = 0;

    // Set when five reads in a row timed out; cleared by the next read that
    // does not time out.
    std::atomic<bool> autoReadSuspended{false};
    // The access level was full when the configuration was last set up.
    // Initialisation and the structure reading follow it rather than the
    // live level, which a file being opened may change.
    std::atomic<bool> maximumAccess{true};
    // Characters logged into the progress window.
    std::size_t logLength = 0;
    // Comparison results since the last reset.
    int differenceCount = 0;
    int unsetCount = 0;
    std::string differences;
    // Start of the running operation, seconds since the epoch.
    std::int64_t startTime = 0;
    // The one parameter of a read-one or write-one operation.
    Parameter* singleTarget = nullptr;
    // Position of the automatic reading in the table.
    std::size_t autoReadCursor = 0;
    ElementTables elements;
    StructureEntries structure{};

    // File that failed exchanges are appended to; empty: none.
    std::string errorLogPath;
    // Called when a read did not time out (the document becomes modified).
    std::function<void()> onReadCompleted;

    // --- polling ---
    // The two polling threads (device/polling.h); null while none runs.
    // Shared with the threads, so that an abandoned one stays memory-safe.
    struct PollingThreads;
    std::shared_ptr<PollingThreads> pollingThreads;
    // --- end polling ---

  private:
    void DropReferences();
    void AppendErrorLog(const Parameter& p) const;
    // Counts a timeout towards the watchdog; true when it fired.
    bool CountTimeout();

    ParameterTable table_;
    std::atomic<ProgressLog*> progressLog_{nullptr};
    std::string connectedKey_;
    const CDeviceDescription* connectedDescription_ = nullptr;
};

// The current device, set by its constructor and cleared by its destructor.
Device* CurrentDevice();

// Consecutive failed exchanges by timeout, process-wide so that it counts
// across operations.
int ConsecutiveTimeouts();
void ResetConsecutiveTimeouts();

// Records the outcome of the start-up connection check in the outcome bits.
void RecordCheckOutcome(std::uint8_t flags);
