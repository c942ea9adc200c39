#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "link/sio_channels.h"

namespace {

constexpr int kConnectTimeoutMs = 3000;

class TcpChannel : public SioChannel {
  public:
    explicit TcpChannel(int fd) : fd_(fd) {}
    ~TcpChannel() override { close(fd_); }
    int Fd() const override { return fd_; }
    bool Configure(const ChannelSettings&) override { return true; }
    // A peer that closed must not kill the process with SIGPIPE.
    long Write(const char* data, std::size_t count) override {
        return send(fd_, data, count, MSG_NOSIGNAL);
    }
    bool PurgeReceive() override {
        char junk[512];
        for (;;) {
            ssize_t n = recv(fd_, junk, sizeof junk, MSG_DONTWAIT);
            if (n > 0) continue;
            // Nothing waiting is the normal end; a closed peer shows at the next read.
            return n == 0 || errno == EAGAIN || errno == EWOULDBLOCK;
        }
    }
    bool PurgeSend() override { return true; }
    void SetRts(bool) override {}
    bool MarksLineErrors() const override { return false; }

  private:
    int fd_;
};

}  // namespace

ChannelOpenResult OpenTcpChannel(const std::string& hostPort, Event& shutdown) {
    std::size_t colon = hostPort.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == hostPort.size())
        return {nullptr, -1, "expected tcp://host:port"};
    std::string host = hostPort.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    std::string port = hostPort.substr(colon + 1);
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (int rc = getaddrinfo(host.c_str(), port.c_str(), &hints, &list); rc != 0) {
        int error = errno;
        return {nullptr, -1,
                host + ": " + (rc == EAI_SYSTEM ? SystemReason(error) : gai_strerror(rc))};
    }
    int connected = -1;
    std::string reason = "no address to connect to";
    for (addrinfo* a = list; a && connected < 0; a = a->ai_next) {
        int fd =
            socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            reason = SystemReason(errno);
            continue;
        }
        int rc = connect(fd, a->ai_addr, a->ai_addrlen);
        int error = rc == 0 ? 0 : errno;
        if (rc != 0 && error == EINPROGRESS) {
            auto which =
                WaitAnyOrFd({&shutdown}, fd, POLLOUT, std::chrono::milliseconds(kConnectTimeoutMs));
            socklen_t len = sizeof error;
            if (!which)
                reason = "no connection within " + std::to_string(kConnectTimeoutMs / 1000) + " s";
            else if (*which == 0)
                reason = "stopped";
            else if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0)
                reason = SystemReason(errno);
            else if (error == 0)
                rc = 0;
            else
                reason = SystemReason(error);
        } else if (rc != 0) {
            reason = SystemReason(error);
        }
        if (rc == 0) {
            int one = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            connected = fd;
        } else {
            close(fd);
        }
    }
    freeaddrinfo(list);
    if (connected < 0) return {nullptr, -1, reason};
    return {std::make_unique<TcpChannel>(connected), 0, {}};
}
