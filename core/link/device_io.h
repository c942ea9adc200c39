#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "elements/net_rs485.h"
#include "link/sio.h"
#include "platform/app_state.h"
#include "platform/semaphore.h"

class Parameter;

// Result codes of a parameter exchange.
namespace ExchangeCode {
constexpr int kOk = 0;
constexpr int kFailed = 1;         // the reason is in the parameter's error text
constexpr int kUndecodable = 2;    // "Не могу раскодировать ответ"
constexpr int kNoWriteMethod = 3;  // "dev", "ver", "exit" or an invalid network name
constexpr int kNotEncodable = 4;   // the value has no wire form
constexpr int kAccessDenied = 51;  // the device refused the write (code 0x33)
}  // namespace ExchangeCode

enum class Direction { Read, Write };

// A list of text lines that shows one exchange in detail (the single point dialog).
using ExchangeLog = std::vector<std::string>;

// The protocol layer between the parameters and the serial port: one
// request/answer exchange at a time, whatever thread asks.
class DeviceIO {
  public:
    // The access code written to "pass" before a parameter of binding kind 7.
    static constexpr const char* kAccessCode = "271";
    static constexpr std::uint16_t kHashAply = 0x8403;
    static constexpr std::uint16_t kHashNErr = 0x0233;

    DeviceIO();
    virtual ~DeviceIO();
    DeviceIO(const DeviceIO&) = delete;
    DeviceIO& operator=(const DeviceIO&) = delete;

    struct Transaction {
        bool ok = false;
        std::uint8_t data[kAnswerBufferSize] = {};
        std::size_t count = 0;
        std::string error;
    };
    // One request and its answer, with resends on silence, line errors and a
    // lost start of frame. An indexed request names its linear index (the last
    // two data bytes), so that an answer carrying another index is refused.
    Transaction transact(const std::uint8_t* data, std::size_t count, bool read,
                         std::uint16_t nameHash, int addressOffset,
                         std::optional<std::uint16_t> linearIndex = std::nullopt);
    // transact with the result code, the answer logged into `log` when given.
    int transact_logged(const std::uint8_t* data, std::size_t count, bool read,
                        std::uint16_t nameHash, int addressOffset, Transaction& answer,
                        ExchangeLog* log, std::optional<std::uint16_t> linearIndex = std::nullopt);
    // Reads or writes one parameter, composite ones through their partners.
    int exchange_parameter(Direction direction, Parameter& p, ExchangeLog* log = nullptr);

    // Copies the program's settings into the port.
    void load_port_settings();
    // Closes the port, loads the settings, opens it again: 0, -1 without a
    // port, or the open-failure code.
    int reopen_port();

    void RenewOperationStamp() { stamp_ = NewOperationStamp(); }
    const OperationStamp& CurrentStamp() const { return stamp_; }

    Sio& Port() { return port_; }
    Elements::NetRS485prg& ProgramSettings() { return settings_; }
    Semaphore& LinkIdle() { return linkIdle_; }

    // Answers dropped because they belonged to an earlier request (late
    // answers, echoes of the request): a sign of a slow device or converter.
    std::uint64_t LateAnswers() const { return port_.DroppedLines(); }

  private:
    // What identifies a request's answer: the address it went to, the name
    // hash and, for an indexed parameter, the linear index carried back.
    struct RequestKey {
        int address = -1;
        std::uint16_t hash = 0;
        std::optional<std::uint16_t> index;
        bool Matches(std::uint16_t answerHash, std::optional<std::uint16_t> answerIndex) const;
    };
    // Whether a received line may be the answer to `current`; false for an
    // echo of the request and for what can be shown to answer another request.
    bool AcceptAnswer(std::string_view line, std::string_view request, bool read,
                      const RequestKey& current);

    int PlainExchange(Direction direction, Parameter& p, ExchangeLog* log);
    int PackedHalf(Direction direction, Parameter& p, ExchangeLog* log);
    int ScaledReading(Direction direction, Parameter& p, ExchangeLog* log);
    int FirstOfTwo(Direction direction, Parameter& p, ExchangeLog* log);
    int WriteAccessCode();
    // Waits between attempts; false when the link was shut down meanwhile.
    bool PauseBetweenAttempts();

    Sio port_;
    Elements::NetRS485prg settings_;
    OperationStamp stamp_{};
    std::mutex exchangeLock_;
    Semaphore linkIdle_{1, 1};
    // The last requests sent (under the exchange lock), to tell a late answer
    // from a foreign one.
    std::array<RequestKey, 16> recent_{};
    std::size_t recentNext_ = 0;
};

// The text of a device error code ("n.Err" answer); "" for codes not in the table.
std::string protocol_error_text(std::uint8_t code);
