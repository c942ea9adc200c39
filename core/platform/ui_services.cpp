#include "platform/ui_services.h"

#include <atomic>

namespace {
std::atomic<MessageBoxService*> g_messageBoxes{nullptr};
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
