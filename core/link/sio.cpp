#include "link/sio.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "link/sio_channels.h"
#include "platform/settings_store.h"
#include "platform/text.h"

namespace {

constexpr int kAcceptedSpeeds[] = {110,   300,   600,   1200,  2400,  4800,   9600,  14400,
                                   19200, 28800, 38400, 56000, 57600, 115200, 128000};
constexpr const char* kOpenFailed = "Ошибка открытия порта";

constinit std::atomic<int> gAfterAnswerMs{-1};
constinit std::atomic<int> gBetweenAttemptsMs{-1};

int EnvMs(const char* name, int fallback) {
    const char* v = std::getenv(name);
    std::int64_t ms = 0;
    if (!v || ParseLeadingInt(v, ms) == 0 || ms < 0 || ms > 600000) return fallback;
    return static_cast<int>(ms);
}

using Clock = std::chrono::steady_clock;

// The direction of an RS-485 adapter must not switch back before the last
// character has left, and sleeping is far too coarse for a character time.
void BusyWait(double milliseconds) {
    auto end = Clock::now() + std::chrono::duration<double, std::milli>(milliseconds);
    while (Clock::now() < end) {
    }
}

}  // namespace

LinkPauses GetLinkPauses() {
    int after = gAfterAnswerMs.load();
    int between = gBetweenAttemptsMs.load();
    return {after >= 0 ? after : EnvMs("SELVAR_LINK_PAUSE_MS", 100),
            between >= 0 ? between : EnvMs("SELVAR_RETRY_PAUSE_MS", 1000)};
}

void SetLinkPauses(LinkPauses pauses) {
    gAfterAnswerMs = pauses.afterAnswerMs;
    gBetweenAttemptsMs = pauses.betweenAttemptsMs;
}

bool IsAcceptedSpeed(int speed) {
    return std::find(std::begin(kAcceptedSpeeds), std::end(kAcceptedSpeeds), speed) !=
           std::end(kAcceptedSpeeds);
}

LineTiming ComputeLineTiming(int speed, int parityCode, int stopBitsCode) {
    LineTiming t{};
    if (speed <= 0) return t;
    // 10 bits a character, one more for a parity check, one for extra stop bits.
    bool parityChecked = parityCode != 0;
    t.characterTime =
        static_cast<float>(10000 + (parityChecked ? 1000 : 0) + (stopBitsCode != 0 ? 1000 : 0)) /
        static_cast<float>(speed);
    t.readInterval = static_cast<std::uint32_t>(std::ceil(1.5f * t.characterTime));
    t.readTotalMultiplier =
        static_cast<std::uint32_t>(std::ceil(static_cast<float>(t.readInterval) + t.characterTime));
    t.answerWait = static_cast<std::uint16_t>(t.readTotalMultiplier * 50 + 100);
    return t;
}

Sio::Sio() = default;

Sio::~Sio() {
    if (IsOpen()) Close();
    SettingsStore::Instance().WriteNumber("RS485type", transmissionMode != 0 ? 1 : 0);
}

bool Sio::IsOpen() const {
    return channel_ != nullptr;
}

int Sio::Fail(int code, const char* text) {
    failure_ = {code, text};
    // A half-configured port is worse than a closed one: the next exchange
    // would talk through it with the wrong settings.
    channel_.reset();
    return code;
}

int Sio::Open() {
    failure_ = {};
    channel_.reset();
    reopen_ = false;
    std::string target = ResolvePortName(portName);
    ChannelOpenResult opened = target.rfind("tcp://", 0) == 0
                                   ? OpenTcpChannel(target.substr(6), shutdown_)
                                   : OpenTtyChannel(target);
    if (!opened.channel) {
        failure_ = {opened.code, kOpenFailed, PortFailureDetail(portName, target, opened.detail)};
        return opened.code;
    }
    channel_ = std::move(opened.channel);
    if (parityCode < 0 || parityCode > 5) return Fail(-2, kOpenFailed);
    if (byteSize < 5 || byteSize > 8) return Fail(-3, "Неверный размер байта данных");
    if (stopBitsCode < 0 || stopBitsCode > 2) return Fail(-2, "Неверное количество стоп-бит");
    if (!IsAcceptedSpeed(speed)) return Fail(-2, "Неверное значение скорости обмена");
    if (!channel_->Configure({speed, parityCode, stopBitsCode, byteSize}))
        return Fail(-4, "Не удалось установить параметры порта");
    channel_->SetRts(false);
    LineTiming t = ComputeLineTiming(speed, parityCode, stopBitsCode);
    characterTime = t.characterTime;
    readInterval = t.readInterval;
    readTotalMultiplier = t.readTotalMultiplier;
    readTotalConstant = 100;
    writeTotalMultiplier = 0;
    writeTotalConstant = 500;
    answerWait = t.answerWait;
    channel_->PurgeSend();
    channel_->PurgeReceive();
    return 0;
}

int Sio::Close() {
    if (!channel_) return -2;
    if (!channel_->PurgeSend() || !channel_->PurgeReceive()) return -1;
    channel_.reset();
    reopen_ = false;
    return 0;
}

int Sio::Purge() {
    if (!channel_) return -2;
    return channel_->PurgeSend() && channel_->PurgeReceive() ? 0 : -1;
}

void Sio::DropChannel() {
    channel_.reset();
    reopen_ = true;
}

int Sio::SendFrame(const char* request, std::size_t count) {
    int fd = channel_->Fd();
    auto writeAll = [&](const char* p, std::size_t n) {
        while (n > 0) {
            long w = channel_->Write(p, n);
            if (w > 0) {
                p += w;
                n -= static_cast<std::size_t>(w);
                continue;
            }
            if (w < 0 && errno == EINTR) continue;
            if (w < 0 && errno != EAGAIN) return ExchangeResult::kTimeout;
            auto which = WaitAnyOrFd({&shutdown_}, fd, POLLOUT, std::nullopt);
            if (!which || *which == 0) return ExchangeResult::kStopped;
        }
        return ExchangeResult::kAnswered;
    };
    if (transmissionMode != 0) return writeAll(request, count);
    channel_->SetRts(true);
    int result = ExchangeResult::kAnswered;
    for (std::size_t i = 0; i < count && result == ExchangeResult::kAnswered; ++i) {
        result = writeAll(request + i, 1);
        if (result == ExchangeResult::kAnswered) BusyWait(characterTime);
    }
    // The transmitter is released even when the send was cut short.
    if (channel_) channel_->SetRts(false);
    return result;
}

int Sio::ReceiveAnswer(char* answer, std::size_t& received) {
    int fd = channel_->Fd();
    bool marks = channel_->MarksLineErrors();
    char got[kAnswerBufferSize];
    std::size_t kept = 0;
    bool pendingFF = false;  // an escape byte waits for its partner
    auto deadline = Clock::now() + std::chrono::milliseconds(answerWait);
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() < 0) left = std::chrono::milliseconds(0);
        auto which = WaitAnyOrFd({&shutdown_}, fd, POLLIN, left);
        if (!which) return ExchangeResult::kTimeout;
        if (*which == 0) return ExchangeResult::kStopped;
        char chunk[256];
        ssize_t n = read(fd, chunk, sizeof chunk);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (n <= 0) {
            // The adapter or the connection is gone: no answer now, a new try later.
            DropChannel();
            return ExchangeResult::kTimeout;
        }
        bool sawEnd = false;
        for (ssize_t i = 0; i < n; ++i) {
            auto c = static_cast<unsigned char>(chunk[i]);
            if (marks && pendingFF) {
                pendingFF = false;
                if (c == 0x00) return ExchangeResult::kLineError;  // break, framing or parity
            } else if (marks && c == 0xFF) {
                pendingFF = true;
                continue;
            }
            if (kept < kAnswerBufferSize) got[kept++] = static_cast<char>(c);
            if (c == '\r') sawEnd = true;
        }
        if (!sawEnd) continue;
        std::memcpy(answer, got, kept);
        const char* cr = static_cast<const char*>(std::memchr(got, '\r', kept));
        received = cr ? static_cast<std::size_t>(cr - got) + 1 : kept;
        int pause = GetLinkPauses().afterAnswerMs;
        if (pause > 0) std::this_thread::sleep_for(std::chrono::milliseconds(pause));
        return ExchangeResult::kAnswered;
    }
}

int Sio::Exchange(const char* request, std::size_t count, char* answer, std::size_t& received) {
    received = 0;
    std::memset(answer, 0, kAnswerBufferSize);
    if (shutdown_.IsSet()) return ExchangeResult::kStopped;
    if (!channel_) {
        if (!reopen_) return ExchangeResult::kStopped;
        // The adapter was unplugged: try it again, and report no answer while it is away.
        if (Open() != 0) {
            reopen_ = true;
            return ExchangeResult::kTimeout;
        }
    }
    channel_->PurgeReceive();
    int sent = SendFrame(request, count);
    if (sent == ExchangeResult::kTimeout) {
        DropChannel();
        return sent;
    }
    if (sent != ExchangeResult::kAnswered) return sent;
    return ReceiveAnswer(answer, received);
}
