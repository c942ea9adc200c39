#pragma once

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
};

// The process-wide message-box service. With none installed, boxes are
// answered with their default (OK, or Yes) and not shown anywhere.
void SetMessageBoxService(MessageBoxService* service);
MessageBoxService* GetMessageBoxService();

// Shows a box through the installed service.
MessageResult ShowMessage(const std::string& text, const std::string& caption = {},
                          MessageIcon icon = MessageIcon::Information,
                          MessageButtons buttons = MessageButtons::Ok);
