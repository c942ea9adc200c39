#include "dialogs/password_dialog.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/qt_services.h"

QtPasswordPrompt::QtPasswordPrompt(QWidget* owner, QObject* parent)
    : QObject(parent), owner_(owner) {}

QtPasswordPrompt::~QtPasswordPrompt() {
    if (GetPasswordPrompt() == this) SetPasswordPrompt(nullptr);
}

std::optional<std::string> QtPasswordPrompt::Ask(const std::string& text) {
    std::optional<std::string> answer;
    RunOnThreadOf(this, [&] {
        QDialog dialog(owner_);
        dialog.setWindowTitle(QString::fromUtf8("Пароль на доступ"));
        dialog.setWindowFlag(Qt::WindowContextHelpButtonHint, false);
        auto* label = new QLabel(QString::fromStdString(text), &dialog);
        label->setWordWrap(true);
        auto* edit = new QLineEdit(&dialog);
        edit->setEchoMode(QLineEdit::Password);
        auto* buttons =
            new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
        buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
        buttons->button(QDialogButtonBox::Cancel)->setText(QString::fromUtf8("Отмена"));
        QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
        QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
        auto* layout = new QVBoxLayout(&dialog);
        layout->addWidget(label);
        layout->addWidget(edit);
        layout->addWidget(buttons);
        dialog.setMinimumWidth(320);
        if (dialog.exec() == QDialog::Accepted) answer = edit->text().toStdString();
    });
    return answer;
}
