// The main window: the tray, the progress bar of the status bar, the closing
// and already-open questions, the command state without a port, the save of
// a read run, and the start of the program as a process.
#include "ui/main_window.h"

#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QProcess>
#include <QProgressBar>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QToolBar>
#include <QtTest>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "app/command_table.h"
#include "app/recent_files.h"
#include "description/device_description.h"
#include "device/program_modes.h"
#include "document/access_level.h"
#include "document/selvar_doc.h"
#include "platform/app_state.h"
#include "platform/settings_store.h"
#include "support/message_recorder.h"
#include "support/widget_test_main.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kAlreadyOpen =
    "Этот файл уже открыт! При продолжении открытия файла все изменения будут "
    "потеряны!\n\nХотите продолжить открытие файла?";

// A recorder whose answer the test may change between boxes.
class Answers : public MessageRecorder {
  public:
    explicit Answers(MessageResult a) : MessageRecorder(a), answer(a) {}
    MessageResult Show(const std::string& text, const std::string& caption, MessageIcon icon,
                       MessageButtons buttons) override {
        MessageRecorder::Show(text, caption, icon, buttons);
        if (buttons == MessageButtons::Ok) return MessageResult::Ok;
        if (!script.empty()) {
            MessageResult r = script.front();
            script.erase(script.begin());
            return r;
        }
        return answer;
    }
    bool Asked(const std::string& text) const {
        for (const Box& b : boxes)
            if (b.text == text) return true;
        return false;
    }
    MessageResult answer;
    std::vector<MessageResult> script;  // taken first, one a question
};

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

  private:
    fs::path dir_;
    std::unique_ptr<RecentFileList> recent_;
    std::unique_ptr<CSelvarDoc> doc_;
    std::unique_ptr<CMainFrame> window_;

    void MakeWindow(bool configured = true) {
        if (window_) window_->Destroy();
        window_.reset();
        doc_.reset();
        doc_ = std::make_unique<CSelvarDoc>();
        if (configured) {
            QVERIFY(doc_->SetUpConfiguration(&DeviceDescriptions().front(), false));
            QVERIFY(doc_->NewDocument());
        }
        recent_ = std::make_unique<RecentFileList>(4);
        window_ = std::make_unique<CMainFrame>(*doc_, *recent_);
    }

    std::string File(const char* name) const { return (dir_ / name).string(); }

  private slots:
    void initTestCase() {
        dir_ = fs::temp_directory_path() / ("selvar-main-window-" + std::to_string(getpid()));
        fs::create_directories(dir_);
    }
    void cleanupTestCase() { fs::remove_all(dir_); }

    void init() {
        Startup().noPort = false;
        Startup().silent = false;
        Startup().driven = false;
        Startup().autoReadStart = 1;
        Access::SetLevel(Access::kFull);
        Outcome::Reset();
    }
    void cleanup() {
        if (window_) window_->Destroy();
        window_.reset();
        doc_.reset();
        SetMessageBoxService(nullptr);
    }

    // --- tray ---

    void minimisingWithHideMinimizedGoesToTheTrayAndComesBack() {
        MakeWindow(false);
        window_->show();
        window_->OnCommand(32880);
        QVERIFY(window_->HideMinimized());
        QCOMPARE(SettingsStore::Instance().ReadText("hidemin", "?"), std::string("1"));
        QCOMPARE(window_->IndicatorPane(App::Indicator::HideMinimize)->text(),
                 QStringLiteral("HideMinimize"));
        QVERIFY(window_->Action(32880)->isChecked());

        window_->showMinimized();
        QTRY_VERIFY(window_->InTray());
        QVERIFY(!window_->isVisible());
        QVERIFY(window_->Tray()->isVisible());
        QCOMPARE(window_->Tray()->toolTip(), QString::fromUtf8("Конфигуратор Пеллум"));

        // A left click on the icon.
        emit window_->Tray()->activated(QSystemTrayIcon::Trigger);
        QVERIFY(!window_->InTray());
        QVERIFY(window_->isVisible());
        QVERIFY(!window_->isMinimized());
        QVERIFY(!window_->Tray()->isVisible());

        // And through the tray menu's "Восстановить".
        window_->showMinimized();
        QTRY_VERIFY(window_->InTray());
        QCOMPARE(window_->TrayMenu()->defaultAction(), window_->Action(32881));
        window_->Action(32881)->trigger();
        QVERIFY(window_->isVisible());
        QVERIFY(!window_->Tray()->isVisible());
    }

    void minimisingWithoutHideMinimizedStaysMinimised() {
        SettingsStore::Instance().WriteText("hidemin", "1");
        MakeWindow(false);
        // The stored switch is read when the window is made.
        QVERIFY(window_->HideMinimized());
        window_->OnCommand(32880);
        QCOMPARE(SettingsStore::Instance().ReadText("hidemin", "?"), std::string("0"));
        QCOMPARE(window_->IndicatorPane(App::Indicator::HideMinimize)->text(), QString());
        window_->show();
        window_->showMinimized();
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        QVERIFY(!window_->InTray());
        QVERIFY(window_->isVisible());
        QVERIFY(!window_->Tray()->isVisible());
    }

    void drivenRunFixesTheWindowUntilItIsDone() {
        MakeWindow(false);
        const QRect rect(20, 30, 640, 480);
        window_->PlaceFixed(rect);
        window_->show();
        QVERIFY(window_->IsFixed());
        QCOMPARE(window_->minimumSize(), rect.size());
        QCOMPARE(window_->maximumSize(), rect.size());
        QVERIFY(!(window_->windowFlags() & Qt::WindowMinimizeButtonHint));
        QVERIFY(!(window_->windowFlags() & Qt::WindowMaximizeButtonHint));
        // Even with "Скрывать свернутое окно" it neither goes to the tray nor
        // stays minimised.
        window_->SetHideMinimized(true);
        window_->showMinimized();
        QTRY_VERIFY(!window_->isMinimized());
        QVERIFY(!window_->InTray());
        QVERIFY(window_->isVisible());

        window_->ClearFixed();
        QVERIFY(!window_->IsFixed());
        QVERIFY(window_->isVisible());
        QVERIFY(window_->maximumSize().width() > rect.width());
        QVERIFY(window_->windowFlags() & Qt::WindowMinimizeButtonHint);
        window_->SetHideMinimized(false);
    }

    void barsStateIsKeptFromOneWindowToTheNext() {
        MakeWindow(false);
        window_->show();
        window_->OnCommand(59392);  // "Панель инструментов" off
        window_->OnCommand(59393);  // "Панель состояния" off
        QVERIFY(window_->ToolBar()->isHidden());
        QVERIFY(!window_->Action(59392)->isChecked());
        MakeWindow(false);  // the old window saves the state as it goes
        window_->show();
        QVERIFY(window_->ToolBar()->isHidden());
        QVERIFY(window_->statusBar()->isHidden());
        window_->OnCommand(59392);
        window_->OnCommand(59393);
        QVERIFY(!window_->ToolBar()->isHidden());
        QVERIFY(window_->Action(59393)->isChecked());
    }

    void droppedFileIsOpened() {
        MakeWindow();
        Answers boxes(MessageResult::No);
        const std::string path = File("dropped.svx");
        QVERIFY(doc_->SaveDocument(path));
        QVERIFY(doc_->NewDocument());
        QVERIFY(doc_->PathName().empty());
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        // A drop goes where the drag entered.
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(window_.get(), &enter);
        QVERIFY(enter.isAccepted());
        QApplication::sendEvent(window_.get(), &drop);
        QVERIFY(drop.isAccepted());
        QTRY_COMPARE(doc_->PathName(), path);
    }

    // --- the status bar's progress ---

    void progressRangeFollowsTheHighWord() {
        MakeWindow(false);
        window_->show();
        QVERIFY(window_->StatusProgressBar() == nullptr);
        window_->OnProgressMessage((200u << 16) | 1u);
        QProgressBar* bar = window_->StatusProgressBar();
        QVERIFY(bar);
        QCOMPARE(bar->minimum(), 0);
        QCOMPARE(bar->maximum(), 200);
        window_->OnProgressMessage(1u);
        QCOMPARE(window_->StatusProgressBar(), bar);  // the same bar, a new range
        QCOMPARE(bar->maximum(), 100);
        // Inside pane 1, one pixel in from each side.
        QCOMPARE(bar->parentWidget()->width(), CMainFrame::kProgressPaneWidth);
        QCOMPARE(bar->geometry(), bar->parentWidget()->rect().adjusted(1, 1, -1, -1));
        window_->OnProgressPosition(40);
        QCOMPARE(bar->value(), 40);
        window_->OnProgressMessage(0);
        QTRY_VERIFY(window_->StatusProgressBar() == nullptr);
    }

    void progressNoticesFromAWorkerAreQueuedToTheWindow() {
        MakeWindow(false);
        window_->show();
        std::thread worker([&] {
            window_->ProgressOnWithRange(200);
            window_->ProgressPosition(150);
        });
        worker.join();
        // Nothing was touched on the worker: it all waits for this thread.
        QVERIFY(window_->StatusProgressBar() == nullptr);
        QTRY_VERIFY(window_->StatusProgressBar() != nullptr);
        QTRY_COMPARE(window_->StatusProgressBar()->value(), 150);
        QCOMPARE(window_->StatusProgressBar()->maximum(), 200);
        std::thread([&] { window_->ProgressOff(); }).join();
        QTRY_VERIFY(window_->StatusProgressBar() == nullptr);
        std::thread([&] { window_->ProgressOn(); }).join();
        QTRY_VERIFY(window_->StatusProgressBar() != nullptr);
        QCOMPARE(window_->StatusProgressBar()->maximum(), 100);
    }

    // --- closing ---

    void answeringNoToTheClosingQuestionKeepsRunning() {
        MakeWindow(false);
        Answers boxes(MessageResult::No);
        window_->show();
        QVERIFY(!window_->close());
        QVERIFY(window_->isVisible());
        QVERIFY(!window_->Closed());
        QCOMPARE(boxes.boxes.size(), std::size_t{1});
        QCOMPARE(boxes.boxes[0].text, std::string(App::kClosingQuestion));
        QCOMPARE(boxes.boxes[0].caption, std::string());
        QCOMPARE(boxes.boxes[0].icon, MessageIcon::Information);
        QCOMPARE(boxes.boxes[0].buttons, MessageButtons::YesNo);

        // A driven run's close request from its watcher thread: the same.
        std::thread([&] { window_->RequestClose(); }).join();
        QTRY_COMPARE(boxes.boxes.size(), std::size_t{2});
        QVERIFY(window_->isVisible());
        QVERIFY(!window_->Closed());

        // "Выход" asks too; Yes closes.
        boxes.answer = MessageResult::Yes;
        window_->OnCommand(57665);
        QCOMPARE(boxes.boxes.size(), std::size_t{3});
        QVERIFY(window_->Closed());
        QVERIFY(!window_->isVisible());
    }

    void onlyTheUsersCloseAsksToSaveTheChanges() {
        MakeWindow();
        Answers boxes(MessageResult::Yes);
        window_->show();
        doc_->SetModifiedFlag(true);
        // The driving program's close: nobody could answer a file dialog.
        window_->RequestClose();
        QTRY_VERIFY(window_->Closed());
        QCOMPARE(boxes.boxes.size(), std::size_t{1});
        QCOMPARE(boxes.boxes[0].text, std::string(App::kClosingQuestion));

        MakeWindow();
        boxes.boxes.clear();
        window_->show();
        doc_->SetModifiedFlag(true);
        // The user's close: Yes to the closing question, then Cancel to
        // saving keeps the program with its changes.
        boxes.script = {MessageResult::Yes, MessageResult::Cancel};
        QVERIFY(!window_->close());
        QCOMPARE(boxes.boxes.size(), std::size_t{2});
        QVERIFY(boxes.boxes[1].text.find("Сохранить изменения") == 0);
        QVERIFY(doc_->IsModified());
        QVERIFY(!window_->Closed());
    }

    // --- opening the open file ---

    void answeringNoToTheAlreadyOpenQuestionKeepsTheChanges() {
        MakeWindow();
        Answers boxes(MessageResult::No);
        const std::string path = File("open.svx");
        QVERIFY(doc_->SaveDocument(path));
        Parameter* p = nullptr;
        for (Parameter& q : doc_->device().Table().All())
            if (!q.pollTimer && !p) p = &q;
        QVERIFY(p);
        const std::string name = p->name;
        p->value = "12345";
        doc_->SetModifiedFlag(true);

        // The same file under another name is the same file.
        QVERIFY(
            !window_->OpenDocumentFile(QString::fromStdString((dir_ / "." / "open.svx").string())));
        QCOMPARE(boxes.boxes.size(), std::size_t{1});
        QCOMPARE(boxes.boxes[0].text, std::string(kAlreadyOpen));
        QCOMPARE(boxes.boxes[0].caption, std::string("Внимание!"));
        QCOMPARE(boxes.boxes[0].icon, MessageIcon::Information);
        QCOMPARE(boxes.boxes[0].buttons, MessageButtons::YesNo);
        QVERIFY(doc_->IsModified());
        QCOMPARE(p->value, std::string("12345"));
        QCOMPARE(doc_->PathName(), path);

        // Yes: the changes go and the file is read again.
        boxes.answer = MessageResult::Yes;
        QVERIFY(window_->OpenDocumentFile(QString::fromStdString(path)));
        QVERIFY(!doc_->IsModified());
        QCOMPARE(doc_->PathName(), path);
        p = doc_->device().FindParameter(name, -1);
        QVERIFY(p);
        QVERIFY(p->value != "12345");
        QCOMPARE(recent_->Files().value(0), QString::fromStdString(path));
    }

    void anotherFileIsOpenedWithoutTheQuestion() {
        MakeWindow();
        Answers boxes(MessageResult::Yes);
        const std::string first = File("first.svx");
        const std::string second = File("second.svx");
        QVERIFY(doc_->SaveDocument(second));
        QVERIFY(doc_->SaveDocument(first));
        QVERIFY(window_->OpenDocumentFile(QString::fromStdString(second)));
        QVERIFY(!boxes.Asked(kAlreadyOpen));
        QCOMPARE(doc_->PathName(), second);
        QCOMPARE(window_->windowTitle(), QString::fromUtf8("Конфигуратор Selvar - second.svx"));
    }

    // --- the command state ---

    void withoutAPortTheDeviceMenuIsGreyAndItsCommandsRefused() {
        Startup().noPort = true;
        MakeWindow();
        window_->UpdateCommandUi();
        QVERIFY(!window_->TopMenu(App::kDeviceMenuIndex)->menuAction()->isEnabled());
        QVERIFY(window_->TopMenu(0)->menuAction()->isEnabled());
        for (int id : {139, 140, 256, 147, 138, 263, 134, 271})
            QVERIFY2(!window_->Action(id)->isEnabled(), qPrintable(QString::number(id)));
        for (int id : {57600, 57601, 57603, 57604, 57664, 32880})
            QVERIFY2(window_->Action(id)->isEnabled(), qPrintable(QString::number(id)));
        // Automatic reading is off without a port whatever its start value.
        QVERIFY(!window_->Action(134)->isChecked());
        QCOMPARE(window_->IndicatorPane(App::Indicator::AutoRead)->text(), QString());
        // The single point and the protocol export keep their rule without a
        // port; they are grey only because their dialogs are not there yet.
        for (int id : {141, 288}) {
            App::CommandState s = window_->State(id);
            s.hasHandler = true;
            QVERIFY(App::CommandEnabled(id, s));
            QCOMPARE(window_->Action(id)->isEnabled(), window_->HasHandler(id));
        }
        // A refused command does not reach the document: no window opens.
        Answers boxes(MessageResult::Ok);
        QVERIFY(!window_->OnCommand(139));
        QVERIFY(boxes.boxes.empty());
    }

    void withAPortTheDeviceCommandsAreOffered() {
        Startup().noPort = false;
        Startup().autoReadStart = 1;
        MakeWindow();
        window_->UpdateCommandUi();
        QVERIFY(window_->TopMenu(App::kDeviceMenuIndex)->menuAction()->isEnabled());
        for (int id : {139, 140, 256, 147, 138, 263, 134, 271})
            QVERIFY2(window_->Action(id)->isEnabled(), qPrintable(QString::number(id)));
        QVERIFY(window_->Action(134)->isChecked());
        QCOMPARE(window_->IndicatorPane(App::Indicator::AutoRead)->text(),
                 QStringLiteral("AutoRead"));
        // Initialising needs at least the middle level.
        Access::SetLevel(Access::kMinimal);
        window_->UpdateCommandUi();
        QVERIFY(!window_->Action(263)->isEnabled());
        // The view's "Точка" branch greys writing the branch.
        Access::SetLevel(Access::kFull);
        window_->pointBranchSelected = [] { return true; };
        window_->UpdateCommandUi();
        QVERIFY(!window_->Action(285)->isEnabled());
        QVERIFY(window_->Action(284)->isEnabled());
    }

    void everyMenuItemNamesACommandWithAnAction() {
        MakeWindow(false);
        int items = 0;
        std::function<void(QMenu*)> walk = [&](QMenu* m) {
            for (QAction* a : m->actions()) {
                if (a->menu()) {
                    walk(a->menu());
                } else if (!a->isSeparator()) {
                    ++items;
                    QVERIFY2(!a->text().isEmpty(), "an item without a text");
                }
            }
        };
        for (std::size_t i = 0; i < 5; ++i)
            walk(window_->TopMenu(i));
        QCOMPARE(items, 29);  // the items of the five menus, recent files aside
        QCOMPARE(window_->menuBar()->actions().size(), 5);
        QCOMPARE(window_->PromptPane()->text(), QString::fromUtf8(App::kIdlePrompt));
        // The keys of commands no menu shows work as well.
        QVERIFY(window_->actions().contains(window_->Action(266)));
        QCOMPARE(window_->Action(266)->shortcut(), QKeySequence(QStringLiteral("Alt+A")));
    }

    // --- the read run's save ---

    void commandLineFileIsSavedOutsideTheRecentList() {
        MakeWindow();
        Answers boxes(MessageResult::Ok);
        const std::string path = File("read-result.svx");
        window_->commandLineFile = QString::fromStdString(path);
        doc_->SetModifiedFlag(true);
        std::thread([&] { window_->CommandLineOperationDone(); }).join();
        QTRY_VERIFY(fs::exists(path));
        QVERIFY(!doc_->IsModified());
        QCOMPARE(doc_->PathName(), path);
        QVERIFY(recent_->Files().isEmpty());

        // A file that cannot be written is passed over without a word.
        window_->commandLineFile = QString::fromStdString(File("no-folder/x.svx"));
        window_->SaveCommandLineFile();
        QVERIFY(boxes.boxes.empty());
    }

    // --- the program ---

    void testOptionEndsTheStartWithExitCodeZero() {
        QProcess selvar;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("SELVAR_MESSAGE_LOG", QString::fromStdString(File("boxes.log")));
        env.insert("SELVAR_AUTO_ANSWER", "yes");
        selvar.setProcessEnvironment(env);
        selvar.start(SELVAR_GUI_BINARY, {"/test"});
        QVERIFY(selvar.waitForFinished(30000));
        QCOMPARE(selvar.exitStatus(), QProcess::NormalExit);
        QCOMPARE(selvar.exitCode(), 0);
    }

    void screenshotIsDrawnWithoutADisplay() {
        QProcess selvar;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("SELVAR_AUTO_ANSWER", "yes");
        const std::string shot = File("shot.png");
        env.insert("SELVAR_SCREENSHOT", QString::fromStdString(shot));
        selvar.setProcessEnvironment(env);
        // "read" without a port: no wizard, no device, the window as it starts.
        selvar.start(SELVAR_GUI_BINARY, {"/read"});
        QVERIFY(selvar.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(fs::exists(File("shot-tray.png")), 20000);
        selvar.terminate();  // SIGTERM: the exit event, then the closing question
        QVERIFY(selvar.waitForFinished(20000));
        QCOMPARE(selvar.exitCode(), 205);
        QImage image(QString::fromStdString(shot));
        QVERIFY(!image.isNull());
        QVERIFY(image.width() > 300);
        QVERIFY(!QImage(QString::fromStdString(File("shot-menu2.png"))).isNull());
    }
};

int main(int argc, char** argv) {
    return RunWidgetTest<MainWindowTest>(argc, argv, "main-window-test");
}

#include "main_window_test.moc"
