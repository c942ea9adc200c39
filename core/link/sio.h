#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

#include "platform/event.h"

// The serial port through which the program reaches the RS-485 line: a tty
// (a serial port, a USB adapter, a pseudo-terminal) or a TCP connection to a
// serial-to-Ethernet converter carrying the raw line. The user sees "COMn"
// names; the port map resolves them (see ResolvePortName).

constexpr std::size_t kAnswerBufferSize = 51;

// Open-failure codes; the text travels with the code.
struct PortFailure {
    PortFailure() = default;
    PortFailure(int failureCode, std::string failureText, std::string failureDetail = {})
        : code(failureCode), text(std::move(failureText)), detail(std::move(failureDetail)) {}
    int code = 0;
    std::string text;
    std::string detail;  // the port, what it resolved to and the system's reason
};

// Results of Exchange.
namespace ExchangeResult {
constexpr int kStopped = -1;   // port closed or the link shutdown event is signalled
constexpr int kAnswered = 0;   // characters were read (possibly none)
constexpr int kTimeout = 2;    // the answer wait elapsed
constexpr int kLineError = 3;  // break, framing or parity error
}  // namespace ExchangeResult

// Line settings as a channel applies them.
struct ChannelSettings {
    int speed;
    int parityCode;
    int stopBitsCode;
    int byteSize;
};

// The byte channel below the port: a tty or a socket.
class SioChannel {
  public:
    virtual ~SioChannel() = default;
    virtual int Fd() const = 0;
    // Applies the line settings; a socket has none to apply.
    virtual bool Configure(const ChannelSettings& settings) = 0;
    // Non-blocking write; -1 with errno as write() sets it.
    virtual long Write(const char* data, std::size_t count) = 0;
    // Drops everything received and not yet read.
    virtual bool PurgeReceive() = 0;
    virtual bool PurgeSend() = 0;
    // Switches the transmitter (RTS); channels without one ignore it.
    virtual void SetRts(bool on) = 0;
    // Whether line errors are reported in band (0xFF 0x00 marks).
    virtual bool MarksLineErrors() const = 0;
};

// Decides whether a received line ('#' .. CR) answers the request just sent;
// a line it refuses is dropped and the wait for the answer goes on.
using AnswerFilter = std::function<bool(std::string_view line)>;

// Every member may be called from any thread: one lock keeps the channel
// alive and unshared for the whole of an exchange, an open or a close, so a
// thread that reopens the port never pulls the channel from under another.
class Sio {
  public:
    Sio();
    ~Sio();
    Sio(const Sio&) = delete;
    Sio& operator=(const Sio&) = delete;

    // 0, or a negative open-failure code (its text in LastFailure()).
    int Open();
    // -2 not open, -1 buffers could not be purged (the port stays open), 0 closed.
    int Close();
    // -2 not open, 0 purged, -1 failed.
    int Purge();
    // The channel is there now (a vanished adapter is not open, though it is
    // still wanted: see IsWanted).
    bool IsOpen() const;
    // Open, or lost while open and to be opened again by the next exchange.
    bool IsWanted() const;

    // Keeps the port open for the life of the hold: opens it when nobody has,
    // and closes it again when the last hold that opened it ends. A port the
    // program opened itself, or one that vanished, is left as it is.
    class Hold {
      public:
        explicit Hold(Sio& port);
        ~Hold();
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;
        // Tries the open again when it failed; true when the port is wanted now.
        bool Ensure();
        // The result of the last attempt to open.
        bool Held() const { return wanted_; }

      private:
        Sio& port_;
        bool held_ = false;
        bool wanted_ = false;
    };

    // Sends `request` and reads the answer up to CR into answer (room for
    // kAnswerBufferSize characters). received gets the count. Lines the
    // filter refuses are dropped (see DroppedLines) and the wait goes on.
    int Exchange(const char* request, std::size_t count, char* answer, std::size_t& received,
                 const AnswerFilter& accept = {});

    // Lines dropped since the port was created: late answers, echoes, noise.
    std::uint64_t DroppedLines() const { return dropped_.load(); }

    // COM names that resolve to something present, joined by ':'.
    static std::string ListPorts();

    PortFailure LastFailure() const;
    Event& ShutdownEvent() { return shutdown_; }

    // While it lives, `abort` ends the calling thread's port waits as the
    // link shutdown event does, so that one thread (a polling thread being
    // stopped) can be stopped while the others' exchanges go on.
    class ThreadAbort {
      public:
        explicit ThreadAbort(Event& abort);
        ~ThreadAbort();
        ThreadAbort(const ThreadAbort&) = delete;
        ThreadAbort& operator=(const ThreadAbort&) = delete;
        static Event* Current();

      private:
        Event* previous_;
    };
    // The link shutdown event or the calling thread's abort event is set.
    bool Stopping();

    // Settings; they take effect at the next Open.
    int transmissionMode = 0;  // 0: RTS switched, byte by byte; else whole frame
    std::string portName = "COM1";
    int speed = 9600;
    int parityCode = 3;
    int stopBitsCode = 1;
    int byteSize = 8;
    int addressLength = 8;
    int deviceAddress = 16;

    // Derived at Open.
    float characterTime = 0;       // milliseconds per character
    std::uint16_t answerWait = 0;  // milliseconds
    std::uint32_t readInterval = 0, readTotalMultiplier = 0, readTotalConstant = 0;
    std::uint32_t writeTotalMultiplier = 0, writeTotalConstant = 0;

  private:
    int Fail(int code, const char* text);
    int OpenLocked();
    void CloseLocked();
    int SendFrame(const char* request, std::size_t count);
    int ReceiveAnswer(char* answer, std::size_t& received, const AnswerFilter& accept);
    // Reads and drops what the outstanding requests still bring, for at most
    // two answer waits.
    int Drain();
    void DropChannel();

    mutable std::mutex lock_;
    std::unique_ptr<SioChannel> channel_;
    std::atomic<bool> open_{false};  // channel_ is set; read without the lock
    bool lost_ = false;              // the channel vanished; open again on the next exchange
    bool heldOpen_ = false;          // opened by holds, closed by the last of them
    int holds_ = 0;
    int outstanding_ = 0;      // requests sent whose answers have not come
    std::string lastRequest_;  // the request sent last
    PortFailure failure_;
    std::atomic<std::uint64_t> dropped_{0};
    Event shutdown_{Event::Reset::Manual};
};

// The character time and the answer wait of a configuration, as Open computes them.
struct LineTiming {
    float characterTime;
    std::uint32_t readInterval;
    std::uint32_t readTotalMultiplier;
    std::uint16_t answerWait;
};
LineTiming ComputeLineTiming(int speed, int parityCode, int stopBitsCode);
bool IsAcceptedSpeed(int speed);

// "COMn" through the port map, then the default rule (link/port_map.h).
std::string ResolvePortName(const std::string& name);

// The pause after an answer (100 ms) and between attempts (1000 ms); the
// environment variables SELVAR_LINK_PAUSE_MS and SELVAR_RETRY_PAUSE_MS, or
// SetLinkPauses, shorten them.
struct LinkPauses {
    int afterAnswerMs;
    int betweenAttemptsMs;
};
LinkPauses GetLinkPauses();
void SetLinkPauses(LinkPauses pauses);
