// The Qt side of the core's services: message boxes from any thread and
// answered by themselves for driven tests, the progress window's drawing and
// buttons, the About box, the recent files, and the application's decisions
// about which file and which modification it opens.
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QTextBlock>
#include <QTextEdit>
#include <QTimer>
#include <QtTest>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "app/open_file.h"
#include "app/qt_services.h"
#include "app/recent_files.h"
#include "description/device_description.h"
#include "device/device.h"
#include "device/exchange_operations.h"
#include "device/progress_log.h"
#include "device/progress_window.h"
#include "dialogs/about_dialog.h"
#include "dialogs/progress_dialog.h"
#include "document/access_level.h"
#include "document/selvar_doc.h"
#include "platform/app_state.h"
#include "support/message_recorder.h"
#include "support/widget_test_main.h"

namespace fs = std::filesystem;

namespace {

// Answers the next box that turns up on the user-interface thread by pressing
// the button with the given text, and keeps what the box showed. The box
// runs its own loop, so it is looked for by a timer that runs inside it.
struct BoxSeen {
    QString title, text, details;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QStringList buttons;
    bool onGuiThread = false;
    bool answered = false;
};

class BoxAnswerer {
  public:
    explicit BoxAnswerer(QString button) : button_(std::move(button)) {
        QObject::connect(&timer_, &QTimer::timeout, [this] { Look(); });
        timer_.start(10);
    }
    BoxSeen seen;

  private:
    void Look() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || seen.answered) return;
        seen.title = box->windowTitle();
        seen.text = box->text();
        seen.details = box->detailedText();
        seen.icon = box->icon();
        seen.onGuiThread = QThread::currentThread() == qApp->thread();
        QAbstractButton* press = nullptr;
        for (QAbstractButton* b : box->buttons()) {
            seen.buttons << b->text();
            if (b->text() == button_) press = b;
        }
        // A box without that button is closed all the same, so the test ends.
        seen.answered = press != nullptr;
        if (press)
            press->click();
        else
            box->reject();
    }
    QString button_;
    QTimer timer_;
};

// A recorder that also keeps what the core wanted shown in the details.
class DetailRecorder : public MessageRecorder {
  public:
    MessageResult ShowWithDetails(const std::string& text, const std::string& caption,
                                  MessageIcon icon, MessageButtons buttons,
                                  const std::string& detail) override {
        details.push_back(detail);
        return Show(text, caption, icon, buttons);
    }
    std::vector<std::string> details;
};

// Closes the window should a check fail before the test closed it, so that
// a failing test ends instead of waiting in the modal loop.
struct CloseGuard {
    explicit CloseGuard(ProgressWindow& window) {
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, [&window] { window.Close(); });
        timer.start(30000);
    }
    QTimer timer;
};

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

class ServicesTest : public QObject {
    Q_OBJECT

  private slots:
    void init() {
        Startup().driven = false;
        Startup().noPort = false;
        Startup().silent = false;
        Outcome::Reset();
    }

    // --- message boxes ---

    void boxFromWorkerThreadIsShownOnTheGuiThreadAndAnswered() {
        QtMessageBoxService service;
        std::atomic<int> answer{-1};
        BoxAnswerer answerer(QString::fromUtf8("Нет"));
        std::thread worker([&] {
            answer = static_cast<int>(
                service.Show("Строка 1\nСтрока 2", "", MessageIcon::Error, MessageButtons::YesNo));
        });
        while (answer.load() < 0)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        worker.join();
        const BoxSeen& seen = answerer.seen;
        QVERIFY(seen.answered);
        QVERIFY(seen.onGuiThread);
        QCOMPARE(seen.title, QString::fromUtf8("Конфигуратор Selvar"));
        QCOMPARE(seen.text, QString::fromUtf8("Строка 1\nСтрока 2"));
        QCOMPARE(seen.icon, QMessageBox::Critical);
        QCOMPARE(seen.buttons, (QStringList{QString::fromUtf8("Да"), QString::fromUtf8("Нет")}));
        QCOMPARE(answer.load(), static_cast<int>(MessageResult::No));
    }

    void boxKeepsItsCaptionIconAndDetails() {
        QtMessageBoxService service;
        SetMessageBoxService(&service);
        BoxAnswerer answerer(QStringLiteral("OK"));
        const MessageResult r =
            ShowMessageWithDetails("Текст", "Внимание!", MessageIcon::Information,
                                   MessageButtons::Ok, "COM100: Permission denied");
        QVERIFY(answerer.seen.answered);
        QCOMPARE(answerer.seen.title, QString::fromUtf8("Внимание!"));
        QCOMPARE(answerer.seen.icon, QMessageBox::Information);
        QCOMPARE(answerer.seen.details, QString::fromUtf8("COM100: Permission denied"));
        SetMessageBoxService(nullptr);
        QCOMPARE(r, MessageResult::Ok);
    }

    void portThatWillNotOpenTellsTheSystemsReason() {
        DetailRecorder boxes;
        Device device;
        device.ProgramSettings().SetValue("Port", "COM100", false);
        QVERIFY(device.reopen_port() != 0);
        QCOMPARE(boxes.boxes.size(), std::size_t{1});
        QVERIFY(boxes.boxes[0].text.find("Не удается открыть порт COM100") == 0);
        QCOMPARE(boxes.details.size(), std::size_t{1});
        QVERIFY2(boxes.details[0].find("COM100") != std::string::npos, boxes.details[0].c_str());
        QVERIFY(Outcome::Flags() & Outcome::kPortFailed);
    }

    void autoAnswersAreTakenInOrderByQuestionsOnly() {
        std::string error;
        std::optional<AutoAnswers> a = AutoAnswers::Parse("no, YES", "", &error);
        QVERIFY(a.has_value());
        // A box with only OK asks nothing and leaves the list alone.
        QCOMPARE(a->Next(MessageButtons::Ok), MessageResult::Ok);
        QCOMPARE(a->Next(MessageButtons::YesNo), MessageResult::No);
        QCOMPARE(a->Next(MessageButtons::YesNo), MessageResult::Yes);
        // The last answer stays once the list is used up.
        QCOMPARE(a->Next(MessageButtons::YesNoCancel), MessageResult::Yes);
        // An answer the box has no button for gives the box's default.
        std::optional<AutoAnswers> ok = AutoAnswers::Parse("ok", "");
        QCOMPARE(ok->Next(MessageButtons::YesNo), MessageResult::Yes);
        QCOMPARE(ok->Next(MessageButtons::OkCancel), MessageResult::Ok);

        QVERIFY(!AutoAnswers::Parse("yes maybe", "", &error).has_value());
        QVERIFY(error.find("maybe") != std::string::npos);
        QVERIFY(!AutoAnswers::Parse("", "")->Answers());
    }

    void autoAnsweredBoxesAreLoggedOneLineEachAndNeverShown() {
        const std::string log =
            (fs::temp_directory_path() / ("selvar-boxes-" + std::to_string(getpid()))).string();
        fs::remove(log);
        QtMessageBoxService service;
        service.SetAutoAnswers(AutoAnswers::Parse("no", log));
        QCOMPARE(service.Show("Вы уверены?\nТочно?", "", MessageIcon::Information,
                              MessageButtons::YesNo),
                 MessageResult::No);
        QCOMPARE(
            service.Show("tab\there \\ back", "Сообщение", MessageIcon::Error, MessageButtons::Ok),
            MessageResult::Ok);
        QVERIFY(QApplication::activeModalWidget() == nullptr);
        QCOMPARE(ReadAll(log), std::string("Конфигуратор Selvar\tВы уверены?\\nТочно?\tno\n"
                                           "Сообщение\ttab\\there \\\\ back\tok\n"));
        fs::remove(log);
    }

    void closingServiceAnswersWorkersWithoutWaiting() {
        QtMessageBoxService service;
        service.SetClosing();
        std::atomic<int> answer{-1};
        std::thread worker([&] {
            answer = static_cast<int>(
                service.Show("?", "", MessageIcon::Question, MessageButtons::YesNo));
        });
        worker.join();  // would hang if it waited for this (unserved) thread
        QCOMPARE(answer.load(), static_cast<int>(MessageResult::Yes));
    }

    // --- the progress window ---

    void progressWindowDrawsStyledLinesAndTheButtonTurnsToClose() {
        Device device;
        CProgressDialog dialog;
        OperationState().counters.total = 3;
        auto window = std::make_shared<ProgressWindow>(device, dialog);
        QVERIFY(window->Start(OperationCode::kReadAll, false, std::chrono::milliseconds(1)));
        CloseGuard guard(*window);
        bool checked = false;
        QTimer::singleShot(0, [&] {
            std::thread exchange([&] {
                window->LogLine("Читаем ветвь 'Входы'", true, LogColour::kBlack, false);
                window->LogLine("  Чтение: r.co = Нет данных", true, LogColour::kReadFailed, false);
                window->LogLine("курсив", false, LogColour::kHint, true);
                OperationState().counters.failed = 1;
                window->LogLine("  Чтение: A.Len = 8", false, LogColour::kBlack, false);
            });
            exchange.join();
            dialog.Flush();
            QTextDocument* log = dialog.Log()->document();
            QCOMPARE(log->blockCount(), 4);
            QTextBlock failed = log->findBlockByNumber(1);
            QCOMPARE(failed.text(), QString::fromUtf8("  Чтение: r.co = Нет данных"));
            QTextCharFormat f = failed.begin().fragment().charFormat();
            QCOMPARE(f.fontWeight(), static_cast<int>(QFont::Bold));
            QCOMPARE(f.foreground().color(), QColor(200, 0, 0));
            QTextCharFormat italic = log->findBlockByNumber(2).begin().fragment().charFormat();
            QVERIFY(italic.fontItalic());
            QCOMPARE(italic.foreground().color(), QColor(128, 0, 0));
            QCOMPARE(log->findBlockByNumber(3).begin().fragment().charFormat().fontWeight(),
                     static_cast<int>(QFont::Normal));
            QCOMPARE(dialog.windowTitle(), QString::fromUtf8("Идет чтение параметров из прибора"));
            QCOMPARE(dialog.FailedField()->text(), QStringLiteral("1"));
            QVERIFY(dialog.FailedField()->styleSheet().contains("255, 166, 166"));
            QVERIFY(dialog.ProcessedField()->text().contains(QString::fromUtf8("из 3")));
            // Not ticked: the button stops first, and only then closes.
            QVERIFY(!dialog.AutoCloseBox()->isChecked());
            QCOMPARE(dialog.Button()->text(), QString::fromUtf8("Остановить"));
            dialog.Button()->click();
            dialog.Flush();
            QVERIFY(device.stopEvent.IsSet());
            QCOMPARE(dialog.Button()->text(), QString::fromUtf8("Закрыть"));
            QVERIFY(dialog.isVisible());
            checked = true;
            dialog.Button()->click();
        });
        // The modal window returns once the second press closed it.
        QVERIFY(dialog.Exec(*window));
        QVERIFY(checked);
        QVERIFY(window->IsClosed());
        QVERIFY(!dialog.isVisible());
        device.stopEvent.ResetEvent();
    }

    void tickingAutoCloseMakesTheButtonClose() {
        Device device;
        CProgressDialog dialog;
        auto window = std::make_shared<ProgressWindow>(device, dialog);
        QVERIFY(window->Start(OperationCode::kReadAll, false, std::chrono::milliseconds(1)));
        CloseGuard guard(*window);
        QTimer::singleShot(0, [&] {
            dialog.Flush();
            QCOMPARE(dialog.Button()->text(), QString::fromUtf8("Остановить"));
            dialog.AutoCloseBox()->click();
            dialog.Flush();
            QVERIFY(window->AutoClose());
            QCOMPARE(dialog.Button()->text(), QString::fromUtf8("Закрыть"));
            window->Close();  // as the end of an operation does
        });
        QVERIFY(dialog.Exec(*window));
        QVERIFY(!dialog.isVisible());
    }

    void thousandsOfLinesArriveWholeAndScrolledToTheEnd() {
        Device device;
        CProgressDialog dialog;
        dialog.resize(600, 300);
        auto window = std::make_shared<ProgressWindow>(device, dialog);
        QVERIFY(window->Start(OperationCode::kReadAll, true, std::chrono::milliseconds(1)));
        CloseGuard guard(*window);
        constexpr int kLines = 5000;
        QTimer::singleShot(0, [&] {
            std::thread exchange([&] {
                for (int i = 0; i < kLines; ++i)
                    window->LogLine("  Чтение: p" + std::to_string(i), i % 7 == 0, 0, false);
            });
            exchange.join();
            dialog.Flush();
            QCOMPARE(dialog.Log()->document()->blockCount(), kLines);
            QCOMPARE(dialog.Log()->document()->lastBlock().text(),
                     QString::fromUtf8("  Чтение: p4999"));
            QScrollBar* bar = dialog.Log()->verticalScrollBar();
            QCOMPARE(bar->value(), bar->maximum());
            window->Close();
        });
        QVERIFY(dialog.Exec(*window));
    }

    void nextOperationStartsWithAnEmptyLog() {
        Device device;
        CProgressDialog dialog;
        for (int round = 0; round < 2; ++round) {
            auto window = std::make_shared<ProgressWindow>(device, dialog);
            QVERIFY(window->Start(OperationCode::kWriteAll, true, std::chrono::milliseconds(1)));
            CloseGuard guard(*window);
            window->LogLine("строка " + std::to_string(round), false, 0, false);
            QTimer::singleShot(0, [&] {
                dialog.Flush();
                QCOMPARE(dialog.Log()->document()->blockCount(), 1);
                QCOMPARE(dialog.Log()->toPlainText(), QString::fromUtf8("строка %1").arg(round));
                window->Close();
            });
            QVERIFY(dialog.Exec(*window));
        }
    }

    void windowClosedBeforeItShowsIsNotShown() {
        Device device;
        CProgressDialog dialog;
        auto window = std::make_shared<ProgressWindow>(device, dialog);
        QVERIFY(window->Start(OperationCode::kReadAll, true, std::chrono::milliseconds(1)));
        window->Close();
        // Would block in the modal loop if the early close were lost.
        QVERIFY(dialog.Exec(*window));
        QVERIFY(!dialog.isVisible());
    }

    // --- About, recent files ---

    void aboutBoxNamesTheVersion() {
        CAboutDlg about;
        QCOMPARE(about.windowTitle(), QString::fromUtf8("О программе"));
        QCOMPARE(about.Line()->text(), QString::fromUtf8("Конфигуратор прибора Селвар v1.0.0.5"));
    }

    void recentFilesKeepFourNewestFirstWithoutDoubles() {
        const QString dir = QDir::tempPath();
        RecentFileList list(4);
        for (int i = 1; i <= 5; ++i)
            list.Add(dir + QStringLiteral("/f%1.svx").arg(i));
        list.Add(dir + QStringLiteral("/./f3.svx"));
        QCOMPARE(list.Files(),
                 (QStringList{dir + "/f3.svx", dir + "/f5.svx", dir + "/f4.svx", dir + "/f2.svx"}));
        RecentFileList again(4);
        again.Load();
        QCOMPARE(again.Files(), list.Files());
        again.Remove(dir + "/f5.svx");
        QCOMPARE(again.Files().size(), 3);
    }

    // --- which file, which modification ---

    void openDocumentFileIsRecognisedUnderAnyName() {
        const fs::path dir =
            fs::temp_directory_path() / ("selvar-same-" + std::to_string(getpid()));
        fs::create_directories(dir / "sub");
        const std::string file = (dir / "Conf.svx").string();
        std::ofstream(file) << "x";
        fs::create_symlink(file, dir / "link.svx");
        QVERIFY(App::IsOpenDocumentFile(file, file));
        QVERIFY(App::IsOpenDocumentFile((dir / "sub" / ".." / "Conf.svx").string(), file));
        QVERIFY(App::IsOpenDocumentFile((dir / "link.svx").string(), file));
        // The names are compared without regard to case, as the program
        // always did.
        std::ofstream((dir / "CONF.SVX").string()) << "y";
        QVERIFY(App::IsOpenDocumentFile((dir / "CONF.SVX").string(), file));
        QVERIFY(!App::IsOpenDocumentFile((dir / "other.svx").string(), file));
        std::ofstream((dir / "other.svx").string()) << "z";
        QVERIFY(!App::IsOpenDocumentFile((dir / "other.svx").string(), file));
        // A new document has no file to be the same as.
        QVERIFY(!App::IsOpenDocumentFile(file, ""));
        fs::remove_all(dir);
    }

    void startModificationIsTheFilesThenTheDevicesThenTheFirst() {
        const std::vector<CDeviceDescription>& all = DeviceDescriptions();
        QVERIFY(all.size() == 3);
        const fs::path dir = fs::temp_directory_path() / ("selvar-mod-" + std::to_string(getpid()));
        fs::create_directories(dir);
        const std::string b2File = (dir / "b2.svx").string();
        {
            CSelvarDoc doc;
            QVERIFY(doc.SetUpConfiguration(&all[2], false));
            QVERIFY(doc.SaveDocument(b2File));
        }
        QCOMPARE(App::StartModification(b2File, &all[1]), &all[2]);
        // A file that cannot be read leaves the choice to the device.
        QCOMPARE(App::StartModification((dir / "none.svx").string(), &all[1]), &all[1]);
        QCOMPARE(App::StartModification("", nullptr), &all[0]);
        fs::remove_all(dir);
    }
};

int main(int argc, char** argv) {
    return RunWidgetTest<ServicesTest>(argc, argv, "services-test");
}

#include "services_test.moc"
