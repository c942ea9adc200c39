#include "platform/app_state.h"

#include <sys/random.h>

#include <chrono>
#include <cstring>

namespace {
// The latch is a bit of the same word, so that a change racing with Latch
// either lands before it or not at all.
constexpr std::uint32_t kLatchBit = 0x80000000u;
constinit std::atomic<std::uint32_t> gOutcome{0};

template <typename Change>
void Update(Change change) {
    std::uint32_t now = gOutcome.load();
    while (!(now & kLatchBit) && !gOutcome.compare_exchange_weak(now, change(now) & ~kLatchBit)) {
    }
}
}  // namespace

namespace Outcome {

std::uint32_t Flags() {
    return gOutcome.load() & ~kLatchBit;
}
void Set(std::uint32_t bits) {
    Update([bits](std::uint32_t now) { return now | bits; });
}
void Clear(std::uint32_t bits) {
    Update([bits](std::uint32_t now) { return now & ~bits; });
}
void Reset(std::uint32_t value) {
    Update([value](std::uint32_t) { return value; });
}
void Latch(std::uint32_t value) {
    gOutcome.store((value & ~kLatchBit) | kLatchBit);
}
void Unlatch() {
    gOutcome.fetch_and(~kLatchBit);
}

int ExitCode(std::uint32_t flags) {
    struct Code {
        std::uint32_t bit;
        int code;
    };
    constexpr Code kCodes[] = {{kFileMissing, 200}, {kPortFailed, 201}, {kNoAnswer, 202},
                               {kBadAnswers, 203},  {kCancelled, 205},  {kUnknownDevice, 206}};
    for (const Code& c : kCodes)
        if (flags & c.bit) return c.code;
    return 0;
}

}  // namespace Outcome

StartupSwitches& Startup() {
    static StartupSwitches switches;
    return switches;
}

OperationStamp NewOperationStamp() {
    OperationStamp stamp{};
    std::size_t got = 0;
    while (got < stamp.size()) {
        ssize_t n = getrandom(stamp.data() + got, stamp.size() - got, 0);
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    if (got < stamp.size()) {
        // No entropy source: the clock still makes consecutive stamps differ.
        auto t = std::chrono::steady_clock::now().time_since_epoch().count();
        std::memcpy(stamp.data(), &t, sizeof t);
    }
    stamp[0] |= 1;  // never all zero
    return stamp;
}
