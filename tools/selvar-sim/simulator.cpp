#include "simulator.h"

#include <utility>

#include "platform/settings_store.h"
#include "platform/text.h"

namespace sim {

namespace {

constexpr int kFixedAddress = 255;

// Changes the last checksum letter: still a well-formed line, wrong sum.
void CorruptChecksum(LineFrame& frame) {
    char& c = frame.chars[frame.length - 2];
    c = static_cast<char>('G' + ((c - 'G') ^ 0x5));
}

}  // namespace

std::string HexBytes(const std::uint8_t* data, std::size_t count) {
    if (count == 0) return "-";
    std::string out;
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) out += ' ';
        out += Format("%02X", data[i]);
    }
    return out;
}

Simulator::Simulator(DeviceModel& model, SimulatorSettings settings, LogSink log)
    : model_(model),
      settings_(std::move(settings)),
      log_(std::move(log)),
      faults_(settings_.faults, settings_.seed),
      address_(settings_.address),
      addressLength_(settings_.addressLength == 11 ? 11 : 8) {
    if (!settings_.answersPath.empty()) {
        answers_.open(settings_.answersPath, std::ios::app | std::ios::binary);
        if (!answers_) Log("cannot open the answers file " + settings_.answersPath);
    }
}

void Simulator::Log(const std::string& line) const {
    if (log_) log_(line);
}

void Simulator::Verbose(const std::string& line) const {
    if (settings_.verbose) Log(line);
}

std::optional<int> Simulator::OffsetOf(const Request& request) const {
    const int address = RequestAddress(request, addressLength_);
    if (address < 0) return std::nullopt;
    // The master's fixed address reaches the device whatever its own.
    if (address == kFixedAddress) return 0;
    const int offset = address - address_;
    if (offset >= 0 && offset < kObjectOffsets) return offset;
    return std::nullopt;
}

std::string Simulator::Describe(const Request& request, int offset) const {
    std::string name = model_.NameOf(request.hash);
    if (name.empty()) name = Format("#%04X", request.hash);
    if (model_.IsIndexed(request.hash) && request.dataLength >= 2) {
        const std::uint8_t* d = request.Data() + request.dataLength - 2;
        name += Format(":%d", (d[0] << 8) | d[1]);
    }
    if (offset != 0) name += Format("@+%d", offset);
    return name;
}

std::string Simulator::Process(std::string_view line, double now) {
    Response response = Respond(line, now);
    return response.echo + response.answer;
}

Response Simulator::Respond(std::string_view line, double now) {
    Request request;
    const RequestStatus status = ParseRequest(line, request);
    if (status == RequestStatus::Malformed) {
        Verbose(Format("ignored: malformed line of %zu characters", line.size()));
        return {};
    }
    const std::optional<int> offset = OffsetOf(request);
    if (offset) ++traffic_.requests;
    if (now < silentUntil_) {
        if (offset) ++traffic_.unheard;
        Verbose("ignored: the device is out");
        return {};
    }
    if (status == RequestStatus::BadChecksum) {
        // Not answered: the address itself may be the damaged part. The
        // device still notes the error when the frame looks like its own.
        if (offset) model_.RecordError(DeviceError::kBadChecksum);
        Verbose("ignored: bad checksum");
        return {};
    }
    const int address = RequestAddress(request, addressLength_);
    if (!offset) {
        Verbose(Format("ignored: frame for address %d", address));
        return {};
    }
    const std::string target = Describe(request, *offset);
    if (settings_.verbose) {
        std::size_t valueCount = request.dataLength;
        if (model_.IsIndexed(request.hash) && valueCount >= 2) valueCount -= 2;
        const std::string value =
            request.read && valueCount == 0 ? "" : " = " + HexBytes(request.Data(), valueCount);
        Verbose(Format("rx @%d %s %s%s", address, request.read ? "read " : "write", target.c_str(),
                       value.c_str()));
    }

    if (request.hash == kApplyHash) {
        if (const auto network = model_.Apply()) {
            if (network->address != address_ || network->addressLength != addressLength_)
                Log(Format("APLY: now at address %d (%d-bit)", network->address,
                           network->addressLength));
            address_ = network->address;
            addressLength_ = network->addressLength;
        } else {
            Log("APLY: the written address does not fit its address length; unchanged");
        }
        return {};
    }

    const Fault fault = faults_.Next();
    Response response;
    switch (fault.kind) {
        case FaultKind::LostRequest:
            Verbose("fault: request lost on the way");
            return {};
        case FaultKind::Outage:
            // The request is lost with the device.
            silentUntil_ = now + fault.delayMs / 1000;
            response.outageMs = fault.delayMs;
            response.dropLink = faults_.Plan().outageDropsLink;
            Log(Format("fault: out for %.0f ms%s", fault.delayMs,
                       response.dropLink ? ", link gone" : ""));
            return response;
        default:
            break;
    }

    Reply reply;
    if (fault.kind == FaultKind::Error) {
        model_.RecordError(fault.code);
        reply.kind = Reply::Kind::Error;
        reply.code = fault.code;
        Verbose(Format("fault: error 0x%02X", fault.code));
    } else {
        reply = model_.Handle(*offset, request.read, request.hash, request.Data(),
                              request.dataLength, now);
    }
    SaveState();
    if (reply.kind == Reply::Kind::None) return {};
    if (reply.kind == Reply::Kind::Data && answers_.is_open()) {
        // Flushed at once: whoever checks the values reads it while we run.
        answers_ << reply.key << '\t' << (reply.text.empty() ? "-" : reply.text) << '\n';
        answers_.flush();
    }

    std::uint16_t hash = request.hash;
    const std::uint8_t* data = reply.data.data();
    std::size_t count = reply.data.size();
    if (reply.kind == Reply::Kind::Error) {
        hash = kErrorHash;
        data = &reply.code;
        count = 1;
    }
    std::string name = reply.kind == Reply::Kind::Error ? "n.Err" : target;
    if (fault.kind == FaultKind::Foreign) {
        // Another parameter's answer: neither the one asked for nor an error.
        hash = static_cast<std::uint16_t>(hash ^ 0x5A5A);
        if (hash == kErrorHash) hash ^= 1;
        name = Format("#%04X", hash);
    }

    LineFrame frame;
    if (!BuildAnswer(request, address, addressLength_, hash, data, count, frame)) return {};
    if (fault.kind == FaultKind::Checksum) CorruptChecksum(frame);
    Verbose(Format("tx %s = %s", name.c_str(), HexBytes(data, count).c_str()));
    if (fault.kind == FaultKind::Echo) response.echo = std::string(line);
    if (fault.kind == FaultKind::Late || fault.kind == FaultKind::Jitter)
        response.delayMs = fault.delayMs;
    response.answer = Damage(fault, std::string(frame.View()));
    if (!response.answer.empty()) ++traffic_.answered;
    return response;
}

std::string Simulator::Damage(const Fault& fault, std::string answer) {
    switch (fault.kind) {
        case FaultKind::NoAnswer:
            Verbose("fault: answer lost on the way");
            return {};
        case FaultKind::Garbage:
            Verbose("fault: noise instead of the answer");
            return faults_.Garbage();
        case FaultKind::Checksum:
            Verbose("fault: wrong checksum");
            return answer;
        case FaultKind::Foreign:
            Verbose("fault: foreign hash");
            return answer;
        case FaultKind::Late:
        case FaultKind::Jitter:
            Verbose(Format("fault: answer %.0f ms later", fault.delayMs));
            return answer;
        case FaultKind::BitError:
            Verbose("fault: a bit flipped");
            return faults_.FlipBit(answer, addressLength_);
        case FaultKind::Truncated:
            Verbose("fault: answer cut short");
            return faults_.Truncate(answer);
        case FaultKind::NoCr:
            Verbose("fault: no CR");
            answer.pop_back();
            return answer;
        case FaultKind::NoiseBefore:
            Verbose("fault: noise before the answer");
            return faults_.Noise() + answer;
        case FaultKind::Trailing:
            Verbose("fault: stray characters after the answer");
            return answer + faults_.Trailing();
        case FaultKind::Echo:
            Verbose("fault: the request echoed");
            return answer;
        case FaultKind::Parity:
        case FaultKind::Framing: {
            const bool framing = fault.kind == FaultKind::Framing;
            Verbose(framing ? "fault: framing error" : "fault: parity error");
            return faults_.LineError(answer, framing);
        }
        case FaultKind::None:
        case FaultKind::Error:
        case FaultKind::LostRequest:
        case FaultKind::Outage:
            break;
    }
    return answer;
}

std::string Simulator::Summary() const {
    const FaultCounts& counts = faults_.Counts();
    std::string out =
        Format("%llu requests, %llu answered", static_cast<unsigned long long>(traffic_.requests),
               static_cast<unsigned long long>(traffic_.answered));
    if (traffic_.unheard > 0)
        out +=
            Format(", %llu unheard while out", static_cast<unsigned long long>(traffic_.unheard));
    out += Format(", %llu faults (%s)", static_cast<unsigned long long>(counts.Total()),
                  counts.Summary().c_str());
    return out;
}

void Simulator::WriteDump() {
    dumpDue_ = false;
    if (settings_.dumpPath.empty()) return;
    std::string text = "# selvar-sim dump: " + Summary() + "\n";
    text += model_.Dump();
    if (!WriteFileAtomically(settings_.dumpPath, text))
        Log("cannot write the dump file " + settings_.dumpPath);
}

void Simulator::SaveState() {
    const bool changed = model_.TakeStateChanged();
    if (changed || dumpDue_) WriteDump();
    if (!changed || settings_.statePath.empty()) return;
    if (!WriteFileAtomically(settings_.statePath, model_.SaveState()))
        Log("cannot write the state file " + settings_.statePath);
}

}  // namespace sim
