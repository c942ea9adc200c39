// The exchange operations end to end: launchers, the exchange thread and the
// progress window against the simulated controller on a pseudo-terminal.
#include "device/exchange_operations.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <thread>

#include "description/desc_branch.h"
#include "description/structure_table.h"
#include "device/device.h"
#include "device/program_modes.h"
#include "document/access_level.h"
#include "link/sio.h"
#include "platform/app_state.h"
#include "platform/ui_services.h"
#include "support/message_recorder.h"
#include "support/progress_recorder.h"
#include "support/sim_process.h"

namespace {

class NoticeRecorder : public MainWindowNotifications {
  public:
    void NetworkSettingsWritten() override { ++networkWritten; }
    void CommandLineOperationDone() override { ++commandLineDone; }
    std::atomic<int> networkWritten{0};
    std::atomic<int> commandLineDone{0};
};

class ExchangeOps : public ::testing::Test {
  protected:
    void SetUp() override {
        SetLinkPauses({0, 0});
        SetFinishPause(std::chrono::milliseconds(0));
        ResetConsecutiveTimeouts();
        Startup().driven = false;
        Startup().closeWhenDone = false;
        Startup().readRequested = false;
        Startup().doneEvent = nullptr;
        Modes().autoRead = false;
        Modes().instantWrite = false;
        Access::SetLevel(Access::kFull);
        Outcome::Reset();
        OperationState().counters.Reset();
        OperationState().target = nullptr;
        OperationState().networkParametersWritten = false;
        SetMainWindowNotifications(&notices);
    }
    void TearDown() override {
        StopExchangeThread();
        SetMainWindowNotifications(nullptr);
        Startup().driven = false;
        Startup().closeWhenDone = false;
        Startup().readRequested = false;
        Startup().doneEvent = nullptr;
        SetConfigurationRoot(nullptr);
        OperationState().target = nullptr;
        SetFinishPause(std::chrono::milliseconds(2000));
        SetLinkPauses({-1, -1});
        ResetConsecutiveTimeouts();
        Outcome::Reset();
    }

    // Starts a simulator of Селвар-А1 and points the port at it; the exchange
    // thread opens the port for each operation.
    bool Connect(std::vector<std::string> args = {}) {
        args.insert(args.begin(), {"--modification", "a1", "--pty"});
        sim = std::make_unique<SimProcess>(SELVAR_SIM, args);
        if (!sim->Running()) return false;
        device.Port().portName = sim->Address();
        device.Port().speed = 115200;
        StartExchangeThread(device);
        return true;
    }

    Parameter* P(const char* name, int index) {
        Parameter* p = device.FindParameter(name, index);
        EXPECT_NE(p, nullptr) << name << ":" << index;
        return p;
    }

    DescBranch& Branch(DescBranch& parent, const char* name, std::vector<Parameter*> params) {
        auto b = std::make_unique<DescBranch>();
        b->SetName(name);
        for (Parameter* p : params)
            b->AddParameter(p);
        parent.branches.push_back(std::move(b));
        return *parent.branches.back();
    }

    // "Конфигурация" (in.sl:0, in.sl:1) with the children "Входы" (in.sh:0,
    // in.sh:1) and "Прочее" (in.F:0).
    void MakeTree() {
        root.SetName("Конфигурация");
        root.AddParameter(P("in.sl", 0));
        root.AddParameter(P("in.sl", 1));
        Branch(root, "Входы", {P("in.sh", 0), P("in.sh", 1)});
        Branch(root, "Прочее", {P("in.F", 0)});
        SetConfigurationRoot(&root);
    }

    std::vector<std::string> Matching(const std::string& prefix) {
        std::vector<std::string> out;
        for (const std::string& t : window.Texts())
            if (t.rfind(prefix, 0) == 0) out.push_back(t);
        return out;
    }

    MessageRecorder boxes;
    NoticeRecorder notices;
    ProgressRecorder window;
    Device device;
    DescBranch root;
    std::unique_ptr<SimProcess> sim;
    LaunchContext context{device, window};
};

}  // namespace

TEST_F(ExchangeOps, ReadAllCountsLogsBranchesAndClosesItself) {
    ASSERT_TRUE(Connect());
    MakeTree();
    // A name the device does not know fails without stopping the others.
    Parameter unknown;
    unknown.name = "zz.zz";
    unknown.type = "float";
    unknown.linearIndex = 0;
    root.branches[1]->AddParameter(&unknown);

    EXPECT_TRUE(LaunchReadAll(context, &root));
    OperationCounters& c = OperationState().counters;
    EXPECT_EQ(c.total, 6);
    EXPECT_EQ(c.processed, 6);
    EXPECT_EQ(c.failed, 1);
    EXPECT_EQ(Matching("Читаем ветвь"),
              (std::vector<std::string>{"Читаем ветвь 'Конфигурация'", "Читаем ветвь 'Входы'",
                                        "Читаем ветвь 'Прочее'"}));
    EXPECT_EQ(Matching("  Чтение: in.sl:1"), std::vector<std::string>{"  Чтение: in.sl:1 = 1.000"});
    EXPECT_EQ(window.title, "Идет чтение параметров из прибора");
    EXPECT_EQ(window.counters, "6 из 6");
    EXPECT_EQ(window.failed, 1);
    // The end step: an empty last line, "Закрыть", closed by itself.
    EXPECT_EQ(window.Texts().back(), "");
    EXPECT_EQ(window.buttons.back(), ProgressWindow::kClose);
    EXPECT_EQ(window.closed, 1);
    EXPECT_EQ(RegisteredProgressWindow(), nullptr);
    EXPECT_FALSE(device.Port().IsOpen());  // opened for the operation only
    EXPECT_EQ(Outcome::Flags(), 0u);

    // Reading one parameter counts it alone.
    window.lines.clear();
    Parameter* slope = P("in.sl", 1);
    slope->value = "?";
    EXPECT_TRUE(LaunchReadOne(context, *slope));
    EXPECT_EQ(slope->value, "1.000");
    EXPECT_EQ(c.processed, 1);
    EXPECT_EQ(device.singleTarget, nullptr);
    EXPECT_FALSE(device.readOneEvent.IsSet());  // not run again and again
    EXPECT_TRUE(Matching("Читаем ветвь").empty());
}

TEST_F(ExchangeOps, ADrivenRunClosesItsWindowWhenAskedAndSignalsDone) {
    ASSERT_TRUE(Connect());
    MakeTree();
    Event done(Event::Reset::Manual, false);
    Startup().driven = true;
    Startup().doneEvent = &done;
    context.autoClose = false;

    // Without "close" the window stays for the user, with the hint; the
    // done event is set all the same, but no read was asked for.
    std::thread user([&] {
        while (!RegisteredProgressWindow() || window.buttons.empty() ||
               window.buttons.back() != ProgressWindow::kClose || !done.IsSet())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        RegisteredProgressWindow()->PressButton();
    });
    EXPECT_TRUE(LaunchReadAll(context, &root));
    user.join();
    EXPECT_EQ(window.Texts().back(), "Для закрытия окна нажмите кнопку \"Закрыть\".");
    EXPECT_EQ(notices.commandLineDone, 0);

    // With "close" and "read" the window closes itself and the main window
    // is told that the command-line read is over.
    done.ResetEvent();
    Startup().closeWhenDone = true;
    Startup().readRequested = true;
    window.lines.clear();
    EXPECT_TRUE(LaunchReadAll(context, &root));
    EXPECT_EQ(window.Texts().back(), "");
    EXPECT_EQ(RegisteredProgressWindow(), nullptr);
    EXPECT_TRUE(done.IsSet());
    EXPECT_EQ(notices.commandLineDone, 1);
}

TEST_F(ExchangeOps, WritesOnlyWhatChanged) {
    ASSERT_TRUE(Connect());
    MakeTree();
    for (Parameter* p : {P("in.sl", 0), P("in.sl", 1), P("in.sh", 0), P("in.sh", 1), P("in.F", 0)})
        p->value = "1";

    // Nothing changed: no branch line, nothing processed.
    EXPECT_TRUE(LaunchWriteChanged(context, &root));
    EXPECT_TRUE(Matching("Пишем ветвь").empty());
    EXPECT_TRUE(Matching("  Запись").empty());
    EXPECT_EQ(OperationState().counters.total, 0);
    EXPECT_EQ(OperationState().counters.processed, 0);

    // One change: only its branch is named and only it is written.
    window.lines.clear();
    Parameter* shift = P("in.sh", 1);
    shift->value = "2.500";
    shift->needUpdate = true;
    EXPECT_TRUE(LaunchWriteChanged(context, &root));
    EXPECT_EQ(Matching("Пишем ветвь"), std::vector<std::string>{"Пишем ветвь 'Входы'"});
    EXPECT_EQ(Matching("  Запись"),
              std::vector<std::string>{"  Запись: in.sh:1 = 2.500 [новое значение]"});
    EXPECT_EQ(OperationState().counters.total, 1);
    EXPECT_EQ(OperationState().counters.processed, 1);
    shift->value = "?";
    ASSERT_EQ(device.ReadParameter(*shift), 0);
    EXPECT_EQ(shift->value, "2.500");

    // Writing all names every branch and writes every parameter.
    window.lines.clear();
    EXPECT_TRUE(LaunchWriteAll(context, &root));
    EXPECT_EQ(Matching("Пишем ветвь").size(), 3u);
    EXPECT_EQ(Matching("  Запись").size(), 5u);
    EXPECT_EQ(OperationState().counters.processed, 5);
    EXPECT_EQ(window.title, "Идет запись параметров в прибор");
}

TEST_F(ExchangeOps, InitialisationWritesTheResetCodeFirstAndSkipsMissingFactoryValues) {
    ASSERT_TRUE(Connect());
    MakeTree();
    for (Parameter* p : {P("in.sl", 0), P("in.sl", 1), P("in.sh", 0), P("in.sh", 1), P("in.F", 0)})
        p->defaultValue = "3";
    P("in.sh", 0)->defaultValue.clear();  // no factory value
    P("in.F", 0)->forceWrite = true;      // read and compared first
    P("in.F", 0)->defaultValue = "2";     // what the simulator already holds

    EXPECT_TRUE(LaunchInitialise(context));
    std::vector<std::string> writes;
    for (const std::string& t : window.Texts())
        if (t.find("[") != std::string::npos) writes.push_back(t);
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ(writes.front().rfind("  Запись: r.co = ", 0), 0u) << writes.front();
    EXPECT_EQ(writes.back(), "Проверка:in.F:0 = 2 [не меняем]");
    for (const std::string& w : writes)
        EXPECT_EQ(w.find("in.sh:0 "), std::string::npos) << w;
    EXPECT_EQ(writes.size(), 5u);  // r.co, in.sl:0, in.sl:1, in.sh:1, in.F:0
    EXPECT_EQ(OperationState().counters.failed, 0);
    EXPECT_EQ(window.title, "Идет инициализация прибора");

    // Set up below the maximum access level nothing starts, whatever the
    // level is now.
    device.maximumAccess = false;
    EXPECT_FALSE(LaunchInitialise(context));
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, "Эта операция доступна только на максимальном уровне доступа");
    EXPECT_EQ(boxes.boxes[0].icon, MessageIcon::Error);
    device.maximumAccess = true;
}

TEST_F(ExchangeOps, StopEndsTheRunAtTheNextParameterAndTheButtonThenCloses) {
    ASSERT_TRUE(Connect());
    MakeTree();
    // The user presses "Остановить" as the second parameter is shown.
    int reads = 0;
    window.onLine = [&](const std::string& text) {
        if (text.rfind("  Чтение", 0) == 0 && ++reads == 2)
            RegisteredProgressWindow()->PressButton();
    };
    struct CloseAfterHint : ProgressPresenter {
        ProgressRecorder& r;
        explicit CloseAfterHint(ProgressRecorder& rec) : r(rec) {}
        bool Exec(ProgressWindow& w) override {
            r.WaitForLine("Для закрытия окна нажмите кнопку \"Закрыть\".");
            EXPECT_FALSE(w.IsClosed());
            EXPECT_EQ(w.ButtonText(), ProgressWindow::kClose);
            w.PressButton();
            return true;
        }
    } presenter(window);
    context.presenter = &presenter;
    context.autoClose = false;

    EXPECT_FALSE(LaunchReadAll(context, &root));  // cancelled by the user
    EXPECT_EQ(reads, 2);
    EXPECT_EQ(OperationState().counters.processed, 2);
    EXPECT_EQ(window.buttons.front(), ProgressWindow::kStop);
    const ProgressRecorder::Line& hint = window.lines.back();
    EXPECT_TRUE(hint.bold);
    EXPECT_EQ(hint.colour, LogColour::kHint);
    EXPECT_EQ(window.closed, 1);
    EXPECT_EQ(Outcome::Flags(), Outcome::kCancelled);

    // The closing press leaves no stop behind for the next operation.
    window.onLine = nullptr;
    context.presenter = nullptr;
    context.autoClose = true;
    Parameter* shift = P("in.sh", 1);
    shift->value = "?";
    EXPECT_TRUE(LaunchReadOne(context, *shift));
    EXPECT_EQ(OperationState().counters.processed, 1);
    EXPECT_NE(shift->value, "?");
}

TEST_F(ExchangeOps, FiveTimeoutsInARowStopAndCountAcrossOperations) {
    ASSERT_TRUE(Connect({"--fault-noanswer", "1"}));
    DescBranch small;
    small.SetName("Три");
    for (Parameter* p : {P("in.sl", 0), P("in.sl", 1), P("in.sh", 0)})
        small.AddParameter(p);
    EXPECT_TRUE(LaunchReadAll(context, &small));
    EXPECT_EQ(OperationState().counters.failed, 3);
    EXPECT_EQ(ConsecutiveTimeouts(), 3);

    MakeTree();
    window.lines.clear();
    EXPECT_TRUE(LaunchReadAll(context, &root));
    // The fourth and fifth timeout in a row stop the operation.
    EXPECT_EQ(OperationState().counters.processed, 2);
    EXPECT_EQ(Matching("  Чтение").size(), 2u);
    EXPECT_EQ(window.closed, 2);
    EXPECT_FALSE(device.stopEvent.IsSet());
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].caption, "Предупреждение");
}

TEST_F(ExchangeOps, GroupComparisonDescribesTenDifferencesAndCountsAll) {
    ASSERT_TRUE(Connect());
    std::vector<Parameter*> list;
    for (const char* name : {"in.sl", "in.sh", "in.F", "in.Lo", "in.Hi", "in.cr"})
        for (int i = 0; i < 2; ++i) {
            Parameter* p = P(name, i);
            if (!p) continue;
            p->value = "7.000";
            list.push_back(p);
        }
    ASSERT_EQ(list.size(), 12u);
    device.differenceCount = 5;  // a group comparison starts afresh
    EXPECT_TRUE(LaunchGroup(context, list, 3));
    EXPECT_EQ(device.differenceCount, 12);
    EXPECT_EQ(device.groupMode, 0);
    EXPECT_EQ(OperationState().counters.processed, 12);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    const std::string& text = boxes.boxes[0].text;
    EXPECT_EQ(text.rfind("Найдены следующие различия:\n\n\n1) Параметер 'in.sl (", 0), 0u) << text;
    EXPECT_NE(text.find("\n10) Параметер"), std::string::npos);
    EXPECT_EQ(text.find("\n11) Параметер"), std::string::npos);
    EXPECT_EQ(boxes.boxes[0].caption, "Сообщение");
    EXPECT_EQ(boxes.boxes[0].icon, MessageIcon::Information);
    EXPECT_EQ(P("in.sl", 0)->value, "7.000");  // the configuration keeps its values
}

TEST_F(ExchangeOps, WritingErrorsSkipsTheRemarkAndAnEmptyListOpensNothing) {
    ASSERT_TRUE(Connect());
    MakeTree();
    EXPECT_FALSE(LaunchWriteErrors(context));
    EXPECT_EQ(window.closed, 0);
    EXPECT_TRUE(window.title.empty());

    P("in.sl", 1)->error = "Таймаут";
    P("in.sl", 1)->value = "4.000";
    P("in.sh", 0)->error = Parameter::kNotInitialised;
    EXPECT_TRUE(LaunchWriteErrors(context));
    EXPECT_EQ(window.title, "Идет запись группы параметров в прибор");
    EXPECT_EQ(Matching("  Запись"),
              std::vector<std::string>{"  Запись: in.sl:1 = 4.000 [новое значение]"});
    EXPECT_EQ(OperationState().counters.total, 1);
}

TEST_F(ExchangeOps, StructuralParametersAreReadInTheirSixGroups) {
    ASSERT_TRUE(Connect());
    namespace ST = StructureTable;
    const std::pair<std::size_t, Parameter*> entries[] = {
        {ST::kChannelInputs + 7, P("in.sl", 0)},    {ST::kSwitchInputs + 1, P("in.sl", 1)},
        {ST::kKeyBlock + 9, P("in.F", 0)},          {ST::kSecondBlock + 8, P("in.F", 1)},
        {ST::kKeyBlock + 1, P("in.sh", 0)},         {ST::kKeyCounts, P("in.sh", 1)},
        {ST::kConverterSources + 2, P("in.Lo", 0)}, {ST::kLastGroup + 7, P("in.Lo", 1)}};
    for (const auto& [entry, p] : entries)
        device.structure[entry] = p;

    EXPECT_TRUE(LaunchReadStructure(context, &root));
    std::vector<std::string> reads;
    const std::string head = "  Чтение: ";
    for (const std::string& t : Matching(head))
        reads.push_back(t.substr(head.size(), t.find(' ', head.size()) - head.size()));
    // Group 3 interleaves the two blocks row by row: key 1 of row 0, then
    // row 1 of the second block before key 1 of row 1 of the first.
    EXPECT_EQ(reads, (std::vector<std::string>{"in.sl:0", "in.sl:1", "in.sl:1", "in.sl:1",
                                               "in.sl:1", "in.sh:0", "in.F:1", "in.F:0", "in.sh:1",
                                               "in.Lo:0", "in.Lo:1"}));
    // The empty entries of the key blocks and key counts leave the range.
    EXPECT_EQ(OperationState().counters.total, 192 - 125 - 7);
    EXPECT_EQ(OperationState().counters.processed, 11);
    EXPECT_FALSE(window.okEnabled);
}

TEST_F(ExchangeOps, InstantWriteRunsWithoutAWindow) {
    ASSERT_TRUE(Connect());
    MakeTree();
    Parameter* shift = P("in.sh", 0);
    shift->value = "5.000";
    shift->needUpdate = true;
    EXPECT_FALSE(InstantWrite(device, *shift));  // the mode is off
    Modes().instantWrite = true;
    EXPECT_TRUE(InstantWrite(device, *shift));
    // The next operation waits for it; afterwards the device holds the value.
    EXPECT_TRUE(LaunchReadOne(context, *shift));
    EXPECT_EQ(shift->value, "5.000");
    EXPECT_EQ(shift->error, "");
}

TEST_F(ExchangeOps, TreeComparisonCountsOnAndNetworkWritesAreReportedOnce) {
    ASSERT_TRUE(Connect());
    MakeTree();
    ASSERT_TRUE(LaunchReadAll(context, &root));
    P("in.sh", 1)->value = "8.000";
    device.differenceCount = 2;  // a tree comparison continues counting
    // As a written network parameter leaves it for the exchange thread.
    OperationState().networkParametersWritten = true;
    EXPECT_TRUE(LaunchCompare(context, &root));
    EXPECT_EQ(device.differenceCount, 3);
    EXPECT_EQ(OperationState().counters.processed, 5);
    EXPECT_EQ(Matching("Сравниваем ветвь").size(), 3u);
    EXPECT_EQ(P("in.sh", 1)->value, "8.000");
    EXPECT_EQ(notices.networkWritten, 1);
    EXPECT_TRUE(LaunchReadOne(context, *P("in.sl", 0)));
    EXPECT_EQ(notices.networkWritten, 1);
}

TEST(ExchangeThread, StopsWithoutAnOperationAndTwice) {
    Device device;
    DescBranch root;
    ProgressRenderer quiet;
    LaunchContext context{device, quiet};
    // No thread to run it: the launcher refuses instead of waiting forever.
    EXPECT_FALSE(LaunchReadAll(context, &root));
    EXPECT_EQ(RegisteredProgressWindow(), nullptr);
    StartExchangeThread(device);
    StartExchangeThread(device);  // one thread only
    EXPECT_TRUE(ExchangeThreadRunning());
    StopExchangeThread();
    EXPECT_FALSE(ExchangeThreadRunning());
    StopExchangeThread();
    OperationState().target = nullptr;
}
