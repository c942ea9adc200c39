#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

// Line and device faults the simulator injects, each with its probability
// per request addressed to the device. At most one fault hits a request; the
// draws come from one seeded generator, so a seed repeats a run's faults
// exactly.
namespace sim {

struct ErrorFault {
    std::uint8_t code;
    double probability;
};

// A delay drawn evenly from low..high milliseconds.
struct DelayRange {
    double lowMs = 0;
    double highMs = 0;
};

struct FaultPlan {
    double noAnswer = 0;             // the device did it, but its answer is lost
    double checksum = 0;             // the answer arrives with a wrong checksum
    double foreign = 0;              // the answer carries another parameter's hash
    double garbage = 0;              // noise without the start character arrives instead
    double late = 0;                 // the answer comes after a delay drawn from lateMs
    double jitter = 0;               // the turnaround grows by a delay drawn from jitterMs
    double bitError = 0;             // one bit of the address, length, hash or data flips
    double truncated = 0;            // the answer stops short, then CR
    double noCr = 0;                 // the answer lacks its CR
    double noiseBefore = 0;          // line noise, then the whole answer
    double trailing = 0;             // the whole answer, then stray characters
    double lostRequest = 0;          // the device never heard the request and did nothing
    double echo = 0;                 // the line hands the request back before the answer
    double parity = 0;               // one character of the answer has a parity error
    double framing = 0;              // one character of the answer has a framing error
    double outage = 0;               // the device (or the link) is gone for outageMs
    std::vector<ErrorFault> errors;  // the device refuses with this code

    // Past the master's answer wait (300 ms at 9600 bit/s, less when faster).
    DelayRange lateMs{400, 1200};
    // Within the answer wait.
    DelayRange jitterMs{0, 150};
    DelayRange outageMs{3000, 3000};
    // An outage takes the pseudo-terminal or the TCP listener away too, as an
    // unplugged adapter or a converter that lost its network does.
    bool outageDropsLink = false;
    // Parity and framing errors are marked in the byte stream as a receiver
    // with parity marking delivers them (0xFF 0x00 before the character);
    // otherwise the character arrives as 0x00, as without marking.
    bool errorMarks = false;

    bool Empty() const;
    // Sum of all probabilities; a plan above 1 is not usable.
    double Total() const;
};

enum class FaultKind {
    None,
    NoAnswer,
    Checksum,
    Foreign,
    Garbage,
    Late,
    Jitter,
    BitError,
    Truncated,
    NoCr,
    NoiseBefore,
    Trailing,
    LostRequest,
    Echo,
    Parity,
    Framing,
    Outage,
    Error,
};
constexpr std::size_t kFaultKinds = static_cast<std::size_t>(FaultKind::Error) + 1;

// The kind's short name, as the options and the summary spell it.
std::string_view FaultName(FaultKind kind);

struct Fault {
    FaultKind kind = FaultKind::None;
    std::uint8_t code = 0;  // Error
    double delayMs = 0;     // Late, Jitter, Outage
};

// How many requests each kind hit.
struct FaultCounts {
    std::array<std::uint64_t, kFaultKinds> byKind{};
    std::uint64_t Total() const;  // all but None
    // "late 3, echo 1" for the kinds that occurred; "none" when none did.
    std::string Summary() const;
};

class FaultInjector {
  public:
    FaultInjector(FaultPlan plan, std::uint64_t seed);

    // The fault for the next request addressed to the device.
    Fault Next();
    const FaultPlan& Plan() const { return plan_; }
    const FaultCounts& Counts() const { return counts_; }

    // A burst of line noise: nibble letters and other printable characters,
    // never the start character, ended by CR so that the master reads it.
    std::string Garbage();
    // Stray bytes of any value but the start character and CR, as a line
    // picks up while nobody drives it (1 to 20 of them).
    std::string Noise();
    // Stray bytes after an answer: anything but CR, a start character
    // included, so that a partial frame may follow the answer.
    std::string Trailing();
    // A number 0..count-1.
    std::size_t Below(std::size_t count);

    // The answer line with one nibble bit flipped in the address, the data
    // length, the name hash or the data, its checksum left as it was.
    std::string FlipBit(std::string_view line, int addressLength);
    // The answer cut after 1 to length-2 characters, then CR.
    std::string Truncate(std::string_view line);
    // One character hit by a parity or a framing error; a framing error also
    // loses the character after it, as the receiver finds its start late.
    std::string LineError(std::string_view line, bool framing);

  private:
    double Uniform();
    double Draw(DelayRange range);

    FaultPlan plan_;
    std::mt19937_64 random_;
    FaultCounts counts_;
};

}  // namespace sim
