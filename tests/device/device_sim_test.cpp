// The Device against the simulated controller on a pseudo-terminal: the
// connection check, the per-parameter read and write with their log lines,
// the error-log file and the timeout watchdog.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "device/device.h"
#include "device/program_modes.h"
#include "link/sio.h"
#include "platform/app_state.h"
#include "support/message_recorder.h"
#include "support/sim_process.h"

namespace {

struct Line {
    std::string text;
    bool bold;
    std::uint32_t colour;
    bool italic;
};

class LogRecorder : public ProgressLog {
  public:
    void LogLine(const std::string& text, bool bold, std::uint32_t colour, bool italic) override {
        lines.push_back({text, bold, colour, italic});
    }
    std::vector<Line> lines;
};

constexpr const char* kTimeout = "Таймаут при передаче данных (нет связи)";

class DeviceSim : public ::testing::Test {
  protected:
    void SetUp() override {
        SetLinkPauses({0, 0});
        ResetConsecutiveTimeouts();
        Startup().driven = false;
        Modes().autoRead = false;
        OperationState().counters.Reset();
        OperationState().networkParametersWritten = false;
        device.SetProgressLog(&log);
    }
    void TearDown() override {
        SetLinkPauses({-1, -1});
        ResetConsecutiveTimeouts();
        Modes().autoRead = false;
        Startup().driven = false;
        if (!errorLog.empty()) std::filesystem::remove(errorLog);
    }

    // Starts a simulator of Селвар-А1 and connects the device to it; 115200
    // bit/s keeps the wait for a lost answer short.
    bool Connect(std::vector<std::string> args) {
        args.insert(args.begin(), {"--modification", "a1", "--pty"});
        sims.push_back(std::make_unique<SimProcess>(SELVAR_SIM, args));
        if (!sims.back()->Running()) return false;
        if (device.Port().IsOpen()) device.Port().Close();
        device.Port().portName = sims.back()->Address();
        device.Port().speed = 115200;
        device.RenewOperationStamp();
        return device.Port().Open() == 0;
    }

    Parameter& Find(const char* name, int index = -1) {
        Parameter* p = device.FindParameter(name, index);
        EXPECT_NE(p, nullptr) << name;
        static Parameter missing;
        return p ? *p : missing;
    }

    std::string UseErrorLog() {
        errorLog = (std::filesystem::temp_directory_path() /
                    ("selvar-errors-" + std::to_string(getpid()) + ".txt"))
                       .string();
        std::filesystem::remove(errorLog);
        device.errorLogPath = errorLog;
        return errorLog;
    }

    static std::string FileText(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    MessageRecorder boxes;
    LogRecorder log;
    Device device;
    std::vector<std::unique_ptr<SimProcess>> sims;
    std::string errorLog;
};

}  // namespace

TEST_F(DeviceSim, CheckReportsAKnownModification) {
    ASSERT_TRUE(Connect({}));
    std::string error = "old";
    std::uint8_t flags = 0xFF;
    std::string report = device.CheckDevice(error, &flags, true);
    EXPECT_EQ(
        report,
        "Прибор: Селвар\n(Модификация: А1.03)\nВерсия прошивки: 2.07\nКод послед. ошибки: 0\n");
    EXPECT_EQ(error, "");
    EXPECT_EQ(flags, CheckFlags::kAnswered | CheckFlags::kKnownModification);
    EXPECT_EQ(device.ConnectedKey(), "Селвар-А1");
    ASSERT_NE(device.ConnectedModification(), nullptr);
    EXPECT_EQ(device.ConnectedModification()->displayName, "Селвар-А1");

    // Only the report is shown: an empty error text makes no box.
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, report);
    EXPECT_EQ(boxes.boxes[0].caption, "Проверка прибора");
    EXPECT_EQ(boxes.boxes[0].icon, MessageIcon::Information);

    // The four reads are ordinary reads: logged and counted.
    ASSERT_EQ(log.lines.size(), 4u);
    EXPECT_EQ(log.lines[0].text, "  Чтение: n.Err = 0");
    EXPECT_EQ(log.lines[1].text, "  Чтение: dev = Селвар");
    EXPECT_EQ(log.lines[2].text, "  Чтение: p.ver = А1.03");
    EXPECT_EQ(log.lines[3].text, "  Чтение: ver = 2.07");
    for (const Line& l : log.lines) {
        EXPECT_FALSE(l.bold);
        EXPECT_EQ(l.colour, LogColour::kBlack);
    }
    EXPECT_EQ(OperationState().counters.processed, 4);

    Outcome::Reset(Outcome::kBadAnswers | Outcome::kUnknownDevice | Outcome::kNoAnswer);
    RecordCheckOutcome(flags);
    EXPECT_EQ(Outcome::Flags(), Outcome::kNoAnswer);
    Outcome::Reset();
}

TEST_F(DeviceSim, CheckTrimsTheDeviceNameAndRefusesUnknownKeys) {
    // One character of "p.ver" makes a key with that one character.
    ASSERT_TRUE(Connect({"--dev", "Селвар   ", "--pver", "Б"}));
    std::string error;
    std::uint8_t flags = 0;
    std::string report = device.CheckDevice(error, &flags, false);
    EXPECT_EQ(report,
              "Прибор: Селвар\n(Модификация: Б)\nВерсия прошивки: 2.07\nКод послед. "
              "ошибки: 0\n");
    EXPECT_EQ(flags, CheckFlags::kAnswered);
    EXPECT_EQ(device.ConnectedKey(), "Селвар-Б");
    EXPECT_EQ(device.ConnectedModification(), nullptr);
    EXPECT_TRUE(boxes.boxes.empty());

    Outcome::Reset(Outcome::kNoAnswer);
    RecordCheckOutcome(flags);
    EXPECT_EQ(Outcome::Flags(), Outcome::kUnknownDevice);
    Outcome::Reset();

    // The program's names are exact: another letter case is not one of them,
    // and neither are two letters taken from a longer version text.
    ASSERT_TRUE(Connect({"--dev", "селвар", "--pver", "а1.03"}));
    report = device.CheckDevice(error, &flags, false);
    EXPECT_EQ(device.ConnectedKey(), "селвар-а1");
    EXPECT_EQ(flags, CheckFlags::kAnswered);
}

TEST_F(DeviceSim, SilenceFillsTheErrorTextTheErrorLogAndFiresTheWatchdog) {
    ASSERT_TRUE(Connect({"--fault-noanswer", "1"}));
    std::string path = UseErrorLog();
    Modes().autoRead = true;
    std::string error;
    std::uint8_t flags = 0xFF;
    std::string report = device.CheckDevice(error, &flags, true);
    EXPECT_EQ(report, "");
    EXPECT_EQ(flags, 0);
    std::string t = std::string(kTimeout) + "\n";
    EXPECT_EQ(error, "Ошибка команды 'n.Err':\n" + t + "Ошибка команды 'dev':\n" + t +
                         "Ошибка команды 'ver':\n" + t);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].icon, MessageIcon::Error);
    EXPECT_EQ(boxes.boxes[0].text, error);
    ASSERT_EQ(log.lines.size(), 3u);
    EXPECT_EQ(log.lines[1].text.rfind("  Чтение: dev = ", 0), 0u);
    EXPECT_TRUE(log.lines[1].bold);
    EXPECT_EQ(log.lines[1].colour, LogColour::kReadFailed);
    EXPECT_EQ(ConsecutiveTimeouts(), 3);

    // Another operation: the count goes on from three.
    device.stopEvent.ResetEvent();
    Parameter& slope = Find("in.sl", 1);
    EXPECT_EQ(device.ReadParameter(slope), ExchangeCode::kFailed);
    EXPECT_EQ(log.lines.back().text.rfind("  Чтение: in.sl:1 = ", 0), 0u);
    EXPECT_EQ(ConsecutiveTimeouts(), 4);
    EXPECT_FALSE(device.StopRequested());
    EXPECT_EQ(boxes.boxes.size(), 1u);

    EXPECT_EQ(device.ReadParameter(Find("ver")), ExchangeCode::kFailed);
    EXPECT_TRUE(device.StopRequested());
    EXPECT_TRUE(device.autoReadSuspended);
    EXPECT_FALSE(Modes().autoRead);
    EXPECT_EQ(ConsecutiveTimeouts(), 0);
    ASSERT_EQ(boxes.boxes.size(), 2u);
    EXPECT_EQ(boxes.boxes[1].caption, "Предупреждение");
    EXPECT_EQ(boxes.boxes[1].icon, MessageIcon::Exclamation);
    EXPECT_EQ(boxes.boxes[1].text,
              "Так как прошло 5 неудачных попыток чтения параметров подряд,\n"
              "похоже что прибор Пеллум не подключен к компьютеру\n"
              "(или связь стабильно отсутствует по какой-либо другой причине). \n"
              "Ради избежания бессмысленных задержек и торможения компьютера\n"
              "режим автоматического чтения параметров был отключен.\n"
              "Вы можете заново включить этот режим в меню \"Режимы программы\".\n\n"
              "Операции обмена приостановлены.");

    // Stopped: nothing is done, counted or logged.
    int processed = OperationState().counters.processed;
    std::size_t lines = log.lines.size();
    EXPECT_EQ(device.ReadParameter(slope), Device::kStopped);
    EXPECT_EQ(device.WriteParameter(slope, 1), Device::kStopped);
    EXPECT_EQ(device.CompareParameter(slope), Device::kCompareStopped);
    EXPECT_EQ(OperationState().counters.processed, processed);
    EXPECT_EQ(log.lines.size(), lines);

    EXPECT_EQ(FileText(path),
              "n.Err - " + t + "dev - " + t + "ver - " + t + "in.sl:1 - " + t + "ver - " + t);
}

TEST_F(DeviceSim, AnAnswerResetsTheWatchdog) {
    ASSERT_TRUE(Connect({"--fault-noanswer", "1"}));
    Parameter& ver = Find("ver");
    EXPECT_EQ(device.ReadParameter(ver), ExchangeCode::kFailed);
    EXPECT_EQ(ConsecutiveTimeouts(), 1);
    device.autoReadSuspended = true;

    int completed = 0;
    device.onReadCompleted = [&] { ++completed; };
    ASSERT_TRUE(Connect({}));
    EXPECT_EQ(device.ReadParameter(ver), 0);
    EXPECT_EQ(ConsecutiveTimeouts(), 0);
    EXPECT_FALSE(device.autoReadSuspended);
    EXPECT_EQ(completed, 1);
}

TEST_F(DeviceSim, WritesAreLoggedAndFailuresGoToTheErrorLog) {
    ASSERT_TRUE(Connect({}));
    std::string path = UseErrorLog();
    Parameter& slope = Find("in.sl", 1);
    slope.value = "2.5";
    EXPECT_EQ(device.WriteParameter(slope, 1), 0) << slope.error;
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0].text, "  Запись: in.sl:1 = 2.5 [новое значение]");
    EXPECT_FALSE(log.lines[0].bold);
    slope.value = "?";
    EXPECT_EQ(device.ReadParameter(slope), 0);
    EXPECT_EQ(log.lines.back().text, "  Чтение: in.sl:1 = 2.500");

    // A refusal is logged bold red and recorded, but it is no timeout.
    Parameter& ver = Find("ver");
    ver.value = "1.0";
    int r = device.WriteParameter(ver, 1);
    EXPECT_EQ(r, ExchangeCode::kNoWriteMethod);
    EXPECT_EQ(log.lines.back().text, "  Запись: ver = 1.0 [новое значение]");
    EXPECT_TRUE(log.lines.back().bold);
    EXPECT_EQ(log.lines.back().colour, LogColour::kWriteFailed);
    // Without a reason there is nothing to record.
    EXPECT_TRUE(ver.error.empty());
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(ConsecutiveTimeouts(), 0);
    EXPECT_FALSE(OperationState().networkParametersWritten);

    // Network parameters: a refused value raises nothing, a written one does.
    Parameter& speed = Find("bPS");
    speed.value = "no such speed";
    EXPECT_NE(device.WriteParameter(speed, 1), 0);
    EXPECT_FALSE(OperationState().networkParametersWritten);
    ASSERT_EQ(device.ReadParameter(speed), 0);
    EXPECT_EQ(device.WriteParameter(speed, 2), 0) << speed.error;
    EXPECT_TRUE(OperationState().networkParametersWritten);
}

TEST_F(DeviceSim, ReadsAndWritesFeedOneWatchdogAndADrivenRunIsNotAsked) {
    Startup().driven = true;
    ASSERT_TRUE(Connect({"--fault-noanswer", "1"}));
    Parameter& slope = Find("in.sl", 1);
    slope.value = "2.5";

    // A write that times out fifth in a row stops with a log line, no box.
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(device.ReadParameter(slope), ExchangeCode::kFailed);
    slope.value = "2.5";
    EXPECT_FALSE(device.StopRequested());
    EXPECT_EQ(device.WriteParameter(slope, 1), ExchangeCode::kFailed);
    EXPECT_TRUE(device.StopRequested());
    EXPECT_EQ(log.lines.back().text, "Прошло 5 безуспешных попыток записи!");
    EXPECT_TRUE(log.lines.back().bold);
    EXPECT_EQ(log.lines.back().colour, LogColour::kWriteFailed);
    EXPECT_EQ(ConsecutiveTimeouts(), 0);

    // A read that times out fifth in a row suspends the automatic reading;
    // a driven run records instead of asking.
    device.stopEvent.ResetEvent();
    for (int i = 0; i < 4; ++i) {
        slope.value = "2.5";
        EXPECT_EQ(device.WriteParameter(slope, 1), ExchangeCode::kFailed);
    }
    EXPECT_FALSE(device.StopRequested());
    EXPECT_EQ(device.ReadParameter(slope), ExchangeCode::kFailed);
    EXPECT_TRUE(device.StopRequested());
    EXPECT_TRUE(device.autoReadSuspended);
    EXPECT_TRUE(boxes.boxes.empty());
    Startup().driven = false;
}

TEST_F(DeviceSim, ForcedFactoryValuesAreCheckedBeforeTheyAreWritten) {
    ASSERT_TRUE(Connect({}));
    Parameter& slope = Find("in.sl", 1);
    slope.forceWrite = true;
    slope.defaultValue = "1.000";  // the simulator starts at the factory value
    slope.value = "7";

    EXPECT_EQ(device.WriteParameter(slope, -1), 0);
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0].text, "Проверка:in.sl:1 = 1.000 [не меняем]");
    EXPECT_EQ(slope.value, "1.000");

    slope.value = "3";
    ASSERT_EQ(device.exchange_parameter(Direction::Write, slope), 0);
    log.lines.clear();
    EXPECT_EQ(device.WriteParameter(slope, -1), 0) << slope.error;
    ASSERT_EQ(log.lines.size(), 2u);
    EXPECT_EQ(log.lines[0].text, "Проверка:in.sl:1 =?= 1.000 [проверка]");
    EXPECT_EQ(log.lines[1].text, "Проверка:in.sl:1 = 1.000 [новое значение]");
    slope.value = "?";
    ASSERT_EQ(device.ReadParameter(slope), 0);
    EXPECT_EQ(slope.value, "1.000");

    // Without forceWrite the factory value is written directly.
    Parameter& other = Find("in.sl", 0);
    other.defaultValue = "4";
    log.lines.clear();
    EXPECT_EQ(device.WriteParameter(other, -1), 0) << other.error;
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0].text, "  Запись: in.sl:0 = 4 [новое значение]");
}

TEST_F(DeviceSim, ComparisonCountsDifferencesAndLeavesTheValue) {
    ASSERT_TRUE(Connect({}));
    Parameter& slope = Find("in.sl", 1);
    slope.value = "2.500";
    slope.error = "старое";
    EXPECT_EQ(device.CompareParameter(slope), 0);
    EXPECT_EQ(log.lines.back().text, "  Сравниваем: in.sl:1=2.500<>1.000");
    EXPECT_EQ(slope.value, "2.500");
    EXPECT_EQ(device.differenceCount, 1);
    EXPECT_EQ(slope.error, "Знач-е в приборе: '1.000',Ред-ый,польз.; старое");
    EXPECT_NE(device.differences.find("\n1) Параметер 'in.sl ("), std::string::npos)
        << device.differences;
    EXPECT_NE(device.differences.find(
                  "в конфигурации: значение=2.500,Редактируемый,принадлежит пользователю; в "
                  "приборе: значение=1.000,Редактируемый,принадлежит пользователю.\n"),
              std::string::npos)
        << device.differences;

    slope.value = "1.000";
    EXPECT_EQ(device.CompareParameter(slope), 0);
    EXPECT_EQ(device.differenceCount, 1);

    slope.value = Parameter::kNoData;
    EXPECT_EQ(device.CompareParameter(slope), 0);
    EXPECT_EQ(device.unsetCount, 1);
    EXPECT_EQ(device.differenceCount, 1);

    // Only ten differences are described; all are counted.
    device.differenceCount = 10;
    std::string before = device.differences;
    slope.value = "9.000";
    EXPECT_EQ(device.CompareParameter(slope), 0);
    EXPECT_EQ(device.differenceCount, 11);
    EXPECT_EQ(device.differences, before);
}
