#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <string>

// The far end of a pseudo-terminal: what the device would see and send.
class PtyPeer {
  public:
    PtyPeer() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        grantpt(master_);
        unlockpt(master_);
        path_ = ptsname(master_);
    }
    ~PtyPeer() { close(master_); }
    const std::string& Path() const { return path_; }

    // Reads until CR or the timeout; returns what came.
    std::string ReadRequest(std::chrono::milliseconds timeout = std::chrono::milliseconds(2000)) {
        std::string got;
        auto end = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < end) {
            pollfd p{master_, POLLIN, 0};
            if (poll(&p, 1, 20) != 1) continue;
            char c;
            if (read(master_, &c, 1) != 1) break;
            got.push_back(c);
            if (c == '\r') break;
        }
        return got;
    }
    void Send(const std::string& bytes) { (void)!write(master_, bytes.data(), bytes.size()); }

  private:
    int master_ = -1;
    std::string path_;
};
