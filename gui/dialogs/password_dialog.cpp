#include "dialogs/password_dialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/qt_services.h"

namespace Dialogs {

namespace {

// The dialog's size in dialog units: a quarter of the average character
// width across, an eighth of the line height down.
constexpr int kWidthUnits = 186;
constexpr int kHeightUnits = 86;

}  // namespace

CPasswordDlg::CPasswordDlg(const QString& text, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromUtf8("Пароль на доступ"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    text_ = new QLabel(text, this);
    text_->setWordWrap(true);
    edit_ = new QLineEdit(this);
    edit_->setEchoMode(QLineEdit::Password);
    edit_->setMaxLength(kMaxLength);
    text_->setBuddy(edit_);
    ok_ = new QPushButton(QStringLiteral("OK"), this);
    cancel_ = new QPushButton(QString::fromUtf8("Отмена"), this);
    ok_->setDefault(true);
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok_);
    buttons->addWidget(cancel_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text_);
    layout->addWidget(edit_);
    layout->addStretch(1);
    layout->addLayout(buttons);

    const QFontMetrics m = fontMetrics();
    const QSize units(kWidthUnits * m.averageCharWidth() / 4, kHeightUnits * m.height() / 8);
    // The wrapped question decides the height it needs at that width.
    setMinimumWidth(units.width());
    resize(units.expandedTo(QSize(units.width(), heightForWidth(units.width()))));
    edit_->setFocus();
}

QString CPasswordDlg::Password() const {
    return edit_->text();
}

}  // namespace Dialogs

QtPasswordPrompt::QtPasswordPrompt(QWidget* owner, QObject* parent)
    : QObject(parent), owner_(owner) {}

QtPasswordPrompt::~QtPasswordPrompt() {
    if (GetPasswordPrompt() == this) SetPasswordPrompt(nullptr);
}

std::optional<std::string> QtPasswordPrompt::Ask(const std::string& text) {
    std::optional<std::string> answer;
    RunOnThreadOf(this, [&] {
        Dialogs::CPasswordDlg dialog(QString::fromStdString(text), owner_);
        if (dialog.exec() == QDialog::Accepted) answer = dialog.Password().toStdString();
    });
    return answer;
}
