#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QProgressBar>
#include <QRect>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>

#include "app/command_table.h"
#include "platform/ui_services.h"

class CSelvarDoc;
class DescBranch;
class CProgressDialog;
class QAction;
class QLabel;
class QMenu;
class QSystemTrayIcon;
class QTimer;
class QToolBar;
class QToolButton;
class RecentFileList;

// The program's main window: menus, toolbar, status bar and tray icon, all
// built from the command table; the router that hands each command to its
// owner; the notices of the worker threads, each queued to this thread.
class CMainFrame : public QMainWindow, public MainWindowNotifications {
    Q_OBJECT
  public:
    // Status bar pane 1 hosts the progress bar at this width.
    static constexpr int kProgressPaneWidth = 120;

    CMainFrame(CSelvarDoc& doc, RecentFileList& recent, QWidget* parent = nullptr);
    ~CMainFrame() override;

    CSelvarDoc& Document() { return doc_; }
    CProgressDialog& ProgressDialog() { return *progress_; }

    // --- commands ---
    // Runs a command through its owner. False when nothing handles it now.
    bool OnCommand(int id);
    // Whether anything carries the command out now (else it stays grey).
    bool HasHandler(int id) const;
    // The state the enable rules look at.
    App::CommandState State(int id = 0) const;
    // Refreshes enabled and checked states and the caption.
    void UpdateCommandUi();
    QAction* Action(int id) const;
    QMenu* TopMenu(std::size_t index) const;
    QMenu* TrayMenu() const { return trayMenu_; }
    QToolBar* ToolBar() const { return toolBar_; }
    // Which selected tree row is a branch named with "Точка"; the tree view
    // sets it.
    std::function<bool()> pointBranchSelected;
    // The tree view's own commands (the branch operations, the error search,
    // the comment): the view answers whether it owns a number and runs it.
    std::function<bool(int)> viewHandles;
    std::function<bool(int)> viewCommand;
    // A polled value for the tree view, which records and shows it; without
    // one the value is only recorded.
    std::function<void(Parameter&)> operativeValueHandler;
    // Selects a parameter's row under its branch, expanding the branch (the
    // single point dialog's search); the tree view sets it.
    std::function<void(const DescBranch& branch, Parameter& p)> showInTree;
    // Run when the window goes away, after the bars were saved and the tray
    // icon removed (the driven run's shutdown).
    std::function<void()> onDestroy;
    // The file a driven read run saves into.
    QString commandLineFile;

    // --- files ---
    // Opens a configuration file: the question when it is open already
    // (No: nothing happens), then the document's open. True when opened.
    bool OpenDocumentFile(const QString& path);
    bool SaveDocumentAs();
    bool SaveDocument();
    // The document's unsaved changes: saved, dropped or kept (false: stop).
    bool SaveModified();
    // Message 1070: the document into the command-line file, outside the
    // recent list, errors ignored.
    void SaveCommandLineFile();

    // --- private messages, on this thread ---
    // 1065: wParam 0 hides the progress bar, else shows it with the range
    // of its high word.
    void OnProgressMessage(std::uint32_t wParam);
    void OnProgressPosition(int position);
    QProgressBar* StatusProgressBar() const { return progressBar_; }
    void OnRefreshViews();

    // --- tray and placement ---
    bool HideMinimized() const { return hideMinimized_; }
    void SetHideMinimized(bool on);
    bool InTray() const { return inTray_; }
    QSystemTrayIcon* Tray() const { return tray_; }
    // Hidden with only the tray icon (also the hidden start).
    void HideToTray();
    void RestoreFromTray();
    // Shown at the rectangle and fixed there until ClearFixed.
    void PlaceFixed(const QRect& rect);
    void ClearFixed();
    bool IsFixed() const { return fixed_; }
    // A close request from another thread (the driven run): the closing
    // question follows on this thread.
    void RequestClose();
    // The closing question was answered Yes and the window closed.
    bool Closed() const { return closed_; }
    // Saves the bars, removes the tray icon and runs onDestroy; once.
    void Destroy();

    // --- MainWindowNotifications: any thread ---
    void ProgressOn() override;
    void ProgressOnWithRange(int rangeHigh) override;
    void ProgressPosition(int percent) override;
    void ProgressOff() override;
    void Refresh() override;
    void NetworkSettingsWritten() override;
    void CommandLineOperationDone() override;
    void OperativeValueRead(Parameter& p) override;
    void OperativeValueReady(const OperativeValueTicket& ticket) override;

    // Status bar panes, for tests and the screenshot.
    QLabel* IndicatorPane(App::Indicator indicator) const;
    QLabel* PromptPane() const { return prompt_; }

  protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    void CreateActions();
    void CreateMenus();
    QMenu* BuildMenu(const QString& title, const std::vector<App::MenuEntry>& entries,
                     QWidget* parent);
    void FillRecentFiles();
    void CreateToolBar();
    void CreateStatusBar();
    void CreateTray();
    void PlaceProgressBar();
    void ToggleBar(int id);
    void OnFileNew();
    void OnFileOpen();
    void OnAbout();
    void OnNotYet(int id);
    bool RunDocumentTool(int id);
    bool DocumentHandles(int id) const;
    template <typename F>
    void Queue(F&& f);

    CSelvarDoc& doc_;
    RecentFileList& recent_;
    std::map<int, QAction*> actions_;
    std::vector<QMenu*> topMenus_;
    QMenu* fileMenu_ = nullptr;
    QAction* recentAnchor_ = nullptr;  // recent files go before it
    std::vector<QAction*> recentActions_;
    QMenu* trayMenu_ = nullptr;
    QMenu* newMenu_ = nullptr;
    QToolBar* toolBar_ = nullptr;
    QLabel* prompt_ = nullptr;
    QWidget* progressPane_ = nullptr;
    QPointer<QProgressBar> progressBar_;
    std::map<App::Indicator, QLabel*> indicators_;
    QSystemTrayIcon* tray_ = nullptr;
    QTimer* protocolTimer_ = nullptr;
    QTimer* idleTimer_ = nullptr;
    CProgressDialog* progress_ = nullptr;
    bool hideMinimized_ = false;
    bool inTray_ = false;
    bool fixed_ = false;
    QRect fixedRect_;
    bool unattendedClose_ = false;
    bool closed_ = false;
    bool destroyed_ = false;
};
