// The built simulator on a pseudo-terminal, as an engineer starts it.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "link/frame.h"
#include "sim_support.h"

namespace {

using Clock = std::chrono::steady_clock;

// Reads up to and including `end`, or until the time is up.
std::string ReadUntil(int fd, char end, std::chrono::milliseconds limit) {
    std::string got;
    const auto deadline = Clock::now() + limit;
    while (Clock::now() < deadline && (got.empty() || got.back() != end)) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0) continue;
        char c;
        if (read(fd, &c, 1) != 1) break;
        got += c;
    }
    return got;
}

// Ends the simulator whatever the test's outcome, so that a failed assertion
// leaves no process behind.
struct ChildGuard {
    pid_t pid;
    ~ChildGuard() {
        if (pid <= 0) return;
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
};

TEST(SimEndToEnd, AnswersOnAPseudoTerminalAndCleansUpOnSigterm) {
    const std::filesystem::path link =
        std::filesystem::temp_directory_path() / ("selvar-sim-e2e-" + std::to_string(getpid()));
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        execl(SELVAR_SIM_BINARY, SELVAR_SIM_BINARY, "--modification", "a1", "--pty", "--link",
              link.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    ChildGuard guard{child};
    close(out[1]);
    const std::string first = ReadUntil(out[0], '\n', std::chrono::seconds(5));
    ASSERT_FALSE(first.empty()) << "no path printed";
    const std::string path = first.substr(0, first.size() - 1);
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), path);

    // As the configurator opens a port: exclusively, raw.
    int tty = open(link.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(tty, 0);
    ASSERT_EQ(ioctl(tty, TIOCEXCL), 0);
    termios tio{};
    ASSERT_EQ(tcgetattr(tty, &tio), 0);
    cfmakeraw(&tio);
    tcsetattr(tty, TCSANOW, &tio);

    LineFrame request;
    ASSERT_TRUE(build_request(16, 0, 8, true, hash_name("dev"), nullptr, 0, request));
    ASSERT_EQ(write(tty, request.chars, request.length), static_cast<ssize_t>(request.length));
    const std::string answer = ReadUntil(tty, '\r', std::chrono::seconds(2));
    ParsedAnswer parsed;
    ASSERT_EQ(parse_answer(answer, parsed), AnswerStatus::Ok) << answer;
    EXPECT_EQ(parsed.nameHash, hash_name("dev"));
    EXPECT_EQ(simtest::Decode("dev", "ASCI",
                              simtest::Bytes(parsed.Data(), parsed.Data() + parsed.dataLength)),
              "Селвар");
    close(tty);

    // The exclusive mode does not outlive the client: the port opens again.
    int exclusive = 1;
    const auto deadline = Clock::now() + std::chrono::seconds(2);
    tty = -1;
    while (Clock::now() < deadline) {
        tty = open(link.c_str(), O_RDWR | O_NOCTTY);
        if (tty >= 0 && ioctl(tty, TIOCGEXCL, &exclusive) == 0 && exclusive == 0) break;
        if (tty >= 0) close(tty);
        tty = -1;
        usleep(10000);
    }
    ASSERT_GE(tty, 0) << "the pseudo-terminal stayed exclusive";
    ASSERT_TRUE(build_request(16, 0, 8, true, hash_name("n.Err"), nullptr, 0, request));
    ASSERT_EQ(write(tty, request.chars, request.length), static_cast<ssize_t>(request.length));
    EXPECT_EQ(parse_answer(ReadUntil(tty, '\r', std::chrono::seconds(2)), parsed),
              AnswerStatus::Ok);
    close(tty);

    kill(child, SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    guard.pid = 0;
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_FALSE(std::filesystem::is_symlink(link));
    close(out[0]);
}

}  // namespace
