#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

// The core reaches the user only through these interfaces. The GUI implements
// them with real dialogs; tests and the command-line tool install recorders or
// quiet defaults.

enum class MessageIcon { None, Error, Exclamation, Information, Question };
enum class MessageButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MessageResult { Ok, Cancel, Yes, No };

class MessageBoxService {
  public:
    virtual ~MessageBoxService() = default;
    // `caption` empty means the program's own title.
    virtual MessageResult Show(const std::string& text, const std::string& caption,
                               MessageIcon icon, MessageButtons buttons) = 0;
    // The same box with the system's own words (why a port would not open)
    // available below the text; a service without room for them leaves
    // them out.
    virtual MessageResult ShowWithDetails(const std::string& text, const std::string& caption,
                                          MessageIcon icon, MessageButtons buttons,
                                          const std::string& details) {
        (void)details;
        return Show(text, caption, icon, buttons);
    }
};

// The process-wide message-box service. With none installed, boxes are
// answered with their default (OK, or Yes) and not shown anywhere.
void SetMessageBoxService(MessageBoxService* service);
MessageBoxService* GetMessageBoxService();

// Shows a box through the installed service.
MessageResult ShowMessage(const std::string& text, const std::string& caption = {},
                          MessageIcon icon = MessageIcon::Information,
                          MessageButtons buttons = MessageButtons::Ok);
MessageResult ShowMessageWithDetails(const std::string& text, const std::string& caption,
                                     MessageIcon icon, MessageButtons buttons,
                                     const std::string& details);

// Notices from the operations and the polling threads to the main window.
// Calls may come from worker threads: the GUI queues them to its own thread,
// except OperativeValueRead, which the caller waits for (the polling thread
// goes on only when the value is shown and recorded).
class Parameter;

// A value read by a polling thread, waiting to be shown. The thread that read
// it waits until Deliver has run or the polling stops; stopping the polling
// never waits for the receiver, and a ticket delivered after the stop does
// nothing, so its parameter may be gone by then.
class OperativeValueTicket {
  public:
    struct State;
    explicit OperativeValueTicket(std::shared_ptr<State> state) : state_(std::move(state)) {}
    // Calls OperativeValueRead of the installed receiver, on the calling
    // thread, unless the polling stopped. Any thread, any number of times.
    void Deliver() const;

  private:
    std::shared_ptr<State> state_;
};

struct OperativeValueTicket::State {
    explicit State(Parameter& p) : parameter(&p) {}
    // Waits until delivered or cancelled; true when delivered.
    bool Wait();
    // After Cancel returns no delivery runs or will run.
    void Cancel();

    std::mutex lock;
    std::condition_variable changed;
    Parameter* parameter;
    bool delivered = false;
    bool cancelled = false;
};

class MainWindowNotifications {
  public:
    virtual ~MainWindowNotifications() = default;
    virtual void ProgressOn() {}
    // The progress bar with the range 0..rangeHigh (0 gives 0..100).
    virtual void ProgressOnWithRange(int rangeHigh) {
        (void)rangeHigh;
        ProgressOn();
    }
    virtual void ProgressPosition(int percent) { (void)percent; }
    virtual void ProgressOff() {}
    virtual void Refresh() {}
    virtual void NetworkSettingsWritten() {}
    virtual void CommandLineOperationDone() {}
    // Synchronous: returns when the value has been handled.
    virtual void OperativeValueRead(Parameter& p) { (void)p; }
    // A polling thread has a value for OperativeValueRead. The GUI queues
    // ticket.Deliver() to its own thread; the default delivers at once on
    // the polling thread.
    virtual void OperativeValueReady(const OperativeValueTicket& ticket) { ticket.Deliver(); }
};

// The process-wide receiver of notices; with none installed they go nowhere.
void SetMainWindowNotifications(MainWindowNotifications* receiver);
MainWindowNotifications& Notifications();

// The password prompt ("Пароль на доступ"). Ask returns the typed text, or
// nothing when the user cancelled.
class PasswordPrompt {
  public:
    virtual ~PasswordPrompt() = default;
    virtual std::optional<std::string> Ask(const std::string& text) = 0;
};
void SetPasswordPrompt(PasswordPrompt* prompt);
// Null when none is installed: no one can type a password.
PasswordPrompt* GetPasswordPrompt();

// Opens a file with the desktop's handler for its type (a report in the
// browser). With none installed nothing is opened.
class DesktopService {
  public:
    virtual ~DesktopService() = default;
    virtual void Open(const std::string& path) = 0;
};
void SetDesktopService(DesktopService* service);
void OpenWithDesktop(const std::string& path);
