#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "device/exchange_operations.h"
#include "device/progress_window.h"

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTextEdit;

// The progress window "Прибор <==> программа" of the exchange operations.
// It draws the core's progress window: the exchange thread's calls are
// gathered under a lock and drawn together on the next turn of the
// user-interface thread, so that the thread never waits for the screen and
// thousands of log lines cost one repaint each turn, not one each line.
class CProgressDialog : public QDialog, public ProgressRenderer, public ProgressPresenter {
    Q_OBJECT
  public:
    static constexpr const char* kCaption = "Прибор <==> программа";

    explicit CProgressDialog(QWidget* parent = nullptr);
    ~CProgressDialog() override;

    // --- ProgressRenderer: any thread, never blocking ---
    void SetTitle(const std::string& title) override;
    void AppendLine(const std::string& text, bool bold, std::uint32_t colour, bool italic) override;
    void SetElapsed(const std::string& text) override;
    void SetCounters(const std::string& processedText, int failed) override;
    void SetProgressRange(int total) override;
    void SetProgressPosition(int position) override;
    void SetButtonText(const std::string& text) override;
    void SetAutoCloseTicked(bool ticked) override;
    void SetOkEnabled(bool enabled) override;
    void Close() override;

    // --- ProgressPresenter: the user-interface thread ---
    // Modal until the window is closed and the exchange thread has let it go.
    bool Exec(ProgressWindow& window) override;

    // What is shown, for tests and the screenshot.
    QTextEdit* Log() const { return log_; }
    QPushButton* Button() const { return button_; }
    QCheckBox* AutoCloseBox() const { return autoClose_; }
    QLabel* FailedField() const { return failed_; }
    QLabel* ProcessedField() const { return processed_; }
    QLabel* ElapsedField() const { return elapsed_; }
    QProgressBar* Bar() const { return bar_; }
    // The window this dialog shows now; null between operations.
    ProgressWindow* Window() const { return window_; }
    // Draws what is waiting at once (the next turn would do it anyway).
    void Flush();

  protected:
    void reject() override;

  private:
    struct Line {
        QString text;
        bool bold;
        std::uint32_t colour;
        bool italic;
    };
    // What the calls changed since the last drawing.
    struct Pending {
        std::vector<Line> lines;
        std::optional<QString> title, elapsed, processed, button;
        std::optional<int> failed, range, position;
        std::optional<bool> autoClose, okEnabled;
        bool close = false;
        bool flushQueued = false;
    };

    template <typename F>
    void Change(F&& change);
    void ResetView();
    void OnButton();
    void OnAutoCloseClicked(bool ticked);
    void WaitForRelease(ProgressWindow& window);

    QTextEdit* log_ = nullptr;
    QCheckBox* autoClose_ = nullptr;
    QPushButton* button_ = nullptr;
    QLabel* elapsed_ = nullptr;
    QProgressBar* bar_ = nullptr;
    QLabel* processed_ = nullptr;
    QLabel* failed_ = nullptr;
    ProgressWindow* window_ = nullptr;
    bool inExec_ = false;

    std::mutex mutex_;
    Pending pending_;
};
