#include "platform/ui_services.h"

#include <atomic>

namespace {
std::atomic<MessageBoxService*> g_messageBoxes{nullptr};
std::atomic<MainWindowNotifications*> g_notifications{nullptr};
std::atomic<PasswordPrompt*> g_passwordPrompt{nullptr};
std::atomic<DesktopService*> g_desktop{nullptr};
}  // namespace

void SetMainWindowNotifications(MainWindowNotifications* receiver) {
    g_notifications.store(receiver);
}

MainWindowNotifications& Notifications() {
    // Nobody listening: the notices are dropped.
    static MainWindowNotifications nobody;
    MainWindowNotifications* r = g_notifications.load();
    return r ? *r : nobody;
}

void SetMessageBoxService(MessageBoxService* service) {
    g_messageBoxes.store(service);
}

MessageBoxService* GetMessageBoxService() {
    return g_messageBoxes.load();
}

MessageResult ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon,
                          MessageButtons buttons) {
    if (MessageBoxService* s = g_messageBoxes.load()) return s->Show(text, caption, icon, buttons);
    return buttons == MessageButtons::YesNo || buttons == MessageButtons::YesNoCancel
               ? MessageResult::Yes
               : MessageResult::Ok;
}

MessageResult ShowMessageWithDetails(const std::string& text, const std::string& caption,
                                     MessageIcon icon, MessageButtons buttons,
                                     const std::string& details) {
    if (MessageBoxService* s = g_messageBoxes.load())
        return s->ShowWithDetails(text, caption, icon, buttons, details);
    return ShowMessage(text, caption, icon, buttons);
}

void SetPasswordPrompt(PasswordPrompt* prompt) {
    g_passwordPrompt.store(prompt);
}
PasswordPrompt* GetPasswordPrompt() {
    return g_passwordPrompt.load();
}

void SetDesktopService(DesktopService* service) {
    g_desktop.store(service);
}
void OpenWithDesktop(const std::string& path) {
    if (DesktopService* d = g_desktop.load()) d->Open(path);
}

void OperativeValueTicket::Deliver() const {
    std::lock_guard<std::mutex> lock(state_->lock);
    if (state_->cancelled || state_->delivered) return;
    // Held while the receiver runs: a stop waits for a delivery under way,
    // and none starts after it.
    Notifications().OperativeValueRead(*state_->parameter);
    state_->delivered = true;
    state_->changed.notify_all();
}

bool OperativeValueTicket::State::Wait() {
    std::unique_lock<std::mutex> guard(lock);
    changed.wait(guard, [this] { return delivered || cancelled; });
    return delivered;
}

void OperativeValueTicket::State::Cancel() {
    std::lock_guard<std::mutex> guard(lock);
    cancelled = true;
    changed.notify_all();
}
