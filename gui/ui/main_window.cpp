#include "ui/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QSettings>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <ctime>

#include "app/open_file.h"
#include "app/qt_services.h"
#include "app/recent_files.h"
#include "dbf/parameter_export.h"
#include "device/program_modes.h"
#include "dialogs/about_dialog.h"
#include "dialogs/export_dialog.h"
#include "dialogs/progress_dialog.h"
#include "dialogs/properties_dialog.h"
#include "dialogs/regulation_dialog.h"
#include "dialogs/single_point_dialog.h"
#include "dialogs/structure_report_dialog.h"
#include "document/access_level.h"
#include "document/selvar_doc.h"
#include "platform/app_state.h"
#include "platform/settings_store.h"
#include "reports/parameter_list.h"

namespace {

// Commands of the framework and the window that the command table names.
constexpr int kFileNew = 57600;
constexpr int kFileOpen = 57601;
constexpr int kFileSave = 57603;
constexpr int kFileSaveAs = 57604;
constexpr int kAppExit = 57665;
constexpr int kAppAbout = 57664;
constexpr int kHideMinimized = 32880;
constexpr int kRestore = 32881;
constexpr int kToolBar = 59392;
constexpr int kStatusBar = 59393;
constexpr int kConverterSemiAutomatic = 32810;
constexpr int kConverterAutomatic = 32811;

// What the document's own command handler carries out.
constexpr int kDocumentCommands[] = {CommandId::kReadAll,
                                     CommandId::kWriteAll,
                                     CommandId::kWriteChanged,
                                     CommandId::kWriteErrors,
                                     CommandId::kReadBranch,
                                     CommandId::kWriteBranch,
                                     CommandId::kWriteChangedBranch,
                                     CommandId::kCompareBranch,
                                     CommandId::kReadStructure,
                                     CommandId::kInitialise,
                                     CommandId::kCheckLink,
                                     CommandId::kAutoRead,
                                     CommandId::kInstantWrite,
                                     CommandId::kTransferAttributes,
                                     CommandId::kSwitchModification,
                                     CommandId::kRs232,
                                     CommandId::kRs485,
                                     CommandId::kForbidden};

constexpr const char* kConfigurationFilter = "Файлы конфигураций (*.svx)";
constexpr const char* kDbfFilter = "Файлы DBase (*.dbf);;Все файлы (*)";
constexpr const char* kAlreadyOpen =
    "Этот файл уже открыт! При продолжении открытия файла все изменения будут "
    "потеряны!\n\nХотите продолжить открытие файла?";
constexpr const char* kSaveQuestion = "Сохранить изменения в файле \"%1\"?";
constexpr const char* kBarsState = "selvarb";

// Text of a menu item: '\t' ends the label, Qt shows the rest as the key.
QString MenuText(const char* text) {
    QString t = QString::fromUtf8(text);
    // A text "prompt\ntip" keeps its prompt only.
    const qsizetype nl = t.indexOf(QLatin1Char('\n'));
    return nl < 0 ? t : t.left(nl);
}

}  // namespace

CMainFrame::CMainFrame(CSelvarDoc& doc, RecentFileList& recent, QWidget* parent)
    : QMainWindow(parent), doc_(doc), recent_(recent) {
    setWindowIcon(QIcon(QStringLiteral(":/icons/selvar.svg")));
    setWindowTitle(QString::fromStdString(App::WindowCaption(nullptr)));
    setAcceptDrops(true);
    progress_ = new CProgressDialog(this);

    CreateActions();
    CreateMenus();
    CreateToolBar();
    CreateStatusBar();

    // Menu state from the start values and the stored switch.
    ApplyModeStartValues();
    hideMinimized_ = SettingsStore::Instance().ReadText("hidemin", "0") == "1";
    CreateTray();

    protocolTimer_ = new QTimer(this);
    protocolTimer_->setInterval(1000);
    connect(protocolTimer_, &QTimer::timeout, this, [this] {
        if (doc_.ProtocolTick(std::time(nullptr))) OnRefreshViews();
    });
    protocolTimer_->start();

    // The toolbar has no aboutToShow: a cheap look at the rules now and then.
    idleTimer_ = new QTimer(this);
    idleTimer_->setInterval(250);
    connect(idleTimer_, &QTimer::timeout, this, [this] { UpdateCommandUi(); });
    idleTimer_->start();

    QSettings settings;
    const QByteArray state = settings.value(QString::fromUtf8(kBarsState)).toByteArray();
    if (!state.isEmpty()) restoreState(state);
    statusBar()->setVisible(
        settings.value(QString::fromUtf8(kBarsState) + QStringLiteral("-status"), true).toBool());
    UpdateCommandUi();
}

CMainFrame::~CMainFrame() {
    Destroy();
}

template <typename F>
void CMainFrame::Queue(F&& f) {
    QMetaObject::invokeMethod(this, std::forward<F>(f), Qt::QueuedConnection);
}

// --- building ---

void CMainFrame::CreateActions() {
    for (const App::CommandInfo& info : App::Commands()) {
        auto* a = new QAction(MenuText(info.text), this);
        const QString prompt = QString::fromUtf8(info.prompt ? info.prompt : "");
        a->setStatusTip(prompt);
        a->setToolTip(QString::fromUtf8(info.tip ? info.tip : info.prompt ? info.prompt : ""));
        if (info.icon) a->setIcon(QIcon(QStringLiteral(":/icons/%1.svg").arg(info.icon)));
        a->setIconVisibleInMenu(true);
        if (info.shortcut) {
            a->setShortcut(QKeySequence(QString::fromUtf8(info.shortcut)));
            a->setShortcutContext(Qt::WindowShortcut);
        }
        a->setCheckable(info.checkable);
        const int id = info.id;
        connect(a, &QAction::triggered, this, [this, id] { OnCommand(id); });
        // Keys work also for commands that no menu shows.
        addAction(a);
        actions_[id] = a;
    }
}

QMenu* CMainFrame::BuildMenu(const QString& title, const std::vector<App::MenuEntry>& entries,
                             QWidget* parent) {
    auto* menu = new QMenu(title, parent);
    for (const App::MenuEntry& e : entries) {
        switch (e.kind) {
            case App::MenuEntry::Kind::Separator:
                menu->addSeparator();
                break;
            case App::MenuEntry::Kind::Submenu:
                menu->addMenu(BuildMenu(QString::fromUtf8(e.text), e.children, menu));
                break;
            case App::MenuEntry::Kind::RecentFiles:
                fileMenu_ = menu;
                recentAnchor_ = menu->addSeparator();
                recentAnchor_->setVisible(false);
                break;
            case App::MenuEntry::Kind::Command: {
                QAction* a = Action(e.command);
                if (!a) break;
                if (e.text) {
                    // This menu names the command in its own words.
                    auto* own = new QAction(a->icon(), MenuText(e.text), menu);
                    own->setStatusTip(a->statusTip());
                    const int id = e.command;
                    connect(own, &QAction::triggered, this, [this, id] { OnCommand(id); });
                    connect(a, &QAction::changed, own,
                            [a, own] { own->setEnabled(a->isEnabled()); });
                    menu->addAction(own);
                } else {
                    menu->addAction(a);
                }
                break;
            }
        }
    }
    connect(menu, &QMenu::aboutToShow, this, [this] { UpdateCommandUi(); });
    return menu;
}

void CMainFrame::CreateMenus() {
    for (const App::MenuEntry& top : App::MenuBar()) {
        QMenu* m = BuildMenu(QString::fromUtf8(top.text), top.children, this);
        menuBar()->addMenu(m);
        topMenus_.push_back(m);
    }
    FillRecentFiles();
}

void CMainFrame::FillRecentFiles() {
    if (!fileMenu_ || !recentAnchor_) return;
    for (QAction* a : recentActions_) {
        fileMenu_->removeAction(a);
        a->deleteLater();
    }
    recentActions_.clear();
    const QStringList& files = recent_.Files();
    for (int i = 0; i < files.size() && i < App::kRecentFileCount; ++i) {
        auto* a = new QAction(QStringLiteral("&%1 %2").arg(i + 1).arg(files[i]), fileMenu_);
        const QString path = files[i];
        connect(a, &QAction::triggered, this, [this, path] { OpenDocumentFile(path); });
        fileMenu_->insertAction(recentAnchor_, a);
        recentActions_.push_back(a);
    }
    recentAnchor_->setVisible(!recentActions_.empty());
}

void CMainFrame::CreateToolBar() {
    toolBar_ = addToolBar(QString::fromUtf8("Панель инструментов"));
    toolBar_->setObjectName(QStringLiteral("toolbar"));
    toolBar_->setIconSize(QSize(24, 24));
    newMenu_ = BuildMenu(QString(), App::ToolbarNewMenu(), this);
    for (int id : App::ToolbarButtons()) {
        if (id == 0) {
            toolBar_->addSeparator();
            continue;
        }
        QAction* a = Action(id);
        if (!a) continue;
        if (id == App::kToolbarDropDownCommand) {
            auto* button = new QToolButton(toolBar_);
            button->setDefaultAction(a);
            button->setMenu(newMenu_);
            button->setPopupMode(QToolButton::MenuButtonPopup);
            button->setAutoRaise(true);
            button->setIconSize(toolBar_->iconSize());
            toolBar_->addWidget(button);
        } else {
            toolBar_->addAction(a);
        }
    }
}

void CMainFrame::CreateStatusBar() {
    QStatusBar* bar = statusBar();
    prompt_ = new QLabel(QString::fromUtf8(App::kIdlePrompt), bar);
    bar->addWidget(prompt_, 1);
    progressPane_ = new QWidget(bar);
    progressPane_->setFixedWidth(kProgressPaneWidth);
    bar->addPermanentWidget(progressPane_);
    for (App::Indicator i :
         {App::Indicator::AutoRead, App::Indicator::Instant, App::Indicator::HideMinimize}) {
        auto* label = new QLabel(bar);
        label->setAlignment(Qt::AlignCenter);
        // As wide as the text it shows, shown or not, so the panes stay put.
        App::CommandState on;
        on.autoRead = on.instantWrite = on.hideMinimized = true;
        label->setMinimumWidth(
            label->fontMetrics().horizontalAdvance(QString::fromUtf8(App::IndicatorText(i, on))) +
            12);
        bar->addPermanentWidget(label);
        indicators_[i] = label;
    }
}

void CMainFrame::CreateTray() {
    tray_ = new QSystemTrayIcon(QIcon(QStringLiteral(":/icons/selvar.svg")), this);
    tray_->setToolTip(QString::fromUtf8(App::kTrayTip));
    trayMenu_ = BuildMenu(QString(), App::TrayMenu(), this);
    if (QAction* restore = Action(App::kTrayDefaultCommand)) trayMenu_->setDefaultAction(restore);
    tray_->setContextMenu(trayMenu_);
    connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
        if (r == QSystemTrayIcon::Trigger || r == QSystemTrayIcon::DoubleClick) RestoreFromTray();
    });
}

QAction* CMainFrame::Action(int id) const {
    auto it = actions_.find(id);
    return it == actions_.end() ? nullptr : it->second;
}

QMenu* CMainFrame::TopMenu(std::size_t index) const {
    return index < topMenus_.size() ? topMenus_[index] : nullptr;
}

QLabel* CMainFrame::IndicatorPane(App::Indicator indicator) const {
    auto it = indicators_.find(indicator);
    return it == indicators_.end() ? nullptr : it->second;
}

// --- command state ---

bool CMainFrame::DocumentHandles(int id) const {
    for (int c : kDocumentCommands)
        if (c == id) return true;
    return false;
}

bool CMainFrame::HasHandler(int id) const {
    if (viewHandles && viewHandles(id)) return true;
    switch (id) {
        case kFileNew:
        case kFileOpen:
        case kFileSave:
        case kFileSaveAs:
        case kAppExit:
        case kAppAbout:
        case kHideMinimized:
        case kRestore:
        case kToolBar:
        case kStatusBar:
        case kConverterSemiAutomatic:
        case kConverterAutomatic:
        case CommandId::kParameterList:
        case CommandId::kDbfExport:
        case CommandId::kDbfImport:
        case CommandId::kProtocolExport:
        case CommandId::kSinglePoint:
        case CommandId::kStructureReport:
        case CommandId::kRegulation:
        case CommandId::kProgramNetwork:
            return true;
        default:
            break;
    }
    if (id >= App::kFirstRecentFile && id < App::kFirstRecentFile + App::kRecentFileCount)
        return id - App::kFirstRecentFile < recent_.Files().size();
    return DocumentHandles(id);
}

App::CommandState CMainFrame::State(int id) const {
    App::CommandState s;
    s.noPort = Startup().noPort;
    s.silent = Startup().silent;
    s.accessLevel = Access::Level();
    s.commandLineRun = Startup().driven;
    s.pointBranchSelected = pointBranchSelected ? pointBranchSelected() : false;
    s.rs485 = doc_.Rs485Interface();
    s.converterType = doc_.device().Port().transmissionMode != 0 ? 1 : 0;
    s.autoRead = Modes().autoRead;
    s.instantWrite = Modes().instantWrite;
    s.hideMinimized = hideMinimized_;
    s.toolbarVisible = toolBar_ && !toolBar_->isHidden();
    s.statusBarVisible = !statusBar()->isHidden();
    s.hasHandler = id == 0 || HasHandler(id);
    return s;
}

void CMainFrame::UpdateCommandUi() {
    App::CommandState state = State();
    for (auto& [id, action] : actions_) {
        state.hasHandler = HasHandler(id);
        const bool enabled = App::CommandEnabled(id, state);
        if (action->isEnabled() != enabled) action->setEnabled(enabled);
        if (std::optional<bool> checked = App::CommandChecked(id, state)) {
            if (!action->isCheckable()) action->setCheckable(true);
            if (action->isChecked() != *checked) action->setChecked(*checked);
        }
    }
    state.hasHandler = true;
    for (std::size_t i = 0; i < topMenus_.size(); ++i) {
        const bool enabled = App::MenuEnabled(i, state);
        if (topMenus_[i]->menuAction()->isEnabled() != enabled)
            topMenus_[i]->menuAction()->setEnabled(enabled);
    }
    for (auto& [indicator, label] : indicators_) {
        const QString text = QString::fromUtf8(App::IndicatorText(indicator, state));
        if (label->text() != text) label->setText(text);
    }
    const std::string title = doc_.Title();
    const QString caption = QString::fromStdString(
        App::WindowCaption(doc_.ConfigurationSetUp() || !title.empty() ? &title : nullptr));
    if (windowTitle() != caption) setWindowTitle(caption);
}

// --- the router ---

bool CMainFrame::OnCommand(int id) {
    if (!HasHandler(id)) {
        OnNotYet(id);
        return false;
    }
    if (!App::CommandEnabled(id, State(id))) return false;
    bool handled = true;
    switch (id) {
        case kFileNew:
            OnFileNew();
            break;
        case kFileOpen:
            OnFileOpen();
            break;
        case kFileSave:
            SaveDocument();
            break;
        case kFileSaveAs:
            SaveDocumentAs();
            break;
        case kAppExit:
            close();
            break;
        case kAppAbout:
            OnAbout();
            break;
        case kHideMinimized:
            SetHideMinimized(!hideMinimized_);
            break;
        case kRestore:
            RestoreFromTray();
            break;
        case kToolBar:
        case kStatusBar:
            ToggleBar(id);
            break;
        case kConverterSemiAutomatic:
        case kConverterAutomatic:
            doc_.device().Port().transmissionMode = id == kConverterAutomatic ? 1 : 0;
            break;
        default:
            if (id >= App::kFirstRecentFile && id < App::kFirstRecentFile + App::kRecentFileCount) {
                OpenDocumentFile(recent_.Files().value(id - App::kFirstRecentFile));
                break;
            }
            if (viewHandles && viewHandles(id) && viewCommand) {
                handled = viewCommand(id);
                break;
            }
            handled = RunDocumentTool(id) || doc_.OnCommand(id);
            break;
    }
    UpdateCommandUi();
    return handled;
}

bool CMainFrame::RunDocumentTool(int id) {
    switch (id) {
        case CommandId::kParameterList:
            WriteParameterList(doc_.ConfigurationTree(), ParameterListPath());
            return true;
        case CommandId::kDbfExport: {
            if (!doc_.ConfigurationTree()) return doc_.OnCommand(id);
            QString name = QString::fromStdString(doc_.Title());
            if (name.isEmpty()) name = QString::fromUtf8("Параметры");
            name = QFileInfo(name).completeBaseName() + QStringLiteral(".dbf");
            const QString path =
                QFileDialog::getSaveFileName(this, QString(), name, QString::fromUtf8(kDbfFilter));
            if (!path.isEmpty()) ExportParameters(*doc_.ConfigurationTree(), path.toStdString());
            return true;
        }
        case CommandId::kSinglePoint: {
            Dialogs::CSinglePoint dialog(doc_, this);
            dialog.showInTree = showInTree;
            dialog.restoreWindow = [this] {
                if (inTray_) RestoreFromTray();
            };
            dialog.exec();
            return true;
        }
        case CommandId::kStructureReport: {
            Dialogs::CReport report(doc_, this);
            report.exec();
            return true;
        }
        case CommandId::kRegulation:
            if (auto regulation = Dialogs::CRegulDlg::Create(doc_, this)) regulation->exec();
            return true;
        case CommandId::kProgramNetwork:
            Dialogs::RunProgramNetworkDialog(doc_, !State().rs485, this);
            return true;
        case CommandId::kProtocolExport: {
            CExportOperDlg exportDialog(doc_, this);
            exportDialog.exec();
            return true;
        }
        case CommandId::kDbfImport: {
            if (!doc_.ConfigurationTree()) return doc_.OnCommand(id);
            const QString path = QFileDialog::getOpenFileName(this, QString(), QString(),
                                                              QString::fromUtf8(kDbfFilter));
            if (path.isEmpty()) return true;
            QApplication::setOverrideCursor(Qt::WaitCursor);
            const bool imported = ImportParameters(*doc_.ConfigurationTree(), path.toStdString());
            QApplication::restoreOverrideCursor();
            if (imported) {
                doc_.SetModifiedFlag(true);
                OnRefreshViews();
            }
            return true;
        }
        default:
            return false;
    }
}

void CMainFrame::OnNotYet(int id) {
    // Nothing to do: the command is grey until its dialog exists.
    (void)id;
}

void CMainFrame::ToggleBar(int id) {
    QWidget* bar = id == kToolBar ? static_cast<QWidget*>(toolBar_) : statusBar();
    bar->setVisible(bar->isHidden());
    if (bar == statusBar()) PlaceProgressBar();
}

void CMainFrame::OnAbout() {
    CAboutDlg about(this);
    about.exec();
}

// --- files ---

bool CMainFrame::SaveModified() {
    if (!doc_.IsModified() || Startup().driven) return true;
    const QString title = QString::fromStdString(doc_.Title());
    switch (ShowMessage(QString::fromUtf8(kSaveQuestion).arg(title).toStdString(), "",
                        MessageIcon::Exclamation, MessageButtons::YesNoCancel)) {
        case MessageResult::Yes:
            return SaveDocument();
        case MessageResult::No:
            return true;
        default:
            return false;
    }
}

void CMainFrame::OnFileNew() {
    if (!SaveModified()) return;
    doc_.NewDocument();
    OnRefreshViews();
}

void CMainFrame::OnFileOpen() {
    const QString path =
        QFileDialog::getOpenFileName(this, QString::fromUtf8("Открытие файла конфигурации"),
                                     QString(), QString::fromUtf8(kConfigurationFilter));
    if (!path.isEmpty()) OpenDocumentFile(path);
}

bool CMainFrame::OpenDocumentFile(const QString& path) {
    if (path.isEmpty()) return false;
    const std::string file = path.toStdString();
    if (App::IsOpenDocumentFile(file, doc_.PathName())) {
        if (ShowMessage(kAlreadyOpen, "Внимание!", MessageIcon::Information,
                        MessageButtons::YesNo) != MessageResult::Yes)
            return false;
        // Yes: the changes go, as with a new configuration.
        doc_.SetModifiedFlag(false);
        doc_.NewDocument();
    } else if (!SaveModified()) {
        return false;
    }
    const bool opened = doc_.OpenDocument(file);
    if (opened)
        recent_.Add(path);
    else if (!QFileInfo::exists(path))
        recent_.Remove(path);
    FillRecentFiles();
    OnRefreshViews();
    UpdateCommandUi();
    return opened;
}

bool CMainFrame::SaveDocument() {
    if (doc_.PathName().empty()) return SaveDocumentAs();
    const bool saved = doc_.SaveDocument(doc_.PathName());
    if (saved) recent_.Add(QString::fromStdString(doc_.PathName()));
    FillRecentFiles();
    return saved;
}

bool CMainFrame::SaveDocumentAs() {
    QString name = QString::fromStdString(doc_.PathName());
    if (name.isEmpty()) name = QString::fromStdString(doc_.Title());
    QString path =
        QFileDialog::getSaveFileName(this, QString::fromUtf8("Сохранение файла конфигурации"), name,
                                     QString::fromUtf8(kConfigurationFilter));
    if (path.isEmpty()) return false;
    if (QFileInfo(path).suffix().isEmpty()) path += QStringLiteral(".svx");
    const bool saved = doc_.SaveDocument(path.toStdString());
    if (saved) recent_.Add(path);
    FillRecentFiles();
    UpdateCommandUi();
    return saved;
}

void CMainFrame::SaveCommandLineFile() {
    if (commandLineFile.isEmpty()) return;
    doc_.SaveDocument(commandLineFile.toStdString(), true);
    UpdateCommandUi();
}

// --- private messages ---

void CMainFrame::OnProgressMessage(std::uint32_t wParam) {
    if (wParam == 0) {
        delete progressBar_;
        return;
    }
    if (!progressBar_) {
        progressBar_ = new QProgressBar(progressPane_);
        progressBar_->setTextVisible(false);
        PlaceProgressBar();
        progressBar_->show();
    }
    const auto [low, high] = App::ProgressRange(wParam);
    progressBar_->setRange(low, high);
}

void CMainFrame::OnProgressPosition(int position) {
    if (progressBar_) progressBar_->setValue(position);
}

void CMainFrame::PlaceProgressBar() {
    if (progressBar_) progressBar_->setGeometry(progressPane_->rect().adjusted(1, 1, -1, -1));
}

void CMainFrame::OnRefreshViews() {
    if (doc_.views && !doc_.views->ModalDialogVisible()) doc_.views->Refresh(false);
    UpdateCommandUi();
}

void CMainFrame::ProgressOn() {
    ProgressOnWithRange(0);
}

void CMainFrame::ProgressOnWithRange(int rangeHigh) {
    const std::uint32_t wParam = (static_cast<std::uint32_t>(rangeHigh) & 0xFFFFu) << 16 | 1u;
    Queue([this, wParam] { OnProgressMessage(wParam); });
}

void CMainFrame::ProgressPosition(int percent) {
    Queue([this, percent] { OnProgressPosition(percent); });
}

void CMainFrame::ProgressOff() {
    Queue([this] { OnProgressMessage(0); });
}

void CMainFrame::Refresh() {
    Queue([this] { OnRefreshViews(); });
}

void CMainFrame::NetworkSettingsWritten() {
    Queue([this] { doc_.OnCommand(CommandId::kDeviceNetwork); });
}

void CMainFrame::CommandLineOperationDone() {
    Queue([this] { SaveCommandLineFile(); });
}

void CMainFrame::OperativeValueRead(Parameter& p) {
    if (operativeValueHandler)
        operativeValueHandler(p);
    else
        doc_.RecordPolledValue(p, std::time(nullptr));
}

void CMainFrame::OperativeValueReady(const OperativeValueTicket& ticket) {
    Queue([ticket] { ticket.Deliver(); });
}

// --- tray, placement, closing ---

void CMainFrame::SetHideMinimized(bool on) {
    hideMinimized_ = on;
    SettingsStore::Instance().WriteText("hidemin", on ? "1" : "0");
    UpdateCommandUi();
}

void CMainFrame::HideToTray() {
    hide();
    inTray_ = true;
    tray_->show();
}

void CMainFrame::RestoreFromTray() {
    inTray_ = false;
    tray_->hide();
    if (fixed_) {
        setWindowState(windowState() & ~Qt::WindowMinimized);
        show();
    } else {
        showNormal();
        showMaximized();
    }
    raise();
    activateWindow();
}

void CMainFrame::PlaceFixed(const QRect& rect) {
    fixed_ = true;
    fixedRect_ = rect;
    setWindowFlags((windowFlags() | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                    Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) &
                   ~(Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    setGeometry(rect);
    setFixedSize(rect.size());
}

void CMainFrame::ClearFixed() {
    if (!fixed_) return;
    fixed_ = false;
    const bool visible = isVisible();
    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    setWindowFlags(windowFlags() | Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint);
    // Changing the flags hides the window.
    if (visible) show();
}

void CMainFrame::RequestClose() {
    Queue([this] {
        // Asked for by the driving program or the cancelled wizard: the
        // closing question, but no save question nobody is there to answer.
        unattendedClose_ = true;
        close();
        unattendedClose_ = false;
    });
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    if (ShowMessage(App::kClosingQuestion, "", MessageIcon::Information, MessageButtons::YesNo) !=
            MessageResult::Yes ||
        (!unattendedClose_ && !SaveModified())) {
        event->ignore();
        return;
    }
    event->accept();
    closed_ = true;
    QCoreApplication::quit();
}

void CMainFrame::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange) return;
    if (isMinimized() && fixed_) {
        // A driven run keeps its window where it put it.
        Queue([this] { setWindowState(windowState() & ~Qt::WindowMinimized); });
        return;
    }
    if (isMinimized() && hideMinimized_) Queue([this] { HideToTray(); });
}

void CMainFrame::moveEvent(QMoveEvent* event) {
    QMainWindow::moveEvent(event);
    if (fixed_ && pos() != fixedRect_.topLeft())
        Queue([this] {
            if (fixed_) move(fixedRect_.topLeft());
        });
}

void CMainFrame::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    PlaceProgressBar();
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void CMainFrame::dropEvent(QDropEvent* event) {
    for (const QUrl& url : event->mimeData()->urls()) {
        if (!url.isLocalFile()) continue;
        event->acceptProposedAction();
        const QString path = url.toLocalFile();
        // Opened after the drop is over, so that the source is not kept waiting.
        Queue([this, path] { OpenDocumentFile(path); });
        return;
    }
}

void CMainFrame::Destroy() {
    if (destroyed_) return;
    destroyed_ = true;
    idleTimer_->stop();
    protocolTimer_->stop();
    QSettings settings;
    settings.setValue(QString::fromUtf8(kBarsState), saveState());
    settings.setValue(QString::fromUtf8(kBarsState) + QStringLiteral("-status"),
                      !statusBar()->isHidden());
    tray_->setToolTip(QString());
    tray_->hide();
    if (onDestroy) onDestroy();
}
