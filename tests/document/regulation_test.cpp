// The regulation of the eight objects against the simulated controller:
// the objects made from "r.st", the channel counts read by the watching
// thread, commands the device follows or ignores, and stopping the thread
// while an exchange runs.
#include "document/regulation.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>

#include "description/device_description.h"
#include "device/device.h"
#include "device/program_modes.h"
#include "link/sio.h"
#include "platform/app_state.h"
#include "support/message_recorder.h"
#include "support/sim_process.h"

namespace {

using Regulation::Control;
using Regulation::Pending;

// The device's exchanges, with the writes kept and, on demand, a read held
// until the test lets it go (an exchange that runs while the dialog closes).
class Watched : public ParameterDevice {
  public:
    explicit Watched(Device& d) : d_(d) {}

    int ReadParameter(Parameter& p) override {
        std::unique_lock lock(m_);
        ++reads_;
        if (holdReads_) {
            held_ = true;
            cv_.notify_all();
            cv_.wait(lock, [this] { return !holdReads_; });
        }
        lock.unlock();
        return d_.ReadParameter(p);
    }
    int WriteParameter(Parameter& p, int mode) override {
        {
            std::lock_guard lock(m_);
            writes_.push_back(p.name + "@" + std::to_string(p.deviceAddress) + "=" + p.value);
        }
        return d_.WriteParameter(p, mode);
    }
    int CompareParameter(Parameter& p) override { return d_.CompareParameter(p); }
    bool StopRequested() const override { return d_.StopRequested(); }
    OperationCounters& Counters() override { return d_.Counters(); }

    std::vector<std::string> Writes() {
        std::lock_guard lock(m_);
        return writes_;
    }
    int Reads() {
        std::lock_guard lock(m_);
        return reads_;
    }
    void HoldReads() {
        std::lock_guard lock(m_);
        holdReads_ = true;
    }
    void WaitUntilHeld() {
        std::unique_lock lock(m_);
        cv_.wait(lock, [this] { return held_; });
    }
    void Release() {
        std::lock_guard lock(m_);
        holdReads_ = false;
        cv_.notify_all();
    }

  private:
    Device& d_;
    std::mutex m_;
    std::condition_variable cv_;
    std::vector<std::string> writes_;
    int reads_ = 0;
    bool holdReads_ = false;
    bool held_ = false;
};

// What the watching thread reported, waited for without a clock.
struct Reports {
    std::mutex m;
    std::condition_variable cv;
    std::map<int, bool> enabled;
    std::vector<int> due;
    bool stopped = false;

    Regulation::WatchCallbacks Callbacks() {
        return {[this](int k, bool on) { Note([&] { enabled[k] = on; }); },
                [this](int k) { Note([&] { due.push_back(k); }); },
                [this] { Note([&] { stopped = true; }); }};
    }
    template <class F>
    void Note(F f) {
        std::lock_guard lock(m);
        f();
        cv.notify_all();
    }
    template <class P>
    void WaitFor(P done) {
        std::unique_lock lock(m);
        cv.wait(lock, [&] { return done(); });
    }
};

class RegulationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SetLinkPauses({0, 0});
        ResetConsecutiveTimeouts();
        Startup().driven = false;
        Modes().instantWrite = false;
        ASSERT_EQ(device.LoadTable(*FindDeviceDescription("b2")), TableLoadStatus::Ok);
    }
    void TearDown() override {
        SetLinkPauses({-1, -1});
        ResetConsecutiveTimeouts();
    }

    // b2 has two objects: objects 3 to 8 have no channels.
    bool Connect() {
        sim = std::make_unique<SimProcess>(
            SELVAR_SIM, std::vector<std::string>{"--modification", "b2", "--pty"});
        if (!sim->Running()) return false;
        device.Port().portName = sim->Address();
        device.Port().speed = 115200;
        return true;
    }
    std::unique_ptr<Control> Make() {
        std::string error;
        auto control = Control::Create(device, error, &watched);
        EXPECT_EQ(error, "");
        return control;
    }
    int CommandsSent() {
        int n = 0;
        for (const std::string& w : watched.Writes())
            if (w.rfind("r-s@", 0) == 0) ++n;
        return n;
    }

    MessageRecorder boxes;
    Device device;
    Watched watched{device};
    std::unique_ptr<SimProcess> sim;
};

}  // namespace

TEST_F(RegulationTest, WithoutStateParameterNothingIsMade) {
    device.Table().Allocate(1);
    device.Table().At(0)->name = "n.Ch";
    std::string error;
    EXPECT_EQ(Control::Create(device, error), nullptr);
    EXPECT_EQ(error, "Не найден параметр \"r.st\"!");
}

TEST_F(RegulationTest, ObjectsAreMadeFromTheStateParameter) {
    auto control = Make();
    ASSERT_NE(control, nullptr);
    for (int k = 0; k < Regulation::kObjects; ++k) {
        const Parameter& o = control->Object(k);
        EXPECT_EQ(o.name, "r.St");
        EXPECT_EQ(o.deviceAddress, k);
        EXPECT_EQ(o.description, "Состояние объекта №" + std::to_string(k + 1));
        EXPECT_EQ(o.type, "Стоп:Работа:Авария");
        EXPECT_EQ(o.value, "");
    }
    ASSERT_NE(control->NetworkStart(), nullptr);
    EXPECT_EQ(control->NetworkStartLabels(), (std::vector<std::string>{"Запрещен", "Разрешен"}));
}

TEST_F(RegulationTest, WatcherDisablesObjectsWithoutChannelsAndWaitsForEachRefresh) {
    ASSERT_TRUE(Connect());
    auto control = Make();
    EXPECT_EQ(control->ReadNetworkStart(), "Разрешен");
    Reports reports;
    control->StartWatching(reports.Callbacks());
    reports.WaitFor([&] { return reports.due.size() == 1; });
    {
        std::lock_guard lock(reports.m);
        ASSERT_EQ(reports.enabled.size(), 8u);
        EXPECT_TRUE(reports.enabled[0]);
        EXPECT_TRUE(reports.enabled[1]);
        for (int k = 2; k < 8; ++k)
            EXPECT_FALSE(reports.enabled[k]) << k;
        EXPECT_EQ(reports.due.front(), 0);
    }
    // Objects run from power-on when they have channels.
    for (int k = 0; k < 9; ++k) {
        reports.WaitFor([&] { return reports.due.size() == static_cast<std::size_t>(k + 1); });
        int due = 0;
        {
            std::lock_guard lock(reports.m);
            due = reports.due.back();
        }
        EXPECT_EQ(due, k % 8);
        EXPECT_EQ(control->Refresh(due), due < 2 ? "Работа" : "Стоп") << due;
    }
    EXPECT_TRUE(control->RequestStop());
    reports.WaitFor([&] { return reports.stopped; });
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(RegulationTest, CommandsTheDeviceFollowsAreSentOnce) {
    ASSERT_TRUE(Connect());
    auto control = Make();
    ASSERT_TRUE(control->Command(false, 1));
    EXPECT_EQ(control->PendingCommand(1), Pending::Stop);
    EXPECT_EQ(watched.Writes(), (std::vector<std::string>{"r-s@1=Стоп"}));
    EXPECT_EQ(control->Refresh(1), "Стоп");
    EXPECT_EQ(control->PendingCommand(1), Pending::None);

    ASSERT_TRUE(control->Command(true, 1));
    EXPECT_EQ(control->Refresh(1), "Работа");
    EXPECT_EQ(control->PendingCommand(1), Pending::None);
    EXPECT_EQ(CommandsSent(), 2);
    EXPECT_EQ(control->Refresh(0), "Работа");  // the other object was left alone
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(RegulationTest, IgnoredCommandsAreRetriedTwiceThenReported) {
    ASSERT_TRUE(Connect());
    auto control = Make();
    // An object without channels does not start.
    ASSERT_TRUE(control->Command(true, 4));
    for (int refresh = 1; refresh <= 2; ++refresh) {
        EXPECT_EQ(control->Refresh(4), "Стоп");
        EXPECT_EQ(control->Retries(4), refresh);
        EXPECT_TRUE(boxes.boxes.empty());
    }
    EXPECT_EQ(CommandsSent(), 3);
    control->Refresh(4);
    EXPECT_EQ(CommandsSent(), 3);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, Regulation::kStartFailed);
    EXPECT_EQ(boxes.boxes[0].caption, "Ошибка");
    EXPECT_EQ(boxes.boxes[0].icon, MessageIcon::Exclamation);
    EXPECT_EQ(control->PendingCommand(4), Pending::None);
    control->Refresh(4);
    EXPECT_EQ(boxes.boxes.size(), 1u);

    // With network control switched off a stop is ignored the same way.
    control->SetNetworkStart("Запрещен");
    EXPECT_EQ(watched.Writes().back(), "str.s@0=Запрещен");
    ASSERT_TRUE(control->Command(false, 0));
    for (int refresh = 0; refresh < 3; ++refresh)
        EXPECT_EQ(control->Refresh(0), "Работа");
    EXPECT_EQ(CommandsSent(), 6);
    ASSERT_EQ(boxes.boxes.size(), 2u);
    EXPECT_EQ(boxes.boxes[1].text,
              "Попытка остановки прибора по сети RS485 неудачна.\n Возможно управление прибором "
              "по сети заблокировано параметром STR.S");

    // A new command starts with fresh retries for every object.
    ASSERT_TRUE(control->Command(false, 0));
    control->Refresh(0);
    EXPECT_EQ(control->Retries(0), 1);
    EXPECT_TRUE(control->Command(false, 1));
    EXPECT_EQ(control->Retries(0), 0);
}

TEST_F(RegulationTest, CommandWithoutSelectedRowOnlyTellsSo) {
    auto control = Make();
    EXPECT_FALSE(control->Command(true, -1));
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, "Нет выделенного параметра!");
    EXPECT_EQ(boxes.boxes[0].icon, MessageIcon::Information);
    EXPECT_TRUE(watched.Writes().empty());
    for (int k = 0; k < Regulation::kObjects; ++k)
        EXPECT_EQ(control->PendingCommand(k), Pending::None);
}

TEST_F(RegulationTest, StopDuringAnExchangeEndsAfterItWithoutFurtherReads) {
    ASSERT_TRUE(Connect());
    auto control = Make();
    Reports reports;
    watched.HoldReads();
    control->StartWatching(reports.Callbacks());
    watched.WaitUntilHeld();  // the first "n.Ch" is on the line
    EXPECT_TRUE(control->RequestStop());
    // A refresh that was already asked for does nothing now.
    EXPECT_EQ(control->Refresh(0), "");
    watched.Release();
    reports.WaitFor([&] { return reports.stopped; });
    EXPECT_EQ(watched.Reads(), 1);
    std::lock_guard lock(reports.m);
    EXPECT_TRUE(reports.due.empty());
}

TEST_F(RegulationTest, DestroyingDuringAnExchangeWaitsAndReportsNothingMore) {
    ASSERT_TRUE(Connect());
    auto control = Make();
    Reports reports;
    watched.HoldReads();
    control->StartWatching(reports.Callbacks());
    watched.WaitUntilHeld();
    std::thread destroyer([&] { control.reset(); });
    watched.Release();
    destroyer.join();
    std::lock_guard lock(reports.m);
    EXPECT_FALSE(reports.stopped);  // nobody is left to close
    EXPECT_LE(reports.enabled.size(), 1u);
}
