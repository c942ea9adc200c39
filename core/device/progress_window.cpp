#include "device/progress_window.h"

#include <thread>

#include "device/device.h"
#include "device/exchange_operations.h"
#include "platform/app_state.h"
#include "platform/text.h"

namespace {

std::mutex g_registryMutex;
std::shared_ptr<ProgressWindow> g_registered;

// Registered with the Device while a window is open. Device::LogLine reaches
// the window through it under the registry lock, so a window closed on the
// user-interface thread is never written to by the exchange thread afterwards.
class RegistryLog : public ProgressLog {
  public:
    void LogLine(const std::string& text, bool bold, std::uint32_t colour, bool italic) override {
        std::shared_ptr<ProgressWindow> window = RegisteredProgressWindow();
        if (window) window->LogLine(text, bold, colour, italic);
    }
};
RegistryLog g_registryLog;

}  // namespace

std::shared_ptr<ProgressWindow> RegisteredProgressWindow() {
    std::lock_guard lock(g_registryMutex);
    return g_registered;
}

std::string FormatElapsed(std::int64_t seconds) {
    if (seconds < 0) seconds = 0;
    return Format("%02i:%02i:%02i", static_cast<int>(seconds / 3600),
                  static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
}

ProgressWindow::ProgressWindow(Device& device, ProgressRenderer& renderer)
    : device_(device), renderer_(renderer) {}

ProgressWindow::~ProgressWindow() = default;

bool ProgressWindow::Start(int code, bool autoClose, std::chrono::milliseconds waitStep) {
    Event* event = OperationEvent(device_, code);
    if (!event) return false;
    // A previous window gets ten steps to go away; after that this one stays inert.
    for (int step = 0;; ++step) {
        {
            std::lock_guard lock(g_registryMutex);
            if (!g_registered) {
                g_registered = shared_from_this();
                break;
            }
        }
        if (step == 10) return false;
        std::this_thread::sleep_for(waitStep);
    }
    {
        std::lock_guard lock(mutex_);
        registered_ = true;
        code_ = code;
        logLength_ = 0;
        lines_ = 0;
        autoClose_ = true;
        start_ = std::chrono::steady_clock::now();
    }
    device_.logLength = 0;
    device_.stopEvent.ResetEvent();
    device_.SetProgressLog(&g_registryLog);
    OperationState().counters.failed = 0;
    const int total = OperationState().counters.total;
    renderer_.SetProgressRange(total);
    renderer_.SetProgressPosition(0);
    if (autoClose)
        renderer_.SetAutoCloseTicked(true);
    else
        SetAutoClose(false);
    device_.RenewOperationStamp();
    device_.startTime = std::chrono::duration_cast<std::chrono::seconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
    renderer_.SetTitle(OperationTitle(code));
    if (code == OperationCode::kReadStructure) renderer_.SetOkEnabled(false);
    if (code == OperationCode::kGroupRead) device_.groupMode = 1;
    if (code == OperationCode::kGroupWrite) device_.groupMode = 2;
    if (code == OperationCode::kGroupCompare) device_.groupMode = 3;
    event->Set();
    return true;
}

void ProgressWindow::PressButton() {
    device_.stopEvent.Set();
    bool close = false;
    {
        std::lock_guard lock(mutex_);
        if (!done_ && registered_ && !closed_) {
            cancelled_ = true;
            Outcome::Set(Outcome::kCancelled);
        }
        close = buttonText_ == kClose;
    }
    if (close)
        Close();
    else
        SetButtonText(kClose);
}

void ProgressWindow::SetAutoClose(bool ticked) {
    {
        std::lock_guard lock(mutex_);
        autoClose_ = ticked;
    }
    renderer_.SetAutoCloseTicked(ticked);
    // A command-line run keeps its button as it is.
    if (!Startup().driven) SetButtonText(ticked ? kClose : kStop);
}

bool ProgressWindow::AutoClose() const {
    std::lock_guard lock(mutex_);
    return autoClose_;
}

std::string ProgressWindow::ButtonText() const {
    std::lock_guard lock(mutex_);
    return buttonText_;
}

void ProgressWindow::SetButtonText(const std::string& text) {
    {
        std::lock_guard lock(mutex_);
        buttonText_ = text;
    }
    renderer_.SetButtonText(text);
}

void ProgressWindow::Close() {
    {
        std::lock_guard registry(g_registryMutex);
        std::lock_guard lock(mutex_);
        if (closed_) return;
        closed_ = true;
        if (g_registered.get() == this) {
            g_registered.reset();
            device_.SetProgressLog(nullptr);
        }
    }
    renderer_.Close();
    changed_.notify_all();
}

bool ProgressWindow::IsClosed() const {
    std::lock_guard lock(mutex_);
    return closed_;
}

bool ProgressWindow::WaitClosed(std::optional<std::chrono::milliseconds> timeout) {
    std::unique_lock lock(mutex_);
    if (!timeout) {
        changed_.wait(lock, [this] { return closed_; });
        return true;
    }
    return changed_.wait_for(lock, *timeout, [this] { return closed_; });
}

bool ProgressWindow::Claim() {
    std::lock_guard lock(mutex_);
    if (closed_ || !registered_) return false;
    claimed_ = true;
    return true;
}

void ProgressWindow::MarkDone() {
    std::lock_guard lock(mutex_);
    done_ = true;
}

void ProgressWindow::Release() {
    {
        std::lock_guard lock(mutex_);
        claimed_ = false;
    }
    changed_.notify_all();
}

void ProgressWindow::WaitReleased() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !claimed_; });
}

bool ProgressWindow::Held() const {
    std::lock_guard lock(mutex_);
    return claimed_;
}

bool ProgressWindow::Cancelled() const {
    std::lock_guard lock(mutex_);
    return cancelled_;
}

std::size_t ProgressWindow::LogLength() const {
    std::lock_guard lock(mutex_);
    return logLength_;
}

std::size_t ProgressWindow::LineCount() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

void ProgressWindow::LogLine(const std::string& text, bool bold, std::uint32_t colour,
                             bool italic) {
    std::chrono::steady_clock::time_point start;
    {
        std::lock_guard lock(mutex_);
        if (closed_ || !registered_) return;
        logLength_ += Utf8Length(text);
        ++lines_;
        start = start_;
    }
    // The renderer adds the one line and scrolls to it; nothing already
    // shown is touched, so a long log costs no more per line than a short one.
    renderer_.AppendLine(text, bold, colour, italic);
    auto elapsed =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start);
    renderer_.SetElapsed(FormatElapsed(elapsed.count()));
    ShowCounters();
}

void ProgressWindow::ShowCounters() {
    const OperationCounters& c = OperationState().counters;
    const int total = c.total;
    if (total == 0) return;
    const int processed = c.processed;
    renderer_.SetCounters(Format("%i из %i", processed, total), c.failed);
    renderer_.SetProgressPosition(processed);
}
