#pragma once

#include <QObject>

#include "platform/ui_services.h"

class QWidget;

// The prompt "Пароль на доступ": one hidden line and OK / Отмена. Asked on
// the user-interface thread; a worker thread waits for the answer.
class QtPasswordPrompt : public QObject, public PasswordPrompt {
    Q_OBJECT
  public:
    explicit QtPasswordPrompt(QWidget* owner, QObject* parent = nullptr);
    ~QtPasswordPrompt() override;
    std::optional<std::string> Ask(const std::string& text) override;

  private:
    QWidget* owner_;
};
