// selvar-sim: a simulated controller on a pseudo-terminal, a TCP port or the
// standard streams. The device itself is in the library (model, simulator,
// server); this file opens the transports and handles signals.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "description/device_description.h"
#include "model.h"
#include "options.h"
#include "platform/text.h"
#include "server.h"
#include "simulator.h"

namespace {

constexpr const char* kTool = "selvar-sim";
// A state file is a few lines per written value; anything larger is not ours.
constexpr std::streamsize kMaxStateFile = 4 << 20;

// Written by the signal handler, read by every wait of the server.
int gStopPipe[2] = {-1, -1};

void OnSignal(int) {
    const char byte = 1;
    // Nothing to do when the pipe is full: one byte already wakes everyone.
    [[maybe_unused]] const ssize_t n = ::write(gStopPipe[1], &byte, 1);
}

void Log(const std::string& line) {
    std::cerr << kTool << ": " << line << std::endl;
}

bool InstallSignals() {
    if (::pipe2(gStopPipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    // A client that goes away shows as a failed write, not as a signal.
    signal(SIGPIPE, SIG_IGN);
    return true;
}

void FirstLine(const std::string& text) {
    std::cout << text << std::endl;  // flushed: scripts wait for it
}

bool SetNonBlocking(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

// One pseudo-terminal's life: opened, served, closed. `first` prints its
// path as the first line on stdout; later ones (after an outage took the
// terminal away) are logged, and the link names them again.
sim::Server::End ServeOnePty(sim::Server& server, const sim::Options& options, bool first) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        Log(std::string("cannot open a pseudo-terminal: ") + std::strerror(errno));
        if (master >= 0) ::close(master);
        return sim::Server::End::Failed;
    }
    char path[128] = {};
    if (ptsname_r(master, path, sizeof path) != 0) {
        Log("cannot name the pseudo-terminal");
        ::close(master);
        return sim::Server::End::Failed;
    }
    // Raw from the start, so that a client that does not set the line up
    // (a shell's echo, a terminal program) still sees CR as CR.
    termios tio{};
    if (tcgetattr(master, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(master, TCSANOW, &tio);
    }
    // Holding the slave open keeps the master readable while no client is
    // connected, and keeps the raw settings between clients.
    const int keep = ::open(path, O_RDWR | O_NOCTTY | O_CLOEXEC);
    SetNonBlocking(master);
    // A client that took the terminal exclusively (a serial port's usual
    // TIOCEXCL) leaves it so when it closes, because the terminal lives on
    // with its master: without help its next open, the configurator's own
    // reopening included, fails with EBUSY. Each close is seen through
    // inotify and the exclusive mode is cleared through the kept descriptor.
    const int closes = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (closes >= 0 && keep >= 0 &&
        inotify_add_watch(closes, path, IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) >= 0) {
        server.Watch(closes, [closes, keep] {
            alignas(inotify_event) char events[4096];
            while (::read(closes, events, sizeof events) > 0) {
            }
            ioctl(keep, TIOCNXCL);
        });
    }

    bool linked = false;
    sim::Server::End end = sim::Server::End::Failed;
    if (!options.link.empty()) {
        struct stat st {};
        if (lstat(options.link.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
            ::unlink(options.link.c_str());
        if (::symlink(path, options.link.c_str()) != 0)
            Log("cannot create the link " + options.link + ": " + std::strerror(errno));
        else
            linked = true;
    }
    if (options.link.empty() || linked) {
        if (first)
            FirstLine(path);
        else
            Log(std::string("back on ") + path);
        end = server.Serve(master, master);
    }
    if (linked) {
        // Remove the link only while it is still ours.
        char target[128] = {};
        const ssize_t n = ::readlink(options.link.c_str(), target, sizeof target - 1);
        if (n > 0 && std::string(target, static_cast<std::size_t>(n)) == path)
            ::unlink(options.link.c_str());
    }
    server.Watch(-1, nullptr);
    if (closes >= 0) ::close(closes);
    if (keep >= 0) ::close(keep);
    ::close(master);
    return end;
}

int ServePty(sim::Server& server, const sim::Options& options) {
    for (bool first = true;; first = false) {
        const sim::Server::End end = ServeOnePty(server, options, first);
        if (end != sim::Server::End::Outage) return end == sim::Server::End::Failed ? 1 : 0;
        // As an unplugged adapter: the terminal and the link are gone meanwhile.
        if (!server.Pause(server.OutageMs())) return 0;
    }
}

int Listen(const sockaddr_storage& address) {
    const int fd = ::socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    const socklen_t length =
        address.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0 ||
        ::listen(fd, 1) != 0) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

int ServeTcp(sim::Server& server, const sim::Options& options) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (const int rc = getaddrinfo(options.host.c_str(), options.port.c_str(), &hints, &found);
        rc != 0) {
        Log("cannot resolve " + options.host + ": " + gai_strerror(rc));
        return 1;
    }
    int listener = -1;
    for (addrinfo* a = found; a && listener < 0; a = a->ai_next) {
        listener = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (listener < 0) continue;
        const int one = 1;
        setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (::bind(listener, a->ai_addr, a->ai_addrlen) != 0 || ::listen(listener, 1) != 0) {
            ::close(listener);
            listener = -1;
        }
    }
    freeaddrinfo(found);
    if (listener < 0) {
        Log("cannot listen on " + options.host + ":" + options.port + ": " + std::strerror(errno));
        return 1;
    }

    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    getsockname(listener, reinterpret_cast<sockaddr*>(&bound), &length);
    char host[INET6_ADDRSTRLEN] = {};
    int port = 0;
    if (bound.ss_family == AF_INET6) {
        const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&bound);
        inet_ntop(AF_INET6, &in6->sin6_addr, host, sizeof host);
        port = ntohs(in6->sin6_port);
        FirstLine(Format("tcp://[%s]:%d", host, port));
    } else {
        const auto* in4 = reinterpret_cast<const sockaddr_in*>(&bound);
        inet_ntop(AF_INET, &in4->sin_addr, host, sizeof host);
        port = ntohs(in4->sin_port);
        FirstLine(Format("tcp://%s:%d", host, port));
    }

    // One client at a time, as on a line with one master.
    int result = 0;
    for (;;) {
        if (listener < 0) {
            // Back after an outage: the same address again.
            listener = Listen(bound);
            if (listener < 0) {
                Log("cannot listen again: " + std::string(std::strerror(errno)));
                return 1;
            }
            Log("listening again");
        }
        pollfd fds[2] = {{listener, POLLIN, 0}, {gStopPipe[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            result = 1;
            break;
        }
        if (fds[1].revents != 0) break;
        if (fds[0].revents == 0) continue;
        const int client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (client < 0) continue;
        const int one = 1;
        setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        if (options.verbose) Log("client connected");
        const sim::Server::End end = server.Serve(client, client);
        ::close(client);
        if (options.verbose) Log("client disconnected");
        if (end == sim::Server::End::Stopped) break;
        if (end == sim::Server::End::Outage) {
            // A converter that lost its network: connections are refused meanwhile.
            ::close(listener);
            listener = -1;
            if (!server.Pause(server.OutageMs())) break;
        }
    }
    if (listener >= 0) ::close(listener);
    return result;
}

// A file the simulator keeps must be a regular file, or one it can create.
bool UsableFile(const std::string& path, const char* what) {
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (std::filesystem::exists(status)) {
        if (std::filesystem::is_regular_file(status)) return true;
        Log(std::string("the ") + what + " " + path + " is " +
            (std::filesystem::is_directory(status) ? "a directory" : "not a regular file") +
            "; give a file");
        return false;
    }
    std::filesystem::path parent = std::filesystem::path(path).parent_path();
    if (parent.empty()) parent = ".";
    if (!std::filesystem::is_directory(parent, ec)) {
        Log(std::string("the ") + what + " " + path + " cannot be created: no folder " +
            parent.string());
        return false;
    }
    return true;
}

bool LoadState(sim::DeviceModel& model, const std::string& path) {
    if (!UsableFile(path, "state file")) return false;
    std::ifstream in(path, std::ios::binary);
    if (!in) return true;  // no state yet: the first write creates it
    std::string text(static_cast<std::size_t>(kMaxStateFile) + 1, '\0');
    in.read(text.data(), kMaxStateFile + 1);
    if (in.gcount() > kMaxStateFile) {
        Log("the state file " + path + " is too large to be a state; not used");
        return false;
    }
    text.resize(static_cast<std::size_t>(in.gcount()));
    std::string warning;
    const bool ok = model.LoadState(text, warning);
    if (!warning.empty()) Log(path + ": " + warning);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    // First of all, so that a stop asked for while the descriptions load
    // still ends the simulator cleanly.
    if (!InstallSignals()) {
        Log("cannot set up signal handling");
        return 1;
    }
    std::vector<std::string_view> args(argv + 1, argv + argc);
    sim::Options options;
    std::string error;
    if (!sim::ParseOptions(args, options, error)) {
        Log(error);
        return 2;
    }
    if (options.help) {
        std::cout << sim::UsageText();
        return 0;
    }
    const CDeviceDescription* description = FindDeviceDescription(options.modification);
    if (!description) {
        Log("unknown modification " + options.modification + " (a1, b4, b2 or a display name)");
        return 2;
    }

    sim::ModelSettings modelSettings;
    modelSettings.address = options.address;
    modelSettings.addressLength = options.addressLength;
    if (options.baud > 0) modelSettings.baud = options.baud;
    modelSettings.accessCode = options.accessCode;
    modelSettings.restartCause = static_cast<std::uint8_t>(options.restartCause);
    modelSettings.dev = options.dev;
    modelSettings.pver = options.pver;
    modelSettings.ver = options.ver;

    sim::DeviceModel model;
    if (!model.Load(*description, modelSettings, error)) {
        Log(error);
        return 1;
    }
    if (!options.statePath.empty() && !LoadState(model, options.statePath)) return 1;
    model.TakeStateChanged();

    sim::SimulatorSettings simSettings;
    simSettings.address = options.address;
    simSettings.addressLength = options.addressLength;
    simSettings.faults = options.faults;
    simSettings.verbose = options.verbose;
    simSettings.statePath = options.statePath;
    simSettings.dumpPath = options.dumpPath;
    simSettings.answersPath = options.answersPath;
    if (!options.dumpPath.empty() && !UsableFile(options.dumpPath, "dump file")) return 1;
    if (!options.answersPath.empty() && !UsableFile(options.answersPath, "answers file")) return 1;
    simSettings.seed = options.seed ? *options.seed : std::random_device{}();
    if (!simSettings.faults.Empty() && !options.seed)
        Log(Format("faults seeded with %llu (--seed repeats them)",
                   static_cast<unsigned long long>(simSettings.seed)));

    sim::Simulator simulator(model, simSettings, Log);
    sim::LineTiming timing;
    timing.charMs = sim::CharacterMs(options.baud);
    timing.turnaroundMs = options.turnaroundMs;
    sim::Server server(simulator, timing, gStopPipe[0], Log);

    const std::string line = options.baud > 0 ? Format(", line at %d bit/s", options.baud) : "";
    Log(Format("%s at address %d (%d-bit), %zu parameter instances%s", model.DisplayName().c_str(),
               options.address, options.addressLength, model.InstanceCount(), line.c_str()));

    simulator.WriteDump();
    int result = 0;
    switch (options.transport) {
        case sim::Transport::Pty:
            result = ServePty(server, options);
            break;
        case sim::Transport::Tcp:
            result = ServeTcp(server, options);
            break;
        case sim::Transport::Stdio:
            result = server.Serve(STDIN_FILENO, STDOUT_FILENO) == sim::Server::End::Failed ? 1 : 0;
            break;
    }
    // The figures of the run, for whoever drove it.
    simulator.WriteDump();
    Log(simulator.Summary());
    return result;
}
