#include "dialogs/export_dialog.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QDate>
#include <QDateEdit>
#include <QDesktopServices>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QMimeDatabase>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>
#include <QUrl>
#include <QVBoxLayout>
#include <QtDebug>

#include "dialogs/clear_archives_dialog.h"
#include "document/selvar_doc.h"
#include "platform/paths.h"
#include "platform/ui_services.h"

using Protocol::ExportFormat;
using Protocol::ExportResult;
using Protocol::ExportStatus;
namespace Text = Protocol::ExportText;

namespace {

Protocol::CivilDate CivilOf(const QDate& d) {
    return {d.year(), d.month(), d.day()};
}

// Whether the desktop names an application for the file's type. When it
// cannot say, the open itself decides.
bool DesktopHasHandler(const QString& path) {
    const QString query = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
    if (query.isEmpty()) return true;
    const QString type = QMimeDatabase().mimeTypeForFile(path).name();
    QProcess process;
    process.start(query, {QStringLiteral("query"), QStringLiteral("default"), type});
    if (!process.waitForFinished(5000) || process.exitStatus() != QProcess::NormalExit) {
        process.kill();
        process.waitForFinished(1000);
        return true;
    }
    return !process.readAllStandardOutput().trimmed().isEmpty();
}

bool OpenOnDesktop(const std::string& path, ExportFormat format) {
    if (format == ExportFormat::Html) {
        OpenWithDesktop(path);
        return true;
    }
    const QString file = QString::fromStdString(path);
    return DesktopHasHandler(file) && QDesktopServices::openUrl(QUrl::fromLocalFile(file));
}

}  // namespace

CExportOperDlg::CExportOperDlg(CSelvarDoc& doc, QWidget* parent)
    : QDialog(parent),
      doc_(doc),
      protocolFolder_(doc.ProtocolFiles().folder()),
      outputFolder_(ProgramHome() + "/temp") {
    setWindowTitle(QString::fromUtf8(Text::kDialogTitle));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    openReport = OpenOnDesktop;
    BuildControls();
    FillDataFiles();
    UpdateControls();
}

CExportOperDlg::~CExportOperDlg() {
    StopWorker();
}

void CExportOperDlg::BuildControls() {
    filterLabel_ = new QLabel(QString::fromUtf8(kFilterLabel), this);
    filter_ = new QListWidget(this);
    for (const std::string& item : Protocol::FilterItems())
        filter_->addItem(QString::fromStdString(item));
    filter_->setCurrentRow(0);
    // Every item shows whole, without scrolling.
    filter_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    filter_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    const int frame = 2 * filter_->frameWidth();
    filter_->setFixedHeight(filter_->sizeHintForRow(0) * filter_->count() + frame);
    filter_->setMinimumWidth(filter_->sizeHintForColumn(0) + frame + 4);

    browser_ = new QRadioButton(QString::fromUtf8(kBrowser), this);
    spreadsheet_ = new QRadioButton(QString::fromUtf8(kSpreadsheet), this);
    formatGroup_ = new QButtonGroup(this);
    formatGroup_->addButton(browser_);
    formatGroup_->addButton(spreadsheet_);
    browser_->setChecked(true);

    byPeriod_ = new QRadioButton(QString::fromUtf8(kByPeriod), this);
    byFile_ = new QRadioButton(QString::fromUtf8(kByFile), this);
    modeGroup_ = new QButtonGroup(this);
    modeGroup_->addButton(byPeriod_);
    modeGroup_->addButton(byFile_);
    byPeriod_->setChecked(true);
    connect(modeGroup_, &QButtonGroup::buttonToggled, this, [this] { UpdateControls(); });

    periodPrompt_ = new QLabel(QString::fromUtf8(kPeriodPrompt), this);
    periodPrompt_->setWordWrap(true);
    fromLabel_ = new QLabel(QString::fromUtf8("От"), this);
    toLabel_ = new QLabel(QString::fromUtf8("До"), this);
    const QLocale russian(QLocale::Russian, QLocale::Russia);
    const QDate today = QDate::currentDate();
    for (QDateEdit** picker : {&from_, &to_}) {
        *picker = new QDateEdit(this);
        (*picker)->setLocale(russian);
        (*picker)->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
        (*picker)->setCalendarPopup(true);
        (*picker)->setDate(today);
    }
    fromLabel_->setBuddy(from_);
    toLabel_->setBuddy(to_);
    connect(from_, &QDateEdit::dateChanged, this, &CExportOperDlg::OnFromChanged);
    OnFromChanged(from_->date());

    filePrompt_ = new QLabel(QString::fromUtf8(kFilePrompt), this);
    dataFiles_ = new QComboBox(this);
    dataFiles_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    dataFiles_->setMinimumContentsLength(16);
    filePrompt_->setBuddy(dataFiles_);

    recordBar_ = new QProgressBar(this);
    dayBar_ = new QProgressBar(this);
    for (QProgressBar* bar : {recordBar_, dayBar_}) {
        bar->setRange(0, 100);
        bar->setValue(0);
        bar->setTextVisible(false);
    }

    ok_ = new QPushButton(QStringLiteral("OK"), this);
    ok_->setToolTip(QString::fromUtf8(kOkTip));
    ok_->setDefault(true);
    cancel_ = new QPushButton(QString::fromUtf8("Отмена"), this);
    cancel_->setToolTip(QString::fromUtf8(kCancelTip));
    clear_ = new QPushButton(QString::fromUtf8("Очистка"), this);
    clear_->setToolTip(QString::fromUtf8(kClearTip));
    connect(ok_, &QPushButton::clicked, this, &CExportOperDlg::OnOk);
    connect(cancel_, &QPushButton::clicked, this, &CExportOperDlg::OnCancel);
    connect(clear_, &QPushButton::clicked, this, &CExportOperDlg::OnClear);

    // Left: what to report and how; right: which data; below: progress and
    // the buttons.
    auto* left = new QVBoxLayout;
    left->addWidget(filterLabel_);
    left->addWidget(filter_);
    left->addSpacing(8);
    left->addWidget(browser_);
    left->addWidget(spreadsheet_);
    left->addStretch(1);

    auto* dates = new QHBoxLayout;
    dates->addWidget(fromLabel_);
    dates->addWidget(from_, 1);
    dates->addSpacing(12);
    dates->addWidget(toLabel_);
    dates->addWidget(to_, 1);

    auto* right = new QVBoxLayout;
    right->addWidget(byPeriod_);
    right->addWidget(byFile_);
    right->addSpacing(8);
    right->addWidget(periodPrompt_);
    right->addLayout(dates);
    right->addSpacing(8);
    right->addWidget(filePrompt_);
    right->addWidget(dataFiles_);
    right->addStretch(1);

    auto* top = new QHBoxLayout;
    top->addLayout(left, 1);
    top->addSpacing(16);
    top->addLayout(right, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok_);
    buttons->addWidget(cancel_);
    buttons->addWidget(clear_);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addSpacing(8);
    layout->addWidget(recordBar_);
    layout->addWidget(dayBar_);
    layout->addSpacing(8);
    layout->addLayout(buttons);
    // The prompt wraps inside the right column instead of widening it.
    periodPrompt_->setMinimumWidth(byPeriod_->sizeHint().width());
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void CExportOperDlg::FillDataFiles() {
    const QString chosen = dataFiles_->currentText();
    dataFiles_->clear();
    for (const std::string& name : Protocol::ListDataFiles(protocolFolder_))
        dataFiles_->addItem(QString::fromStdString(name));
    const int again = dataFiles_->findText(chosen);
    dataFiles_->setCurrentIndex(again >= 0 ? again : 0);
}

void CExportOperDlg::OnFromChanged(const QDate& from) {
    // The picker moves "До" into the new range by itself.
    to_->setDateRange(from, from.addDays(Protocol::kMaxPeriodDays));
}

Protocol::ExportRequest CExportOperDlg::Request() const {
    Protocol::ExportRequest r;
    r.format = spreadsheet_->isChecked() ? ExportFormat::Workbook : ExportFormat::Html;
    if (const DescBranch* operative = doc_.OperativeTree())
        r.columns = Protocol::OperativeColumns(*operative);
    r.filter = Protocol::FilterName(filter_->currentRow());
    r.byFile = byFile_->isChecked();
    if (r.byFile) r.dataFile = dataFiles_->currentText().toStdString();
    r.from = CivilOf(from_->date());
    r.to = CivilOf(to_->date());
    r.protocolFolder = protocolFolder_;
    r.outputFolder = outputFolder_;
    r.clearOldPages = true;
    return r;
}

void CExportOperDlg::OnOk() {
    if (IsRunning()) return;
    Protocol::ExportHooks hooks;
    hooks.freeSpace = freeSpace;
    hooks.linkIdle = &doc_.device().LinkIdle();
    // The worker's progress reaches the bars through this thread's queue;
    // calls still queued when the dialog goes are dropped with it.
    hooks.recordProgress = [this](int percent) {
        QMetaObject::invokeMethod(
            this, [this, percent] { recordBar_->setValue(percent); }, Qt::QueuedConnection);
    };
    hooks.dayProgress = [this](int percent) {
        QMetaObject::invokeMethod(
            this, [this, percent] { dayBar_->setValue(percent); }, Qt::QueuedConnection);
    };
    auto job = std::make_unique<Protocol::ExportJob>(Request(), std::move(hooks));

    const ExportResult space = job->CheckFreeSpace();
    if (space.status != ExportStatus::Done) {
        ShowMessage(space.message, space.caption, space.icon);
        return;
    }
    // Recording goes off here, on the thread that reads the switch; the
    // user switches it on again in the tree.
    if (doc_.recordProtocol) {
        doc_.recordProtocol = false;
        if (doc_.views) doc_.views->Refresh(false);
    }

    job_ = std::move(job);
    closeWhenStopped_ = false;
    recordBar_->setValue(0);
    dayBar_->setValue(0);
    SetRunning(true);
    const std::uint64_t serial = ++serial_;
    Protocol::ExportJob* running = job_.get();
    worker_ = std::thread([this, running, serial] {
        const ExportResult result = running->Run();
        QMetaObject::invokeMethod(
            this, [this, serial, result] { OnWorkerDone(serial, result); }, Qt::QueuedConnection);
    });
}

void CExportOperDlg::OnWorkerDone(std::uint64_t serial, const ExportResult& result) {
    // An export stopped by closing the window was waited for and dropped.
    if (serial != serial_ || !worker_.joinable()) return;
    worker_.join();
    const ExportFormat format = job_->request().format;
    job_.reset();
    SetRunning(false);
    for (const std::string& warning : result.warnings)
        qWarning("export: %s", warning.c_str());

    switch (result.status) {
        case ExportStatus::Done:
            recordBar_->setValue(100);
            dayBar_->setValue(100);
            ShowReport(result, format);
            break;
        case ExportStatus::Failed:
        case ExportStatus::NoSpace:
            ShowMessageWithDetails(result.message, result.caption, result.icon, MessageButtons::Ok,
                                   result.detail);
            break;
        case ExportStatus::Cancelled:
            break;
    }
    emit exportFinished(static_cast<int>(result.status));
    if (closeWhenStopped_) QDialog::reject();
}

void CExportOperDlg::ShowReport(const ExportResult& result, ExportFormat format) {
    if (result.files.empty()) return;
    const bool opened = openReport && openReport(result.files.front(), format);
    if (!opened && format == ExportFormat::Workbook)
        ShowMessage(Text::kNoSpreadsheet, Text::kNoSpreadsheetCaption, MessageIcon::Exclamation);
}

void CExportOperDlg::OnCancel() {
    if (!IsRunning()) {
        QDialog::reject();
        return;
    }
    // The worker stops at its next day or record; the window closes then.
    job_->Cancel();
    cancel_->setEnabled(false);
    closeWhenStopped_ = true;
}

void CExportOperDlg::reject() {
    OnCancel();
}

void CExportOperDlg::closeEvent(QCloseEvent* event) {
    StopWorker();
    QDialog::closeEvent(event);
}

void CExportOperDlg::StopWorker() {
    if (!worker_.joinable()) return;
    job_->Cancel();
    worker_.join();
    job_.reset();
    SetRunning(false);
}

void CExportOperDlg::OnClear() {
    if (IsRunning()) return;
    CClearArchivesDlg ask(this);
    if (ask.exec() != QDialog::Accepted) return;
    const Protocol::ClearResult cleared =
        Protocol::ClearArchives(protocolFolder_, ask.Month(), ask.Year());
    std::string skipped;
    for (const std::string& s : cleared.skipped)
        skipped += (skipped.empty() ? "" : "\n") + s;
    ShowMessageWithDetails(cleared.Message(), Text::kClearCaption, MessageIcon::Information,
                           MessageButtons::Ok, skipped);
    FillDataFiles();
    UpdateControls();
}

void CExportOperDlg::SetRunning(bool running) {
    // Everything but "Отмена" and the bars waits for the export.
    for (QWidget* w : std::initializer_list<QWidget*>{
             filterLabel_, filter_, browser_, spreadsheet_, byPeriod_, byFile_, periodPrompt_,
             fromLabel_, from_, toLabel_, to_, filePrompt_, dataFiles_, ok_, clear_})
        w->setEnabled(!running);
    cancel_->setEnabled(true);
    if (!running) UpdateControls();
}

void CExportOperDlg::UpdateControls() {
    if (IsRunning()) return;
    const bool byFile = byFile_->isChecked();
    for (QWidget* w :
         std::initializer_list<QWidget*>{periodPrompt_, fromLabel_, from_, toLabel_, to_})
        w->setEnabled(!byFile);
    for (QWidget* w : std::initializer_list<QWidget*>{filePrompt_, dataFiles_})
        w->setEnabled(byFile);
    // File mode needs a file to read.
    ok_->setEnabled(!byFile || dataFiles_->count() > 0);
}
