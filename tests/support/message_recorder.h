#pragma once

#include <string>
#include <vector>

#include "platform/ui_services.h"

// Installs itself as the message-box service for its lifetime and keeps every box.
class MessageRecorder : public MessageBoxService {
  public:
    struct Box {
        std::string text;
        std::string caption;
        MessageIcon icon;
        MessageButtons buttons;
    };

    explicit MessageRecorder(MessageResult answer = MessageResult::Ok) : answer_(answer) {
        previous_ = GetMessageBoxService();
        SetMessageBoxService(this);
    }
    ~MessageRecorder() override { SetMessageBoxService(previous_); }

    MessageResult Show(const std::string& text, const std::string& caption, MessageIcon icon,
                       MessageButtons buttons) override {
        boxes.push_back({text, caption, icon, buttons});
        return answer_;
    }

    std::vector<Box> boxes;

  private:
    MessageResult answer_;
    MessageBoxService* previous_ = nullptr;
};
