#include "document/regulation.h"

#include <cctype>

#include "device/device.h"
#include "platform/text.h"
#include "platform/ui_services.h"

namespace Regulation {

namespace {

std::atomic<long long> g_linkBusyWaitMs{2000};

// "Состояние объекта №1" describes object 1 only; each object gets its number.
std::string DescribeObject(const std::string& description, int k) {
    const std::size_t mark = description.rfind("№");
    if (mark == std::string::npos) return description;
    const std::size_t digits = mark + std::string("№").size();
    if (digits == description.size()) return description;
    for (std::size_t i = digits; i < description.size(); ++i)
        if (!std::isdigit(static_cast<unsigned char>(description[i]))) return description;
    return description.substr(0, digits) + std::to_string(k + 1);
}

// A parameter of the exchange alone, so that the watching thread never
// writes into a parameter the user's thread shows.
std::unique_ptr<Parameter> ExchangeCopy(const Parameter* model, const char* name,
                                        const char* fallbackType) {
    auto p = std::make_unique<Parameter>();
    p->name = model ? model->name : name;
    p->type = model ? model->type : fallbackType;
    if (model) {
        p->description = model->description;
        p->decimals = model->decimals;
        p->minValue = model->minValue;
        p->maxValue = model->maxValue;
        p->hasLinearIndex = model->hasLinearIndex;
    }
    return p;
}

bool BelowOne(const std::string& value) {
    double n = 0;
    const std::size_t used = ParseLeadingReal(value, n);
    // An unread count tells nothing: the row stays usable.
    return used > 0 && n < 1;
}

}  // namespace

void SetLinkBusyWait(std::chrono::milliseconds wait) {
    g_linkBusyWaitMs = wait.count();
}

std::unique_ptr<Control> Control::Create(Device& device, std::string& error,
                                         ParameterDevice* exchanges) {
    const Parameter* state = device.FindParameter(kStateName);
    if (!state) {
        error = kNoStateParameter;
        return nullptr;
    }
    error.clear();
    return std::unique_ptr<Control>(new Control(device, exchanges ? *exchanges : device, *state));
}

Control::Control(Device& device, ParameterDevice& exchanges, const Parameter& state)
    : device_(device), exchanges_(exchanges) {
    const Parameter* firstCount = device.FindParameter(kChannelsName);
    for (int k = 0; k < kObjects; ++k) {
        auto object = std::make_unique<Parameter>();
        object->name = state.name;
        object->description = DescribeObject(state.description, k);
        object->type = ReplaceAll(state.type, "_", " ");
        object->deviceAddress = k;
        object->value.clear();
        objects_[static_cast<std::size_t>(k)] = std::move(object);

        const Parameter* own = device.FindParameter(kChannelsName, 8 * k);
        auto count = ExchangeCopy(own ? own : firstCount, kChannelsName, "DEC dot");
        count->hasLinearIndex = true;
        count->linearIndex = 8 * k;
        channels_[static_cast<std::size_t>(k)] = std::move(count);
    }
    // Without a table entry the command still goes out as the number itself.
    command_ = ExchangeCopy(device.FindParameter(kCommandName), kCommandName, "byte");
    networkStart_ = device.FindParameter(kNetworkStartName);
}

Control::~Control() {
    {
        std::lock_guard lock(stoppedMutex_);
        stopped_ = nullptr;
    }
    stopping_ = true;
    stop_.Set();
    if (closer_.joinable()) closer_.join();
}

std::vector<std::string> Control::NetworkStartLabels() const {
    return networkStart_ ? networkStart_->Labels() : std::vector<std::string>{};
}

std::string Control::ReadNetworkStart() {
    if (!networkStart_) return {};
    exchanges_.ReadParameter(*networkStart_);
    return networkStart_->value;
}

void Control::StartWatching(WatchCallbacks callbacks) {
    if (started_) return;
    started_ = true;
    retries_.fill(0);
    pending_.fill(Pending::None);
    {
        std::lock_guard lock(stoppedMutex_);
        stopped_ = std::move(callbacks.stopped);
    }
    callbacks.stopped = nullptr;
    watcher_ = std::thread([this, callbacks = std::move(callbacks)] { Watch(callbacks); });
    // The closer only waits: it reports the end of the watcher, so that the
    // user's thread never blocks on it.
    closer_ = std::thread([this] {
        watcher_.join();
        std::lock_guard lock(stoppedMutex_);
        if (stopping_ && stopped_) stopped_();
    });
}

void Control::Watch(WatchCallbacks callbacks) {
    for (int k = 0; k < kObjects; ++k) {
        if (stopping_) return;
        Parameter& count = *channels_[static_cast<std::size_t>(k)];
        exchanges_.ReadParameter(count);
        if (callbacks.objectEnabled) callbacks.objectEnabled(k, !BelowOne(count.value));
    }
    for (int k = 0;; k = (k + 1) % kObjects) {
        const std::optional<std::size_t> woke = WaitAny({&stop_, &next_}, std::nullopt);
        if (!woke || *woke == 0 || stopping_) return;
        next_.ResetEvent();
        if (callbacks.refreshDue) callbacks.refreshDue(k);
    }
}

bool Control::RequestStop() {
    if (!started_) return false;
    stopping_ = true;
    stop_.Set();
    return true;
}

std::string Control::Refresh(int k) {
    if (k < 0 || k >= kObjects) return {};
    Parameter& object = Object(k);
    // A refresh asked for before the stop has nothing left to show.
    if (stopping_) return object.value;
    exchanges_.ReadParameter(object);

    auto index = static_cast<std::size_t>(k);
    const Pending pending = pending_[index];
    if (pending != Pending::None) {
        const bool start = pending == Pending::Start;
        // The state that shows the command was not followed.
        if (object.value == object.IndexToLabel(start ? 0 : 1)) {
            if (retries_[index] < kRetries) {
                ++retries_[index];
                SendCommand(k, start);
            } else {
                ShowMessage(start ? kStartFailed : kStopFailed, kFailureCaption,
                            MessageIcon::Exclamation);
                pending_[index] = Pending::None;
            }
        } else {
            pending_[index] = Pending::None;
        }
    }
    next_.Set();
    return object.value;
}

bool Control::Command(bool start, int selectedRow) {
    retries_.fill(0);
    if (selectedRow < 0 || selectedRow >= kObjects) {
        ShowMessage(kNoSelection, {}, MessageIcon::Information);
        return false;
    }
    SendCommand(selectedRow, start);
    pending_[static_cast<std::size_t>(selectedRow)] = start ? Pending::Start : Pending::Stop;
    return true;
}

void Control::SetNetworkStart(const std::string& label) {
    if (!networkStart_) return;
    networkStart_->value = label;
    WriteWhenIdle(*networkStart_);
}

int Control::SendCommand(int k, bool start) {
    command_->value = command_->IndexToLabel(start ? 1 : 0);
    command_->deviceAddress = k;
    command_->error.clear();
    return WriteWhenIdle(*command_);
}

int Control::WriteWhenIdle(Parameter& p) {
    Semaphore& idle = device_.LinkIdle();
    if (!idle.Acquire(std::chrono::milliseconds(g_linkBusyWaitMs.load())))
        return ExchangeCode::kFailed;
    const int r = exchanges_.WriteParameter(p, 1);
    idle.Release();
    return r;
}

}  // namespace Regulation
