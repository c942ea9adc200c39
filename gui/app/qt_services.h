#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui_services.h"

class QWidget;

// Answers message boxes by itself and writes down what it was asked, so that
// a driven run can be tested as a real process without anybody at the
// screen. Only the environment turns it on (SELVAR_AUTO_ANSWER,
// SELVAR_MESSAGE_LOG); it is never on by default.
class AutoAnswers {
  public:
    // "yes", "no", "ok", "cancel", or a list of them separated by ',' or
    // spaces. Every question takes the next answer; once the list is used
    // up the last answer stays. Boxes with only an OK button take none.
    // Empty: nothing is answered by itself. Unknown words are refused.
    static std::optional<AutoAnswers> Parse(const std::string& answers, const std::string& logPath,
                                            std::string* error = nullptr);
    // From SELVAR_AUTO_ANSWER and SELVAR_MESSAGE_LOG; none when the answers
    // are not set (a log alone records the boxes the user answers).
    static std::optional<AutoAnswers> FromEnvironment(std::string* error = nullptr);

    bool Answers() const { return !answers_.empty(); }
    // The answer to a box; a word that does not fit the box's buttons gives
    // the box's default button.
    MessageResult Next(MessageButtons buttons);
    // One line per box: caption, text, answer separated by tabs, with line
    // breaks, tabs and backslashes escaped.
    void Log(const std::string& caption, const std::string& text, MessageResult answer) const;
    const std::string& LogPath() const { return logPath_; }

    static std::string LogLine(const std::string& caption, const std::string& text,
                               MessageResult answer);

  private:
    std::vector<MessageResult> answers_;
    std::size_t next_ = 0;
    std::string logPath_;
};

// The message boxes of the program. Callable from any thread: a worker waits
// until the user-interface thread has shown the box and has the answer.
class QtMessageBoxService : public QObject, public MessageBoxService {
    Q_OBJECT
  public:
    explicit QtMessageBoxService(QObject* parent = nullptr);
    ~QtMessageBoxService() override;

    // The box's owner; null: none.
    void SetOwner(QWidget* owner) { owner_ = owner; }
    void SetAutoAnswers(std::optional<AutoAnswers> answers);
    // The program is ending: boxes are answered with their default at once,
    // so that a worker thread being stopped is never left waiting for a
    // user-interface thread that no longer serves it.
    void SetClosing();
    // The caption of boxes that name none.
    static QString ProgramTitle();

    MessageResult Show(const std::string& text, const std::string& caption, MessageIcon icon,
                       MessageButtons buttons) override;
    MessageResult ShowWithDetails(const std::string& text, const std::string& caption,
                                  MessageIcon icon, MessageButtons buttons,
                                  const std::string& details) override;

  private:
    MessageResult Ask(const std::string& text, const std::string& caption, MessageIcon icon,
                      MessageButtons buttons, const std::string& details);
    // On the user-interface thread.
    MessageResult RunBox(const QString& text, const QString& caption, MessageIcon icon,
                         MessageButtons buttons, const QString& details);

    QWidget* owner_ = nullptr;
    std::mutex answersMutex_;
    std::optional<AutoAnswers> answers_;
    std::atomic<bool> closing_{false};
};

// Opens reports and exports with the desktop's handler for their type.
class QtDesktopService : public DesktopService {
  public:
    void Open(const std::string& path) override;
};

// Runs fn on the thread of `context`: directly when already there, else
// blocking-queued, waiting for it.
void RunOnThreadOf(QObject* context, const std::function<void()>& fn);
