#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "device/progress_window.h"

// A headless progress window renderer that keeps what the dialog would show.
// Lines arrive from the exchange thread, hence the lock.
class ProgressRecorder : public ProgressRenderer {
  public:
    struct Line {
        std::string text;
        bool bold;
        std::uint32_t colour;
        bool italic;
    };

    void SetTitle(const std::string& text) override {
        Locked([&] { title = text; });
    }
    void AppendLine(const std::string& text, bool bold, std::uint32_t colour,
                    bool italic) override {
        Locked([&] { lines.push_back({text, bold, colour, italic}); });
        if (onLine) onLine(text);
    }
    void SetElapsed(const std::string& text) override {
        Locked([&] { elapsed = text; });
    }
    void SetCounters(const std::string& text, int failedCount) override {
        Locked([&] {
            counters = text;
            failed = failedCount;
        });
    }
    void SetProgressRange(int total) override {
        Locked([&] { range = total; });
    }
    void SetProgressPosition(int at) override {
        Locked([&] { position = at; });
    }
    void SetButtonText(const std::string& text) override {
        Locked([&] { buttons.push_back(text); });
    }
    void SetAutoCloseTicked(bool ticked) override {
        Locked([&] { autoClose = ticked; });
    }
    void SetOkEnabled(bool enabled) override {
        Locked([&] { okEnabled = enabled; });
    }
    void Close() override {
        Locked([&] { ++closed; });
    }

    // Waits until a line with the text arrived.
    void WaitForLine(const std::string& text) {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] {
            for (const Line& l : lines)
                if (l.text == text) return true;
            return false;
        });
    }
    std::vector<std::string> Texts() {
        std::lock_guard lock(mutex);
        std::vector<std::string> texts;
        for (const Line& l : lines)
            texts.push_back(l.text);
        return texts;
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::function<void(const std::string&)> onLine;  // called on the logging thread
    std::string title, elapsed, counters;
    int failed = -1, range = -1, position = -1, closed = 0;
    bool autoClose = false, okEnabled = true;
    std::vector<Line> lines;
    std::vector<std::string> buttons;

  private:
    template <typename F>
    void Locked(F f) {
        {
            std::lock_guard lock(mutex);
            f();
        }
        changed.notify_all();
    }
};
