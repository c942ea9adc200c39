#pragma once

#include <array>
#include <atomic>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "description/desc_branch.h"
#include "device/device.h"
#include "device/exchange_operations.h"
#include "document/configuration_file.h"
#include "elements/common_params.h"
#include "protocol/protocol_files.h"

struct CDeviceDescription;

// The numbers of the main window's commands: the menus, the toolbar and the
// tree's context menu all route to the document by them.
namespace CommandId {
constexpr int kCheckLink = 138;
constexpr int kReadAll = 139;
constexpr int kWriteAll = 140;
constexpr int kSinglePoint = 141;
constexpr int kForbidden = 146;
constexpr int kWriteErrors = 147;
constexpr int kParameterList = 154;
constexpr int kWriteChanged = 256;
constexpr int kInitialise = 263;
constexpr int kSwitchModification = 264;
constexpr int kStructureReport = 265;
constexpr int kDeviceNetwork = 266;
constexpr int kProgramNetwork = 268;
constexpr int kInstantWrite = 271;
constexpr int kReadStructure = 272;
constexpr int kPreviousProblem = 278;
constexpr int kNextProblem = 279;
constexpr int kWriteChangedBranch = 281;
constexpr int kCompareBranch = 282;
constexpr int kReadBranch = 284;
constexpr int kWriteBranch = 285;
constexpr int kProtocolExport = 288;
constexpr int kTransferAttributes = 294;
constexpr int kDbfExport = 302;
constexpr int kDbfImport = 303;
constexpr int kAutoRead = 134;
// The other commands of the main window, the tray and the keys.
constexpr int kBlockRead = 150;
constexpr int kBlockWrite = 151;
constexpr int kBlockWriteChanged = 152;
constexpr int kCompare = 257;
constexpr int kChangePasswords = 296;
constexpr int kReserved299 = 299;
constexpr int kReserved313 = 313;
constexpr int kCalibrate = 32800;
constexpr int kSemiAutomaticConverter = 32810;
constexpr int kAutomaticConverter = 32811;
constexpr int kReserved32839 = 32839;
constexpr int kFirstReservedLevel2 = 32853;
constexpr int kLastReservedLevel2 = 32858;
constexpr int kFirstCurve = 32867;  // "График №1" … "График №8"
constexpr int kHideMinimized = 32880;
constexpr int kRestore = 32881;
constexpr int kRegulation = 32885;
constexpr int kRs232 = 32890;
constexpr int kRs485 = 32891;
constexpr int kNew = 57600;
constexpr int kOpen = 57601;
constexpr int kSave = 57603;
constexpr int kSaveAs = 57604;
constexpr int kAbout = 57664;
constexpr int kExit = 57665;
constexpr int kHelp = 57670;
constexpr int kToolbar = 59392;
constexpr int kStatusBar = 59393;
}  // namespace CommandId

// What the modification wizard decided. The GUI runs its pages; a headless
// caller answers with a fixed choice.
struct WizardChoice {
    const CDeviceDescription* modification = nullptr;
    bool autoRead = false;
    bool instantWrite = false;
    std::array<int, 3> pendingNumbers{-1, -1, -1};
    std::string title;
    std::string secondText;
};

class ModificationWizard {
  public:
    virtual ~ModificationWizard() = default;
    // None when the wizard was not finished with "Готово".
    virtual std::optional<WizardChoice> Run() = 0;
};

// A wizard that always finishes with the same choice.
class FixedWizard : public ModificationWizard {
  public:
    explicit FixedWizard(WizardChoice choice) : choice_(std::move(choice)) {}
    std::optional<WizardChoice> Run() override { return choice_; }

  private:
    WizardChoice choice_;
};

// The document's views: the tree view and the main window as the document
// sees them. Every call comes from the user-interface thread.
class DocumentViews {
  public:
    virtual ~DocumentViews() = default;
    // The trees are about to be deleted: forget every row of them.
    virtual void Clear() {}
    // Show the values again; fromTop scrolls to the first row.
    virtual void Refresh(bool fromTop) { (void)fromTop; }
    // A modal dialog of the view is up; refreshing now would disturb it.
    virtual bool ModalDialogVisible() const { return false; }
    // The wizard was cancelled: the program ends.
    virtual void CloseMainWindow() {}
};

// The single document: one configuration of one controller. It owns the
// device connection, the program's service parameters, the description trees
// of the active modification and the protocol files, and carries out the
// device commands of the main window.
class CSelvarDoc : public Svx::LoadSteps {
  public:
    static constexpr const char* kUntitled = "Untitled";
    static constexpr const char* kNoName = "Имя не задано";
    static constexpr const char* kNoTree = "Дерево не определено";
    static constexpr const char* kNoErrors = "Ошибочных параметров не обнаружено!";
    static constexpr const char* kProtocolParameterName = Parameter::kServiceName;

    // Creates the folders "protocol" and "temp" in the program's home.
    CSelvarDoc();
    // Ends polling and the exchange thread, then tears the configuration down.
    ~CSelvarDoc() override;
    CSelvarDoc(const CSelvarDoc&) = delete;
    CSelvarDoc& operator=(const CSelvarDoc&) = delete;

    Device& device() { return device_; }
    Elements::CommonParams& common() { return common_; }
    DescBranch* ConfigurationTree() const { return tree_.get(); }
    DescBranch* OperativeTree() const { return operative_.get(); }
    DescBranch* HiddenTree() const { return hidden_.get(); }
    const CDeviceDescription* Modification() const { return modification_; }
    // The parameter "    " naming the current protocol log file.
    Parameter& ProtocolParameter() { return protocolParameter_; }
    Protocol::ProtocolFiles& ProtocolFiles() { return *protocol_; }

    // Hooks; each may be left null.
    ModificationWizard* wizard = nullptr;
    DocumentViews* views = nullptr;
    ProgressRenderer* renderer = nullptr;  // null: a silent headless window
    ProgressPresenter* presenter = nullptr;
    // The parameter the wizard's pending number i goes to; none by default.
    std::function<Parameter*(int)> pendingNumberTarget;

    // --- the document's life ---
    const std::string& Title() const { return title_; }
    void SetTitle(const std::string& title);
    const std::string& PathName() const { return path_; }
    bool IsModified() const { return modified_; }
    void SetModifiedFlag(bool modified) { modified_ = modified; }
    void DeleteContents();

    // The wizard runs when it is due (useWizard) and a wizard is installed;
    // else the modification given (or the active one) is set up. False when
    // the wizard was cancelled or the descriptions cannot be read.
    bool SetUpConfiguration(const CDeviceDescription* modification, bool useWizard);
    void TearDownConfiguration();
    bool ConfigurationSetUp() const { return setUp_; }

    bool NewDocument();
    // Opens a configuration file; the failure is reported in a box that
    // names the file. An open that does not complete leaves the document
    // as it was, or, when the file's configuration had been set up already,
    // makes it a new untitled one: the path always names what it holds.
    bool OpenDocument(const std::string& path);
    // quiet: a failure shows no box (the save of a command-line run).
    bool SaveDocument(const std::string& path, bool quiet = false);
    // The error of the last failed open or save, and whether a box has
    // shown it already.
    const std::string& LastError() const { return lastError_; }
    bool LastErrorShown() const { return lastErrorShown_; }

    bool openFileRequest = false;
    bool refuseDocuments = false;
    bool refreshAllowed = true;
    std::array<int, 3> pendingNumbers{-1, -1, -1};
    std::string pendingTitle;
    std::string pendingSecondText;
    // Asked for by the File menu's open command when openFileRequest turns a
    // new-document request into it.
    std::function<void()> openCommand;
    // Called once a file has been opened; false makes the open fail with
    // `error` (a run that only rewrites the file and ends).
    std::function<bool(const std::string& path, std::string& error)> afterOpen;

    // --- commands ---
    // What the tree view has selected; none when nothing usable is.
    using Selection = std::variant<std::monostate, Parameter*, DescBranch*>;
    void SetSelection(Selection selection) { selection_ = selection; }
    // The block whose properties dialog is open: the target of the commands
    // 150-152 (read, write, write changed of its parameters); null when none.
    ObjectWithParameters* block = nullptr;

    // Runs a device command. False when the document does not handle the
    // number (the GUI's dialogs) or the command was refused.
    bool OnCommand(int command);
    // The check mark of a mode command (134, 271, 294) or of the interface (32890, 32891).
    bool IsChecked(int command) const;
    // The line's interface: RS-485 (true, the default) or RS-232, kept in the
    // settings as "interface" (1 or 0). With RS-232 there is no converter to
    // choose and only the port of the network settings may change.
    bool Rs485Interface() const;
    void SetRs485Interface(bool rs485);
    // The silent connection check of the program's start (no boxes); the
    // outcome goes into the link status. Returns the check's flags.
    std::uint8_t CheckConnectionAtStart();
    // Starts the exchange thread; the view calls this once the tree shows.
    void StartExchange();

    // The text of the structure report from the structure table.
    std::string StructureListing() const;
    // The help text of a parameter with its comment.
    std::string HelpText(const Parameter& p) const;

    // --- measurement protocol ---
    bool recordProtocol = false;
    // A polled value; appended to the current log while recording is on.
    bool RecordPolledValue(const Parameter& p, std::time_t now);
    // The one-second timer's step: at 09:12 the log name moves to the new
    // day. True when the views should refresh.
    bool ProtocolTick(std::time_t now);

    // --- Svx::LoadSteps ---
    std::string ActiveModification() override;
    void SetUpConfiguration(const CDeviceDescription& description) override;
    ParameterTable& Table() override { return device_.Table(); }

  private:
    LaunchContext Context();
    // Ends polling and the exchange thread; true when the thread ran.
    bool StopBackgroundWork();
    bool RefuseWithoutTree(int command);
    void AfterOperation(bool shown);
    bool Initialise();
    bool BlockCommand(int command);
    bool SwitchModification();
    void ToggleInstantWrite();
    void ToggleTransferAttributes();
    void ApplyPendingNumbers();
    void BecomeUntitled();
    void MakeProtocolParameter(std::time_t now);

    Device device_;
    Elements::CommonParams common_;
    std::unique_ptr<DescBranch> tree_;
    std::unique_ptr<DescBranch> operative_;
    std::unique_ptr<DescBranch> hidden_;
    const CDeviceDescription* modification_ = nullptr;
    Parameter protocolParameter_;
    std::unique_ptr<Protocol::ProtocolFiles> protocol_;
    std::unique_ptr<ProgressRenderer> silentRenderer_;
    Selection selection_;
    std::string title_;
    std::string path_;
    std::string lastError_;
    std::atomic<bool> modified_{false};  // reads on the exchange thread set it
    bool setUp_ = false;
    bool lastErrorShown_ = false;
    bool loadSetUp_ = false;  // the running load set up its configuration
};
