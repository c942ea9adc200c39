#include "device/exchange_operations.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "description/desc_branch.h"
#include "description/structure_table.h"
#include "device/device.h"
#include "device/program_modes.h"
#include "model/parameter.h"
#include "platform/app_state.h"
#include "platform/text.h"
#include "platform/ui_services.h"

namespace {

std::atomic<DescBranch*> g_root{nullptr};
std::atomic<std::int64_t> g_finishPauseMs{2000};

// Operations started without a window (the instant write) that the exchange
// thread has not finished yet. Their inputs must not be overwritten by the
// next launcher before they ran.
std::mutex g_pendingMutex;
std::condition_variable g_pendingDone;
int g_pending = 0;
std::atomic<bool> g_running{false};

std::mutex g_threadMutex;
std::thread g_thread;
Device* g_threadDevice = nullptr;

constexpr const char* kHint = "Для закрытия окна нажмите кнопку \"Закрыть\".";
constexpr int kInitialiseAttempts = 5;

// The end of every operation: a pause in which the user may stop, then the
// button becomes "Закрыть" and the window closes itself when asked to.
void Finish(Device& d, ProgressWindow* window) {
    d.LogLine("", false, LogColour::kBlack, false);
    if (window) window->MarkDone();
    WaitAny({&d.stopEvent, &d.Port().ShutdownEvent()},
            std::chrono::milliseconds(g_finishPauseMs.load()));
    if (window) {
        window->SetButtonText(ProgressWindow::kClose);
        if ((Startup().driven && Startup().closeWhenDone) || window->AutoClose())
            window->Close();
        else
            d.LogLine(kHint, true, LogColour::kHint, false);
    }
    d.stopEvent.ResetEvent();
}

int SubtreeCount(const DescBranch& branch) {
    return branch.CountChanged(true);
}

void ReadStructure(Device& d) {
    namespace ST = StructureTable;
    OperationCounters& c = d.Counters();
    c.total = 192;
    c.processed = 0;
    auto read = [&](std::size_t entry) {
        d.ReadParameter(d.structure[entry]);
        return !d.StopRequested();
    };
    // An empty entry of the key blocks and key counts is not read, so the
    // progress bar's range shrinks by it.
    auto readCounted = [&](std::size_t entry) {
        if (!d.structure[entry]) {
            --c.total;
            return true;
        }
        return read(entry);
    };
    for (std::size_t i = 0; i < 8; ++i)
        if (!read(ST::kChannelInputs + i)) return;
    for (std::size_t i = 0; i < 8; ++i)
        for (int repeat = 0; repeat < 4; ++repeat)
            if (!read(ST::kSwitchInputs + i)) return;
    for (std::size_t k = 0; k < 8; ++k)
        for (std::size_t m = 0; m < 8; ++m) {
            if (!readCounted(ST::kKeyBlock + 8 * k + m)) return;
            if (!readCounted(ST::kSecondBlock + 8 * k + m)) return;
        }
    for (std::size_t i = 0; i < 8; ++i)
        if (!readCounted(ST::kKeyCounts + i)) return;
    for (std::size_t i = 0; i < 8; ++i)
        if (!read(ST::kConverterSources + i)) return;
    for (std::size_t i = 0; i < 8; ++i)
        if (!read(ST::kLastGroup + i)) return;
}

void RunGroup(Device& d) {
    Event& shutdown = d.Port().ShutdownEvent();
    d.differences.clear();
    d.differenceCount = 0;
    const bool instant = Modes().instantWrite;
    if (instant && !shutdown.IsSet()) Notifications().ProgressOn();
    const std::vector<Parameter*> list = d.groupList;
    const std::size_t count = list.size();
    for (std::size_t i = 0; i < count; ++i) {
        if (d.StopRequested() || shutdown.IsSet()) break;
        if (instant) Notifications().ProgressPosition(static_cast<int>(i * 100 / count));
        Parameter* p = list[i];
        if (!p) continue;
        // A read counts itself; writes and comparisons are counted here so
        // that the window shows their progress and failures too.
        int r = 0;
        if (d.groupMode == 1) {
            r = d.ReadParameter(*p);
        } else if (d.groupMode == 2 || d.groupMode == 3) {
            r = d.groupMode == 2 ? d.WriteParameter(*p, 1) : d.CompareParameter(*p);
            if (r != Device::kStopped) ++d.Counters().processed;
        }
        if (r != 0 && r != Device::kStopped) ++d.Counters().failed;
    }
    if (!shutdown.IsSet() && instant) {
        Notifications().ProgressOff();
        Notifications().Refresh();
    }
    d.groupMode = 0;
    if (!d.differences.empty())
        ShowMessage(Format("Найдены следующие различия:\n\n%s", d.differences.c_str()), "Сообщение",
                    MessageIcon::Information);
}

void InitialiseResetCode(Device& d) {
    if (Parameter* rco = d.FindParameter("r.co")) {
        bool written = false;
        for (int attempt = 0; attempt < kInitialiseAttempts && !written; ++attempt)
            written = d.WriteParameter(*rco, -1) == 0;
        if (!written)
            d.LogLine("Не удалось инициализировать параметр \"r.co\"!", true, LogColour::kBlack,
                      false);
    }
}

// One operation, picked by the event that woke the thread. False when it
// ran no end step (no target).
bool RunOperation(Device& d, Event* woke, ProgressWindow* window) {
    SharedOperationState& state = OperationState();
    OperationCounters& c = state.counters;
    DescBranch* target = state.target;
    Parameter* single = d.singleTarget;
    auto singleDone = [&](int r) {
        if (r != 0) c.failed = 1;
        d.singleTarget = nullptr;
    };

    if (woke == &d.readAllEvent) {
        if (single)
            singleDone(d.ReadParameter(*single));
        else if (target)
            target->ReadAll(d);
        else
            return false;
    } else if (woke == &d.readOneEvent) {
        c.processed = 0;
        if (single) singleDone(d.ReadParameter(*single));
    } else if (woke == &d.writeAllEvent || woke == &d.writeChangedEvent) {
        int mode = woke == &d.writeChangedEvent ? 0 : (target && target == g_root.load() ? 2 : 1);
        if (single)
            singleDone(d.WriteParameter(*single, mode));
        else if (target)
            target->WriteAll(d, mode);
        else
            return false;
    } else if (woke == &d.writeOneEvent) {
        c.processed = 0;
        if (single) singleDone(d.WriteParameter(*single, 1));
    } else if (woke == &d.compareEvent) {
        if (single)
            singleDone(d.CompareParameter(*single));
        else if (target)
            target->CompareAll(d);
        else
            return false;
    } else if (woke == &d.initialiseEvent) {
        InitialiseResetCode(d);
        if (!target) return false;
        target->WriteAll(d, -1);
    } else if (woke == &d.readStructureEvent) {
        ReadStructure(d);
    } else if (woke == &d.groupEvent) {
        RunGroup(d);
    } else {
        return false;
    }
    Finish(d, window);
    return true;
}

void ExchangeLoop(Device& d) {
    Event& shutdown = d.Port().ShutdownEvent();
    for (;;) {
        auto woke =
            WaitAny({&d.readAllEvent, &d.writeAllEvent, &d.writeChangedEvent, &d.compareEvent,
                     &d.initialiseEvent, &d.readStructureEvent, &d.groupEvent, &shutdown,
                     &d.stopEvent, &d.readOneEvent, &d.writeOneEvent},
                    std::nullopt);
        if (!woke) continue;
        if (*woke == 7) break;
        if (*woke == 8) {
            d.stopEvent.ResetEvent();
            continue;
        }
        Event* events[] = {&d.readAllEvent,
                           &d.writeAllEvent,
                           &d.writeChangedEvent,
                           &d.compareEvent,
                           &d.initialiseEvent,
                           &d.readStructureEvent,
                           &d.groupEvent,
                           nullptr,
                           nullptr,
                           &d.readOneEvent,
                           &d.writeOneEvent};
        Event* event = events[*woke];
        // A manual-reset event left set would run its operation again and again.
        if (event == &d.readOneEvent) event->ResetEvent();

        // The port stays open only while an operation that opened it runs;
        // closed before the window is released, so the launcher returns to
        // a closed port.
        std::optional<Sio::Hold> hold;
        if (!Startup().silent) hold.emplace(d.Port());
        if (!hold || !hold->Held()) d.stopEvent.Set();
        // A driven run's exit code tells how its operation went: what the
        // start's check recorded about the port and the answers gives way to
        // what this operation finds.
        if (hold && Startup().driven && !Startup().noPort) {
            if (hold->Held())
                Outcome::Clear(Outcome::kPortFailed | Outcome::kNoAnswer | Outcome::kBadAnswers);
            else
                Outcome::Set(Outcome::kPortFailed);
        }
        std::shared_ptr<ProgressWindow> window = RegisteredProgressWindow();
        if (window && !window->Claim()) window.reset();
        const bool windowless = !window;
        const bool idle = d.LinkIdle().Acquire(std::chrono::milliseconds(2000));
        RunOperation(d, event, window.get());
        if (idle) d.LinkIdle().Release();
        hold.reset();
        // Reported once per write, not after every later operation.
        if (!shutdown.IsSet() && OperationState().networkParametersWritten.exchange(false))
            Notifications().NetworkSettingsWritten();
        // A driven run learns here that its operation is over, before the
        // launcher returns.
        if (Startup().driven) {
            if (Startup().readRequested) Notifications().CommandLineOperationDone();
            if (Event* done = Startup().doneEvent.load()) done->Set();
        }
        // Last: the launcher waiting for the window returns only now.
        if (window) {
            window->MarkDone();
            window->Release();
        }
        if (windowless) {
            std::lock_guard lock(g_pendingMutex);
            if (g_pending > 0) --g_pending;
            g_pendingDone.notify_all();
        }
    }
}

bool OpenWindow(LaunchContext& context, int code) {
    // Without the exchange thread nobody would ever close the window.
    if (!ExchangeThreadRunning() || context.device.Port().ShutdownEvent().IsSet()) return false;
    auto window = std::make_shared<ProgressWindow>(context.device, context.renderer);
    if (!window->Start(code, context.autoClose)) return false;
    ProgressPresenter headless;
    ProgressPresenter& presenter = context.presenter ? *context.presenter : headless;
    bool shown = presenter.Exec(*window);
    window->Close();
    // Closing the window stops the operation; it must be over before another
    // one may start and before the caller looks at the values.
    window->WaitReleased();
    return shown && !window->Cancelled();
}

// Waits until the operations started without a window have run, so that
// their target is not replaced under them. Gives up when the exchange
// thread is gone or the link shuts down: nobody would run them then.
void AwaitWindowless(Device& d) {
    std::unique_lock lock(g_pendingMutex);
    while (g_pending > 0) {
        if (!g_running || d.Port().ShutdownEvent().IsSet()) {
            g_pending = 0;
            break;
        }
        g_pendingDone.wait_for(lock, std::chrono::milliseconds(100));
    }
}

void StartWindowless(Device& d, DescBranch* target) {
    AwaitWindowless(d);
    {
        std::lock_guard lock(g_pendingMutex);
        ++g_pending;
    }
    OperationState().target = target;
    d.RenewOperationStamp();
    d.writeChangedEvent.Set();
}

void PrepareTarget(DescBranch* branch, int total) {
    SharedOperationState& state = OperationState();
    state.target = branch;
    state.counters.Reset(total);
}

}  // namespace

const char* OperationTitle(int code) {
    switch (code) {
        case OperationCode::kReadAll:
            return "Идет чтение параметров из прибора";
        case OperationCode::kReadOne:
            return "Идет чтение параметра из прибора";
        case OperationCode::kWriteAll:
            return "Идет запись параметров в прибор";
        case OperationCode::kWriteChanged:
            return "Идет запись измененных значений параметров в прибор";
        case OperationCode::kCompare:
            return "Идет сравнение параметров в конфигурации и в приборе";
        case OperationCode::kInitialise:
            return "Идет инициализация прибора";
        case OperationCode::kReadStructure:
            return "Идет чтение параметров структуры";
        case OperationCode::kWriteOne:
            return "Идет запись параметра в прибор";
        case OperationCode::kGroupRead:
            return "Идет чтение группы параметров из прибора";
        case OperationCode::kGroupWrite:
            return "Идет запись группы параметров в прибор";
        case OperationCode::kGroupCompare:
            return "Идет сравнение группы значений параметров";
        default:
            return "";
    }
}

Event* OperationEvent(Device& d, int code) {
    switch (code) {
        case OperationCode::kReadAll:
            return &d.readAllEvent;
        case OperationCode::kReadOne:
            return &d.readOneEvent;
        case OperationCode::kWriteAll:
            return &d.writeAllEvent;
        case OperationCode::kWriteChanged:
            return &d.writeChangedEvent;
        case OperationCode::kCompare:
            return &d.compareEvent;
        case OperationCode::kInitialise:
            return &d.initialiseEvent;
        case OperationCode::kReadStructure:
            return &d.readStructureEvent;
        case OperationCode::kWriteOne:
            return &d.writeOneEvent;
        case OperationCode::kGroupRead:
        case OperationCode::kGroupWrite:
        case OperationCode::kGroupCompare:
            return &d.groupEvent;
        default:
            return nullptr;
    }
}

void SetConfigurationRoot(DescBranch* root) {
    g_root = root;
}

DescBranch* ConfigurationRoot() {
    return g_root.load();
}

void SetFinishPause(std::chrono::milliseconds pause) {
    g_finishPauseMs = pause.count();
}

void StartExchangeThread(Device& device) {
    std::lock_guard lock(g_threadMutex);
    if (g_thread.joinable()) return;
    g_threadDevice = &device;
    g_thread = std::thread([&device] { ExchangeLoop(device); });
    g_running = true;
}

void StopExchangeThread() {
    std::lock_guard lock(g_threadMutex);
    if (!g_thread.joinable()) return;
    g_threadDevice->Port().ShutdownEvent().Set();
    g_thread.join();
    g_threadDevice = nullptr;
    g_running = false;
    std::lock_guard pending(g_pendingMutex);
    g_pending = 0;
    g_pendingDone.notify_all();
}

bool ExchangeThreadRunning() {
    std::lock_guard lock(g_threadMutex);
    return g_thread.joinable();
}

bool LaunchReadAll(LaunchContext& context, DescBranch* branch) {
    AwaitWindowless(context.device);
    if (!branch) return false;
    PrepareTarget(branch, context.device.singleTarget ? 1 : SubtreeCount(*branch));
    return OpenWindow(context, OperationCode::kReadAll);
}

bool LaunchReadOne(LaunchContext& context, Parameter& p) {
    AwaitWindowless(context.device);
    context.device.singleTarget = &p;
    OperationState().counters.Reset(1);
    return OpenWindow(context, OperationCode::kReadOne);
}

bool LaunchWriteAll(LaunchContext& context, DescBranch* branch) {
    AwaitWindowless(context.device);
    if (!branch) return false;
    const bool single = context.device.singleTarget != nullptr;
    PrepareTarget(branch, single ? 1 : SubtreeCount(*branch));
    if (single) OperationState().counters.processed = 1;
    return OpenWindow(context, OperationCode::kWriteAll);
}

bool LaunchWriteChanged(LaunchContext& context, DescBranch* branch) {
    AwaitWindowless(context.device);
    if (!branch) return false;
    PrepareTarget(branch, branch->CountChanged(false));
    return OpenWindow(context, OperationCode::kWriteChanged);
}

bool LaunchWriteOne(LaunchContext& context, Parameter& p) {
    AwaitWindowless(context.device);
    context.device.singleTarget = &p;
    OperationState().counters.Reset(1);
    return OpenWindow(context, OperationCode::kWriteOne);
}

bool LaunchInitialise(LaunchContext& context) {
    AwaitWindowless(context.device);
    if (!context.device.maximumAccess) {
        ShowMessage("Эта операция доступна только на максимальном уровне доступа", {},
                    MessageIcon::Error);
        return false;
    }
    DescBranch* root = g_root.load();
    if (!root) return false;
    PrepareTarget(root, SubtreeCount(*root));
    return OpenWindow(context, OperationCode::kInitialise);
}

bool LaunchReadStructure(LaunchContext& context, DescBranch* branch) {
    AwaitWindowless(context.device);
    OperationState().target = branch;
    OperationState().counters.Reset(context.device.maximumAccess ? 118 : 84);
    return OpenWindow(context, OperationCode::kReadStructure);
}

bool LaunchWriteErrors(LaunchContext& context) {
    DescBranch* root = g_root.load();
    std::vector<Parameter*> list;
    if (root) root->CollectErrors(list);
    if (list.empty()) return false;
    return LaunchGroup(context, std::move(list), 2);
}

bool LaunchCompare(LaunchContext& context, DescBranch* branch) {
    AwaitWindowless(context.device);
    if (!branch) return false;
    PrepareTarget(branch, SubtreeCount(*branch));
    return OpenWindow(context, OperationCode::kCompare);
}

bool LaunchGroup(LaunchContext& context, std::vector<Parameter*> list, int mode) {
    AwaitWindowless(context.device);
    static constexpr int kCodes[] = {0, OperationCode::kGroupRead, OperationCode::kGroupWrite,
                                     OperationCode::kGroupCompare};
    if (mode < 1 || mode > 3) return false;
    Device& d = context.device;
    d.groupList = std::move(list);
    d.groupCount = static_cast<int>(d.groupList.size());
    OperationState().counters.Reset(d.groupCount);
    return OpenWindow(context, kCodes[mode]);
}

bool WriteChangedWithoutWindow(Device& device) {
    DescBranch* root = g_root.load();
    if (!root) return false;
    StartWindowless(device, root);
    return true;
}

bool InstantWrite(Device& device, const Parameter& edited) {
    DescBranch* root = g_root.load();
    if (!root || !Modes().instantWrite || !edited.HasPendingUpdate()) return false;
    StartWindowless(device, root);
    return true;
}
