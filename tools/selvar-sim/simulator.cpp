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
      addressLength_(settings_.addressLength == 11 ? 11 : 8) {}

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
    Request request;
    const RequestStatus status = ParseRequest(line, request);
    if (status == RequestStatus::Malformed) {
        Verbose(Format("ignored: malformed line of %zu characters", line.size()));
        return {};
    }
    const std::optional<int> offset = OffsetOf(request);
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
    switch (fault.kind) {
        case FaultKind::NoAnswer:
            Verbose("fault: no answer");
            return {};
        case FaultKind::Garbage: {
            std::string noise = faults_.Garbage();
            Verbose("fault: noise instead of the answer");
            return noise;
        }
        case FaultKind::Checksum:
            CorruptChecksum(frame);
            Verbose("fault: wrong checksum");
            break;
        case FaultKind::Foreign:
            Verbose("fault: foreign hash");
            break;
        case FaultKind::None:
        case FaultKind::Error:
            break;
    }
    Verbose(Format("tx %s = %s", name.c_str(), HexBytes(data, count).c_str()));
    return std::string(frame.View());
}

void Simulator::SaveState() {
    if (!model_.TakeStateChanged() || settings_.statePath.empty()) return;
    if (!WriteFileAtomically(settings_.statePath, model_.SaveState()))
        Log("cannot write the state file " + settings_.statePath);
}

}  // namespace sim
