#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

// Line and device faults the simulator injects, each with its probability
// per answered request. At most one fault hits a request; the draws come from
// one seeded generator, so a seed repeats a run's faults exactly.
namespace sim {

struct ErrorFault {
    std::uint8_t code;
    double probability;
};

struct FaultPlan {
    double noAnswer = 0;             // the answer is lost
    double checksum = 0;             // the answer arrives with a wrong checksum
    double foreign = 0;              // the answer carries another parameter's hash
    double garbage = 0;              // noise without the start character arrives instead
    std::vector<ErrorFault> errors;  // the device refuses with this code

    bool Empty() const;
    // Sum of all probabilities; a plan above 1 is not usable.
    double Total() const;
};

enum class FaultKind { None, NoAnswer, Checksum, Foreign, Garbage, Error };

struct Fault {
    FaultKind kind = FaultKind::None;
    std::uint8_t code = 0;  // Error
};

class FaultInjector {
  public:
    FaultInjector(FaultPlan plan, std::uint64_t seed);

    // The fault for the next answered request.
    Fault Next();
    // A burst of line noise: nibble letters and other printable characters,
    // never the start character, ended by CR so that the master reads it.
    std::string Garbage();

  private:
    double Uniform();

    FaultPlan plan_;
    std::mt19937_64 random_;
};

}  // namespace sim
