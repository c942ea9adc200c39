#include "options.h"

#include <vector>

#include "platform/codepage.h"
#include "platform/text.h"

namespace sim {

namespace {

constexpr int kMaxAddress8 = 255;
constexpr int kMaxAddress11 = 2047;
constexpr std::size_t kMaxIdentityBytes = 15;
constexpr double kMaxDelayMs = 600000;

bool WholeInt(std::string_view text, std::int64_t& out) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        std::uint64_t v = 0;
        for (char c : text.substr(2)) {
            int digit = c >= '0' && c <= '9'   ? c - '0'
                        : c >= 'a' && c <= 'f' ? c - 'a' + 10
                        : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                               : -1;
            if (digit < 0 || v > (std::uint64_t{1} << 59)) return false;
            v = v * 16 + static_cast<std::uint64_t>(digit);
        }
        out = static_cast<std::int64_t>(v);
        return true;
    }
    return !text.empty() && text.front() != ' ' && ParseLeadingInt(text, out) == text.size();
}

bool IntIn(std::string_view text, std::int64_t low, std::int64_t high, int& out) {
    std::int64_t v = 0;
    if (!WholeInt(text, v) || v < low || v > high) return false;
    out = static_cast<int>(v);
    return true;
}

bool Probability(std::string_view text, double& out) {
    double v = 0;
    if (text.empty() || text.front() == ' ' || ParseLeadingReal(text, v) != text.size() || v < 0 ||
        v > 1)
        return false;
    out = v;
    return true;
}

// MS or LOW:HIGH milliseconds, 0..max.
bool Delay(std::string_view text, double max, DelayRange& out) {
    const std::size_t colon = text.find(':');
    const std::string_view low = text.substr(0, colon);
    const std::string_view high = colon == std::string_view::npos ? low : text.substr(colon + 1);
    double a = 0;
    double b = 0;
    if (low.empty() || high.empty() || low.front() == ' ' || high.front() == ' ' ||
        ParseLeadingReal(low, a) != low.size() || ParseLeadingReal(high, b) != high.size() ||
        !(a >= 0) || !(b >= a) || b > max)
        return false;
    out = {a, b};
    return true;
}

// The probabilities of the faults, by option.
double* FaultSlot(std::string_view option, FaultPlan& plan) {
    struct Row {
        std::string_view option;
        double FaultPlan::*slot;
    };
    static constexpr Row kRows[] = {
        {"--fault-noanswer", &FaultPlan::noAnswer},
        {"--fault-checksum", &FaultPlan::checksum},
        {"--fault-foreign", &FaultPlan::foreign},
        {"--fault-garbage", &FaultPlan::garbage},
        {"--fault-late", &FaultPlan::late},
        {"--fault-jitter", &FaultPlan::jitter},
        {"--fault-bits", &FaultPlan::bitError},
        {"--fault-truncate", &FaultPlan::truncated},
        {"--fault-nocr", &FaultPlan::noCr},
        {"--fault-noise", &FaultPlan::noiseBefore},
        {"--fault-trailing", &FaultPlan::trailing},
        {"--fault-lost-request", &FaultPlan::lostRequest},
        {"--fault-echo", &FaultPlan::echo},
        {"--fault-parity", &FaultPlan::parity},
        {"--fault-framing", &FaultPlan::framing},
        {"--fault-outage", &FaultPlan::outage},
    };
    for (const Row& row : kRows)
        if (option == row.option) return &(plan.*row.slot);
    return nullptr;
}

// Every fault of the line at once, shared out evenly; the error codes are
// the refusals a busy or a protected device gives.
void ShareOut(double total, FaultPlan& plan) {
    static constexpr std::uint8_t kCodes[] = {0x33, 0x41};
    constexpr int kKinds = 16 + static_cast<int>(std::size(kCodes));
    const double each = total / kKinds;
    for (double* p :
         {&plan.noAnswer, &plan.checksum, &plan.foreign, &plan.garbage, &plan.late, &plan.jitter,
          &plan.bitError, &plan.truncated, &plan.noCr, &plan.noiseBefore, &plan.trailing,
          &plan.lostRequest, &plan.echo, &plan.parity, &plan.framing, &plan.outage})
        *p = each;
    plan.errors.clear();
    for (std::uint8_t code : kCodes)
        plan.errors.push_back({code, each});
}

// HOST:PORT, :PORT or PORT; "[v6]:PORT" for IPv6 addresses.
bool HostPort(std::string_view text, Options& out) {
    std::string_view host;
    std::string_view port = text;
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find("]:");
        if (close == std::string_view::npos) return false;
        host = text.substr(1, close - 1);
        port = text.substr(close + 2);
    } else if (const std::size_t colon = text.rfind(':'); colon != std::string_view::npos) {
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
    }
    int number = 0;
    if (!IntIn(port, 0, 65535, number)) return false;
    if (!host.empty()) out.host = std::string(host);
    out.port = std::string(port);
    return true;
}

}  // namespace

std::string UsageText() {
    return R"(usage: selvar-sim [OPTIONS]

A simulated controller that answers the device protocol like a real one.

Device:
  --modification MOD   a1, b4, b2 or a display name (default b4)
  --address N          the device's address (default 16)
  --alen 8|11          address length in bits (default 8)
  --state FILE         keep written values in FILE across restarts
  --access-code N      the "pass" value that unlocks protected parameters (default 271)
  --restart-cause N    what "exit" reports as the last restart (default 7, power-on reset)
  --dev TEXT, --ver TEXT, --pver TEXT
                       identification answers other than the modification's own
Transport (one of):
  --pty [--link PATH]  a pseudo-terminal; its path is the first line on stdout (default)
  --tcp [HOST:]PORT    listen on TCP (loopback unless HOST is given; port 0: any free
                       port); the first line on stdout is tcp://HOST:PORT
  --stdio              requests on stdin, answers on stdout
Line:
  --baud N             emulate the character time of N bit/s (11 bits a character)
  --turnaround MS      reaction time before an answer (default 2)
Faults (probabilities 0..1 per request, at most one fault a request):
  --fault-noanswer P   the device did it, the answer is lost
  --fault-lost-request P
                       the device never heard the request and did nothing
  --fault-checksum P   --fault-foreign P (another parameter's hash)
  --fault-garbage P    noise instead of the answer
  --fault-late P       the answer comes after --late-ms (default 400:1200)
  --fault-jitter P     the turnaround grows by --jitter-ms (default 0:150)
  --fault-bits P       a bit of the address, length, hash or data flips
  --fault-truncate P   the answer stops short   --fault-nocr P   no CR
  --fault-noise P      noise before the answer  --fault-trailing P  after it
  --fault-echo P       the request comes back before the answer
  --fault-parity P     --fault-framing P   a character with a line error
  --fault-outage P     the device is gone for --outage-ms (default 3000)
  --fault-error CODE:P answer "n.Err" with CODE (repeatable)
  --fault-all P        every kind above at once, P shared out evenly
  --late-ms, --jitter-ms, --outage-ms MS|LOW:HIGH
                       the delay, drawn evenly from LOW..HIGH
  --outage-link        an outage takes the terminal or the TCP port away too
  --error-marks        line errors as 0xFF 0x00 CHAR (--tcp, --stdio only)
  --seed N             repeatable faults (default: random, printed to stderr)
Other:
  --dump FILE          every value, rewritten after each change and at the end
  --answers FILE       append each value answered, a line "NAME[:I][@K]<TAB>TEXT"
  -v, --verbose        log every frame to stderr
  -h, --help           this text
)";
}

bool ParseOptions(std::span<const std::string_view> args, Options& out, std::string& error) {
    int transports = 0;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string_view option = args[i];
        std::string_view value;
        bool inlineValue = false;
        if (option.starts_with("--"))
            if (const std::size_t eq = option.find('='); eq != std::string_view::npos) {
                value = option.substr(eq + 1);
                option = option.substr(0, eq);
                inlineValue = true;
            }
        // Takes the option's value; false when it is missing.
        auto next = [&]() {
            if (inlineValue) return true;
            if (i + 1 >= args.size()) return false;
            value = args[++i];
            return true;
        };
        auto bad = [&](const char* what) {
            error = std::string(option) + ": " + what;
            return false;
        };
        auto flag = [&]() {
            if (inlineValue) return bad("takes no value");
            return true;
        };

        if (option == "-h" || option == "--help") {
            if (!flag()) return false;
            out.help = true;
        } else if (option == "-v" || option == "--verbose") {
            if (!flag()) return false;
            out.verbose = true;
        } else if (option == "--pty") {
            if (!flag()) return false;
            out.transport = Transport::Pty;
            ++transports;
        } else if (option == "--stdio") {
            if (!flag()) return false;
            out.transport = Transport::Stdio;
            ++transports;
        } else if (option == "--tcp") {
            if (!next() || !HostPort(value, out)) return bad("expects [HOST:]PORT");
            out.transport = Transport::Tcp;
            ++transports;
        } else if (option == "--link") {
            if (!next() || value.empty()) return bad("expects a path");
            out.link = std::string(value);
        } else if (option == "--modification") {
            if (!next() || value.empty()) return bad("expects a1, b4, b2 or a display name");
            out.modification = std::string(value);
        } else if (option == "--address") {
            if (!next() || !IntIn(value, 0, kMaxAddress11, out.address))
                return bad("expects an address 0..2047");
        } else if (option == "--alen") {
            if (!next() || !IntIn(value, 8, 11, out.addressLength) ||
                (out.addressLength != 8 && out.addressLength != 11))
                return bad("expects 8 or 11");
        } else if (option == "--baud") {
            if (!next() || !IntIn(value, 50, 4000000, out.baud))
                return bad("expects a speed in bit/s");
        } else if (option == "--turnaround") {
            double ms = 0;
            if (!next() || ParseLeadingReal(value, ms) != value.size() || value.empty() || ms < 0 ||
                ms > 10000)
                return bad("expects milliseconds 0..10000");
            out.turnaroundMs = ms;
        } else if (double* probability = FaultSlot(option, out.faults)) {
            if (!next() || !Probability(value, *probability))
                return bad("expects a probability 0..1");
        } else if (option == "--fault-all") {
            double p = 0;
            if (!next() || !Probability(value, p)) return bad("expects a probability 0..1");
            ShareOut(p, out.faults);
        } else if (option == "--late-ms" || option == "--jitter-ms" || option == "--outage-ms") {
            DelayRange& range = option == "--late-ms"     ? out.faults.lateMs
                                : option == "--jitter-ms" ? out.faults.jitterMs
                                                          : out.faults.outageMs;
            if (!next() || !Delay(value, kMaxDelayMs, range))
                return bad("expects milliseconds MS or LOW:HIGH, at most 600000");
        } else if (option == "--outage-link") {
            if (!flag()) return false;
            out.faults.outageDropsLink = true;
        } else if (option == "--error-marks") {
            if (!flag()) return false;
            out.faults.errorMarks = true;
        } else if (option == "--dump" || option == "--answers") {
            if (!next() || value.empty()) return bad("expects a file");
            (option == "--dump" ? out.dumpPath : out.answersPath) = std::string(value);
        } else if (option == "--fault-error") {
            const std::size_t colon = next() ? value.find(':') : std::string_view::npos;
            int code = 0;
            double p = 0;
            if (colon == std::string_view::npos || !IntIn(value.substr(0, colon), 0, 255, code) ||
                !Probability(value.substr(colon + 1), p))
                return bad("expects CODE:PROBABILITY, such as 0x33:0.1");
            out.faults.errors.push_back({static_cast<std::uint8_t>(code), p});
        } else if (option == "--seed") {
            std::int64_t seed = 0;
            if (!next() || !WholeInt(value, seed) || seed < 0) return bad("expects a number");
            out.seed = static_cast<std::uint64_t>(seed);
        } else if (option == "--state") {
            if (!next() || value.empty()) return bad("expects a file");
            out.statePath = std::string(value);
        } else if (option == "--access-code") {
            if (!next() || !IntIn(value, 0, 999, out.accessCode)) return bad("expects 0..999");
        } else if (option == "--restart-cause") {
            if (!next() || !IntIn(value, 0, 255, out.restartCause)) return bad("expects 0..255");
        } else if (option == "--dev" || option == "--ver" || option == "--pver") {
            if (!next() || Utf8ToCp1251(value).size() > kMaxIdentityBytes)
                return bad("expects a text of at most 15 characters");
            std::optional<std::string>& slot = option == "--dev"   ? out.dev
                                               : option == "--ver" ? out.ver
                                                                   : out.pver;
            slot = std::string(value);
        } else {
            error = "unknown option " + std::string(args[i]) + " (see --help)";
            return false;
        }
    }
    if (out.help) return true;
    if (transports > 1) {
        error = "choose one of --pty, --tcp and --stdio";
        return false;
    }
    if (!out.link.empty() && out.transport != Transport::Pty) {
        error = "--link goes with --pty";
        return false;
    }
    if (out.faults.errorMarks && out.transport == Transport::Pty) {
        // The terminal doubles every 0xFF written to it, so no mark gets through.
        error = "--error-marks cannot cross a pseudo-terminal; use --tcp or --stdio";
        return false;
    }
    if (out.faults.outageDropsLink && out.transport == Transport::Stdio) {
        error = "--outage-link needs --pty or --tcp: the standard streams cannot come back";
        return false;
    }
    if (out.addressLength == 8 && out.address > kMaxAddress8) {
        error = "--address above 255 needs --alen 11";
        return false;
    }
    if (out.faults.Total() > 1) {
        error = "the fault probabilities add up to more than 1";
        return false;
    }
    return true;
}

}  // namespace sim
