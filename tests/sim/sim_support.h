#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "description/device_description.h"
#include "link/frame.h"
#include "model.h"
#include "model/my_converter.h"
#include "simulator.h"

namespace simtest {

using Bytes = std::vector<std::uint8_t>;

// A device loaded from the built description files, with a master's view of
// it: requests built and answers parsed by the core's own codec.
struct Device {
    explicit Device(std::string_view modification, sim::ModelSettings settings = {},
                    sim::SimulatorSettings simSettings = {}) {
        const CDeviceDescription* description = FindDeviceDescription(modification);
        if (!description) {
            ADD_FAILURE() << "unknown modification " << modification;
            return;
        }
        settings.wallClock = [] { return std::time_t{1700000000}; };
        std::string error;
        loaded = model.Load(*description, settings, error);
        EXPECT_TRUE(loaded) << error;
        simSettings.address = settings.address;
        simSettings.addressLength = settings.addressLength;
        simulator = std::make_unique<sim::Simulator>(
            model, simSettings, [this](const std::string& l) { log += l + '\n'; });
    }

    // The line sent back to a request; empty when the device stays silent.
    std::string Send(int offset, bool read, std::string_view name, const Bytes& data = {},
                     double now = 0) {
        LineFrame frame;
        EXPECT_TRUE(build_request(address, offset, addressLength, read, hash_name(name),
                                  data.data(), data.size(), frame));
        return simulator->Process(frame.View(), now);
    }

    struct Answer {
        bool answered = false;
        AnswerStatus status = AnswerStatus::NotAFrame;
        std::uint16_t hash = 0;
        Bytes data;
    };
    Answer Exchange(int offset, bool read, std::string_view name, const Bytes& data = {},
                    double now = 0) {
        Answer a;
        const std::string line = Send(offset, read, name, data, now);
        if (line.empty()) return a;
        a.answered = true;
        ParsedAnswer parsed;
        a.status = parse_answer(line, parsed);
        a.hash = parsed.nameHash;
        a.data.assign(parsed.Data(), parsed.Data() + parsed.dataLength);
        return a;
    }
    Answer Read(std::string_view name, const Bytes& index = {}, int offset = 0, double now = 0) {
        return Exchange(offset, true, name, index, now);
    }
    Answer Write(std::string_view name, Bytes value, const Bytes& index = {}, int offset = 0) {
        value.insert(value.end(), index.begin(), index.end());
        return Exchange(offset, false, name, value);
    }

    sim::DeviceModel model;
    std::unique_ptr<sim::Simulator> simulator;
    std::string log;
    bool loaded = false;
    int address = 16;
    int addressLength = 8;
};

// The value text a master decodes from answer data.
inline std::string Decode(std::string_view name, std::string_view type, const Bytes& data,
                          bool indexed = false, int decimals = 0) {
    MyConverter conv;
    conv.name = std::string(name);
    conv.type = std::string(type);
    conv.decimals = decimals;
    if (conv.ConvertFromData(data.data(), static_cast<int>(data.size()), indexed) == 0)
        return "<undecodable>";
    return conv.value;
}

inline Bytes Index(int i) {
    return {static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i & 0xFF)};
}

}  // namespace simtest
