#include "link/sio.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "support/pty_peer.h"

using namespace std::chrono_literals;

namespace {

class SioTest : public ::testing::Test {
  protected:
    void SetUp() override { SetLinkPauses({0, 0}); }
    void TearDown() override { SetLinkPauses({-1, -1}); }
};

int Exchange(Sio& sio, const std::string& request, std::string& answer) {
    char buf[kAnswerBufferSize];
    std::size_t n = 0;
    int r = sio.Exchange(request.data(), request.size(), buf, n);
    answer.assign(buf, n);
    return r;
}

}  // namespace

TEST(LineTiming, CharacterTimeAndAnswerWait) {
    LineTiming t = ComputeLineTiming(9600, 3, 0);
    EXPECT_NEAR(t.characterTime, 1.1458f, 1e-4);
    EXPECT_EQ(t.readInterval, 2u);
    EXPECT_EQ(t.readTotalMultiplier, 4u);
    EXPECT_EQ(t.answerWait, 300);
    EXPECT_EQ(ComputeLineTiming(115200, 3, 0).answerWait, 200);
    EXPECT_EQ(ComputeLineTiming(1200, 3, 0).answerWait, 1300);
    LineTiming two = ComputeLineTiming(2400, 3, 2);
    EXPECT_FLOAT_EQ(two.characterTime, 5.0f);
    EXPECT_EQ(two.answerWait, 750);
}

TEST_F(SioTest, OpenRefusesBadSettingsWithTheirTexts) {
    PtyPeer peer;
    struct Case {
        int speed, parity, stop, size, code;
        const char* text;
    } cases[] = {
        {256000, 3, 0, 8, -2, "Неверное значение скорости обмена"},
        {9600, 3, 3, 8, -2, "Неверное количество стоп-бит"},
        {9600, 3, 0, 9, -3, "Неверный размер байта данных"},
        {9600, 6, 0, 8, -2, "Ошибка открытия порта"},
    };
    for (const Case& c : cases) {
        Sio sio;
        sio.portName = peer.Path();
        sio.speed = c.speed;
        sio.parityCode = c.parity;
        sio.stopBitsCode = c.stop;
        sio.byteSize = c.size;
        EXPECT_EQ(sio.Open(), c.code) << c.text;
        EXPECT_EQ(sio.LastFailure().text, c.text);
        EXPECT_FALSE(sio.IsOpen());  // a half-configured port is not left open
    }
    Sio missing;
    missing.portName = "/dev/selvar-no-such-port";
    EXPECT_EQ(missing.Open(), -1);
    EXPECT_EQ(missing.LastFailure().text, "Ошибка открытия порта");
    EXPECT_EQ(missing.Close(), -2);
    EXPECT_EQ(missing.Purge(), -2);
}

TEST_F(SioTest, OpensEveryAcceptedSpeedAndHoldsThePortAlone) {
    PtyPeer peer;
    for (int speed : {110, 14400, 28800, 56000, 115200, 128000}) {
        Sio sio;
        sio.portName = peer.Path();
        sio.speed = speed;
        sio.parityCode = 2;  // mark
        ASSERT_EQ(sio.Open(), 0) << speed << " " << sio.LastFailure().text;
        Sio other;
        other.portName = peer.Path();
        EXPECT_EQ(other.Open(), -1);
        EXPECT_EQ(sio.Close(), 0);
    }
}

TEST_F(SioTest, ExchangeReadsUpToTheEndCharacter) {
    PtyPeer peer;
    for (int mode : {0, 1}) {
        Sio sio;
        sio.portName = peer.Path();
        sio.transmissionMode = mode;
        ASSERT_EQ(sio.Open(), 0);
        peer.Send("#GGGG\r");  // stale bytes: purged before the request goes out
        std::this_thread::sleep_for(20ms);
        std::thread device([&] {
            EXPECT_EQ(peer.ReadRequest(), "#HGHG\r");
            peer.Send("#HG");
            std::this_thread::sleep_for(30ms);
            peer.Send("HI\rtail");
        });
        std::string answer;
        EXPECT_EQ(Exchange(sio, "#HGHG\r", answer), ExchangeResult::kAnswered);
        device.join();
        EXPECT_EQ(answer, "#HGHI\r");
    }
}

TEST_F(SioTest, LongAnswersAreCutAndSilenceTimesOut) {
    PtyPeer peer;
    Sio sio;
    sio.portName = peer.Path();
    sio.speed = 115200;
    ASSERT_EQ(sio.Open(), 0);
    std::thread device([&] {
        peer.ReadRequest();
        peer.Send(std::string(60, 'G') + "\r");
    });
    std::string answer;
    EXPECT_EQ(Exchange(sio, "#\r", answer), ExchangeResult::kAnswered);
    device.join();
    EXPECT_EQ(answer, std::string(51, 'G'));  // no CR among the 51 kept

    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Exchange(sio, "#\r", answer), ExchangeResult::kTimeout);
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, 190ms);
    EXPECT_TRUE(answer.empty());
}

TEST_F(SioTest, ShutdownEndsWaitsAtOnceUntilReset) {
    PtyPeer peer;
    Sio sio;
    sio.portName = peer.Path();
    sio.speed = 1200;  // 1300 ms answer wait
    ASSERT_EQ(sio.Open(), 0);
    std::thread stopper([&] {
        std::this_thread::sleep_for(50ms);
        sio.ShutdownEvent().Set();
    });
    auto start = std::chrono::steady_clock::now();
    std::string answer;
    EXPECT_EQ(Exchange(sio, "#\r", answer), ExchangeResult::kStopped);
    stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1000ms);
    EXPECT_EQ(Exchange(sio, "#\r", answer), ExchangeResult::kStopped);
    sio.ShutdownEvent().ResetEvent();
    peer.ReadRequest(50ms);
    std::thread device([&] {
        peer.ReadRequest();
        peer.Send("#G\r");
    });
    EXPECT_EQ(Exchange(sio, "#\r", answer), ExchangeResult::kAnswered);
    device.join();
}

TEST_F(SioTest, TcpConverterCarriesTheLineAndIsReconnected) {
    int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(server, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    socklen_t len = sizeof addr;
    getsockname(server, reinterpret_cast<sockaddr*>(&addr), &len);
    listen(server, 2);

    Sio sio;
    sio.portName = "tcp://127.0.0.1:" + std::to_string(ntohs(addr.sin_port));
    sio.speed = 115200;
    ASSERT_EQ(sio.Open(), 0);
    int peer = accept(server, nullptr, nullptr);
    // The frame may come a character at a time.
    auto readFrame = [](int fd) {
        std::string got;
        char c;
        while (got.find('\r') == std::string::npos && read(fd, &c, 1) == 1)
            got.push_back(c);
        return got;
    };
    std::thread device([&] {
        EXPECT_EQ(readFrame(peer), "#HGHG\r");
        (void)!write(peer, "#HI\r", 4);
    });
    std::string answer;
    EXPECT_EQ(Exchange(sio, "#HGHG\r", answer), ExchangeResult::kAnswered);
    device.join();
    EXPECT_EQ(answer, "#HI\r");

    // The converter drops the connection: no answer now, a fresh connection next time.
    close(peer);
    EXPECT_EQ(Exchange(sio, "#\r", answer), ExchangeResult::kTimeout);
    std::thread again([&] {
        int p = accept(server, nullptr, nullptr);
        readFrame(p);
        (void)!write(p, "#J\r", 3);
        std::this_thread::sleep_for(50ms);
        close(p);
    });
    EXPECT_EQ(Exchange(sio, "#\r", answer), ExchangeResult::kAnswered);
    again.join();
    EXPECT_EQ(answer, "#J\r");
    close(server);
}

TEST(PortNames, ComNamesResolveThroughTheMapOrTheDefaultRule) {
    EXPECT_EQ(ResolvePortName("tcp://host:4001"), "tcp://host:4001");
    EXPECT_EQ(ResolvePortName("/dev/pts/3"), "/dev/pts/3");
    std::string com = ResolvePortName("COM3");
    EXPECT_TRUE(com == "/dev/ttyUSB2" || com == "/dev/ttyACM2" || com == "/dev/ttyS2") << com;
    EXPECT_EQ(ResolvePortName("LPT1"), "LPT1");
}
