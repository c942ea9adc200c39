#pragma once

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "link/frame.h"

// A device on the far end of a pseudo-terminal that answers each request
// frame through a script. The script gets the decoded request bytes and
// returns the characters to send back (nothing: stay silent).
class ScriptedPeer {
  public:
    struct Request {
        std::vector<std::uint8_t> bytes;  // the decoded byte frame
        std::uint16_t Hash() const {
            return bytes.size() >= 4 ? static_cast<std::uint16_t>(bytes[2] << 8 | bytes[3]) : 0;
        }
        std::vector<std::uint8_t> Data() const {
            if (bytes.size() < 6) return {};
            return {bytes.begin() + 4, bytes.end() - 2};
        }
        bool IsRead() const { return bytes.size() > 1 && (bytes[1] & 0x10); }
    };
    using Script = std::function<std::optional<std::string>(const Request&)>;

    explicit ScriptedPeer(Script script) : script_(std::move(script)) {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        grantpt(master_);
        unlockpt(master_);
        path_ = ptsname(master_);
        thread_ = std::thread([this] { Run(); });
    }
    ~ScriptedPeer() {
        stop_ = true;
        thread_.join();
        close(master_);
    }
    const std::string& Path() const { return path_; }
    std::vector<Request> Requests() {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }

    // An answer frame as the device sends it.
    static std::string Answer(std::uint16_t hash, std::vector<std::uint8_t> data,
                              int address = 16) {
        LineFrame f;
        build_request(address, 0, 8, false, hash, data.data(), data.size(), f);
        return std::string(f.View());
    }

  private:
    void Run() {
        std::string line;
        while (!stop_) {
            pollfd p{master_, POLLIN, 0};
            if (poll(&p, 1, 10) != 1) continue;
            char buf[256];
            ssize_t n = read(master_, buf, sizeof buf);
            if (n <= 0) {  // nobody holds the other end yet
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                continue;
            }
            for (ssize_t i = 0; i < n; ++i) {
                line.push_back(buf[i]);
                if (buf[i] != '\r') continue;
                Request r;
                std::size_t start = line.find('#');
                if (start != std::string::npos && line.size() - start >= 2) {
                    r.bytes.resize((line.size() - start - 2) / 2);
                    decode_buffer(line.data() + start + 1, line.size() - start - 2, r.bytes.data());
                }
                line.clear();
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    requests_.push_back(r);
                }
                if (auto answer = script_(r)) (void)!write(master_, answer->data(), answer->size());
            }
        }
    }

    Script script_;
    int master_ = -1;
    std::string path_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<Request> requests_;
};
