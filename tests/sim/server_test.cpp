// The byte-stream server: arbitrary input, resynchronisation, line timing.

#include "server.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "sim_support.h"

namespace {

using Clock = std::chrono::steady_clock;
using simtest::Device;

std::string Line(std::string_view name, int address = 16) {
    LineFrame frame;
    build_request(address, 0, 8, true, hash_name(name), nullptr, 0, frame);
    return std::string(frame.View());
}

// A server on one end of a socket pair, run on its own thread.
class Served {
  public:
    explicit Served(sim::LineTiming timing) : device_("a1") {
        EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair_), 0);
        EXPECT_EQ(pipe(stop_), 0);
        server_ = std::make_unique<sim::Server>(*device_.simulator, timing, stop_[0], nullptr);
        thread_ = std::thread([this] { end_ = server_->Serve(pair_[1], pair_[1]); });
    }
    ~Served() {
        Stop();
        for (int fd : {pair_[0], pair_[1], stop_[0], stop_[1]})
            close(fd);
    }
    sim::Server::End Stop() {
        if (thread_.joinable()) {
            const char byte = 1;
            EXPECT_EQ(write(stop_[1], &byte, 1), 1);
            thread_.join();
        }
        return end_;
    }
    void Send(std::string_view chars) const {
        ASSERT_EQ(write(pair_[0], chars.data(), chars.size()), static_cast<ssize_t>(chars.size()));
    }
    // Reads until `lines` CRs arrived or a second passed.
    std::string Receive(int lines) const {
        std::string got;
        const auto deadline = Clock::now() + std::chrono::seconds(1);
        while (std::count(got.begin(), got.end(), '\r') < lines && Clock::now() < deadline) {
            pollfd p{pair_[0], POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) continue;
            char buffer[256];
            const ssize_t n = read(pair_[0], buffer, sizeof buffer);
            if (n <= 0) break;
            got.append(buffer, static_cast<std::size_t>(n));
        }
        return got;
    }
    int Peer() const { return pair_[0]; }

  private:
    Device device_;
    int pair_[2] = {-1, -1};
    int stop_[2] = {-1, -1};
    std::unique_ptr<sim::Server> server_;
    std::thread thread_;
    sim::Server::End end_ = sim::Server::End::Failed;
};

std::vector<std::string> Answers(const std::string& received) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (std::size_t cr; (cr = received.find('\r', start)) != std::string::npos; start = cr + 1)
        out.push_back(received.substr(start, cr + 1 - start));
    return out;
}

TEST(SimServer, GarbageNeverStopsItAndTheNextStartResynchronises) {
    Served served({0, 0});
    const std::string good = Line("A.Len");
    std::string noise(5000, 'G');  // an overlong line without CR
    noise[0] = '#';
    std::string binary;
    for (int i = 0; i < 256; ++i)
        binary += static_cast<char>(i);
    served.Send(binary);
    served.Send("\r\r\n" + noise + "\r");
    served.Send(good.substr(0, 7) + good);  // a broken start, then a whole frame
    served.Send(Line("A.Len", 99));         // another device's
    // One frame in pieces.
    for (std::size_t i = 0; i < good.size(); i += 3) {
        served.Send(good.substr(i, 3));
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const auto answers = Answers(served.Receive(2));
    ASSERT_EQ(answers.size(), 2u);
    for (const std::string& a : answers) {
        ParsedAnswer parsed;
        EXPECT_EQ(parse_answer(a, parsed), AnswerStatus::Ok) << a;
        EXPECT_EQ(parsed.nameHash, hash_name("A.Len"));
    }
    EXPECT_EQ(served.Stop(), sim::Server::End::Stopped);
}

TEST(SimServer, ALineSpeedDelaysTheAnswerByBothFrames) {
    const std::string request = Line("A.Len");  // 14 characters, the answer 16
    auto roundTrip = [&](double charMs) {
        Served served({charMs, 2});
        const auto start = Clock::now();
        served.Send(request);
        const std::string answer = served.Receive(1);
        EXPECT_EQ(answer.size(), 16u);
        return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    };
    const double charMs = sim::CharacterMs(9600);
    EXPECT_NEAR(charMs, 11000.0 / 9600, 1e-9);
    // 30 characters and the turnaround: at least 36 ms.
    EXPECT_GE(roundTrip(charMs), 30 * charMs + 2 - 0.5);
}

TEST(SimServer, EndOfInputEndsServing) {
    Device device("a1");
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    sim::Server server(*device.simulator, {0, 0}, -1, nullptr);
    const std::string request = Line("A.Len") + "#GH";  // and a partial frame
    ASSERT_EQ(write(pair[0], request.data(), request.size()), static_cast<ssize_t>(request.size()));
    shutdown(pair[0], SHUT_WR);
    EXPECT_EQ(server.Serve(pair[1], pair[1]), sim::Server::End::Closed);
    char buffer[64];
    EXPECT_EQ(read(pair[0], buffer, sizeof buffer), 16);
    close(pair[0]);
    close(pair[1]);
}

}  // namespace
