// The export dialog over a small recorded protocol in a temporary program
// home: reports made on the worker thread and handed to the desktop, the
// controls while an export runs, cancelling and closing, the period limit,
// the outcome boxes, the data files list, clearing, and command 288.
#include "dialogs/export_dialog.h"

#include <unistd.h>

#include <QAbstractScrollArea>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include "app/recent_files.h"
#include "description/device_description.h"
#include "dialogs/clear_archives_dialog.h"
#include "document/selvar_doc.h"
#include "model/parameter.h"
#include "platform/app_state.h"
#include "platform/codepage.h"
#include "platform/semaphore.h"
#include "platform/text.h"
#include "protocol/protocol_files.h"
#include "support/message_recorder.h"
#include "support/widget_test_main.h"
#include "ui/main_window.h"

namespace fs = std::filesystem;
using Protocol::ExportFormat;
using Protocol::ExportStatus;

namespace {

// Generous: other builds share the machine; a pass never waits this long.
constexpr int kWait = 60000;
constexpr const char* kTimeout = "Таймаут при передаче данных";

fs::path g_shots;  // where the pictures go

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> Names(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Runs `answer` on the modal dialog of type D once it is up.
template <typename D>
void WhenModal(std::function<void(D&)> answer) {
    auto* timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, answer] {
        auto* dlg = qobject_cast<D*>(QApplication::activeModalWidget());
        if (!dlg) return;
        timer->stop();
        timer->deleteLater();
        answer(*dlg);
    });
    timer->start();
}

}  // namespace

class ExportDialogTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<CSelvarDoc> doc_;
    std::unique_ptr<MessageRecorder> boxes_;
    std::vector<std::pair<std::string, ExportFormat>> opened_;
    bool openSucceeds_ = true;
    fs::path protocol_, temp_;

    std::unique_ptr<CExportOperDlg> MakeDialog(std::uint64_t free = Protocol::kMinFreeSpace) {
        auto dlg = std::make_unique<CExportOperDlg>(*doc_);
        dlg->freeSpace = [free](const std::string&) { return std::optional<std::uint64_t>(free); };
        dlg->openReport = [this](const std::string& path, ExportFormat format) {
            opened_.emplace_back(path, format);
            return openSucceeds_;
        };
        return dlg;
    }

    // A value and a failed poll of a "float" operative parameter, in the
    // current log unless another is named. Returns the parameter's name.
    std::string Record(const std::string& logName = {}) {
        Parameter* p = nullptr;
        doc_->OperativeTree()->ForEachBranch([&](const DescBranch& b) {
            for (Parameter* q : b.parameters)
                if (!p && q && EqualsNoCase(q->type, "float")) p = q;
        });
        std::uint8_t data[MyConverter::kMaxRawData];
        int count = 0;
        if (!p || p->ConvertToData("21.5", data, count) != 1) return {};
        Protocol::LogRecord good{std::time(nullptr) - 2, p->name,
                                 static_cast<std::uint8_t>(p->deviceAddress), false,
                                 std::vector<std::uint8_t>(data, data + count)};
        Protocol::LogRecord failed{good.time + 1, p->name, good.address, true, {}};
        Protocol::ProtocolFiles& files = doc_->ProtocolFiles();
        const std::string current = files.currentLogName();
        if (!logName.empty()) files.SetCurrentLogName(logName);
        const bool written = files.AppendRecord(good) && files.AppendRecord(failed);
        files.SetCurrentLogName(current);
        return written ? p->name : std::string();
    }

    // Runs an export to its end; its status, or -1 when it did not end.
    static int RunToEnd(CExportOperDlg& dlg) {
        QSignalSpy finished(&dlg, &CExportOperDlg::exportFinished);
        dlg.OkButton()->click();
        return finished.wait(kWait) ? finished.front().front().toInt() : -1;
    }

    // Every box shown, one line each.
    std::string Boxes() const {
        std::string out;
        for (const auto& b : boxes_->boxes)
            out += b.caption + "|" + b.text + "|" + std::to_string(int(b.icon)) + "\n";
        return out;
    }
    static std::string Box(const char* caption, const char* text, MessageIcon icon) {
        return std::string(caption) + "|" + text + "|" + std::to_string(int(icon)) + "\n";
    }

    // Reports and parts of reports in the output folder.
    std::vector<std::string> Outputs() const {
        std::vector<std::string> out;
        for (const std::string& n : Names(temp_))
            if (n.ends_with(".part") || n.ends_with(".xlsx") || n.ends_with(".html"))
                out.push_back(n);
        return out;
    }

  private slots:
    void init() {
        doc_ = std::make_unique<CSelvarDoc>();
        QVERIFY(doc_->SetUpConfiguration(&DeviceDescriptions().front(), false));
        protocol_ = doc_->ProtocolFiles().folder();
        temp_ = protocol_.parent_path() / "temp";
        for (const fs::path& f : {protocol_, temp_}) {
            fs::remove_all(f);
            fs::create_directories(f);
        }
        boxes_ = std::make_unique<MessageRecorder>();
        opened_.clear();
        openSucceeds_ = true;
    }
    void cleanup() {
        boxes_.reset();
        doc_.reset();
    }

    void theControlsStartAndDescribeTheExport() {
        auto dlg = MakeDialog();
        QCOMPARE(dlg->FilterList()->count(), 6);
        QCOMPARE(dlg->FilterList()->currentItem()->text(),
                 QString::fromUtf8("Все оперативные параметры протокола"));
        QCOMPARE(dlg->FromPicker()->date(), QDate::currentDate());
        QCOMPARE(dlg->ToPicker()->date(), QDate::currentDate());
        QVERIFY(dlg->BrowserButton()->isChecked() && dlg->PeriodButton()->isChecked());
        QCOMPARE(
            dlg->OkButton()->toolTip() + dlg->CancelButton()->toolTip() +
                dlg->ClearButton()->toolTip(),
            QString::fromUtf8("Начать экспорт данныхОтменить экспорт данныхОчистка архива данных"));

        dlg->FilterList()->setCurrentRow(5);
        dlg->SpreadsheetButton()->setChecked(true);
        dlg->FromPicker()->setDate(QDate(2026, 3, 1));
        dlg->ToPicker()->setDate(QDate(2026, 3, 4));
        const Protocol::ExportRequest r = dlg->Request();
        QCOMPARE(r.filter, std::string("r.oe"));
        QVERIFY(r.format == ExportFormat::Workbook && !r.byFile);
        QVERIFY(
            (r.from == Protocol::CivilDate{2026, 3, 1} && r.to == Protocol::CivilDate{2026, 3, 4}));
        QCOMPARE(r.outputFolder, temp_.string());
        QVERIFY(!r.columns.empty());
    }

    void toIsLimitedToFiftyDaysAfterFrom() {
        auto dlg = MakeDialog();
        QDateEdit* from = dlg->FromPicker();
        QDateEdit* to = dlg->ToPicker();
        QCOMPARE(to->maximumDate(), QDate::currentDate().addDays(50));
        from->setDate(QDate(2026, 3, 1));
        QCOMPARE(to->minimumDate(), QDate(2026, 3, 1));
        to->setDate(QDate(2026, 4, 21));
        QCOMPARE(to->date(), QDate(2026, 4, 20));
        // A later "from" pulls "to" along; an earlier one brings it back inside.
        from->setDate(QDate(2026, 5, 10));
        QCOMPARE(to->date(), QDate(2026, 5, 10));
        from->setDate(QDate(2026, 1, 1));
        QVERIFY((dlg->Request().to == Protocol::CivilDate{2026, 2, 20}));
    }

    void aPageReportIsMadeOnTheWorkerAndOpened() {
        const std::string name = Record();
        QVERIFY(!name.empty());
        doc_->recordProtocol = true;
        auto dlg = MakeDialog();
        dlg->show();
        QSignalSpy finished(dlg.get(), &CExportOperDlg::exportFinished);
        dlg->OkButton()->click();

        // Until the worker's end comes back, only "Отмена" is usable.
        QVERIFY(dlg->IsRunning());
        QVERIFY(!doc_->recordProtocol);
        QVERIFY(dlg->CancelButton()->isEnabled());
        for (QWidget* w : std::initializer_list<QWidget*>{
                 dlg->OkButton(), dlg->ClearButton(), dlg->FilterList(), dlg->BrowserButton(),
                 dlg->SpreadsheetButton(), dlg->PeriodButton(), dlg->FileButton(),
                 dlg->FromPicker(), dlg->ToPicker(), dlg->DataFiles()})
            QVERIFY2(!w->isEnabled(), w->metaObject()->className());

        QVERIFY(finished.wait(kWait));
        QCOMPARE(finished.front().front().toInt(), int(ExportStatus::Done));
        QVERIFY(dlg->isVisible() && dlg->OkButton()->isEnabled() && dlg->FromPicker()->isEnabled());
        QVERIFY(!dlg->DataFiles()->isEnabled());
        QCOMPARE(dlg->RecordBar()->value() + dlg->DayBar()->value(), 200);
        QCOMPARE(Boxes(), std::string());
        QCOMPARE(opened_.size(), std::size_t(1));
        QVERIFY(opened_[0].second == ExportFormat::Html);
        const fs::path page = opened_[0].first;
        const std::string html = Cp1251ToUtf8(ReadAll(page));
        QVERIFY(html.find(kTimeout) != std::string::npos);
        QVERIFY(html.find("[" + name + "]") != std::string::npos);
        QCOMPARE(Outputs(), std::vector<std::string>{page.filename().string()});
        QCOMPARE(page.parent_path(), temp_);
    }

    void aWorkbookIsOpenedOrTheSpreadsheetBoxShown() {
        QVERIFY(!Record().empty());
        auto dlg = MakeDialog();
        dlg->SpreadsheetButton()->setChecked(true);
        openSucceeds_ = false;
        QCOMPARE(RunToEnd(*dlg), int(ExportStatus::Done));
        QCOMPARE(Boxes(),
                 Box("Ошибка", "Не удалось запустить MS Excel!", MessageIcon::Exclamation));
        QCOMPARE(opened_.size(), std::size_t(1));
        QVERIFY(opened_[0].second == ExportFormat::Workbook);
        QCOMPARE(ReadAll(opened_[0].first).substr(0, 2), std::string("PK"));

        openSucceeds_ = true;
        QCOMPARE(RunToEnd(*dlg), int(ExportStatus::Done));
        QCOMPARE(opened_.size(), std::size_t(2));
        QCOMPARE(boxes_->boxes.size(), std::size_t(1));
        // The link was given back.
        QVERIFY(doc_->device().LinkIdle().TryAcquire());
        doc_->device().LinkIdle().Release();
    }

    void cancelClosingAndDestroyingStopTheWorkerAndLeaveNoFile() {
        QVERIFY(!Record().empty());
        // A busy link keeps a workbook export waiting until it is stopped.
        Semaphore& link = doc_->device().LinkIdle();
        QVERIFY(link.TryAcquire());
        auto dlg = MakeDialog();
        dlg->SpreadsheetButton()->setChecked(true);
        dlg->show();
        QSignalSpy finished(dlg.get(), &CExportOperDlg::exportFinished);

        // "Отмена": the export stops, then the window closes.
        dlg->OkButton()->click();
        dlg->CancelButton()->click();
        QVERIFY(!dlg->CancelButton()->isEnabled());
        QVERIFY(finished.wait(kWait));
        QCOMPARE(finished.front().front().toInt(), int(ExportStatus::Cancelled));
        QVERIFY(!dlg->IsRunning() && !dlg->isVisible());
        QCOMPARE(dlg->result(), int(QDialog::Rejected));

        // Closing the window waits for the worker before it returns; the
        // stopped export's end, still queued, changes nothing.
        dlg->show();
        dlg->OkButton()->click();
        QVERIFY(dlg->IsRunning());
        QVERIFY(dlg->close());
        QVERIFY(!dlg->IsRunning());
        QCoreApplication::processEvents();
        QCOMPARE(finished.count(), 1);
        QVERIFY(dlg->OkButton()->isEnabled());

        // And so does destroying it.
        dlg->show();
        dlg->OkButton()->click();
        QVERIFY(dlg->IsRunning());
        dlg.reset();
        QCoreApplication::processEvents();

        QVERIFY(opened_.empty());
        QCOMPARE(Boxes(), std::string());
        QCOMPARE(Outputs(), std::vector<std::string>{});
        link.Release();
    }

    void theOutcomeBoxesOfSpaceAndOfAnUnwritablePage() {
        QVERIFY(!Record().empty());
        doc_->recordProtocol = true;
        auto dlg = MakeDialog(Protocol::kMinFreeSpace - 1);
        dlg->OkButton()->click();
        QVERIFY(!dlg->IsRunning());
        QCOMPARE(Boxes(), Box("Внимание",
                              "Недостаточно свободного места на диске!\nВозможное решение: "
                              "удалить ненужные архивы данных с помощью кнопки \"Очистить\"!",
                              MessageIcon::Error));
        // Refused before the export began: recording stays on.
        QVERIFY(doc_->recordProtocol);
        QCOMPARE(Outputs(), std::vector<std::string>{});

        // The page's name is taken by a folder that clearing old pages keeps.
        boxes_->boxes.clear();
        const QDate today = QDate::currentDate();
        const std::string log =
            Protocol::DayLogName(Protocol::CivilDate{today.year(), today.month(), today.day()});
        fs::create_directories(temp_ / (log.substr(0, log.size() - 4) + ".html") / "inside");
        auto roomy = MakeDialog(Protocol::kMinFreeSpace);
        QCOMPARE(RunToEnd(*roomy), int(ExportStatus::Failed));
        QCOMPARE(Boxes(), Box("Ошибка экспортирования отчета", "Возможно, что отчет уже открыт!",
                              MessageIcon::Exclamation));
        QVERIFY(opened_.empty());
        QVERIFY(roomy->OkButton()->isEnabled());
    }

    void theDataFilesArchiveStreamsFirstAndFileModeReadsOne() {
        for (const char* day : {"06-03-2026.log", "05-03-2026.log", "01-01-2020.log"})
            QVERIFY(!Record(day).empty());
        {
            auto archive = Protocol::OpenArchive((protocol_ / "03-2026.var").string(), true);
            QVERIFY(archive);
            for (const char* day : {"06-03-2026.log", "05-03-2026.log"})
                QVERIFY(Protocol::PackLogFile(*archive, day, (protocol_ / day).string(), true));
        }
        auto dlg = MakeDialog();
        QCOMPARE(dlg->DataFiles()->count(), 3);
        QCOMPARE(dlg->DataFiles()->itemText(2), QStringLiteral("01-01-2020.log"));

        dlg->FileButton()->setChecked(true);
        QVERIFY(dlg->DataFiles()->isEnabled() && !dlg->FromPicker()->isEnabled());
        dlg->DataFiles()->setCurrentText(QStringLiteral("05-03-2026.log"));
        QCOMPARE(RunToEnd(*dlg), int(ExportStatus::Done));
        QCOMPARE(opened_.size(), std::size_t(1));
        QVERIFY(Cp1251ToUtf8(ReadAll(opened_[0].first)).find(kTimeout) != std::string::npos);
        // The page alone: the stream's extracted copy is gone.
        QCOMPARE(Outputs(), std::vector<std::string>{"05-03-2026.html"});

        // With no data file there is nothing to start in file mode.
        fs::remove_all(protocol_);
        fs::create_directories(protocol_);
        auto empty = MakeDialog();
        empty->FileButton()->setChecked(true);
        QVERIFY(!empty->OkButton()->isEnabled());
        empty->PeriodButton()->setChecked(true);
        QVERIFY(empty->OkButton()->isEnabled());
    }

    void clearingDeletesArchivesUpToTheMonthAndCountsThem() {
        for (const char* name :
             {"12-2025.var", "03-2026.var", "04-2026.var", "notes.var", "01-03-2026.log"})
            std::ofstream(protocol_ / name) << "x";
        auto dlg = MakeDialog();
        dlg->show();
        WhenModal<CClearArchivesDlg>([](CClearArchivesDlg& ask) { ask.CancelButton()->click(); });
        dlg->ClearButton()->click();
        QCOMPARE(Names(protocol_).size(), std::size_t(5));

        QString shown;
        WhenModal<CClearArchivesDlg>([&shown](CClearArchivesDlg& ask) {
            ask.SetMonth(3, 2026);
            shown = ask.PickerText();
            ask.OkButton()->click();
        });
        dlg->ClearButton()->click();
        QCOMPARE(shown, QString::fromUtf8("март 2026г."));
        QCOMPARE(Boxes(),
                 Box("Сообщение", "Количество удаленных файлов: 2.", MessageIcon::Information));
        QCOMPARE(Names(protocol_),
                 (std::vector<std::string>{"01-03-2026.log", "04-2026.var", "notes.var"}));
    }

    void theMainWindowsCommandOpensTheDialogWithoutAPort() {
        Startup().noPort = true;
        RecentFileList recent(4);
        CMainFrame window(*doc_, recent);
        window.UpdateCommandUi();
        QVERIFY(window.Action(CommandId::kProtocolExport)->isEnabled());
        QString title;
        WhenModal<CExportOperDlg>([&title](CExportOperDlg& dlg) {
            title = dlg.windowTitle();
            dlg.CancelButton()->click();
        });
        QVERIFY(window.OnCommand(CommandId::kProtocolExport));
        QCOMPARE(title, QString::fromUtf8("Экспорт протокола измерений"));
        window.Destroy();
        Startup().noPort = false;
    }

    void noControlIsClippedOrOverlapped() {
        QVERIFY(!Record().empty());
        auto dlg = MakeDialog();
        dlg->show();
        QVERIFY(QTest::qWaitForWindowExposed(dlg.get()));
        const QList<QWidget*> controls = dlg->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
        QVERIFY(controls.size() >= 18);
        for (QWidget* w : controls) {
            const char* kind = w->metaObject()->className();
            const QSize need = w->minimumSizeHint();
            QVERIFY2(w->width() >= need.width() && w->height() >= need.height(), kind);
            QVERIFY2(!w->hasHeightForWidth() || w->height() >= w->heightForWidth(w->width()), kind);
            QVERIFY(dlg->rect().contains(w->geometry()));
            // A list shows all it holds without scrolling.
            if (auto* area = qobject_cast<QAbstractScrollArea*>(w))
                QVERIFY(area->verticalScrollBar()->maximum() == 0 &&
                        area->horizontalScrollBar()->maximum() == 0);
            for (QWidget* other : controls)
                QVERIFY2(other == w || !w->geometry().intersects(other->geometry()), kind);
        }

        // The pictures to look at: idle, held mid-export, and the clearing.
        const auto save = [](QWidget& w, const char* name) {
            return w.grab().save(QString::fromStdString((g_shots / name).string()));
        };
        QVERIFY(save(*dlg, "export-idle.png"));
        Semaphore& link = doc_->device().LinkIdle();
        QVERIFY(link.TryAcquire());
        dlg->SpreadsheetButton()->setChecked(true);
        dlg->OkButton()->click();
        dlg->RecordBar()->setValue(40);
        dlg->DayBar()->setValue(65);
        QVERIFY(save(*dlg, "export-running.png"));
        dlg.reset();
        link.Release();
        CClearArchivesDlg ask;
        ask.show();
        QVERIFY(save(ask, "export-clear.png"));
    }
};

int main(int argc, char** argv) {
    return RunWidgetTest<ExportDialogTest>(argc, argv, "export-dialog-test",
                                           [](const fs::path& dir) {
                                               // SELVAR_SHOT_DIR keeps the pictures for a person to
                                               // look at.
                                               const char* shots = std::getenv("SELVAR_SHOT_DIR");
                                               g_shots = shots ? fs::path(shots) : dir;
                                           });
}

#include "export_dialog_test.moc"
