#include "server.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <utility>

namespace sim {

namespace {

constexpr double kBitsPerCharacter = 11;
constexpr auto kWriteTimeout = std::chrono::seconds(1);
constexpr std::size_t kReadChunk = 256;
// A line that hands our answer straight back (a terminal with echo on) does
// so at once; the device's receiver does not hear its own transmission.
constexpr auto kEchoWindow = std::chrono::seconds(1);

}  // namespace

double CharacterMs(int baud) {
    return baud > 0 ? 1000.0 * kBitsPerCharacter / baud : 0;
}

Server::Server(Simulator& simulator, LineTiming timing, int stopFd, LogSink log)
    : simulator_(simulator),
      timing_(timing),
      stopFd_(stopFd),
      log_(std::move(log)),
      started_(Clock::now()) {}

Server::Clock::duration Server::Chars(std::size_t count) const {
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double, std::milli>(timing_.charMs * static_cast<double>(count)));
}

bool Server::WaitUntil(Clock::time_point deadline) {
    for (;;) {
        const auto now = Clock::now();
        if (now >= deadline) return true;
        const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - now);
        timespec ts{static_cast<time_t>(left.count() / 1000000000),
                    static_cast<long>(left.count() % 1000000000)};
        pollfd stop{stopFd_, POLLIN, 0};
        const int n = ppoll(&stop, stopFd_ >= 0 ? 1 : 0, &ts, nullptr);
        if (n > 0) {
            stopped_ = true;
            return false;
        }
        if (n < 0 && errno != EINTR) return true;
    }
}

bool Server::Write(int fd, const char* data, std::size_t count) {
    const auto deadline = Clock::now() + kWriteTimeout;
    while (count > 0) {
        const auto now = Clock::now();
        if (now >= deadline) {
            if (log_) log_("answer dropped: nobody reads the line");
            return false;
        }
        pollfd fds[2] = {{fd, POLLOUT, 0}, {stopFd_, POLLIN, 0}};
        const int wait = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count() + 1);
        const int n = poll(fds, stopFd_ >= 0 ? 2 : 1, wait);
        if (n < 0 && errno != EINTR) return false;
        if (n <= 0) continue;
        if (stopFd_ >= 0 && fds[1].revents != 0) {
            stopped_ = true;
            return false;
        }
        if ((fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0 &&
            (fds[0].revents & POLLOUT) == 0) {
            closed_ = true;
            return false;
        }
        const ssize_t written = ::write(fd, data, count);
        if (written < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            closed_ = true;
            return false;
        }
        data += written;
        count -= static_cast<std::size_t>(written);
    }
    return true;
}

void Server::Watch(int fd, std::function<void()> onReadable) {
    watchFd_ = fd;
    onWatch_ = std::move(onReadable);
}

void Server::HandleLine(int outFd, std::string_view line, Clock::time_point start) {
    if (stopped_ || closed_ || outageMs_ > 0) return;
    if (line == lastAnswer_ && start - answeredAt_ < kEchoWindow) return;
    auto complete = Clock::now();
    if (timing_.charMs > 0) {
        // The last character cannot be here before the whole line crossed it.
        const auto arrived = start + Chars(line.size());
        if (arrived > complete) {
            if (!WaitUntil(arrived)) return;
            complete = arrived;
        }
    }
    const double now = std::chrono::duration<double>(complete - started_).count();
    const Response response = simulator_.Respond(line, now);
    if (response.dropLink) {
        outageMs_ = response.outageMs;
        return;
    }
    // An echo comes back as the request goes out, before the device speaks.
    if (!response.echo.empty() && !Write(outFd, response.echo.data(), response.echo.size())) return;
    const std::string& answer = response.answer;
    if (answer.empty()) return;

    const auto due =
        complete +
        std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double, std::milli>(timing_.turnaroundMs + response.delayMs));
    if (!WaitUntil(due)) return;
    lastAnswer_ = answer;
    answeredAt_ = Clock::now();
    if (timing_.charMs <= 0) {
        Write(outFd, answer.data(), answer.size());
        return;
    }
    // Each character is handed over when it has left the line.
    std::size_t sent = 0;
    while (sent < answer.size()) {
        if (!WaitUntil(due + Chars(sent + 1))) return;
        std::size_t ready = sent + 1;
        while (ready < answer.size() && due + Chars(ready + 1) <= Clock::now())
            ++ready;
        if (!Write(outFd, answer.data() + sent, ready - sent)) return;
        sent = ready;
    }
}

bool Server::Pause(double ms) {
    return WaitUntil(Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                        std::chrono::duration<double, std::milli>(ms)));
}

Server::End Server::Serve(int inFd, int outFd) {
    stopped_ = false;
    closed_ = false;
    outageMs_ = 0;
    LineAssembler assembler;
    char buffer[kReadChunk];
    for (;;) {
        // Unused slots hold -1, which poll() skips.
        pollfd fds[3] = {{inFd, POLLIN, 0}, {stopFd_, POLLIN, 0}, {watchFd_, POLLIN, 0}};
        const int n = poll(fds, 3, -1);
        if (n < 0) {
            if (errno == EINTR) continue;
            return End::Failed;
        }
        if (fds[1].revents != 0) return End::Stopped;
        if (fds[2].revents != 0 && onWatch_) onWatch_();
        if (fds[0].revents == 0) continue;
        if ((fds[0].revents & POLLNVAL) != 0) return End::Failed;
        const ssize_t got = ::read(inFd, buffer, sizeof buffer);
        if (got == 0) return End::Closed;
        if (got < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            // A pseudo-terminal whose other side is closed, a reset connection.
            return errno == EIO || errno == ECONNRESET ? End::Closed : End::Failed;
        }
        assembler.Feed(buffer, static_cast<std::size_t>(got), Clock::now(),
                       [&](std::string_view line, Clock::time_point start) {
                           HandleLine(outFd, line, start);
                       });
        if (stopped_) return End::Stopped;
        if (outageMs_ > 0) return End::Outage;
        if (closed_) return End::Closed;
    }
}

}  // namespace sim
