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
