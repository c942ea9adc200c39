#include "dialogs/about_dialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "version.h"

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromUtf8("О программе"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    auto* icon = new QLabel(this);
    icon->setPixmap(QIcon(QStringLiteral(":/icons/selvar.svg")).pixmap(48, 48));
    icon->setAlignment(Qt::AlignTop);
    line_ = new QLabel(VersionLine(), this);
    auto* copyright = new QLabel(QString::fromUtf8(SELVAR_COPYRIGHT), this);
    auto* texts = new QVBoxLayout;
    texts->addWidget(line_);
    texts->addWidget(copyright);
    texts->addStretch(1);
    auto* top = new QHBoxLayout;
    top->addWidget(icon);
    top->addSpacing(12);
    top->addLayout(texts, 1);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

QString CAboutDlg::VersionLine() {
    return QString::fromUtf8("Конфигуратор прибора Селвар v") + QString::fromUtf8(SELVAR_VERSION);
}
