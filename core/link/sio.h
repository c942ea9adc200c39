#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
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
    bool IsOpen() const;

    // Sends `request` and reads the answer up to CR into answer (room for
    // kAnswerBufferSize characters). received gets the count.
    int Exchange(const char* request, std::size_t count, char* answer, std::size_t& received);

    // COM names that resolve to something present, joined by ':'.
    static std::string ListPorts();

    const PortFailure& LastFailure() const { return failure_; }
    Event& ShutdownEvent() { return shutdown_; }

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
    int SendFrame(const char* request, std::size_t count);
    int ReceiveAnswer(char* answer, std::size_t& received);
    void DropChannel();

    std::unique_ptr<SioChannel> channel_;
    bool reopen_ = false;  // the channel vanished; open again on the next exchange
    PortFailure failure_;
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
