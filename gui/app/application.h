#pragma once

#include <QString>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/driven_run.h"
#include "app/recent_files.h"
#include "app/start_plan.h"
#include "app/startup_options.h"

class CMainFrame;
class CSelvarDoc;
class QtDesktopService;
class QtMessageBoxService;
class QtModificationWizard;
class QtPasswordPrompt;

// The application: what lives as long as the process (the command line, the
// start plan, the document, the main window, the driven run) and the start
// of the program in its order.
class COrvinApp {
  public:
    static constexpr int kRecentFiles = 4;

    // arguments: argv[1..].
    explicit COrvinApp(std::vector<std::string> arguments);
    ~COrvinApp();
    COrvinApp(const COrvinApp&) = delete;
    COrvinApp& operator=(const COrvinApp&) = delete;

    // Start-up; false when the start ends here (the process then exits
    // with ExitCode(0)).
    bool Start();
    // The process exit code after the event loop returned `normalCode`.
    int ExitCode(int normalCode) const;
    // The end: bars saved, tray removed, watchers stopped, the document's
    // threads ended, then the windows go.
    void Finish();

    CMainFrame* MainWindow() const { return window_.get(); }
    CSelvarDoc* Document() const { return doc_.get(); }
    const App::StartPlan& Plan() const { return plan_; }
    const App::CommandLine& Line() const { return line_; }

    // SELVAR_SCREENSHOT=FILE.png: the main window and each menu drawn into
    // PNG files once the start is over (FILE.png, FILE-menu1.png, ...).
    static void ScheduleScreenshot(CMainFrame& window, const QString& path);

  private:
    void InstallServices();
    bool SetUpDocument();
    void PlaceWindow();
    void StartDrivenRun();

    std::vector<std::string> arguments_;
    App::CommandLine line_;
    App::StartPlan plan_;
    RecentFileList recent_{kRecentFiles};
    std::unique_ptr<QtMessageBoxService> messageBoxes_;
    std::unique_ptr<QtDesktopService> desktop_;
    std::unique_ptr<QtPasswordPrompt> passwords_;
    std::unique_ptr<CSelvarDoc> doc_;
    std::unique_ptr<CMainFrame> window_;
    std::unique_ptr<QtModificationWizard> wizard_;
    std::unique_ptr<App::DrivenRun> driven_;
    // The watchers may outlive the window when they do not stop in time:
    // they reach it only through this guarded pointer.
    struct Target {
        std::mutex mutex;
        CMainFrame* window = nullptr;
        CSelvarDoc* doc = nullptr;
    };
    std::shared_ptr<Target> target_ = std::make_shared<Target>();
    bool finished_ = false;
};

// main(): the whole run of the program.
int RunSelvar(int argc, char** argv);
