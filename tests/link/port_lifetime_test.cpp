// The port's lifetime against threads that exchange at the same time: opens
// on demand, closes, reopens after the adapter vanished. Run under
// ThreadSanitizer by make test-threads.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

#include "link/device_io.h"
#include "link/frame.h"
#include "model/parameter.h"
#include "platform/app_state.h"
#include "support/scripted_peer.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr const char* kTimeout = "Таймаут при передаче данных (нет связи)";

// Answers every read with the int16 value 42.
std::optional<std::string> FortyTwo(const ScriptedPeer::Request& r) {
    return ScriptedPeer::Answer(r.Hash(), {0, 42});
}

std::unique_ptr<Parameter> Reading() {
    auto p = std::make_unique<Parameter>();
    p->name = "r.co";
    p->type = "int16";
    p->value = Parameter::kNoData;
    return p;
}

class PortLifetime : public ::testing::Test {
  protected:
    void SetUp() override {
        SetLinkPauses({0, 0});
        Outcome::Reset();
        link = std::filesystem::temp_directory_path() /
               ("selvar-link-" + std::to_string(getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove(link);
    }
    void TearDown() override {
        std::filesystem::remove(link);
        SetLinkPauses({-1, -1});
    }
    // The far end goes away and the name points nowhere.
    void Unplug(std::unique_ptr<ScriptedPeer>& peer) {
        peer.reset();
        std::filesystem::remove(link);
    }
    // Opens the port by the adapter's stable name.
    bool OpenThroughLink(DeviceIO& io) {
        io.Port().portName = link.string();
        io.Port().speed = 115200;
        return io.Port().Open() == 0;
    }
    // The stable name of the adapter, pointing at whichever peer is plugged in.
    void Plug(const ScriptedPeer& peer) {
        std::filesystem::remove(link);
        std::filesystem::create_symlink(peer.Path(), link);
    }
    std::filesystem::path link;
};

}  // namespace

TEST_F(PortLifetime, ThreadsExchangingOnAClosedPortWhileItIsOpenedAndClosed) {
    ScriptedPeer peer(FortyTwo);
    DeviceIO io;
    io.Port().portName = peer.Path();
    io.Port().speed = 115200;

    // Each exchange opens the closed port for itself; another thread opens
    // and closes it meanwhile, as the settings dialog does.
    std::atomic<bool> done{false};
    std::atomic<int> ok{0}, wrong{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 4; ++t)
        readers.emplace_back([&] {
            for (int i = 0; i < 25; ++i) {
                auto p = Reading();
                if (io.exchange_parameter(Direction::Read, *p) == ExchangeCode::kOk) {
                    ++ok;
                    if (p->value != "42") ++wrong;
                }
            }
        });
    std::thread toggler([&] {
        while (!done) {
            io.Port().Open();
            std::this_thread::sleep_for(2ms);
            io.Port().Close();
            std::this_thread::sleep_for(1ms);
        }
    });
    for (std::thread& r : readers)
        r.join();
    done = true;
    toggler.join();
    EXPECT_GT(ok.load(), 0);
    EXPECT_EQ(wrong.load(), 0);
    // The holds are over and the last close was the toggler's.
    EXPECT_FALSE(io.Port().IsOpen());
}

TEST_F(PortLifetime, ThePortOpenedForOneExchangeIsClosedAfterIt) {
    ScriptedPeer peer(FortyTwo);
    DeviceIO io;
    io.Port().portName = peer.Path();
    io.Port().speed = 115200;
    auto p = Reading();
    EXPECT_EQ(io.exchange_parameter(Direction::Read, *p), ExchangeCode::kOk);
    EXPECT_FALSE(io.Port().IsOpen());
    // A port the program opened stays open.
    ASSERT_EQ(io.Port().Open(), 0);
    EXPECT_EQ(io.exchange_parameter(Direction::Read, *p), ExchangeCode::kOk);
    EXPECT_TRUE(io.Port().IsOpen());
}

TEST_F(PortLifetime, APortThatCannotBeOpenedIsNoConnectionWithEveryAttempt) {
    DeviceIO io;
    io.Port().portName = (link.string() + "-missing");
    auto p = Reading();
    EXPECT_EQ(io.exchange_parameter(Direction::Read, *p), ExchangeCode::kFailed);
    EXPECT_EQ(p->error, kTimeout);
    EXPECT_EQ(Outcome::Flags(), Outcome::kNoAnswer);
}

TEST_F(PortLifetime, AnAdapterThatVanishesIsNoConnectionAndCarriesOnWhenItReturns) {
    auto peer = std::make_unique<ScriptedPeer>(FortyTwo);
    Plug(*peer);
    DeviceIO io;
    ASSERT_TRUE(OpenThroughLink(io));
    auto p = Reading();
    ASSERT_EQ(io.exchange_parameter(Direction::Read, *p), ExchangeCode::kOk);

    // Unplugged: the far end goes away and the name points nowhere.
    Unplug(peer);
    for (int i = 0; i < 3; ++i) {
        auto q = Reading();
        EXPECT_EQ(io.exchange_parameter(Direction::Read, *q), ExchangeCode::kFailed);
        EXPECT_EQ(q->error, kTimeout) << "exchange " << i;
    }
    EXPECT_EQ(Outcome::Flags(), Outcome::kNoAnswer);
    EXPECT_TRUE(io.Port().IsWanted());

    // Plugged back in: the next exchange opens it again and stays open.
    peer = std::make_unique<ScriptedPeer>(FortyTwo);
    Plug(*peer);
    auto back = Reading();
    EXPECT_EQ(io.exchange_parameter(Direction::Read, *back), ExchangeCode::kOk) << back->error;
    EXPECT_EQ(back->value, "42");
    EXPECT_TRUE(io.Port().IsOpen());
}

TEST_F(PortLifetime, AnAdapterReturningWithinTheAttemptsLosesNoRead) {
    // The pause between attempts gives a replugged adapter its chance.
    SetLinkPauses({0, 150});
    auto peer = std::make_unique<ScriptedPeer>(FortyTwo);
    Plug(*peer);
    DeviceIO io;
    ASSERT_TRUE(OpenThroughLink(io));
    Unplug(peer);

    std::thread replug([&] {
        std::this_thread::sleep_for(100ms);
        peer = std::make_unique<ScriptedPeer>(FortyTwo);
        Plug(*peer);
    });
    auto p = Reading();
    int r = io.exchange_parameter(Direction::Read, *p);
    replug.join();
    EXPECT_EQ(r, ExchangeCode::kOk) << p->error;
    EXPECT_EQ(p->value, "42");
}
