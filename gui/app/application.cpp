#include "app/application.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QMenu>
#include <QMenuBar>
#include <QPixmap>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "app/command_line_network.h"
#include "app/open_file.h"
#include "app/qt_services.h"
#include "description/device_description.h"
#include "dialogs/about_dialog.h"
#include "dialogs/modification_wizard.h"
#include "dialogs/password_dialog.h"
#include "dialogs/progress_dialog.h"
#include "document/selvar_doc.h"
#include "platform/app_state.h"
#include "ui/main_window.h"
#include "views/configuration_view.h"

namespace {

constexpr const char* kWindowsFailed =
    "Неудалось выполнить создание окон.\nПрограмме нехватает ресурсов!";

// The offscreen platform draws with the fonts it finds by itself; without a
// font directory it may find none with Cyrillic letters.
void PointOffscreenAtFonts() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (!platform || std::string(platform) != "offscreen" || std::getenv("QT_QPA_FONTDIR")) return;
    for (const char* dir :
         {"/usr/share/fonts/truetype/dejavu", "/usr/share/fonts/truetype", "/usr/share/fonts"}) {
        if (QFileInfo(QString::fromUtf8(dir)).isDir()) {
            setenv("QT_QPA_FONTDIR", dir, 0);
            return;
        }
    }
}

}  // namespace

COrvinApp::COrvinApp(std::vector<std::string> arguments) : arguments_(std::move(arguments)) {}

COrvinApp::~COrvinApp() {
    Finish();
}

void COrvinApp::InstallServices() {
    messageBoxes_ = std::make_unique<QtMessageBoxService>();
    std::string error;
    std::optional<AutoAnswers> answers = AutoAnswers::FromEnvironment(&error);
    if (!error.empty()) std::fprintf(stderr, "selvar: %s\n", error.c_str());
    messageBoxes_->SetAutoAnswers(std::move(answers));
    SetMessageBoxService(messageBoxes_.get());
    desktop_ = std::make_unique<QtDesktopService>();
    SetDesktopService(desktop_.get());
    passwords_ = std::make_unique<QtPasswordPrompt>(nullptr);
    SetPasswordPrompt(passwords_.get());
}

bool COrvinApp::Start() {
    // The descriptions are the process's own (DeviceDescriptions()); the
    // recent files come next, then the command line.
    (void)DeviceDescriptions();
    recent_.Load();
    line_ = App::ParseCommandLine(arguments_);
    plan_ = App::PlanStartup(line_);
    App::ApplyStartPlan(line_, plan_);
    // The driving program may end the run at any moment, start-up included.
    if (plan_.driven) App::CatchTerminationSignals();
    InstallServices();

    doc_ = std::make_unique<CSelvarDoc>();
    if (plan_.driven) App::StopOnTerminationSignal(&doc_->device().stopEvent);
    doc_->device().errorLogPath = line_.errorLog;
    {
        std::lock_guard lock(target_->mutex);
        target_->doc = doc_.get();
    }
    if (plan_.driven) {
        App::ApplyCommandLineNetwork(*doc_, line_.options);
        App::InstallNewNetParamsHook(*doc_, line_.options);
    }
    if (!plan_.noPort) doc_->CheckConnectionAtStart();
    // A test run opens nothing and cancels the wizard.
    if (plan_.test) doc_->refuseDocuments = true;

    try {
        window_ = std::make_unique<CMainFrame>(*doc_, recent_);
    } catch (const std::bad_alloc&) {
        ShowMessage(kWindowsFailed, "", MessageIcon::Error);
        return false;
    }
    messageBoxes_->SetOwner(window_.get());
    SetMainWindowNotifications(window_.get());
    {
        std::lock_guard lock(target_->mutex);
        target_->window = window_.get();
    }
    auto* view = new COrvinTreeListView(*doc_, window_.get());
    window_->setCentralWidget(view);
    CMainFrame* window = window_.get();
    view->closeMainWindow = [window] { window->RequestClose(); };
    window_->pointBranchSelected = [view] { return view->PointBranchSelected(); };
    window_->viewHandles = &COrvinTreeListView::IsViewCommand;
    window_->viewCommand = [view](int id) { return view->OnCommand(id); };
    window_->operativeValueHandler = [view](Parameter& p) { view->OnOperativeValue(p); };
    window_->showInTree = [view](const DescBranch& branch, Parameter& p) {
        view->ShowInTree(branch, p);
    };
    doc_->views = view;
    doc_->renderer = &window_->ProgressDialog();
    doc_->presenter = &window_->ProgressDialog();
    doc_->openCommand = [window] { window->OnCommand(57601); };
    window_->commandLineFile = QString::fromStdString(line_.file);
    wizard_ = std::make_unique<QtModificationWizard>(*doc_, window_.get());
    doc_->wizard = wizard_.get();

    if (!SetUpDocument()) return false;
    // The tree view that would start the exchange thread comes later; the
    // operations need it as soon as the configuration is there.
    doc_->StartExchange();
    view->Refresh(true);
    window_->UpdateCommandUi();
    PlaceWindow();
    StartDrivenRun();
    if (const char* shot = std::getenv("SELVAR_SCREENSHOT"); shot && *shot)
        ScheduleScreenshot(*window_, QString::fromUtf8(shot));
    return true;
}

bool COrvinApp::SetUpDocument() {
    // Without the wizard: a file's own modification, or for a read run the
    // one the device named at the start's check, or the first.
    const CDeviceDescription* modification = nullptr;
    if (!plan_.newStart) {
        const CDeviceDescription* identified = nullptr;
        // The start's connection check has named it, when it could.
        if (plan_.openFile.empty() && !plan_.noPort && !plan_.silent && !plan_.test)
            identified = doc_->device().ConnectedModification();
        modification = App::StartModification(plan_.openFile, identified);
    }
    bool ok = !doc_->refuseDocuments && doc_->SetUpConfiguration(modification, plan_.newStart);
    // The start's own connection check has read into the fresh configuration:
    // nothing of the user's is there to save before the file opens.
    doc_->SetModifiedFlag(false);
    if (ok)
        ok = plan_.openFile.empty()
                 ? doc_->NewDocument()
                 : window_->OpenDocumentFile(QString::fromStdString(plan_.openFile));
    if (!ok && !doc_->refuseDocuments && !doc_->LastError().empty() && !doc_->LastErrorShown() &&
        !Startup().driven)
        ShowMessage(doc_->LastError(), "", MessageIcon::Error);
    if (!ok && !doc_->LastError().empty())
        std::fprintf(stderr, "selvar: %s\n", doc_->LastError().c_str());
    return ok;
}

void COrvinApp::PlaceWindow() {
    if (plan_.hidden) {
        window_->HideToTray();
    } else if (plan_.fixed) {
        window_->PlaceFixed(QRect(plan_.x, plan_.y, plan_.w, plan_.h));
        window_->show();
    } else {
        window_->showMaximized();
    }
    doc_->device().Port().transmissionMode = App::ConverterTypeAtStart(line_.options);
}

void COrvinApp::StartDrivenRun() {
    if (!plan_.driven) return;
    std::shared_ptr<Target> target = target_;
    App::DrivenRunHooks hooks;
    hooks.requestClose = [target] {
        std::lock_guard lock(target->mutex);
        if (target->window) target->window->RequestClose();
    };
    hooks.clearFixed = [target] {
        std::lock_guard lock(target->mutex);
        if (CMainFrame* w = target->window)
            QMetaObject::invokeMethod(
                w, [w] { w->ClearFixed(); }, Qt::QueuedConnection);
    };
    hooks.stopDevice = [target] {
        std::lock_guard lock(target->mutex);
        if (target->doc) target->doc->device().stopEvent.Set();
    };
    driven_ = std::make_unique<App::DrivenRun>(line_, plan_, std::move(hooks));
    if (!driven_->ExitEventError().empty())
        std::fprintf(stderr, "selvar: %s\n", driven_->ExitEventError().c_str());
    window_->onDestroy = [this] {
        if (driven_) driven_->Shutdown();
    };
    if (const int command = driven_->Start()) {
        CMainFrame* w = window_.get();
        App::DrivenRun* run = driven_.get();
        // A refused read or write (no port to use) must still end the run.
        const bool mustRun = command != App::DrivenCommand::kCalibrate;
        QMetaObject::invokeMethod(
            w,
            [w, run, command, mustRun] {
                if (!w->OnCommand(command) && mustRun) run->OperationNotRun();
            },
            Qt::QueuedConnection);
    }
}

int COrvinApp::ExitCode(int normalCode) const {
    return App::ExitCodeAtEnd(Outcome::Flags(), plan_.test, normalCode);
}

void COrvinApp::Finish() {
    if (finished_) return;
    finished_ = true;
    if (window_) window_->Destroy();
    if (driven_) driven_->Shutdown();
    App::ReleaseTerminationSignals();  // before the device's stop event goes
    {
        std::lock_guard lock(target_->mutex);
        target_->window = nullptr;
        target_->doc = nullptr;
    }
    SetMainWindowNotifications(nullptr);
    if (messageBoxes_) {
        messageBoxes_->SetClosing();
        // A box a worker asked for just now is answered before its thread
        // is stopped.
        QCoreApplication::processEvents();
    }
    if (doc_) doc_->wizard = nullptr;
    doc_.reset();
    wizard_.reset();
    window_.reset();
    driven_.reset();
    SetMessageBoxService(nullptr);
    SetDesktopService(nullptr);
    SetPasswordPrompt(nullptr);
}

void COrvinApp::ScheduleScreenshot(CMainFrame& window, const QString& path) {
    QTimer::singleShot(200, &window, [&window, path] {
        window.UpdateCommandUi();
        QWidget* target = &window;
        if (!window.isVisible()) {
            // A hidden start has no window to draw: draw it as it would show.
            window.resize(1024, 700);
        }
        target->grab().save(path);
        const QString base = path.endsWith(QStringLiteral(".png"), Qt::CaseInsensitive)
                                 ? path.left(path.size() - 4)
                                 : path;
        int n = 0;
        for (QAction* a : window.menuBar()->actions()) {
            QMenu* m = a->menu();
            if (!m) continue;
            ++n;
            emit m->aboutToShow();
            m->adjustSize();
            m->ensurePolished();
            m->grab().save(QStringLiteral("%1-menu%2.png").arg(base).arg(n));
        }
        // Whatever dialog is up at that moment (the progress window of a
        // driven run's operation).
        int d = 0;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w != &window && w->isVisible() && qobject_cast<QDialog*>(w))
                w->grab().save(QStringLiteral("%1-dialog%2.png").arg(base).arg(++d));
        {
            CAboutDlg about(&window);
            about.adjustSize();
            about.grab().save(QStringLiteral("%1-about.png").arg(base));
        }
        if (QMenu* tray = window.TrayMenu()) {
            tray->adjustSize();
            tray->grab().save(QStringLiteral("%1-tray.png").arg(base));
        }
    });
}

int RunSelvar(int argc, char** argv) {
    PointOffscreenAtFonts();
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Selvar"));
    QApplication::setApplicationName(QStringLiteral("Configurator - Selvar"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/selvar.svg")));
    // The window hidden in the tray is still the program: closing a box
    // must not end it.
    QApplication::setQuitOnLastWindowClosed(false);

    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i)
        arguments.emplace_back(argv[i]);
    COrvinApp selvar(std::move(arguments));
    if (!selvar.Start()) {
        // A start the user or the test option ended is a normal end.
        const bool refused = selvar.Document() && selvar.Document()->refuseDocuments;
        selvar.Finish();
        return selvar.ExitCode(refused ? 0 : 1);
    }
    const int result = app.exec();
    selvar.Finish();
    return selvar.ExitCode(result);
}
