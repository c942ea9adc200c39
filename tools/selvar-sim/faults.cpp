#include "faults.h"

#include <utility>

namespace sim {

bool FaultPlan::Empty() const {
    return Total() <= 0;
}

double FaultPlan::Total() const {
    double total = noAnswer + checksum + foreign + garbage;
    for (const ErrorFault& e : errors)
        total += e.probability;
    return total;
}

FaultInjector::FaultInjector(FaultPlan plan, std::uint64_t seed)
    : plan_(std::move(plan)), random_(seed) {}

double FaultInjector::Uniform() {
    // 53 random bits: the same numbers from the same seed on every library.
    return static_cast<double>(random_() >> 11) * 0x1.0p-53;
}

Fault FaultInjector::Next() {
    if (plan_.Empty()) return {};
    const double u = Uniform();
    double edge = 0;
    auto hit = [&](double p) { return u < (edge += p); };
    if (hit(plan_.noAnswer)) return {FaultKind::NoAnswer, 0};
    if (hit(plan_.checksum)) return {FaultKind::Checksum, 0};
    if (hit(plan_.foreign)) return {FaultKind::Foreign, 0};
    if (hit(plan_.garbage)) return {FaultKind::Garbage, 0};
    for (const ErrorFault& e : plan_.errors)
        if (hit(e.probability)) return {FaultKind::Error, e.code};
    return {};
}

std::string FaultInjector::Garbage() {
    static constexpr char kNoise[] = "GHIJKLMNOPQRSTUV0123456789?*!$%&+-=@~xyz";
    const std::size_t length = 6 + random_() % 25;
    std::string out;
    for (std::size_t i = 0; i < length; ++i)
        out += kNoise[random_() % (sizeof kNoise - 1)];
    out += '\r';
    return out;
}

}  // namespace sim
