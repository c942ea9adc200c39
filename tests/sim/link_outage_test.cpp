// The built simulator when its link goes away and returns, and when it is
// given a file it cannot keep.

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "link/frame.h"

namespace {

using Clock = std::chrono::steady_clock;

// The simulator with its stdout and stderr on pipes, killed at the end
// whatever the test's outcome.
class Sim {
  public:
    explicit Sim(std::vector<std::string> args, bool stdinNull = false) {
        int out[2], err[2];
        if (pipe(out) != 0 || pipe(err) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], STDOUT_FILENO);
            dup2(err[1], STDERR_FILENO);
            if (stdinNull) {
                const int null = open("/dev/null", O_RDONLY);
                dup2(null, STDIN_FILENO);
            }
            for (int fd : {out[0], out[1], err[0], err[1]})
                close(fd);
            std::vector<char*> argv{const_cast<char*>(SELVAR_SIM_BINARY)};
            for (std::string& a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(SELVAR_SIM_BINARY, argv.data());
            _exit(127);
        }
        close(out[1]);
        close(err[1]);
        out_ = out[0];
        err_ = err[0];
    }
    ~Sim() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        for (int fd : {out_, err_})
            if (fd >= 0) close(fd);
    }
    std::string FirstLine() const {
        std::string line;
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (Clock::now() < deadline && (line.empty() || line.back() != '\n')) {
            pollfd p{out_, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) continue;
            char c;
            if (read(out_, &c, 1) != 1) break;
            line += c;
        }
        if (!line.empty() && line.back() == '\n') line.pop_back();
        return line;
    }
    // Waits for the end (at most 10 s); the exit status, -1 when it did not end.
    int Wait() {
        for (int i = 0; i < 1000; ++i) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            usleep(10000);
        }
        return -1;
    }
    std::string Errors() const {
        std::string text;
        char buffer[512];
        ssize_t n;
        while ((n = read(err_, buffer, sizeof buffer)) > 0)
            text.append(buffer, static_cast<std::size_t>(n));
        return text;
    }

  private:
    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
};

std::string ReadRequest() {
    LineFrame frame;
    build_request(16, 0, 8, true, hash_name("A.Len"), nullptr, 0, frame);
    return std::string(frame.View());
}

// Reads until end of input, a failure or the time limit; true when the
// other side went away (end of input or an error such as EIO).
bool GoesAway(int fd, std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (Clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) continue;
        char buffer[64];
        if (read(fd, buffer, sizeof buffer) <= 0) return true;
    }
    return false;
}

std::filesystem::path TempPath(const char* what) {
    return std::filesystem::temp_directory_path() /
           (std::string("selvar-sim-") + what + "-" + std::to_string(getpid()));
}

TEST(SimFiles, AStateOrDumpThatIsAFolderIsRefusedAtStart) {
    const std::filesystem::path dir = TempPath("state-dir");
    std::filesystem::create_directories(dir);
    for (const char* option : {"--state", "--dump"}) {
        SCOPED_TRACE(option);
        Sim sim({"--modification", "a1", "--stdio", option, dir.string()}, true);
        EXPECT_EQ(sim.Wait(), 1);
        EXPECT_NE(sim.Errors().find("is a directory"), std::string::npos);
    }
    Sim missing({"--modification", "a1", "--stdio", "--state", (dir / "no" / "s.txt").string()},
                true);
    EXPECT_EQ(missing.Wait(), 1);
    EXPECT_NE(missing.Errors().find("no folder"), std::string::npos);
    std::filesystem::remove_all(dir);
}

TEST(SimLinkOutage, ATcpConverterDropsItsConnectionAndComesBack) {
    Sim sim({"--modification", "a1", "--tcp", "0", "--fault-outage", "1", "--outage-ms", "800",
             "--outage-link"});
    const std::string first = sim.FirstLine();
    const std::size_t colon = first.rfind(':');
    ASSERT_TRUE(first.starts_with("tcp://127.0.0.1:") && colon != std::string::npos) << first;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(std::stoi(first.substr(colon + 1))));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    auto connectOnce = [&] {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return fd;
        close(fd);
        return -1;
    };

    int fd = connectOnce();
    ASSERT_GE(fd, 0);
    const std::string request = ReadRequest();
    ASSERT_EQ(write(fd, request.data(), request.size()), static_cast<ssize_t>(request.size()));
    EXPECT_TRUE(GoesAway(fd, std::chrono::seconds(5))) << "the connection stayed";
    close(fd);

    // It listens again once the outage is over.
    fd = -1;
    for (int i = 0; i < 200 && fd < 0; ++i) {
        fd = connectOnce();
        if (fd < 0) usleep(50000);
    }
    ASSERT_GE(fd, 0) << "never listened again";
    close(fd);
}

TEST(SimLinkOutage, APseudoTerminalIsUnpluggedAndReturnsUnderItsLink) {
    const std::filesystem::path link = TempPath("outage-link");
    Sim sim({"--modification", "a1", "--pty", "--link", link.string(), "--fault-outage", "1",
             "--outage-ms", "800", "--outage-link"});
    const std::string path = sim.FirstLine();
    ASSERT_FALSE(path.empty());
    int tty = open(link.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(tty, 0);
    termios tio{};
    ASSERT_EQ(tcgetattr(tty, &tio), 0);
    cfmakeraw(&tio);
    tcsetattr(tty, TCSANOW, &tio);
    const std::string request = ReadRequest();
    ASSERT_EQ(write(tty, request.data(), request.size()), static_cast<ssize_t>(request.size()));
    EXPECT_TRUE(GoesAway(tty, std::chrono::seconds(5))) << "the terminal stayed";
    close(tty);

    // The link names a working terminal again.
    tty = -1;
    for (int i = 0; i < 200 && tty < 0; ++i) {
        tty = open(link.c_str(), O_RDWR | O_NOCTTY);
        if (tty < 0) usleep(50000);
    }
    ASSERT_GE(tty, 0) << "the link never returned";
    close(tty);
}

}  // namespace
