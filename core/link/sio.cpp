#include "link/sio.h"

#include <poll.h>
#include <sys/prctl.h>
#include <time.h>
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

#include "link/frame.h"
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
// character has left. Spinning for every character kept a core busy all day,
// so the wait sleeps to just short of the deadline and spins only the rest;
// deadlines are counted from the frame's start, so a late wake-up is never
// added to the next character's wait.
constexpr auto kSpinTail = std::chrono::microseconds(40);

void WaitUntil(Clock::time_point deadline) {
    auto sleepUntil = deadline - kSpinTail;
    if (Clock::now() < sleepUntil) {
        auto since =
            std::chrono::duration_cast<std::chrono::nanoseconds>(sleepUntil.time_since_epoch());
        timespec ts{};
        ts.tv_sec = static_cast<time_t>(since.count() / 1000000000);
        ts.tv_nsec = static_cast<long>(since.count() % 1000000000);
        // steady_clock is CLOCK_MONOTONIC on Linux.
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
        }
    }
    while (Clock::now() < deadline) {
    }
}

// The default timer slack (50 us) would make every character's sleep late by
// half a character at 115200 bit/s.
void TightenTimerSlack() {
    thread_local bool done = false;
    if (done) return;
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    done = true;
}

thread_local Event* tAbort = nullptr;

enum class ReadOutcome { Data, Elapsed, Stopped, Gone };

// Waits until the deadline for characters on fd, or for the link shutdown or
// the thread's abort event, and reads what came (n > 0 with Data).
ReadOutcome ReadBefore(int fd, Event& shutdown, Clock::time_point deadline, char* buffer,
                       std::size_t size, std::size_t& n) {
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() < 0) left = std::chrono::milliseconds(0);
        Event* abort = tAbort ? tAbort : &shutdown;
        auto which = WaitAnyOrFd({&shutdown, abort}, fd, POLLIN, left);
        if (!which) return ReadOutcome::Elapsed;
        if (*which < 2) return ReadOutcome::Stopped;
        ssize_t got = read(fd, buffer, size);
        if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        // The adapter or the connection is gone.
        if (got <= 0) return ReadOutcome::Gone;
        n = static_cast<std::size_t>(got);
        return ReadOutcome::Data;
    }
}

}  // namespace

Sio::ThreadAbort::ThreadAbort(Event& abort) : previous_(tAbort) {
    tAbort = &abort;
}

Sio::ThreadAbort::~ThreadAbort() {
    tAbort = previous_;
}

Event* Sio::ThreadAbort::Current() {
    return tAbort;
}

bool Sio::Stopping() {
    return shutdown_.IsSet() || (tAbort && tAbort->IsSet());
}

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
    {
        std::lock_guard<std::mutex> lock(lock_);
        if (channel_) CloseLocked();
    }
    SettingsStore::Instance().WriteNumber("RS485type", transmissionMode != 0 ? 1 : 0);
}

bool Sio::IsOpen() const {
    return open_.load();
}

bool Sio::IsWanted() const {
    std::lock_guard<std::mutex> lock(lock_);
    return channel_ != nullptr || lost_;
}

PortFailure Sio::LastFailure() const {
    std::lock_guard<std::mutex> lock(lock_);
    return failure_;
}

int Sio::Fail(int code, const char* text) {
    failure_ = {code, text};
    // A half-configured port is worse than a closed one: the next exchange
    // would talk through it with the wrong settings.
    channel_.reset();
    open_ = false;
    return code;
}

int Sio::Open() {
    std::lock_guard<std::mutex> lock(lock_);
    lost_ = false;
    heldOpen_ = false;
    return OpenLocked();
}

int Sio::OpenLocked() {
    failure_ = {};
    outstanding_ = 0;
    channel_.reset();
    open_ = false;
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
    open_ = true;
    return 0;
}

void Sio::CloseLocked() {
    channel_.reset();
    open_ = false;
    lost_ = false;
    heldOpen_ = false;
}

int Sio::Close() {
    std::lock_guard<std::mutex> lock(lock_);
    if (!channel_) {
        // A vanished adapter is forgotten too: nobody wants the port now.
        bool wasLost = lost_;
        lost_ = false;
        heldOpen_ = false;
        return wasLost ? 0 : -2;
    }
    if (!channel_->PurgeSend() || !channel_->PurgeReceive()) return -1;
    CloseLocked();
    return 0;
}

int Sio::Purge() {
    std::lock_guard<std::mutex> lock(lock_);
    if (!channel_) return -2;
    return channel_->PurgeSend() && channel_->PurgeReceive() ? 0 : -1;
}

Sio::Hold::Hold(Sio& port) : port_(port) {
    Ensure();
}

bool Sio::Hold::Ensure() {
    std::lock_guard<std::mutex> lock(port_.lock_);
    if (!held_) {
        held_ = true;
        ++port_.holds_;
    }
    if (!port_.channel_ && !port_.lost_) {
        wanted_ = port_.OpenLocked() == 0;
        if (wanted_) port_.heldOpen_ = true;
        return wanted_;
    }
    return wanted_ = true;
}

Sio::Hold::~Hold() {
    if (!held_) return;
    std::lock_guard<std::mutex> lock(port_.lock_);
    if (--port_.holds_ == 0 && port_.heldOpen_) port_.CloseLocked();
}

void Sio::DropChannel() {
    channel_.reset();
    open_ = false;
    lost_ = true;
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
            Event* abort = tAbort ? tAbort : &shutdown_;
            auto which = WaitAnyOrFd({&shutdown_, abort}, fd, POLLOUT, std::nullopt);
            if (!which || *which < 2) return ExchangeResult::kStopped;
        }
        return ExchangeResult::kAnswered;
    };
    if (transmissionMode != 0) return writeAll(request, count);
    TightenTimerSlack();
    channel_->SetRts(true);
    int result = ExchangeResult::kAnswered;
    const auto perCharacter = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double, std::milli>(characterTime));
    const auto start = Clock::now();
    for (std::size_t i = 0; i < count && result == ExchangeResult::kAnswered; ++i) {
        result = writeAll(request + i, 1);
        if (result == ExchangeResult::kAnswered)
            WaitUntil(start + perCharacter * static_cast<long>(i + 1));
    }
    // The transmitter is released even when the send was cut short.
    channel_->SetRts(false);
    return result;
}

int Sio::ReceiveAnswer(char* answer, std::size_t& received, const AnswerFilter& accept) {
    int fd = channel_->Fd();
    bool marks = channel_->MarksLineErrors();
    // Room for a whole answer plus whatever stray line came before it.
    char got[4 * kAnswerBufferSize];
    std::size_t kept = 0;
    bool pendingFF = false;  // an escape byte waits for its partner
    auto deadline = Clock::now() + std::chrono::milliseconds(answerWait);
    for (;;) {
        char chunk[256];
        std::size_t n = 0;
        switch (ReadBefore(fd, shutdown_, deadline, chunk, sizeof chunk, n)) {
            case ReadOutcome::Elapsed:
                return ExchangeResult::kTimeout;
            case ReadOutcome::Stopped:
                return ExchangeResult::kStopped;
            case ReadOutcome::Gone:
                // No answer now, a new try later.
                DropChannel();
                return ExchangeResult::kTimeout;
            case ReadOutcome::Data:
                break;
        }
        for (std::size_t i = 0; i < n; ++i) {
            auto c = static_cast<unsigned char>(chunk[i]);
            if (marks && pendingFF) {
                pendingFF = false;
                if (c == 0x00) return ExchangeResult::kLineError;  // break, framing or parity
            } else if (marks && c == 0xFF) {
                pendingFF = true;
                continue;
            }
            if (kept < sizeof got) got[kept++] = static_cast<char>(c);
            if (c != '\r') continue;
            if (outstanding_ > 0) --outstanding_;
            // A whole line: the frame starts at its last '#', whatever noise
            // came before it.
            std::string_view line(got, kept);
            std::size_t start = line.rfind(kFrameStart);
            std::string_view frame = start == std::string_view::npos ? line : line.substr(start);
            if (start != std::string_view::npos && accept && !accept(frame)) {
                ++dropped_;
                kept = 0;
                continue;
            }
            received = std::min(frame.size(), kAnswerBufferSize);
            std::memcpy(answer, frame.data(), received);
            int pause = GetLinkPauses().afterAnswerMs;
            if (pause > 0) std::this_thread::sleep_for(std::chrono::milliseconds(pause));
            return ExchangeResult::kAnswered;
        }
    }
}

int Sio::Drain() {
    const int fd = channel_->Fd();
    // The answer is late already: it gets as long again as it had.
    const auto deadline = Clock::now() + 2 * std::chrono::milliseconds(answerWait);
    while (outstanding_ > 0) {
        char chunk[256];
        std::size_t n = 0;
        const ReadOutcome got = ReadBefore(fd, shutdown_, deadline, chunk, sizeof chunk, n);
        if (got == ReadOutcome::Elapsed) break;
        if (got == ReadOutcome::Stopped) return ExchangeResult::kStopped;
        if (got == ReadOutcome::Gone) {
            DropChannel();
            return ExchangeResult::kTimeout;
        }
        for (std::size_t i = 0; i < n && outstanding_ > 0; ++i)
            if (chunk[i] == '\r') {
                --outstanding_;
                ++dropped_;
            }
    }
    outstanding_ = 0;
    return ExchangeResult::kAnswered;
}

int Sio::Exchange(const char* request, std::size_t count, char* answer, std::size_t& received,
                  const AnswerFilter& accept) {
    received = 0;
    std::memset(answer, 0, kAnswerBufferSize);
    if (Stopping()) return ExchangeResult::kStopped;
    std::lock_guard<std::mutex> lock(lock_);
    if (!channel_) {
        if (!lost_) return ExchangeResult::kStopped;
        // The adapter was unplugged: try it again, and report no answer while it is away.
        if (OpenLocked() != 0) {
            lost_ = true;
            return ExchangeResult::kTimeout;
        }
        lost_ = false;
    }
    // An earlier request whose answer is still on its way would answer this
    // one: wait it out first. A resend of the same request may take it.
    const std::string_view thisRequest(request, count);
    if (outstanding_ > 0 && thisRequest != lastRequest_) {
        int drained = Drain();
        if (drained != ExchangeResult::kAnswered) return drained;
    }
    lastRequest_.assign(thisRequest);
    // Whatever arrived between requests answers none of ours.
    channel_->PurgeReceive();
    int sent = SendFrame(request, count);
    ++outstanding_;
    if (sent == ExchangeResult::kTimeout) {
        DropChannel();
        return sent;
    }
    if (sent != ExchangeResult::kAnswered) return sent;
    return ReceiveAnswer(answer, received, accept);
}
