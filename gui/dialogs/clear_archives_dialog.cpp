#include "dialogs/clear_archives_dialog.h"

#include <QComboBox>
#include <QDate>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "protocol/export.h"

CClearArchivesDlg::CClearArchivesDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromUtf8(Protocol::ExportText::kClearTitle));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    prompt_ = new QLabel(QString::fromUtf8(Protocol::ExportText::kClearPrompt), this);
    // Month names are the user's language whatever the system's locale is.
    const QLocale russian(QLocale::Russian, QLocale::Russia);
    month_ = new QComboBox(this);
    for (int m = 1; m <= 12; ++m)
        month_->addItem(russian.standaloneMonthName(m), m);
    year_ = new QSpinBox(this);
    year_->setLocale(russian);
    year_->setGroupSeparatorShown(false);
    year_->setRange(1970, 9999);
    year_->setSuffix(QString::fromUtf8("г."));
    SetMonth(QDate::currentDate().month(), QDate::currentDate().year());

    ok_ = new QPushButton(QStringLiteral("OK"), this);
    ok_->setDefault(true);
    cancel_ = new QPushButton(QString::fromUtf8("Отмена"), this);
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);

    auto* picker = new QHBoxLayout;
    picker->addWidget(month_);
    picker->addWidget(year_);
    picker->addStretch(1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok_);
    buttons->addWidget(cancel_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(prompt_);
    layout->addLayout(picker);
    layout->addSpacing(6);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

int CClearArchivesDlg::Month() const {
    return month_->currentIndex() + 1;
}

int CClearArchivesDlg::Year() const {
    return year_->value();
}

void CClearArchivesDlg::SetMonth(int month, int year) {
    month_->setCurrentIndex(month - 1);
    year_->setValue(year);
}

QString CClearArchivesDlg::PickerText() const {
    return month_->currentText() + QLatin1Char(' ') + year_->text();
}
