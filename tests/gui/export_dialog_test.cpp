// The export dialog over a small recorded protocol in a temporary program
// home: pages and workbooks made on the worker thread and handed to the
// desktop, the controls while an export runs, cancelling and closing, the
// period limit, the free-space refusal, the failure box, the data files list
// and the clearing of archives.
#include "dialogs/export_dialog.h"

#include <unistd.h>

#include <QAbstractScrollArea>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
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
#include "ui/main_window.h"

namespace fs = std::filesystem;
using Protocol::ExportFormat;
using Protocol::ExportStatus;

namespace {

// Generous: other builds share the machine; a pass never waits this long.
constexpr int kWait = 60000;

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> Names(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        names.push_back(it->path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// The first operative parameter of a numeric type, to record values of.
Parameter* FloatParameter(const DescBranch& operative) {
    Parameter* found = nullptr;
    operative.ForEachBranch([&](const DescBranch& b) {
        for (Parameter* p : b.parameters)
            if (!found && p && EqualsNoCase(p->type, "float")) found = p;
    });
    return found;
}

// Runs `answer` on the clearing dialog once it is up and modal.
void WhenClearDialogShows(std::function<void(CClearArchivesDlg&)> answer) {
    auto* timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, answer] {
        auto* dlg = qobject_cast<CClearArchivesDlg*>(QApplication::activeModalWidget());
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

    // Today's log: a value and a failed poll of one parameter.
    std::string RecordToday() {
        Parameter* p = FloatParameter(*doc_->OperativeTree());
        if (!p) return {};
        Protocol::LogRecord good;
        good.time = std::time(nullptr) - 2;
        good.name = p->name;
        good.address = static_cast<std::uint8_t>(p->deviceAddress);
        std::uint8_t data[MyConverter::kMaxRawData];
        int count = 0;
        if (p->ConvertToData("21.5", data, count) != 1) return {};
        good.data.assign(data, data + count);
        Protocol::LogRecord failed = good;
        failed.time += 1;
        failed.failed = true;
        failed.data.clear();
        if (!doc_->ProtocolFiles().AppendRecord(good) ||
            !doc_->ProtocolFiles().AppendRecord(failed))
            return {};
        return p->name;
    }

    // Runs an export to its end and returns its status.
    int RunToEnd(CExportOperDlg& dlg) {
        QSignalSpy finished(&dlg, &CExportOperDlg::exportFinished);
        dlg.OkButton()->click();
        if (!finished.wait(kWait)) return -1;
        return finished.front().front().toInt();
    }

    std::vector<std::string> Leftovers() const {
        std::vector<std::string> out;
        for (const std::string& n : Names(temp_))
            if (n.ends_with(".part") || n.ends_with(".xlsx") || n.ends_with(".html"))
                out.push_back(n);
        return out;
    }

    static fs::path ShotDir() {
        const char* dir = std::getenv("SELVAR_SHOT_DIR");
        return dir ? fs::path(dir) : fs::temp_directory_path();
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

    void theDialogStartsWithTodayAllParametersAndThePeriodMode() {
        auto dlg = MakeDialog();
        QCOMPARE(dlg->windowTitle(), QString::fromUtf8("Экспорт протокола измерений"));
        QCOMPARE(dlg->FilterList()->count(), 6);
        QCOMPARE(dlg->FilterList()->currentRow(), 0);
        QCOMPARE(dlg->FilterList()->item(0)->text(),
                 QString::fromUtf8("Все оперативные параметры протокола"));
        QCOMPARE(dlg->FromPicker()->date(), QDate::currentDate());
        QCOMPARE(dlg->ToPicker()->date(), QDate::currentDate());
        QVERIFY(dlg->BrowserButton()->isChecked());
        QVERIFY(dlg->PeriodButton()->isChecked());
        QCOMPARE(dlg->OkButton()->toolTip(), QString::fromUtf8("Начать экспорт данных"));
        QCOMPARE(dlg->CancelButton()->toolTip(), QString::fromUtf8("Отменить экспорт данных"));
        QCOMPARE(dlg->ClearButton()->toolTip(), QString::fromUtf8("Очистка архива данных"));

        // What the controls describe is what the worker gets.
        dlg->FilterList()->setCurrentRow(5);
        dlg->SpreadsheetButton()->setChecked(true);
        dlg->FromPicker()->setDate(QDate(2026, 3, 1));
        dlg->ToPicker()->setDate(QDate(2026, 3, 4));
        Protocol::ExportRequest r = dlg->Request();
        QCOMPARE(r.filter, std::string("r.oe"));
        QVERIFY(r.format == ExportFormat::Workbook);
        QVERIFY(!r.byFile);
        QVERIFY((r.from == Protocol::CivilDate{2026, 3, 1}));
        QVERIFY((r.to == Protocol::CivilDate{2026, 3, 4}));
        QCOMPARE(r.protocolFolder, protocol_.string());
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
        QCOMPARE(to->maximumDate(), QDate(2026, 4, 20));
        to->setDate(QDate(2026, 4, 20));
        QCOMPARE(to->date(), QDate(2026, 4, 20));
        to->setDate(QDate(2026, 4, 21));
        QCOMPARE(to->date(), QDate(2026, 4, 20));
        // A later "from" pulls "to" along; an earlier one leaves it inside.
        from->setDate(QDate(2026, 5, 10));
        QCOMPARE(to->date(), QDate(2026, 5, 10));
        from->setDate(QDate(2026, 1, 1));
        QCOMPARE(to->date(), QDate(2026, 2, 20));
        QVERIFY((dlg->Request().to == Protocol::CivilDate{2026, 2, 20}));
    }

    void aPageReportIsMadeOnTheWorkerAndOpened() {
        const std::string name = RecordToday();
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
            QVERIFY2(!w->isEnabled(), qPrintable(w->metaObject()->className()));

        QVERIFY(finished.wait(kWait));
        QCOMPARE(finished.front().front().toInt(), int(ExportStatus::Done));
        QVERIFY(!dlg->IsRunning());
        QVERIFY(dlg->isVisible());
        QVERIFY(dlg->OkButton()->isEnabled());
        QVERIFY(dlg->FromPicker()->isEnabled());
        QVERIFY(!dlg->DataFiles()->isEnabled());
        QCOMPARE(dlg->RecordBar()->value(), 100);
        QCOMPARE(dlg->DayBar()->value(), 100);
        QVERIFY(boxes_->boxes.empty());

        QCOMPARE(opened_.size(), std::size_t(1));
        QVERIFY(opened_[0].second == ExportFormat::Html);
        const fs::path page = opened_[0].first;
        QCOMPARE(page.parent_path(), temp_);
        QCOMPARE(page.extension().string(), std::string(".html"));
        const std::string html = Cp1251ToUtf8(ReadAll(page));
        QVERIFY(html.find("Таймаут при передаче данных") != std::string::npos);
        QVERIFY(html.find("[" + name + "]") != std::string::npos);
        // Nothing but the page itself is left in the folder.
        QCOMPARE(Leftovers(), std::vector<std::string>{page.filename().string()});
    }

    void aWorkbookIsOpenedOrTheSpreadsheetBoxShown() {
        QVERIFY(!RecordToday().empty());
        auto dlg = MakeDialog();
        dlg->SpreadsheetButton()->setChecked(true);
        openSucceeds_ = false;
        QCOMPARE(RunToEnd(*dlg), int(ExportStatus::Done));
        QCOMPARE(opened_.size(), std::size_t(1));
        QVERIFY(opened_[0].second == ExportFormat::Workbook);
        const fs::path book = opened_[0].first;
        QCOMPARE(book.extension().string(), std::string(".xlsx"));
        QCOMPARE(ReadAll(book).substr(0, 2), std::string("PK"));
        QCOMPARE(boxes_->boxes.size(), std::size_t(1));
        QCOMPARE(boxes_->boxes[0].text, std::string("Не удалось запустить MS Excel!"));
        QCOMPARE(boxes_->boxes[0].caption, std::string("Ошибка"));
        QVERIFY(boxes_->boxes[0].icon == MessageIcon::Exclamation);

        openSucceeds_ = true;
        QCOMPARE(RunToEnd(*dlg), int(ExportStatus::Done));
        QCOMPARE(opened_.size(), std::size_t(2));
        QCOMPARE(boxes_->boxes.size(), std::size_t(1));
        // The link was given back.
        QVERIFY(doc_->device().LinkIdle().TryAcquire());
        doc_->device().LinkIdle().Release();
    }

    void cancelStopsTheWorkerLeavesNoFileAndCloses() {
        QVERIFY(!RecordToday().empty());
        // A busy link keeps the workbook export waiting until it is cancelled.
        Semaphore& link = doc_->device().LinkIdle();
        QVERIFY(link.TryAcquire());
        auto dlg = MakeDialog();
        dlg->SpreadsheetButton()->setChecked(true);
        dlg->show();
        QSignalSpy finished(dlg.get(), &CExportOperDlg::exportFinished);
        dlg->OkButton()->click();
        QVERIFY(dlg->IsRunning());

        dlg->CancelButton()->click();
        QVERIFY(!dlg->CancelButton()->isEnabled());
        QVERIFY(finished.wait(kWait));
        QCOMPARE(finished.front().front().toInt(), int(ExportStatus::Cancelled));
        QVERIFY(!dlg->IsRunning());
        QVERIFY(!dlg->isVisible());
        QCOMPARE(dlg->result(), int(QDialog::Rejected));
        QVERIFY(opened_.empty());
        QVERIFY(boxes_->boxes.empty());
        QCOMPARE(Leftovers(), std::vector<std::string>{});
        link.Release();
    }

    void closingOrDestroyingWhileRunningWaitsForTheWorker() {
        QVERIFY(!RecordToday().empty());
        Semaphore& link = doc_->device().LinkIdle();
        QVERIFY(link.TryAcquire());
        auto dlg = MakeDialog();
        dlg->SpreadsheetButton()->setChecked(true);
        dlg->show();
        QSignalSpy finished(dlg.get(), &CExportOperDlg::exportFinished);
        dlg->OkButton()->click();
        QVERIFY(dlg->IsRunning());
        QVERIFY(dlg->close());
        // Stopped and waited for before close returned.
        QVERIFY(!dlg->IsRunning());
        QVERIFY(!dlg->isVisible());
        // The stopped export's end, still queued, changes nothing.
        QCoreApplication::processEvents();
        QCOMPARE(finished.count(), 0);
        QVERIFY(dlg->OkButton()->isEnabled());

        dlg->show();
        dlg->OkButton()->click();
        QVERIFY(dlg->IsRunning());
        dlg.reset();
        QCoreApplication::processEvents();
        QVERIFY(opened_.empty());
        QCOMPARE(Leftovers(), std::vector<std::string>{});
        link.Release();
    }

    void tooLittleFreeSpaceStartsNothing() {
        QVERIFY(!RecordToday().empty());
        doc_->recordProtocol = true;
        auto dlg = MakeDialog(Protocol::kMinFreeSpace - 1);
        dlg->OkButton()->click();
        QVERIFY(!dlg->IsRunning());
        QCOMPARE(boxes_->boxes.size(), std::size_t(1));
        QCOMPARE(boxes_->boxes[0].text,
                 std::string("Недостаточно свободного места на диске!\nВозможное решение: "
                             "удалить ненужные архивы данных с помощью кнопки \"Очистить\"!"));
        QCOMPARE(boxes_->boxes[0].caption, std::string("Внимание"));
        QVERIFY(boxes_->boxes[0].icon == MessageIcon::Error);
        // Refused before the export began: recording stays on.
        QVERIFY(doc_->recordProtocol);
        QVERIFY(dlg->OkButton()->isEnabled());
        QCOMPARE(Leftovers(), std::vector<std::string>{});

        auto roomy = MakeDialog(Protocol::kMinFreeSpace);
        QCOMPARE(RunToEnd(*roomy), int(ExportStatus::Done));
        QCOMPARE(boxes_->boxes.size(), std::size_t(1));
    }

    void aPageThatCannotBeWrittenShowsTheFailureBox() {
        QVERIFY(!RecordToday().empty());
        // The page's name is taken by a folder that clearing does not remove.
        const std::string title = Protocol::DayLogName(Protocol::CivilDate{
            QDate::currentDate().year(), QDate::currentDate().month(), QDate::currentDate().day()});
        const fs::path blocker = temp_ / (title.substr(0, title.size() - 4) + ".html");
        fs::create_directories(blocker / "inside");
        auto dlg = MakeDialog();
        QCOMPARE(RunToEnd(*dlg), int(ExportStatus::Failed));
        QCOMPARE(boxes_->boxes.size(), std::size_t(1));
        QCOMPARE(boxes_->boxes[0].text, std::string("Возможно, что отчет уже открыт!"));
        QCOMPARE(boxes_->boxes[0].caption, std::string("Ошибка экспортирования отчета"));
        QVERIFY(boxes_->boxes[0].icon == MessageIcon::Exclamation);
        QVERIFY(opened_.empty());
        QVERIFY(dlg->OkButton()->isEnabled());
    }

    void theDataFilesListArchiveStreamsFirstAndFileModeReadsOne() {
        // Two days packed into their month's archive and one log beside it.
        auto log = [&](const std::string& name) {
            const std::string saved = doc_->ProtocolFiles().currentLogName();
            doc_->ProtocolFiles().SetCurrentLogName(name);
            RecordToday();
            doc_->ProtocolFiles().SetCurrentLogName(saved);
            return (protocol_ / name).string();
        };
        {
            auto archive = Protocol::OpenArchive((protocol_ / "03-2026.var").string(), true);
            QVERIFY(archive);
            QVERIFY(Protocol::PackLogFile(*archive, "06-03-2026.log", log("06-03-2026.log"), true));
            QVERIFY(Protocol::PackLogFile(*archive, "05-03-2026.log", log("05-03-2026.log"), true));
        }
        log("01-01-2020.log");

        auto dlg = MakeDialog();
        QStringList items;
        for (int i = 0; i < dlg->DataFiles()->count(); ++i)
            items << dlg->DataFiles()->itemText(i);
        QCOMPARE(items.size(), 3);
        QCOMPARE(items.last(), QStringLiteral("01-01-2020.log"));
        QVERIFY(items.contains(QStringLiteral("05-03-2026.log")));
        QVERIFY(items.contains(QStringLiteral("06-03-2026.log")));

        dlg->FileButton()->setChecked(true);
        QVERIFY(dlg->DataFiles()->isEnabled());
        QVERIFY(!dlg->FromPicker()->isEnabled());
        QVERIFY(!dlg->ToPicker()->isEnabled());
        dlg->DataFiles()->setCurrentText(QStringLiteral("05-03-2026.log"));
        QCOMPARE(dlg->Request().dataFile, std::string("05-03-2026.log"));
        QCOMPARE(RunToEnd(*dlg), int(ExportStatus::Done));
        QCOMPARE(opened_.size(), std::size_t(1));
        QCOMPARE(fs::path(opened_[0].first).filename().string(), std::string("05-03-2026.html"));
        QVERIFY(Cp1251ToUtf8(ReadAll(opened_[0].first)).find("Таймаут при передаче данных") !=
                std::string::npos);
        // The stream's extracted copy is gone.
        QCOMPARE(Leftovers(), std::vector<std::string>{"05-03-2026.html"});

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

        // "Отмена" of the clearing dialog deletes nothing.
        WhenClearDialogShows([](CClearArchivesDlg& ask) { ask.CancelButton()->click(); });
        dlg->ClearButton()->click();
        QVERIFY(boxes_->boxes.empty());
        QCOMPARE(Names(protocol_).size(), std::size_t(5));

        QString shown;
        WhenClearDialogShows([&shown](CClearArchivesDlg& ask) {
            ask.SetMonth(3, 2026);
            shown = ask.PickerText();
            ask.OkButton()->click();
        });
        dlg->ClearButton()->click();
        QCOMPARE(shown, QString::fromUtf8("март 2026г."));
        QCOMPARE(boxes_->boxes.size(), std::size_t(1));
        QCOMPARE(boxes_->boxes[0].text, std::string("Количество удаленных файлов: 2."));
        QCOMPARE(boxes_->boxes[0].caption, std::string("Сообщение"));
        QVERIFY(boxes_->boxes[0].icon == MessageIcon::Information);
        QCOMPARE(Names(protocol_),
                 (std::vector<std::string>{"01-03-2026.log", "04-2026.var", "notes.var"}));
        QVERIFY(dlg->isVisible());
    }

    void theMainWindowsCommandOpensTheDialogWithoutAPort() {
        Startup().noPort = true;
        RecentFileList recent(4);
        CMainFrame window(*doc_, recent);
        QVERIFY(window.HasHandler(CommandId::kProtocolExport));
        window.UpdateCommandUi();
        QVERIFY(window.Action(CommandId::kProtocolExport)->isEnabled());
        QString title;
        auto* timer = new QTimer;
        timer->setInterval(5);
        QObject::connect(timer, &QTimer::timeout, [timer, &title] {
            auto* dlg = qobject_cast<CExportOperDlg*>(QApplication::activeModalWidget());
            if (!dlg) return;
            timer->stop();
            timer->deleteLater();
            title = dlg->windowTitle();
            dlg->CancelButton()->click();
        });
        timer->start();
        QVERIFY(window.OnCommand(CommandId::kProtocolExport));
        QCOMPARE(title, QString::fromUtf8("Экспорт протокола измерений"));
        window.Destroy();
        Startup().noPort = false;
    }

    void noControlIsClippedOrOverlapped() {
        QVERIFY(!RecordToday().empty());
        auto dlg = MakeDialog();
        dlg->show();
        QVERIFY(QTest::qWaitForWindowExposed(dlg.get()));
        const QList<QWidget*> controls = dlg->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
        QVERIFY(controls.size() >= 18);
        for (QWidget* w : controls) {
            if (!w->isVisible()) continue;
            const QSize need = w->minimumSizeHint();
            QVERIFY2(w->width() >= need.width() && w->height() >= need.height(),
                     qPrintable(w->metaObject()->className()));
            if (w->hasHeightForWidth())
                QVERIFY2(w->height() >= w->heightForWidth(w->width()),
                         qPrintable(w->metaObject()->className()));
            QVERIFY(dlg->rect().contains(w->geometry()));
            // A list shows all it holds without scrolling.
            if (auto* area = qobject_cast<QAbstractScrollArea*>(w)) {
                QCOMPARE(area->verticalScrollBar()->maximum(), 0);
                QCOMPARE(area->horizontalScrollBar()->maximum(), 0);
            }
            for (QWidget* other : controls)
                if (other != w && other->isVisible())
                    QVERIFY2(!w->geometry().intersects(other->geometry()),
                             qPrintable(QString("%1 over %2")
                                            .arg(w->metaObject()->className(),
                                                 other->metaObject()->className())));
        }

        // The pictures to look at: idle, and held mid-export with progress.
        const fs::path dir = ShotDir();
        QVERIFY(dlg->grab().save(QString::fromStdString((dir / "export-idle.png").string())));
        Semaphore& link = doc_->device().LinkIdle();
        QVERIFY(link.TryAcquire());
        dlg->SpreadsheetButton()->setChecked(true);
        dlg->OkButton()->click();
        dlg->RecordBar()->setValue(40);
        dlg->DayBar()->setValue(65);
        QVERIFY(dlg->grab().save(QString::fromStdString((dir / "export-running.png").string())));
        dlg.reset();
        link.Release();
        CClearArchivesDlg ask;
        ask.show();
        QVERIFY(QTest::qWaitForWindowExposed(&ask));
        QVERIFY(ask.grab().save(QString::fromStdString((dir / "export-clear.png").string())));
    }
};

int main(int argc, char** argv) {
    // Nothing of the machine's or the user's own settings and data is touched.
    const fs::path dir =
        fs::temp_directory_path() / ("selvar-export-dialog-test-" + std::to_string(getpid()));
    fs::create_directories(dir);
    setenv("SELVAR_SYSTEM_SETTINGS", (dir / "system.conf").c_str(), 1);
    setenv("SELVAR_USER_SETTINGS", (dir / "user.conf").c_str(), 1);
    setenv("SELVAR_HOME", (dir / "home").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    int result;
    {
        QApplication app(argc, argv);
        ExportDialogTest test;
        result = QTest::qExec(&test, argc, argv);
    }
    std::error_code ec;
    fs::remove_all(dir, ec);
    return result;
}

#include "export_dialog_test.moc"
