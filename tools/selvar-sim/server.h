#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "simulator.h"

// Serves one byte stream (a pseudo-terminal, a socket, the standard streams)
// with the simulator, and emulates the line's speed when asked: a request
// counts as arrived only when its characters could have crossed the line,
// and the answer leaves at the line's pace.
namespace sim {

struct LineTiming {
    double charMs = 0;  // time of one character on the line; 0: no emulation
    double turnaroundMs = 2;
};

// Eleven bits per character (start, eight data bits, parity, stop), the
// worst case of the line settings the device accepts.
double CharacterMs(int baud);

class Server {
  public:
    using Clock = std::chrono::steady_clock;
    enum class End {
        Closed,   // end of input, or the peer went away
        Stopped,  // stopFd became readable
        Failed,   // the descriptors failed otherwise
        Outage,   // the device took its link away for OutageMs()
    };

    // stopFd: becomes readable when serving must end (-1: never).
    Server(Simulator& simulator, LineTiming timing, int stopFd, LogSink log);

    End Serve(int inFd, int outFd);
    // After End::Outage: how long the link stays away.
    double OutageMs() const { return outageMs_; }
    // Waits ms milliseconds; false when the stop descriptor fired.
    bool Pause(double ms);

    // A descriptor the serving loop also watches (-1: none), and what to do
    // when it becomes readable; the transport's housekeeping.
    void Watch(int fd, std::function<void()> onReadable);

  private:
    void HandleLine(int outFd, std::string_view line, Clock::time_point start);
    // Waits without busy looping; false when the stop descriptor fired.
    bool WaitUntil(Clock::time_point deadline);
    // Writes within a second; a reader that does not read loses the answer,
    // as on a line, and memory stays bounded.
    bool Write(int fd, const char* data, std::size_t count);
    Clock::duration Chars(std::size_t count) const;

    Simulator& simulator_;
    LineTiming timing_;
    int stopFd_;
    LogSink log_;
    Clock::time_point started_;
    int watchFd_ = -1;
    std::function<void()> onWatch_;
    std::string lastAnswer_;
    Clock::time_point answeredAt_{};
    bool stopped_ = false;
    bool closed_ = false;
    double outageMs_ = 0;  // > 0: the link goes away for so long
};

}  // namespace sim
