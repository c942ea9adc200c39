#include "dialogs/regulation_dialog.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "controls/table_ctrl.h"
#include "document/selvar_doc.h"
#include "platform/ui_services.h"

namespace Dialogs {

namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

namespace Col {
constexpr int kNumber = 0;
constexpr int kDescription = 1;
constexpr int kName = 2;
constexpr int kValue = 3;
}  // namespace Col

}  // namespace

std::unique_ptr<CRegulDlg> CRegulDlg::Create(CSelvarDoc& doc, QWidget* parent) {
    std::string error;
    std::unique_ptr<Regulation::Control> control = Regulation::Control::Create(doc.device(), error);
    if (!control) {
        ShowMessage(error, {}, MessageIcon::Error);
        return nullptr;
    }
    return std::unique_ptr<CRegulDlg>(new CRegulDlg(std::move(control), parent));
}

CRegulDlg::CRegulDlg(std::unique_ptr<Regulation::Control> control, QWidget* parent)
    : QDialog(parent), control_(std::move(control)) {
    setWindowTitle(QString::fromUtf8("Запуск / Остановка регулирования"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    table_ = new myClass::CTableCtrl(this);
    table_->setObjectName(QStringLiteral("objects"));
    table_->verticalHeader()->setDefaultSectionSize(kRowHeight);
    table_->verticalHeader()->setMinimumSectionSize(kRowHeight);
    table_->horizontalHeader()->setStretchLastSection(false);
    table_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    auto* networkLabel = new QLabel(QString::fromUtf8("Запуск по сети:"), this);
    networkStart_ = new QComboBox(this);
    networkStart_->setObjectName(QStringLiteral("networkStart"));
    networkLabel->setBuddy(networkStart_);

    start_ = new QPushButton(QString::fromUtf8("Запустить"), this);
    stop_ = new QPushButton(QString::fromUtf8("Остановить"), this);
    cancel_ = new QPushButton(QString::fromUtf8("Отмена"), this);
    start_->setAutoDefault(false);
    stop_->setAutoDefault(false);
    cancel_->setAutoDefault(false);

    connect(start_, &QPushButton::clicked, this, [this] { OnCommand(true); });
    connect(stop_, &QPushButton::clicked, this, [this] { OnCommand(false); });
    connect(cancel_, &QPushButton::clicked, this, &CRegulDlg::reject);
    // Only a choice the user confirmed goes to the device, not the filling.
    connect(networkStart_, &QComboBox::activated, this, [this](int index) {
        if (index >= 0) control_->SetNetworkStart(networkStart_->itemText(index).toStdString());
    });

    auto* network = new QHBoxLayout;
    network->addWidget(networkLabel);
    network->addWidget(networkStart_, 1);
    network->addStretch(1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(start_);
    buttons->addWidget(stop_);
    buttons->addStretch(1);
    buttons->addWidget(cancel_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(table_, 1);
    layout->addLayout(network);
    layout->addLayout(buttons);

    // Eight rows and the header without a scroll bar.
    const int rows = Regulation::kObjects * kRowHeight +
                     table_->horizontalHeader()->sizeHint().height() + 2 * table_->frameWidth() + 2;
    table_->setMinimumHeight(rows);
    // The number's column, an eighth of the width, must hold its title.
    const int numberWidth = table_->horizontalHeader()->fontMetrics().horizontalAdvance(
                                QString::fromUtf8("№ объекта")) +
                            24;
    table_->setMinimumWidth(8 * numberWidth + 2 * table_->frameWidth());
    resize(sizeHint());
}

CRegulDlg::~CRegulDlg() {
    // Waits for the watching thread, which may be inside an exchange; the
    // calls it queued for this window are dropped with it.
    control_.reset();
}

int CRegulDlg::exec() {
    Open();
    return QDialog::exec();
}

void CRegulDlg::Open() {
    if (opened_) return;
    opened_ = true;
    table_->SetColumns({QString::fromUtf8("№ объекта"), QString::fromUtf8("Описание"),
                        QString::fromUtf8("Параметр"), QString::fromUtf8("Значение")});
    for (int k = 0; k < Regulation::kObjects; ++k) {
        const Parameter& object = control_->Object(k);
        const int row = table_->AddRow(
            {QString::number(k + 1), Q(object.description), Q(object.name), Q(object.value)});
        for (int column = 0; column < table_->columnCount(); ++column)
            table_->item(row, column)->setTextAlignment(Qt::AlignCenter);
    }
    PlaceColumns();

    for (const std::string& label : control_->NetworkStartLabels())
        networkStart_->addItem(Q(label));
    networkStart_->setEnabled(control_->NetworkStart() != nullptr);
    if (control_->NetworkStart())
        networkStart_->setCurrentIndex(networkStart_->findText(Q(control_->ReadNetworkStart())));

    // The watching thread's requests come back to this thread in order.
    Regulation::WatchCallbacks callbacks;
    callbacks.objectEnabled = [this](int k, bool enabled) {
        QMetaObject::invokeMethod(
            this, [this, k, enabled] { table_->SetRowDisabled(k, !enabled); },
            Qt::QueuedConnection);
    };
    callbacks.refreshDue = [this](int k) {
        QMetaObject::invokeMethod(
            this, [this, k] { OnRefresh(k); }, Qt::QueuedConnection);
    };
    callbacks.stopped = [this] {
        QMetaObject::invokeMethod(
            this,
            [this] {
                closing_ = true;
                QDialog::reject();
            },
            Qt::QueuedConnection);
    };
    control_->StartWatching(std::move(callbacks));
}

void CRegulDlg::reject() {
    if (closing_) {
        QDialog::reject();
        return;
    }
    if (control_->RequestStop()) {
        // Closed once the watching thread has ended (its exchange may run on).
        start_->setEnabled(false);
        stop_->setEnabled(false);
        cancel_->setEnabled(false);
        networkStart_->setEnabled(false);
        return;
    }
    closing_ = true;
    QDialog::reject();
}

int CRegulDlg::SelectedRow() const {
    const QList<QModelIndex> rows = table_->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.front().row();
}

void CRegulDlg::OnRefresh(int k) {
    const std::string value = control_->Refresh(k);
    if (control_->StopRequested()) return;
    table_->SetCellText(k, Col::kValue, Q(value));
    ++refreshes_;
}

void CRegulDlg::OnCommand(bool start) {
    control_->Command(start, SelectedRow());
}

void CRegulDlg::resizeEvent(QResizeEvent* e) {
    QDialog::resizeEvent(e);
    PlaceColumns();
}

void CRegulDlg::PlaceColumns() {
    if (table_->columnCount() != 4) return;
    const int width = table_->viewport()->width();
    table_->setColumnWidth(Col::kNumber, width / 8);
    table_->setColumnWidth(Col::kDescription, width * 3 / 8);
    table_->setColumnWidth(Col::kName, width / 4);
    table_->setColumnWidth(Col::kValue, width - width / 8 - width * 3 / 8 - width / 4);
}

}  // namespace Dialogs
