#include "options.h"

#include <vector>

#include "platform/codepage.h"
#include "platform/text.h"

namespace sim {

namespace {

constexpr int kMaxAddress8 = 255;
constexpr int kMaxAddress11 = 2047;
constexpr std::size_t kMaxIdentityBytes = 15;

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
Faults (probabilities 0..1 per answered request, at most one fault a request):
  --fault-noanswer P   --fault-checksum P   --fault-foreign P   --fault-garbage P
  --fault-error CODE:P answer "n.Err" with CODE (repeatable)
  --seed N             repeatable faults (default: random, printed to stderr)
Other:
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
        } else if (option == "--fault-noanswer" || option == "--fault-checksum" ||
                   option == "--fault-foreign" || option == "--fault-garbage") {
            double p = 0;
            if (!next() || !Probability(value, p)) return bad("expects a probability 0..1");
            double& slot = option == "--fault-noanswer"   ? out.faults.noAnswer
                           : option == "--fault-checksum" ? out.faults.checksum
                           : option == "--fault-foreign"  ? out.faults.foreign
                                                          : out.faults.garbage;
            slot = p;
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
