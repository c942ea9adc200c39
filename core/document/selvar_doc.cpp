#include "document/selvar_doc.h"

#include <filesystem>
#include <system_error>

#include "description/device_description.h"
#include "description/tree_loader.h"
#include "device/polling.h"
#include "device/program_modes.h"
#include "document/access_level.h"
#include "document/help_text.h"
#include "document/structure_listing.h"
#include "model/waitable_poll_timer.h"
#include "platform/app_state.h"
#include "platform/paths.h"
#include "platform/settings_store.h"
#include "platform/ui_services.h"

namespace {

constexpr const char* kInterfaceSetting = "interface";
constexpr const char* kImpossible = "Операция невозможна";
constexpr const char* kStructureImpossible = "Операция обнавления структуры невозможна";
constexpr const char* kForbiddenText = "Операция запрещена на этом уровне доступа.";
constexpr const char* kSwitchQuestion = "Переключить программу на другую модификацию?";
constexpr const char* kInitialisePolling =
    "Перед инициализацией необходимо остановить опрос оперативных параметров!\n\n"
    "Уберите \"галочки\" со всех параметров в ветви \"Опрос оперативных параметров\" и "
    "повторите попытку.";
constexpr const char* kInitialiseQuestion =
    "Эта операция приведет к потери конфигурации в программе и в приборе!";
constexpr const char* kInitialiseCaption = "Вы уверены, что хотите продолжить?";
constexpr const char* kInstantWriteNotice =
    "В режиме 'Моментальная запись' введеные значения\n"
    "автоматически записываются в прибор\n"
    "сразу после ввода (без нажатия на 'Записать измененные')\n"
    "Это ускоряет работу, но снижает надежность\n"
    "и увеличивает вероятность ошибок.\n"
    "Режим 'Моментальная запись' не записывает\n"
    "измененные атрибуты доступа.";
constexpr const char* kTransferAttributesNotice =
    "В режиме 'Не передавать атрибуты' обмен информацией\n"
    "об индивидуальных защитных атрибутах параметров\n"
    "не производится.\n"
    "Это ускоряет работу, но не дает возможность предварительно\n"
    "контролировать доступность параметров на запись\n"
    "со стороны компьютера (программы-конфигуратора).\n"
    "При попытке записи защищенного параметра запрос записи\n"
    "будет отвергнут прибором с соответствующим сообщением\n"
    "как ошибка записи.\n"
    "Запись измененных атрибутов принадлежности в режиме\n"
    "'Не передавать атрибуты' также не производится.";

void MakeFolder(const std::string& path) {
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
}

}  // namespace

CSelvarDoc::CSelvarDoc() {
    const std::string home = ProgramHome();
    MakeFolder(home + "/protocol");
    MakeFolder(home + "/temp");
    const std::time_t now = std::time(nullptr);
    protocol_ = std::make_unique<Protocol::ProtocolFiles>(home + "/protocol", now);
    MakeProtocolParameter(now);
    silentRenderer_ = std::make_unique<ProgressRenderer>();
    // Reads make the configuration differ from its file.
    device_.onReadCompleted = [this] { modified_ = true; };
    if (!DeviceDescriptions().empty()) modification_ = &DeviceDescriptions().front();
}

CSelvarDoc::~CSelvarDoc() {
    StopBackgroundWork();
    TearDownConfiguration();
    device_.onReadCompleted = nullptr;
}

void CSelvarDoc::MakeProtocolParameter(std::time_t now) {
    protocolParameter_.name = kProtocolParameterName;
    protocolParameter_.description = "Имя файла для сохранения протокола";
    protocolParameter_.type = "string";
    protocolParameter_.value = Protocol::LogFileName(now);
    protocol_->SetCurrentLogName(protocolParameter_.value);
}

void CSelvarDoc::SetTitle(const std::string& title) {
    if (title == title_) return;
    const bool hadTitle = !title_.empty();
    title_ = title;
    if (title != kNoName && title != kUntitled && hadTitle && views && refreshAllowed)
        views->Refresh(false);
}

void CSelvarDoc::DeleteContents() {
    if (tree_) tree_->ClearValues();
}

bool CSelvarDoc::SetUpConfiguration(const CDeviceDescription* modification, bool useWizard) {
    TearDownConfiguration();
    if (useWizard && wizard) {
        std::optional<WizardChoice> choice = wizard->Run();
        if (!choice) {
            refuseDocuments = true;
            if (views) views->CloseMainWindow();
            return false;
        }
        Modes().autoRead = choice->autoRead;
        Modes().instantWrite = choice->instantWrite;
        Startup().autoReadStart = choice->autoRead ? 1 : 0;
        Startup().instantWriteStart = choice->instantWrite ? 1 : 0;
        pendingNumbers = choice->pendingNumbers;
        pendingTitle = choice->title;
        pendingSecondText = choice->secondText;
        if (choice->modification) modification = choice->modification;
    }
    if (modification) modification_ = modification;
    if (!modification_) return false;

    if (device_.LoadTable(*modification_) != TableLoadStatus::Ok) {
        lastError_ = "Не удалось прочитать таблицу параметров " +
                     DescriptionPath(modification_->parametersFile);
        return false;
    }
    ParameterTable& table = device_.Table();
    DescriptionTrees trees = LoadDescriptionTrees(table, *modification_, MakeWaitablePollTimer);
    tree_ = std::move(trees.ordinary);
    operative_ = std::move(trees.operative);
    hidden_ = std::move(trees.hidden);
    device_.structure = CollectStructure(*hidden_);
    SetConfigurationRoot(tree_.get());
    MakeProtocolParameter(std::time(nullptr));
    protocol_->PackOldLogs();
    device_.maximumAccess = Access::Level() == Access::kFull;
    setUp_ = true;
    return true;
}

void CSelvarDoc::TearDownConfiguration() {
    if (!setUp_) return;
    if (views) views->Clear();
    device_.ResetSession();
    if (ConfigurationRoot() == tree_.get()) SetConfigurationRoot(nullptr);
    OperationState().target = nullptr;
    selection_ = std::monostate{};
    // The structure table points into the hidden tree's parameters only
    // through the table, which stays; the trees go.
    device_.structure = {};
    tree_.reset();
    operative_.reset();
    hidden_.reset();
    setUp_ = false;
}

std::string CSelvarDoc::ActiveModification() {
    return modification_ ? modification_->displayName : std::string();
}

void CSelvarDoc::SetUpConfiguration(const CDeviceDescription& description) {
    loadSetUp_ = true;
    const bool exchanging = StopBackgroundWork();
    SetUpConfiguration(&description, false);
    // The tree is shown again at once; the operations need their thread.
    if (exchanging) StartExchangeThread(device_);
}

bool CSelvarDoc::NewDocument() {
    if (refuseDocuments) return false;
    if (RefuseWhilePolling(operative_.get())) return false;
    if (!openFileRequest) {
        DeleteContents();
        path_.clear();
        modified_ = false;
        if (title_.empty()) title_ = kUntitled;
    }
    if (!pendingTitle.empty()) {
        SetTitle(pendingTitle);
        pendingTitle.clear();
    } else if (title_ == kUntitled) {
        SetTitle(kNoName);
    }
    if (openFileRequest) {
        openFileRequest = false;
        if (openCommand) openCommand();
        return true;
    }
    ApplyPendingNumbers();
    return true;
}

void CSelvarDoc::ApplyPendingNumbers() {
    for (int i = 0; i < 3; ++i) {
        if (pendingNumbers[i] == -1) continue;
        if (Parameter* p = pendingNumberTarget ? pendingNumberTarget(i) : nullptr)
            p->value = std::to_string(pendingNumbers[i]);
        pendingNumbers[i] = -1;
    }
}

bool CSelvarDoc::OpenDocument(const std::string& path) {
    if (refuseDocuments) return false;
    lastError_.clear();
    lastErrorShown_ = false;
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
        if (Startup().driven && Startup().writeRequested) Outcome::Set(Outcome::kFileMissing);
        lastError_ = "Файл '" + path + "' не найден.";
        if (!Startup().driven) ShowMessage(lastError_, "", MessageIcon::Error);
        lastErrorShown_ = !Startup().driven;
        return false;
    }
    // The contents are emptied by the set-up of the file's configuration,
    // which comes only once the file was found sound: until then the open
    // document stays as it is.
    loadSetUp_ = false;
    std::string error;
    Svx::LoadResult result = Svx::LoadFile(path, *this, Startup().driven, error);
    if (result != Svx::LoadResult::Loaded) {
        // A configuration set up for the file no longer is the old
        // document's: it becomes a new one, so that Save cannot put it
        // over a file it did not come from.
        if (loadSetUp_) BecomeUntitled();
        lastError_ = error;
        lastErrorShown_ = result == Svx::LoadResult::Refused;
        if (result == Svx::LoadResult::LevelKept)
            lastError_ = "Пароль не введен: файл '" + path + "' не открыт.";
        if (result == Svx::LoadResult::Declined)
            lastError_ = "Файл '" + path + "' не открыт: модификация не переключена.";
        if (result == Svx::LoadResult::Failed && !Startup().driven) {
            ShowMessage(error, "", MessageIcon::Exclamation);
            lastErrorShown_ = true;
        }
        return false;
    }
    path_ = path;
    title_ = std::filesystem::path(path).filename().string();
    modified_ = false;
    if (afterOpen) {
        std::string why;
        if (!afterOpen(path, why)) {
            lastError_ = why;
            return false;
        }
    }
    return true;
}

void CSelvarDoc::BecomeUntitled() {
    path_.clear();
    SetTitle(kNoName);
    modified_ = false;
    // The load may have ended at another level than the set-up saw.
    device_.maximumAccess = Access::Level() == Access::kFull;
}

bool CSelvarDoc::SaveDocument(const std::string& path, bool quiet) {
    lastError_.clear();
    lastErrorShown_ = false;
    std::string error;
    if (!modification_ || !Svx::SaveFile(path, Access::Level(), modification_->displayName, common_,
                                         device_.Table(), error)) {
        lastError_ = error.empty() ? "Не удалось сохранить файл '" + path + "'." : error;
        const bool show = !Startup().driven && !quiet;
        if (show) ShowMessage(lastError_, "", MessageIcon::Error);
        lastErrorShown_ = show;
        return false;
    }
    path_ = path;
    title_ = std::filesystem::path(path).filename().string();
    modified_ = false;
    return true;
}

LaunchContext CSelvarDoc::Context() {
    return LaunchContext{device_, renderer ? *renderer : *silentRenderer_, presenter};
}

bool CSelvarDoc::StopBackgroundWork() {
    const bool exchanging = ExchangeThreadRunning();
    StopPolling(device_, [] { StopExchangeThread(); });
    return exchanging;
}

std::uint8_t CSelvarDoc::CheckConnectionAtStart() {
    if (Startup().silent) {
        Outcome::Reset();
        return 0;
    }
    if (Startup().noPort) return 0;
    // A driven run checks too, without boxes: a run without an operation
    // learns from it alone that the device is silent or unknown.
    Sio::Hold hold(device_.Port());
    if (!hold.Held()) {
        Outcome::Set(Outcome::kPortFailed);
        return 0;
    }
    Outcome::Clear(Outcome::kPortFailed);
    // The driving program's stop (a signal during start-up) cuts the
    // exchange in flight, not only the next one.
    Sio::ThreadAbort abort(device_.stopEvent);
    std::string error;
    std::uint8_t flags = 0;
    device_.RenewOperationStamp();
    device_.CheckDevice(error, &flags, false);
    RecordCheckOutcome(flags);
    return flags;
}

void CSelvarDoc::StartExchange() {
    StartExchangeThread(device_);
}

bool CSelvarDoc::RefuseWithoutTree(int command) {
    if (tree_) return false;
    if (command == CommandId::kReadStructure) {
        ShowMessage(kNoTree, kStructureImpossible, MessageIcon::Error);
    } else {
        ShowMessage(kNoTree, kImpossible, MessageIcon::Error);
    }
    return true;
}

void CSelvarDoc::AfterOperation(bool shown) {
    if (shown && refreshAllowed && views && !views->ModalDialogVisible()) views->Refresh(false);
}

bool CSelvarDoc::OnCommand(int command) {
    if (!Access::CommandAllowed(command, Startup().driven)) return false;
    LaunchContext context = Context();
    Parameter* selectedParameter = nullptr;
    DescBranch* selectedBranch = nullptr;
    if (auto* p = std::get_if<Parameter*>(&selection_)) selectedParameter = *p;
    if (auto* b = std::get_if<DescBranch*>(&selection_)) selectedBranch = *b;

    switch (command) {
        case CommandId::kReadAll:
            if (RefuseWithoutTree(command)) return false;
            AfterOperation(LaunchReadAll(context, tree_.get()));
            return true;
        case CommandId::kWriteAll:
            if (RefuseWithoutTree(command)) return false;
            AfterOperation(LaunchWriteAll(context, tree_.get()));
            return true;
        case CommandId::kWriteChanged:
            if (RefuseWithoutTree(command)) return false;
            AfterOperation(LaunchWriteChanged(context, tree_.get()));
            return true;
        case CommandId::kWriteErrors: {
            if (RefuseWithoutTree(command)) return false;
            std::vector<Parameter*> list;
            tree_->CollectErrors(list);
            if (list.empty()) {
                ShowMessage(kNoErrors, "", MessageIcon::Exclamation);
                return true;
            }
            AfterOperation(LaunchGroup(context, std::move(list), 2));
            return true;
        }
        case CommandId::kReadBranch:
            if (selectedParameter)
                AfterOperation(LaunchReadOne(context, *selectedParameter));
            else if (selectedBranch)
                AfterOperation(LaunchReadAll(context, selectedBranch));
            return true;
        case CommandId::kWriteBranch:
            if (selectedParameter)
                AfterOperation(LaunchWriteOne(context, *selectedParameter));
            else if (selectedBranch)
                AfterOperation(LaunchWriteAll(context, selectedBranch));
            return true;
        case CommandId::kWriteChangedBranch:
            if (selectedBranch) AfterOperation(LaunchWriteChanged(context, selectedBranch));
            return true;
        case CommandId::kCompareBranch:
            // Offered in the menu, but a comparison is started from the
            // single point dialog only.
            return true;
        case CommandId::kReadStructure:
            if (RefuseWithoutTree(command)) return false;
            AfterOperation(LaunchReadStructure(context, tree_.get()));
            return true;
        case CommandId::kBlockRead:
        case CommandId::kBlockWrite:
        case CommandId::kBlockWriteChanged:
            return BlockCommand(command);
        case CommandId::kInitialise:
            return Initialise();
        case CommandId::kCheckLink: {
            std::string error;
            device_.RenewOperationStamp();
            device_.CheckDevice(error, nullptr, true);
            return true;
        }
        case CommandId::kAutoRead:
            Modes().autoRead = !Modes().autoRead;
            return true;
        case CommandId::kInstantWrite:
            ToggleInstantWrite();
            return true;
        case CommandId::kTransferAttributes:
            ToggleTransferAttributes();
            return true;
        case CommandId::kRs232:
        case CommandId::kRs485:
            SetRs485Interface(command == CommandId::kRs485);
            return true;
        case CommandId::kSwitchModification:
            return SwitchModification();
        case CommandId::kForbidden:
            ShowMessage(kForbiddenText, "", MessageIcon::Error);
            return true;
        default:
            return false;
    }
}

bool CSelvarDoc::IsChecked(int command) const {
    switch (command) {
        case CommandId::kAutoRead:
            return Modes().autoRead;
        case CommandId::kInstantWrite:
            return Modes().instantWrite;
        case CommandId::kTransferAttributes:
            return Modes().noAttributes;
        case CommandId::kRs232:
            return !Rs485Interface();
        case CommandId::kRs485:
            return Rs485Interface();
        default:
            return false;
    }
}

bool CSelvarDoc::BlockCommand(int command) {
    if (!block) return false;
    if (auto* branch = dynamic_cast<DescBranch*>(block)) {
        LaunchContext context = Context();
        if (command == CommandId::kBlockRead) AfterOperation(LaunchReadAll(context, branch));
        if (command == CommandId::kBlockWrite) AfterOperation(LaunchWriteAll(context, branch));
        if (command == CommandId::kBlockWriteChanged)
            AfterOperation(LaunchWriteChanged(context, branch));
        return true;
    }
    // An element that is no branch: its own parameters as a group.
    std::vector<Parameter*> list;
    for (Parameter* p : block->parameters)
        if (command != CommandId::kBlockWriteChanged || p->HasPendingUpdate()) list.push_back(p);
    if (list.empty()) return true;
    LaunchContext context = Context();
    AfterOperation(LaunchGroup(context, std::move(list), command == CommandId::kBlockRead ? 1 : 2));
    return true;
}

bool CSelvarDoc::Initialise() {
    if (operative_ && operative_->IsPolling() == 1) {
        ShowMessage(kInitialisePolling, "Инициализация", MessageIcon::Exclamation);
        return false;
    }
    if (ShowMessage(kInitialiseQuestion, kInitialiseCaption, MessageIcon::Exclamation,
                    MessageButtons::YesNo) != MessageResult::Yes)
        return false;
    LaunchContext context = Context();
    bool shown = LaunchInitialise(context);
    if (views && refreshAllowed) views->Refresh(true);
    return shown;
}

bool CSelvarDoc::SwitchModification() {
    if (RefuseWhilePolling(operative_.get())) return false;
    if (ShowMessage(kSwitchQuestion, "", MessageIcon::Question, MessageButtons::YesNo) !=
        MessageResult::Yes)
        return false;
    const bool exchanging = StopBackgroundWork();
    if (!SetUpConfiguration(nullptr, true)) return false;
    if (exchanging) StartExchangeThread(device_);
    modified_ = false;
    return NewDocument();
}

void CSelvarDoc::ToggleInstantWrite() {
    if (Modes().instantWrite) {
        Modes().instantWrite = false;
        return;
    }
    Modes().instantWrite = true;
    ShowMessage(kInstantWriteNotice, "", MessageIcon::Information);
    // Whatever was edited before the mode came on goes out now.
    WriteChangedWithoutWindow(device_);
}

void CSelvarDoc::ToggleTransferAttributes() {
    if (Modes().noAttributes) {
        Modes().noAttributes = false;
        return;
    }
    Modes().noAttributes = true;
    ShowMessage(kTransferAttributesNotice, "", MessageIcon::Information);
}

bool CSelvarDoc::Rs485Interface() const {
    return SettingsStore::Instance().ReadNumber(kInterfaceSetting, 1) != 0;
}

void CSelvarDoc::SetRs485Interface(bool rs485) {
    SettingsStore::Instance().WriteNumber(kInterfaceSetting, rs485 ? 1 : 0);
}

std::string CSelvarDoc::StructureListing() const {
    return ::StructureListing(device_.structure, Access::Level());
}

std::string CSelvarDoc::HelpText(const Parameter& p) const {
    return modification_ ? ParameterHelpText(p, *modification_) : ParameterHelpText(p, "");
}

bool CSelvarDoc::RecordPolledValue(const Parameter& p, std::time_t now) {
    if (!recordProtocol) return false;
    protocol_->SetCurrentLogName(protocolParameter_.value);
    return protocol_->AppendRecord(p, now);
}

bool CSelvarDoc::ProtocolTick(std::time_t now) {
    protocol_->SetCurrentLogName(protocolParameter_.value);
    if (!protocol_->Tick(now)) return false;
    protocolParameter_.value = protocol_->currentLogName();
    return true;
}
