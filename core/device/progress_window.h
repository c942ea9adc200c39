#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "device/progress_log.h"

class Device;

// What the progress window "Прибор <==> программа" shows, drawn by whoever
// owns the screen. Calls come from the user-interface thread and from the
// exchange thread; a GUI renderer queues them to its own thread and must not
// block waiting for it.
class ProgressRenderer {
  public:
    virtual ~ProgressRenderer() = default;
    virtual void SetTitle(const std::string& title) { (void)title; }
    // Only the new line: the log already shown stays as it is.
    virtual void AppendLine(const std::string& text, bool bold, std::uint32_t colour, bool italic) {
        (void)text, (void)bold, (void)colour, (void)italic;
    }
    virtual void SetElapsed(const std::string& text) { (void)text; }
    // "processed из total", and the failed count (drawn on a red background
    // while above 0).
    virtual void SetCounters(const std::string& processedText, int failed) {
        (void)processedText, (void)failed;
    }
    virtual void SetProgressRange(int total) { (void)total; }
    virtual void SetProgressPosition(int position) { (void)position; }
    virtual void SetButtonText(const std::string& text) { (void)text; }
    virtual void SetAutoCloseTicked(bool ticked) { (void)ticked; }
    virtual void SetOkEnabled(bool enabled) { (void)enabled; }
    virtual void Close() {}
};

// The progress window of one exchange operation, without any widget: it keeps
// the state the dialog shows and hands every change to its renderer.
class ProgressWindow : public std::enable_shared_from_this<ProgressWindow> {
  public:
    static constexpr const char* kClose = "Закрыть";
    static constexpr const char* kStop = "Остановить";

    ProgressWindow(Device& device, ProgressRenderer& renderer);
    ~ProgressWindow();
    ProgressWindow(const ProgressWindow&) = delete;
    ProgressWindow& operator=(const ProgressWindow&) = delete;

    // Opens the window for an operation code: waits for a previous window
    // (up to ten steps), registers this one, resets the stop event, renews
    // the operation stamp and signals the operation's event. False when the
    // previous window stayed or the code names no operation: the window is
    // then inert.
    // autoClose is the check box's first state (ticked in the program).
    bool Start(int code, bool autoClose = true,
               std::chrono::milliseconds waitStep = std::chrono::milliseconds(200));

    // The button: stops the operation; "Остановить" turns into "Закрыть",
    // "Закрыть" closes the window.
    void PressButton();
    // The check box "Автоматически закрывать окно".
    void SetAutoClose(bool ticked);
    bool AutoClose() const;
    std::string ButtonText() const;
    void SetButtonText(const std::string& text);

    // Unregisters the window and tells the renderer; idempotent.
    void Close();
    bool IsClosed() const;
    // Waits until the window is closed; none: forever.
    bool WaitClosed(std::optional<std::chrono::milliseconds> timeout = std::nullopt);

    // The exchange thread takes the open window for the pass that runs its
    // operation and releases it after Finish. A closed window is not taken.
    bool Claim();
    void Release();
    // The operation reached its end step: the button no longer cancels it.
    void MarkDone();
    // Waits until no pass holds the window, so that a launcher returns only
    // when its operation is over.
    void WaitReleased();
    // A pass holds the window now. A GUI keeps serving the exchange thread's
    // boxes while it waits for the release instead of blocking in
    // WaitReleased.
    bool Held() const;

    void LogLine(const std::string& text, bool bold, std::uint32_t colour, bool italic);
    std::size_t LogLength() const;
    std::size_t LineCount() const;
    int Code() const { return code_; }
    // The button stopped the operation before it finished.
    bool Cancelled() const;

  private:
    void Register();
    void ShowCounters();

    Device& device_;
    ProgressRenderer& renderer_;
    int code_ = 0;
    std::chrono::steady_clock::time_point start_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::string buttonText_ = kClose;
    bool autoClose_ = true;
    bool registered_ = false;
    bool closed_ = false;
    bool claimed_ = false;
    bool cancelled_ = false;
    bool done_ = false;
    std::size_t logLength_ = 0;  // characters, kept as a running count
    std::size_t lines_ = 0;
};

// The registered progress window; null when none is open.
std::shared_ptr<ProgressWindow> RegisteredProgressWindow();

// Elapsed seconds as "%H:%M:%S".
std::string FormatElapsed(std::int64_t seconds);
