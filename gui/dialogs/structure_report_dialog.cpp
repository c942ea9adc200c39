#include "dialogs/structure_report_dialog.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include "device/program_modes.h"
#include "document/selvar_doc.h"
#include "model/my_converter.h"

namespace Dialogs {

CReport::CReport(CSelvarDoc& doc, QWidget* parent) : QDialog(parent), doc_(doc) {
    setWindowTitle(QString::fromUtf8("Отчет о структуре конфигурации"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    text_ = new QLabel(QString::fromUtf8("[нет данных]"));
    text_->setObjectName(QStringLiteral("report"));
    text_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    text_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    text_->setMargin(6);
    // A full listing runs to some thirty lines: it scrolls rather than
    // growing past the screen.
    auto* scroll = new QScrollArea(this);
    scroll->setWidget(text_);
    scroll->setWidgetResizable(true);
    scroll->setBackgroundRole(QPalette::Base);

    reread_ = new QPushButton(QString::fromUtf8("Перечитать"), this);
    ok_ = new QPushButton(QStringLiteral("OK"), this);
    ok_->setDefault(true);
    connect(reread_, &QPushButton::clicked, this, &CReport::Reread);
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(reread_);
    buttons->addStretch(1);
    buttons->addWidget(ok_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(scroll, 1);
    layout->addLayout(buttons);
    resize(420, 460);
}

int CReport::exec() {
    Prepare();
    return QDialog::exec();
}

void CReport::Prepare() {
    // The progress window of the reading has a cursor of its own.
    if (ShowListing().find(MyConverter::kNoData) != std::string::npos && Modes().autoRead) Reread();
}

void CReport::Reread() {
    doc_.OnCommand(CommandId::kReadStructure);
    ShowListing();
}

std::string CReport::ShowListing() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const std::string listing = doc_.StructureListing();
    text_->setText(QString::fromStdString(listing));
    QApplication::restoreOverrideCursor();
    return listing;
}

}  // namespace Dialogs
