#pragma once

#include <QDialog>
#include <QObject>

#include "platform/ui_services.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace Dialogs {

// "Пароль на доступ": the question, one masked line and OK / Отмена. The
// line has the focus when the dialog opens.
class CPasswordDlg : public QDialog {
    Q_OBJECT
  public:
    // The longest password compared; more typed characters are not taken.
    static constexpr int kMaxLength = 255;

    CPasswordDlg(const QString& text, QWidget* parent = nullptr);

    QString Password() const;
    QLabel* Text() const { return text_; }
    QLineEdit* Edit() const { return edit_; }
    QPushButton* OkButton() const { return ok_; }
    QPushButton* CancelButton() const { return cancel_; }

  private:
    QLabel* text_ = nullptr;
    QLineEdit* edit_ = nullptr;
    QPushButton* ok_ = nullptr;
    QPushButton* cancel_ = nullptr;
};

}  // namespace Dialogs

// The access levels' password prompt. Asked on the user-interface thread; a
// worker thread waits for the answer.
class QtPasswordPrompt : public QObject, public PasswordPrompt {
    Q_OBJECT
  public:
    explicit QtPasswordPrompt(QWidget* owner, QObject* parent = nullptr);
    ~QtPasswordPrompt() override;
    std::optional<std::string> Ask(const std::string& text) override;

  private:
    QWidget* owner_;
};
