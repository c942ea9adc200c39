#include "faults.h"

#include <utility>

#include "platform/text.h"

namespace sim {

namespace {

constexpr char kStart = '#';
constexpr char kEnd = '\r';
constexpr char kFirstNibble = 'G';
constexpr std::size_t kNoiseMax = 20;

// Flips bit `bit` (0..3) of the nibble letter at line[pos].
void FlipNibbleBit(std::string& line, std::size_t pos, int bit) {
    char& c = line[pos];
    c = static_cast<char>(kFirstNibble + ((c - kFirstNibble) ^ (1 << bit)));
}

}  // namespace

std::string_view FaultName(FaultKind kind) {
    static constexpr std::string_view kNames[kFaultKinds] = {
        "none",         "noanswer", "checksum", "foreign", "garbage", "late",
        "jitter",       "bits",     "truncate", "nocr",    "noise",   "trailing",
        "lost-request", "echo",     "parity",   "framing", "outage",  "error",
    };
    return kNames[static_cast<std::size_t>(kind)];
}

bool FaultPlan::Empty() const {
    return Total() <= 0;
}

double FaultPlan::Total() const {
    double total = noAnswer + checksum + foreign + garbage + late + jitter + bitError + truncated +
                   noCr + noiseBefore + trailing + lostRequest + echo + parity + framing + outage;
    for (const ErrorFault& e : errors)
        total += e.probability;
    return total;
}

std::uint64_t FaultCounts::Total() const {
    std::uint64_t total = 0;
    for (std::size_t i = 1; i < kFaultKinds; ++i)
        total += byKind[i];
    return total;
}

std::string FaultCounts::Summary() const {
    std::string out;
    for (std::size_t i = 1; i < kFaultKinds; ++i) {
        if (byKind[i] == 0) continue;
        if (!out.empty()) out += ", ";
        out += std::string(FaultName(static_cast<FaultKind>(i)));
        out += Format(" %llu", static_cast<unsigned long long>(byKind[i]));
    }
    return out.empty() ? "none" : out;
}

FaultInjector::FaultInjector(FaultPlan plan, std::uint64_t seed)
    : plan_(std::move(plan)), random_(seed) {}

double FaultInjector::Uniform() {
    // 53 random bits: the same numbers from the same seed on every library.
    return static_cast<double>(random_() >> 11) * 0x1.0p-53;
}

double FaultInjector::Draw(DelayRange range) {
    return range.lowMs + (range.highMs - range.lowMs) * Uniform();
}

std::size_t FaultInjector::Below(std::size_t count) {
    return count == 0 ? 0 : static_cast<std::size_t>(random_() % count);
}

Fault FaultInjector::Next() {
    Fault fault;
    if (!plan_.Empty()) {
        const double u = Uniform();
        double edge = 0;
        auto hit = [&](double p) { return u < (edge += p); };
        // The first kinds keep the order they always had, so that an old
        // seed still gives the same run.
        const std::pair<double, FaultKind> kinds[] = {
            {plan_.noAnswer, FaultKind::NoAnswer}, {plan_.checksum, FaultKind::Checksum},
            {plan_.foreign, FaultKind::Foreign},   {plan_.garbage, FaultKind::Garbage},
            {plan_.late, FaultKind::Late},         {plan_.jitter, FaultKind::Jitter},
            {plan_.bitError, FaultKind::BitError}, {plan_.truncated, FaultKind::Truncated},
            {plan_.noCr, FaultKind::NoCr},         {plan_.noiseBefore, FaultKind::NoiseBefore},
            {plan_.trailing, FaultKind::Trailing}, {plan_.lostRequest, FaultKind::LostRequest},
            {plan_.echo, FaultKind::Echo},         {plan_.parity, FaultKind::Parity},
            {plan_.framing, FaultKind::Framing},   {plan_.outage, FaultKind::Outage},
        };
        bool found = false;
        for (const auto& [p, kind] : kinds)
            if (hit(p)) {
                fault.kind = kind;
                found = true;
                break;
            }
        if (!found)
            for (const ErrorFault& e : plan_.errors)
                if (hit(e.probability)) {
                    fault = {FaultKind::Error, e.code, 0};
                    break;
                }
        if (fault.kind == FaultKind::Late) fault.delayMs = Draw(plan_.lateMs);
        if (fault.kind == FaultKind::Jitter) fault.delayMs = Draw(plan_.jitterMs);
        if (fault.kind == FaultKind::Outage) fault.delayMs = Draw(plan_.outageMs);
    }
    ++counts_.byKind[static_cast<std::size_t>(fault.kind)];
    return fault;
}

std::string FaultInjector::Garbage() {
    static constexpr char kNoise[] = "GHIJKLMNOPQRSTUV0123456789?*!$%&+-=@~xyz";
    const std::size_t length = 6 + random_() % 25;
    std::string out;
    for (std::size_t i = 0; i < length; ++i)
        out += kNoise[random_() % (sizeof kNoise - 1)];
    out += kEnd;
    return out;
}

std::string FaultInjector::Noise() {
    const std::size_t length = 1 + Below(kNoiseMax);
    std::string out;
    while (out.size() < length) {
        const char c = static_cast<char>(random_() & 0xFF);
        if (c != kStart && c != kEnd) out += c;
    }
    return out;
}

std::string FaultInjector::Trailing() {
    const std::size_t length = 1 + Below(kNoiseMax);
    std::string out;
    while (out.size() < length) {
        // Start characters and nibble letters often, so that what follows
        // the answer can look like the beginning of another one.
        const std::uint64_t r = random_();
        char c = static_cast<char>(r & 0xFF);
        if ((r >> 8) % 4 == 0) c = kStart;
        if ((r >> 8) % 4 == 1) c = static_cast<char>(kFirstNibble + ((r >> 16) & 0xF));
        if (c != kEnd) out += c;
    }
    return out;
}

std::string FaultInjector::FlipBit(std::string_view line, int addressLength) {
    std::string out(line);
    // Characters: '#', then two per byte; byte b's high nibble at 1 + 2b.
    const std::size_t bytes = (line.size() - 2) / 2;
    const std::size_t dataBytes = bytes >= 6 ? bytes - 6 : 0;
    enum Region { Address, Length, Hash, Data };
    const std::size_t regions = dataBytes > 0 ? 4 : 3;
    switch (static_cast<Region>(Below(regions))) {
        case Address: {
            // Byte 0, and in the 11-bit form bits 7-5 of byte 1 too.
            const std::size_t bits = addressLength == 11 ? 11 : 8;
            const std::size_t bit = Below(bits);
            if (bit < 8)
                FlipNibbleBit(out, bit >= 4 ? 1 : 2, static_cast<int>(bit % 4));
            else
                FlipNibbleBit(out, 3, static_cast<int>(bit - 8 + 1));
            break;
        }
        case Length:
            FlipNibbleBit(out, 4, static_cast<int>(Below(4)));
            break;
        case Hash: {
            const std::size_t bit = Below(16);
            FlipNibbleBit(out, 5 + bit / 4, static_cast<int>(bit % 4));
            break;
        }
        case Data: {
            const std::size_t bit = Below(8 * dataBytes);
            FlipNibbleBit(out, 9 + bit / 4, static_cast<int>(bit % 4));
            break;
        }
    }
    return out;
}

std::string FaultInjector::Truncate(std::string_view line) {
    // Keeps at least the start character and loses at least one character
    // before the CR.
    const std::size_t keep = 1 + Below(line.size() - 2);
    return std::string(line.substr(0, keep)) + kEnd;
}

std::string FaultInjector::LineError(std::string_view line, bool framing) {
    const std::size_t at = Below(line.size());
    std::string out(line.substr(0, at));
    if (plan_.errorMarks) {
        out += '\xFF';
        out += '\0';
        out += line[at];
    } else {
        out += '\0';
    }
    const std::size_t rest = at + 1 + (framing && at + 1 < line.size() ? 1 : 0);
    out += line.substr(rest);
    return out;
}

}  // namespace sim
