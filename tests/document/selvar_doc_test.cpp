// The document headless: its life (set-up, new, open, save, switching the
// modification), the guards of its commands with their boxes, and the
// operations it starts against the simulated controller.
#include "document/selvar_doc.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>

#include "description/device_description.h"
#include "device/polling.h"
#include "device/program_modes.h"
#include "document/access_level.h"
#include "elements/invisible_element.h"
#include "link/device_io.h"
#include "platform/app_state.h"
#include "platform/paths.h"
#include "support/message_recorder.h"
#include "support/progress_recorder.h"
#include "support/sim_process.h"

namespace {

namespace fs = std::filesystem;

class ViewRecorder : public DocumentViews {
  public:
    void Clear() override { ++cleared; }
    void Refresh(bool fromTop) override { refreshes.push_back(fromTop); }
    void CloseMainWindow() override { ++closeRequests; }
    int cleared = 0;
    int closeRequests = 0;
    std::vector<bool> refreshes;
};

// Answers the wizard's "Готово" with a fixed choice, or cancels it.
class ScriptedWizard : public ModificationWizard {
  public:
    std::optional<WizardChoice> Run() override {
        ++runs;
        return finish ? std::optional<WizardChoice>(choice) : std::nullopt;
    }
    WizardChoice choice;
    bool finish = true;
    int runs = 0;
};

// The main window's status-bar progress, as the exchange thread reports it.
class StatusBarRecorder : public MainWindowNotifications {
  public:
    StatusBarRecorder() { SetMainWindowNotifications(this); }
    ~StatusBarRecorder() override { SetMainWindowNotifications(nullptr); }
    void ProgressOn() override { Add("on"); }
    void ProgressPosition(int percent) override { Add(std::to_string(percent)); }
    void ProgressOff() override { Add("off"); }
    void Refresh() override { Add("refresh"); }
    std::vector<std::string> Events() {
        std::lock_guard lock(mutex_);
        return events_;
    }

  private:
    void Add(std::string e) {
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(e));
    }
    std::mutex mutex_;
    std::vector<std::string> events_;
};

const CDeviceDescription* Mod(const char* alias) {
    return FindDeviceDescription(alias);
}

class Document : public ::testing::Test {
  protected:
    void SetUp() override {
        SetLinkPauses({0, 0});
        SetFinishPause(std::chrono::milliseconds(0));
        Access::SetLevel(Access::kFull);
        Modes().autoRead = Modes().instantWrite = Modes().noAttributes = false;
        Startup().driven = false;
        Startup().writeRequested = false;
        Outcome::Reset();
        doc = std::make_unique<CSelvarDoc>();
        doc->views = &views;
        doc->renderer = &window;
        dir = fs::temp_directory_path() / ("selvar-doc-" + std::to_string(getpid()));
        fs::create_directories(dir);
    }
    void TearDown() override {
        doc.reset();
        sim.reset();
        SetFinishPause(std::chrono::milliseconds(2000));
        SetLinkPauses({-1, -1});
        Startup().driven = false;
        Access::SetLevel(Access::kFull);
        Modes().instantWrite = Modes().noAttributes = false;
        Outcome::Reset();
        fs::remove_all(dir);
    }

    void Configure(const char* alias = "a1") {
        ASSERT_TRUE(doc->SetUpConfiguration(Mod(alias), false)) << doc->LastError();
    }

    bool Connect() {
        sim = std::make_unique<SimProcess>(
            SELVAR_SIM, std::vector<std::string>{"--modification", "a1", "--pty"});
        if (!sim->Running()) return false;
        doc->device().Port().portName = sim->Address();
        doc->device().Port().speed = 115200;
        doc->StartExchange();
        return true;
    }

    Parameter& P(const char* name, int index = -1) {
        Parameter* p = doc->device().FindParameter(name, index);
        EXPECT_NE(p, nullptr) << name;
        return *p;
    }

    std::string File(const char* name) const { return (dir / name).string(); }

    ViewRecorder views;
    ProgressRecorder window;
    std::unique_ptr<CSelvarDoc> doc;
    std::unique_ptr<SimProcess> sim;
    fs::path dir;
};

}  // namespace

TEST_F(Document, CreationMakesTheFoldersAndTheProtocolParameter) {
    EXPECT_TRUE(fs::is_directory(fs::path(ProgramHome()) / "protocol"));
    EXPECT_TRUE(fs::is_directory(fs::path(ProgramHome()) / "temp"));
    Parameter& log = doc->ProtocolParameter();
    EXPECT_EQ(log.name, "    ");
    EXPECT_EQ(log.description, "Имя файла для сохранения протокола");
    EXPECT_EQ(log.value, Protocol::LogFileName(std::time(nullptr)));

    // Recording is off until the row's box is ticked.
    Parameter value;
    value.name = "rEAd";
    EXPECT_FALSE(doc->RecordPolledValue(value, std::time(nullptr)));
    doc->recordProtocol = true;
    EXPECT_TRUE(doc->RecordPolledValue(value, std::time(nullptr)));
    EXPECT_TRUE(fs::exists(fs::path(doc->ProtocolFiles().folder()) / log.value));

    // At 09:12 of another day the parameter names that day's log.
    std::tm tm{};
    tm.tm_year = 2031 - 1900;
    tm.tm_mon = 2;
    tm.tm_mday = 4;
    tm.tm_hour = 9;
    tm.tm_min = 12;
    tm.tm_isdst = -1;
    std::time_t later = std::mktime(&tm);
    EXPECT_FALSE(doc->ProtocolTick(later - 120));
    EXPECT_TRUE(doc->ProtocolTick(later));
    EXPECT_EQ(log.value, "04-03-2031.log");
}

TEST_F(Document, CommandsWithoutATreeAreRefusedWithTheirBoxes) {
    MessageRecorder boxes;
    EXPECT_FALSE(doc->OnCommand(CommandId::kReadAll));
    EXPECT_FALSE(doc->OnCommand(CommandId::kWriteErrors));
    EXPECT_FALSE(doc->OnCommand(CommandId::kReadStructure));
    ASSERT_EQ(boxes.boxes.size(), 3u);
    EXPECT_EQ(boxes.boxes[0].text, "Дерево не определено");
    EXPECT_EQ(boxes.boxes[0].caption, "Операция невозможна");
    EXPECT_EQ(boxes.boxes[0].icon, MessageIcon::Error);
    EXPECT_EQ(boxes.boxes[2].caption, "Операция обнавления структуры невозможна");
    EXPECT_TRUE(window.title.empty());
}

TEST_F(Document, GuardsKeepTheConfigurationAndOpenNoWindow) {
    Configure();
    MessageRecorder boxes(MessageResult::No);
    doc->SetTitle("mine.svx");

    // No parameter with an error: said so, no window.
    EXPECT_TRUE(doc->OnCommand(CommandId::kWriteErrors));
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, "Ошибочных параметров не обнаружено!");
    EXPECT_EQ(boxes.boxes[0].icon, MessageIcon::Exclamation);

    // Nothing selected: the branch commands do nothing.
    EXPECT_TRUE(doc->OnCommand(CommandId::kReadBranch));
    EXPECT_TRUE(doc->OnCommand(CommandId::kWriteBranch));
    EXPECT_TRUE(window.title.empty());

    // While an operative parameter is polled: no new configuration, no
    // other modification, no initialisation.
    Parameter* polled = nullptr;
    doc->OperativeTree()->ForEachBranch([&](const DescBranch& b) {
        for (Parameter* p : b.parameters)
            if (!polled && p->pollTimer) polled = p;
    });
    ASSERT_NE(polled, nullptr);
    StartParameterPolling(*polled);
    boxes.boxes.clear();
    EXPECT_FALSE(doc->NewDocument());
    EXPECT_FALSE(doc->OnCommand(CommandId::kSwitchModification));
    EXPECT_FALSE(doc->OnCommand(CommandId::kInitialise));
    ASSERT_EQ(boxes.boxes.size(), 3u);
    EXPECT_EQ(boxes.boxes[0].text, Polling::kRefusedWhilePolling);
    EXPECT_EQ(boxes.boxes[1].text, Polling::kRefusedWhilePolling);
    EXPECT_EQ(boxes.boxes[2].caption, "Инициализация");
    EXPECT_EQ(boxes.boxes[2].icon, MessageIcon::Exclamation);
    EXPECT_EQ(doc->Title(), "mine.svx");
    EXPECT_EQ(doc->Modification(), Mod("a1"));
    StopParameterPolling(*polled);

    // Initialisation asks first; anything but Yes ends it.
    boxes.boxes.clear();
    EXPECT_FALSE(doc->OnCommand(CommandId::kInitialise));
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].caption, "Вы уверены, что хотите продолжить?");
    EXPECT_TRUE(window.title.empty());
}

TEST_F(Document, TitlesAndTheWizardsChoices) {
    ScriptedWizard wizard;
    wizard.choice.modification = Mod("b2");
    wizard.choice.autoRead = true;
    wizard.choice.title = "Котельная 3";
    wizard.choice.pendingNumbers = {4, -1, 7};
    doc->wizard = &wizard;
    Parameter target;
    doc->pendingNumberTarget = [&](int i) { return i == 2 ? &target : nullptr; };

    ASSERT_TRUE(doc->SetUpConfiguration(nullptr, true));
    EXPECT_EQ(doc->Modification(), Mod("b2"));
    EXPECT_TRUE(Modes().autoRead);
    EXPECT_TRUE(doc->NewDocument());
    EXPECT_EQ(doc->Title(), "Котельная 3");
    EXPECT_EQ(target.value, "7");
    EXPECT_EQ(doc->pendingNumbers, (std::array<int, 3>{-1, -1, -1}));

    // Without a pending title "Untitled" reads "Имя не задано".
    CSelvarDoc fresh;
    EXPECT_TRUE(fresh.NewDocument());
    EXPECT_EQ(fresh.Title(), CSelvarDoc::kNoName);

    // The switch asks; Yes sets up again through the wizard and starts anew.
    MessageRecorder boxes(MessageResult::Yes);
    wizard.choice.modification = Mod("a1");
    wizard.choice.title.clear();
    EXPECT_TRUE(doc->OnCommand(CommandId::kSwitchModification));
    EXPECT_EQ(boxes.boxes.at(0).text, "Переключить программу на другую модификацию?");
    EXPECT_EQ(doc->Modification(), Mod("a1"));
    EXPECT_GE(views.cleared, 1);
    EXPECT_FALSE(doc->IsModified());

    // A cancelled wizard ends the program: no more documents.
    wizard.finish = false;
    EXPECT_TRUE(doc->OnCommand(CommandId::kSwitchModification) == false);
    EXPECT_TRUE(doc->refuseDocuments);
    EXPECT_EQ(views.closeRequests, 1);
    EXPECT_FALSE(doc->NewDocument());
    Modes().autoRead = false;
}

TEST_F(Document, SavedFilesOpenWithTheirModificationAndReportDamage) {
    Configure("a1");
    P("in.sl", 1).value = "2.500";
    ASSERT_TRUE(doc->SaveDocument(File("a1.svx")));
    EXPECT_EQ(doc->Title(), "a1.svx");
    EXPECT_FALSE(doc->IsModified());

    // Another modification is active: the question, answered No, keeps it.
    Configure("b4");
    {
        MessageRecorder boxes(MessageResult::No);
        EXPECT_FALSE(doc->OpenDocument(File("a1.svx")));
        EXPECT_EQ(boxes.boxes.at(0).text,
                  "Переключить конфигуратор для работы с иной модификацией прибора?");
        EXPECT_EQ(doc->Modification(), Mod("b4"));
    }
    {
        MessageRecorder boxes(MessageResult::Yes);
        EXPECT_TRUE(doc->OpenDocument(File("a1.svx")));
        EXPECT_EQ(doc->Modification(), Mod("a1"));
        EXPECT_EQ(P("in.sl", 1).value, "2.500");
        EXPECT_EQ(doc->PathName(), File("a1.svx"));
    }

    // A damaged file: one box that names it.
    {
        std::ifstream in(File("a1.svx"), std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), {});
        std::ofstream(File("cut.svx"), std::ios::binary) << bytes.substr(0, bytes.size() - 3);
    }
    MessageRecorder boxes;
    EXPECT_FALSE(doc->OpenDocument(File("cut.svx")));
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_NE(boxes.boxes[0].text.find("cut.svx"), std::string::npos);
    EXPECT_EQ(doc->PathName(), File("a1.svx"));

    // Another table: the loader's own box, and no second one.
    {
        ParameterTable foreign;
        foreign.fileName = "/elsewhere/parameters9.zip";
        std::string error;
        ASSERT_TRUE(Svx::SaveFile(File("foreign.svx"), Access::kFull, "Селвар-А1", doc->common(),
                                  foreign, error));
    }
    boxes.boxes.clear();
    EXPECT_FALSE(doc->OpenDocument(File("foreign.svx")));
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(
        boxes.boxes[0].text.rfind("Файл сохранен на базе таблицы параметров 'parameters9.zip'", 0),
        0u);

    // A driven write of a missing file fails with the file-missing outcome.
    boxes.boxes.clear();
    Startup().driven = true;
    Startup().writeRequested = true;
    EXPECT_FALSE(doc->OpenDocument(File("none.svx")));
    EXPECT_EQ(Outcome::ExitCode(Outcome::Flags()), 200);
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(Document, ReadsWritesAndTheInstantWriteAgainstTheDevice) {
    Configure("a1");
    ASSERT_TRUE(Connect());
    MessageRecorder boxes;

    // The start's check is silent and identifies the device.
    Outcome::Set(Outcome::kBadAnswers);
    EXPECT_EQ(doc->CheckConnectionAtStart(),
              CheckFlags::kKnownModification | CheckFlags::kAnswered);
    EXPECT_EQ(doc->device().ConnectedModification(), Mod("a1"));
    EXPECT_EQ(Outcome::Flags(), 0u);
    EXPECT_TRUE(boxes.boxes.empty());

    EXPECT_TRUE(doc->OnCommand(CommandId::kReadAll));
    EXPECT_EQ(window.title, "Идет чтение параметров из прибора");
    EXPECT_EQ(OperationState().counters.failed, 0);
    EXPECT_TRUE(doc->IsModified());
    ASSERT_FALSE(views.refreshes.empty());

    // A branch selected: its read; a parameter selected: that one alone.
    doc->SetSelection(&P("in.sl", 1));
    window.lines.clear();
    EXPECT_TRUE(doc->OnCommand(CommandId::kReadBranch));
    EXPECT_EQ(window.title, "Идет чтение параметра из прибора");

    // Switching the instant write on sends what was edited before, at once
    // and without a window.
    ASSERT_TRUE(P("in.sl", 1).SetValueFromText("3.25"));
    ASSERT_TRUE(P("in.sl", 0).SetValueFromText("1.5"));
    window.title.clear();
    StatusBarRecorder statusBar;
    EXPECT_TRUE(doc->OnCommand(CommandId::kInstantWrite));
    EXPECT_TRUE(doc->IsChecked(CommandId::kInstantWrite));
    EXPECT_EQ(boxes.boxes.back().icon, MessageIcon::Information);
    EXPECT_TRUE(window.title.empty());
    // The next operation waits for the write; the device then holds both.
    Parameter& slope = P("in.sl", 1);
    doc->SetSelection(&slope);
    EXPECT_TRUE(doc->OnCommand(CommandId::kReadBranch));
    EXPECT_EQ(window.title, "Идет чтение параметра из прибора");
    EXPECT_EQ(slope.value, "3.250");
    EXPECT_FALSE(slope.needUpdate);
    EXPECT_FALSE(P("in.sl", 0).needUpdate);
    // Without a window, each write showed in the status bar; the read with
    // its window did not.
    const std::vector<std::string> shown = {"on", "100", "off", "refresh"};
    std::vector<std::string> events = statusBar.Events();
    ASSERT_EQ(events.size(), 2 * shown.size());
    EXPECT_EQ(std::vector<std::string>(events.begin(), events.begin() + 4), shown);
    EXPECT_EQ(std::vector<std::string>(events.begin() + 4, events.end()), shown);

    // Off again without a box.
    std::size_t before = boxes.boxes.size();
    EXPECT_TRUE(doc->OnCommand(CommandId::kInstantWrite));
    EXPECT_FALSE(doc->IsChecked(CommandId::kInstantWrite));
    EXPECT_EQ(boxes.boxes.size(), before);
}

TEST_F(Document, ADrivenRunChecksAtStartAndItsOperationHasTheLastWord) {
    Configure("a1");
    ASSERT_TRUE(Connect());
    MessageRecorder boxes;
    Startup().driven = true;
    const std::string line = doc->device().Port().portName;

    // Without a port to use there is no check.
    Startup().noPort = true;
    EXPECT_EQ(doc->CheckConnectionAtStart(), 0);
    Startup().noPort = false;
    EXPECT_EQ(Outcome::Flags(), 0u);

    // A port that cannot be opened is the run's outcome, without a box.
    doc->device().Port().portName = File("no-such-tty");
    EXPECT_EQ(doc->CheckConnectionAtStart(), 0);
    EXPECT_EQ(Outcome::ExitCode(Outcome::Flags()), 201);

    // Opened later, it is not; the known device clears the answer faults.
    doc->device().Port().portName = line;
    Outcome::Set(Outcome::kBadAnswers);
    EXPECT_EQ(doc->CheckConnectionAtStart(),
              CheckFlags::kKnownModification | CheckFlags::kAnswered);
    EXPECT_EQ(Outcome::Flags(), 0u);
    EXPECT_TRUE(boxes.boxes.empty());

    // What a failed check left gives way to the operation's own outcome.
    Outcome::Set(Outcome::kNoAnswer | Outcome::kPortFailed);
    EXPECT_TRUE(doc->OnCommand(CommandId::kReadAll));
    EXPECT_EQ(OperationState().counters.failed, 0);
    EXPECT_EQ(Outcome::Flags(), 0u);
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(Document, StructureReportAndHelpText) {
    Configure("a1");
    Access::SetLevel(Access::kFull);
    EXPECT_NE(doc->StructureListing().find("Ключ №1 "), std::string::npos);
    Access::SetLevel(Access::kMiddle);
    std::string listing = doc->StructureListing();
    EXPECT_EQ(listing.find("Ключ"), std::string::npos);
    EXPECT_EQ(listing.rfind("Канал №1 ", 0), 0u);
    EXPECT_NE(doc->HelpText(P("in.sl", 1)).find("(\"in.sl\")"), std::string::npos);
}

TEST_F(Document, AnOpenThatDoesNotCompleteLeavesTheDocumentAndItsFile) {
    Configure("b4");
    Parameter& kept = P("in.sl", 1);
    kept.value = "4.500";
    ASSERT_TRUE(doc->SaveDocument(File("plant.svx")));
    const auto plantSize = fs::file_size(File("plant.svx"));

    // An А1 file damaged inside a record.
    Configure("a1");
    P("in.sl", 1).value = "1.250";
    ASSERT_TRUE(doc->SaveDocument(File("a1.svx")));
    {
        std::ifstream in(File("a1.svx"), std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), {});
        std::ofstream(File("bad.svx"), std::ios::binary) << bytes.substr(0, bytes.size() - 3);
    }
    MessageRecorder boxes(MessageResult::Yes);
    ASSERT_TRUE(doc->OpenDocument(File("plant.svx")));
    EXPECT_EQ(P("in.sl", 1).value, "4.500");

    EXPECT_FALSE(doc->OpenDocument(File("bad.svx")));
    EXPECT_TRUE(doc->LastErrorShown());
    EXPECT_EQ(doc->Modification(), Mod("b4"));
    EXPECT_EQ(doc->PathName(), File("plant.svx"));
    EXPECT_EQ(doc->Title(), "plant.svx");
    EXPECT_EQ(P("in.sl", 1).value, "4.500");
    // Saving it again writes what came from it.
    ASSERT_TRUE(doc->SaveDocument(doc->PathName()));
    EXPECT_EQ(fs::file_size(File("plant.svx")), plantSize);

    // At the minimal level a full-level file asks its password; cancelled,
    // nothing is opened and nothing changes.
    Access::SetLevel(Access::kMinimal);
    boxes.boxes.clear();
    EXPECT_FALSE(doc->OpenDocument(File("a1.svx")));
    EXPECT_EQ(Access::Level(), Access::kMinimal);
    EXPECT_EQ(doc->Modification(), Mod("b4"));
    EXPECT_EQ(doc->PathName(), File("plant.svx"));
    EXPECT_EQ(P("in.sl", 1).value, "4.500");
    EXPECT_FALSE(doc->LastError().empty());
}

TEST_F(Document, TheMaximumAccessIsFixedWhenTheConfigurationIsSetUp) {
    MessageRecorder boxes(MessageResult::Yes);
    const char* refusal = "Эта операция доступна только на максимальном уровне доступа";
    // Set up at the middle level, then raised: still no initialisation.
    Access::SetLevel(Access::kMiddle);
    Configure("a1");
    EXPECT_FALSE(doc->device().maximumAccess);
    Access::SetLevel(Access::kFull);
    doc->OnCommand(CommandId::kInitialise);
    ASSERT_FALSE(boxes.boxes.empty());
    EXPECT_EQ(boxes.boxes.back().text, refusal);
    OperationState().counters.Reset();
    doc->OnCommand(CommandId::kReadStructure);
    EXPECT_EQ(OperationState().counters.total, 84);

    // Set up at the full level, then lowered: the structure reads in full
    // and initialisation is not refused for the level.
    Configure("a1");
    EXPECT_TRUE(doc->device().maximumAccess);
    Access::SetLevel(Access::kMiddle);
    boxes.boxes.clear();
    doc->OnCommand(CommandId::kInitialise);
    for (const auto& box : boxes.boxes)
        EXPECT_NE(box.text, refusal);
    doc->OnCommand(CommandId::kReadStructure);
    EXPECT_EQ(OperationState().counters.total, 118);
}

TEST_F(Document, AutomaticReadingIsOnAtStart) {
    EXPECT_EQ(Startup().autoReadStart.load(), 1);
    EXPECT_EQ(Startup().instantWriteStart.load(), 0);
    ProgramModes fresh;
    EXPECT_TRUE(fresh.autoRead);
    EXPECT_FALSE(fresh.instantWrite);

    ApplyModeStartValues();
    EXPECT_TRUE(doc->IsChecked(CommandId::kAutoRead));
    EXPECT_FALSE(doc->IsChecked(CommandId::kInstantWrite));
    // Without a port there is nothing to read automatically.
    Startup().noPort = true;
    ApplyModeStartValues();
    EXPECT_FALSE(doc->IsChecked(CommandId::kAutoRead));
    Startup().noPort = false;
    Modes().autoRead = false;
}

TEST_F(Document, TheInterfaceIsKeptInTheUserSettings) {
    EXPECT_TRUE(doc->Rs485Interface());
    EXPECT_TRUE(doc->IsChecked(CommandId::kRs485));
    EXPECT_FALSE(doc->IsChecked(CommandId::kRs232));

    EXPECT_TRUE(doc->OnCommand(CommandId::kRs232));
    EXPECT_TRUE(doc->IsChecked(CommandId::kRs232));
    EXPECT_FALSE(doc->IsChecked(CommandId::kRs485));
    // A second document (the next start) finds the choice.
    CSelvarDoc next;
    EXPECT_FALSE(next.Rs485Interface());

    EXPECT_TRUE(doc->OnCommand(CommandId::kRs485));
    EXPECT_TRUE(next.Rs485Interface());
}

TEST_F(Document, TheBlockCommandsWorkOnTheOpenBlockOnly) {
    Configure();
    ASSERT_TRUE(Connect());
    // Without a block the commands do nothing.
    EXPECT_FALSE(doc->OnCommand(CommandId::kBlockRead));

    Parameter& version = P("vEr");
    Elements::InvisibleElement block;
    block.ownsParameters = false;
    block.AddParameter(&version);
    doc->block = &block;
    version.value = CSelvarDoc::kNoName;
    EXPECT_TRUE(doc->OnCommand(CommandId::kBlockRead));
    EXPECT_NE(version.value, CSelvarDoc::kNoName);
    EXPECT_TRUE(version.error.empty()) << version.error;
    // Nothing changed: writing the changed ones opens no window.
    const int closed = window.closed;
    EXPECT_TRUE(doc->OnCommand(CommandId::kBlockWriteChanged));
    EXPECT_EQ(window.closed, closed);
    doc->block = nullptr;
}
