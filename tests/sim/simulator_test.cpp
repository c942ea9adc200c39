// The simulator between the line and the model: addresses, damaged frames,
// faults, "APLY" and the state file.

#include "simulator.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/settings_store.h"
#include "sim_support.h"
#include "wire.h"

namespace {

using simtest::Bytes;
using simtest::Device;
using simtest::Index;

std::string Line(int address, int alen, bool read, std::string_view name, const Bytes& data = {}) {
    LineFrame frame;
    EXPECT_TRUE(
        build_request(address, 0, alen, read, hash_name(name), data.data(), data.size(), frame));
    return std::string(frame.View());
}

TEST(SimAddresses, AnswersItsAddressItsObjectOffsetsAndTheFixedAddress) {
    struct Row {
        int deviceAddress, deviceAlen, requestAddress, requestAlen;
        bool answered;
    };
    const Row rows[] = {
        {16, 8, 16, 8, true},
        {16, 8, 23, 8, true},
        {16, 8, 24, 8, false},
        {16, 8, 15, 8, false},
        {16, 8, 255, 8, true},
        {16, 8, 0, 8, false},
        {1000, 11, 1000, 11, true},
        {1000, 11, 1007, 11, true},
        {1000, 11, 1008, 11, false},
        {1000, 11, 255, 11, true},
        {250, 8, 255, 8, true},
        // An 11-bit frame is not read as an 8-bit one: 17 has low address bits.
        {2, 8, 17, 11, false},
        // and 16 in the 11-bit form is byte 0 = 2: another device's address.
        {16, 8, 16, 11, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.deviceAddress << "/" << r.deviceAlen << " <- "
                                        << r.requestAddress << "/" << r.requestAlen);
        sim::ModelSettings settings;
        settings.address = r.deviceAddress;
        settings.addressLength = r.deviceAlen;
        Device device("a1", settings);
        // "str.s" answers at every object offset.
        const std::string answer =
            device.simulator->Process(Line(r.requestAddress, r.requestAlen, true, "str.s"), 0);
        ASSERT_EQ(!answer.empty(), r.answered);
        if (!r.answered) continue;
        ParsedAnswer parsed;
        ASSERT_EQ(parse_answer(answer, parsed), AnswerStatus::Ok);
        // The answer comes from the address asked.
        sim::Request echo;
        ASSERT_EQ(sim::ParseRequest(answer, echo), sim::RequestStatus::Ok);
        EXPECT_EQ(sim::RequestAddress(echo, r.requestAlen), r.requestAddress);
    }
}

TEST(SimAddresses, DamagedFramesAreIgnoredAndABadChecksumIsNoted) {
    Device device("a1");
    std::string line = Line(16, 8, true, "A.Len");
    std::string damaged = line;
    damaged[damaged.size() - 2] = damaged[damaged.size() - 2] == 'G' ? 'H' : 'G';
    EXPECT_TRUE(device.simulator->Process(damaged, 0).empty());
    EXPECT_EQ(device.Read("n.Err").data, Bytes{0x27});

    std::string lower = line;
    lower[3] = 'h';
    for (const std::string& bad : {lower, line.substr(0, line.size() - 3) + "\r", line.substr(1),
                                   std::string("#\r"), line + "GG"})
        EXPECT_TRUE(device.simulator->Process(bad, 0).empty()) << bad;
}

TEST(SimAddresses, ApplyMovesTheDeviceToTheWrittenAddress) {
    Device device("b4");
    ASSERT_EQ(device.Write("Addr", {0, 40}).data, (Bytes{0, 40}));
    // Written, but not yet in force.
    EXPECT_TRUE(device.Read("A.Len").answered);
    EXPECT_FALSE(device.Exchange(0, false, "APLY").answered);
    EXPECT_FALSE(device.Read("A.Len").answered);
    device.address = 40;
    EXPECT_EQ(device.Read("Addr").data, (Bytes{0, 40}));

    // 11-bit addressing takes effect the same way.
    device.Write("A.Len", {1});
    device.Write("Addr", {0x03, 0xE8});  // 1000
    device.Exchange(0, true, "APLY");
    device.address = 1000;
    device.addressLength = 11;
    EXPECT_EQ(device.Read("Addr").data, (Bytes{0x03, 0xE8}));
}

// Each outcome of a request as a letter: the sequence shows the faults.
char Outcome(const std::string& answer, std::uint16_t asked) {
    if (answer.empty()) return 'n';
    if (answer.front() != '#') return answer.back() == '\r' ? 'g' : '?';
    ParsedAnswer parsed;
    const AnswerStatus status = parse_answer(answer, parsed);
    if (status == AnswerStatus::BadChecksum) return 'c';
    if (status != AnswerStatus::Ok) return '?';
    if (parsed.nameHash == asked) return '.';
    if (parsed.nameHash == sim::kErrorHash)
        return parsed.dataLength == 1 && parsed.Data()[0] == 0x33 ? 'e' : '?';
    return 'f';
}

std::string FaultRun(std::uint64_t seed, int count) {
    sim::SimulatorSettings settings;
    settings.seed = seed;
    settings.faults.noAnswer = 0.1;
    settings.faults.checksum = 0.1;
    settings.faults.foreign = 0.1;
    settings.faults.garbage = 0.1;
    settings.faults.errors.push_back({0x33, 0.1});
    Device device("a1", {}, settings);
    std::string outcomes;
    for (int i = 0; i < count; ++i)
        outcomes += Outcome(device.Send(0, true, "A.Len"), hash_name("A.Len"));
    return outcomes;
}

TEST(SimFaults, ASeedRepeatsTheSameFaults) {
    const std::string first = FaultRun(42, 300);
    EXPECT_EQ(first, FaultRun(42, 300));
    EXPECT_NE(first, FaultRun(43, 300));
    EXPECT_EQ(first.find('?'), std::string::npos) << first;
    std::map<char, int> counts;
    for (char c : first)
        ++counts[c];
    // Each of the five faults takes about a tenth of the requests.
    for (char kind : std::string("ncfge")) {
        EXPECT_GT(counts[kind], 10) << kind << " in " << first;
        EXPECT_LT(counts[kind], 60) << kind << " in " << first;
    }
    EXPECT_GT(counts['.'], 100);
}

TEST(SimFaults, AnInjectedErrorLeavesTheValueAlone) {
    sim::SimulatorSettings settings;
    settings.faults.errors.push_back({0x47, 1.0});
    Device device("a1", {}, settings);
    const auto refused = device.Write("in.sl", {0x40, 0, 0, 0}, Index(0));
    EXPECT_EQ(refused.hash, sim::kErrorHash);
    EXPECT_EQ(refused.data, Bytes{0x47});
    EXPECT_EQ(device.model.LastError(), 0x47);
    EXPECT_EQ(device.model.SaveState().find("in.sl"), std::string::npos);
}

class SimState : public testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("selvar-sim-state-" + std::to_string(getpid()));
        std::filesystem::create_directories(dir_);
        path_ = (dir_ / "state.txt").string();
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string ReadFile() const {
        std::ifstream in(path_);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    std::filesystem::path dir_;
    std::string path_;
};

TEST_F(SimState, WrittenValuesSurviveARestart) {
    sim::SimulatorSettings settings;
    settings.statePath = path_;
    {
        Device device("b4", {}, settings);
        device.Write("in.sl", {0x40, 0x20, 0, 0}, Index(5));
        device.Write("r-s", {0}, {}, 2);
        device.Write("L.At", {0xAC}, Index(1));
        device.Write("rtC", {24, 0, 30, 12, 0, 0, 0x61});
        device.Write("Addr", {0, 40});
        device.Read("in.sl", Index(0));  // reads change nothing
    }
    const std::string saved = ReadFile();
    EXPECT_NE(saved.find("modification b4"), std::string::npos) << saved;

    Device restarted("b4");
    std::string warning;
    ASSERT_TRUE(restarted.model.LoadState(saved, warning)) << warning;
    EXPECT_TRUE(warning.empty()) << warning;
    EXPECT_EQ(restarted.Read("in.sl", Index(5)).data, (Bytes{0x40, 0x20, 0, 0, 0, 5}));
    EXPECT_EQ(restarted.Read("in.sl", Index(4)).data, (Bytes{0x3F, 0x80, 0, 0, 0, 4}));
    EXPECT_EQ(restarted.Read("r-s", {}, 2).data, Bytes{0});
    EXPECT_EQ(restarted.Read("L.At", Index(1)).data, (Bytes{0, 0, 1}));
    EXPECT_EQ(simtest::Decode("rtC", "datetime", restarted.Read("rtC").data), "31.01.24 12:00:00");
    // The command line, not the state, says where the device listens.
    EXPECT_EQ(restarted.Read("Addr").data, (Bytes{0, 16}));
}

TEST_F(SimState, AForeignOrDamagedStateIsNotTakenBlindly) {
    Device a1("a1");
    std::string warning;
    EXPECT_FALSE(a1.model.LoadState("modification b4\nvalue in.sl:0 40200000\n", warning));
    EXPECT_FALSE(warning.empty());
    EXPECT_EQ(a1.Read("in.sl", Index(0)).data, (Bytes{0x3F, 0x80, 0, 0, 0, 0}));

    const std::string damaged =
        "modification a1\n"
        "value in.sl:0 40200000\n"
        "value in.sl:0 4020\n"       // too short for a float
        "value in.sl:99 40200000\n"  // no such index
        "value in.t:0 7F\n"          // no such label
        "value nosuch 00\n"
        "value in.sl:x 00\n"
        "value r-s@9 01\n"
        "value dev 41\n"  // identification is not a stored value
        "clock-offset many\n"
        "random words\n";
    ASSERT_TRUE(a1.model.LoadState(damaged, warning));
    EXPECT_NE(warning.find("9 line"), std::string::npos) << warning;
    EXPECT_EQ(a1.Read("in.sl", Index(0)).data, (Bytes{0x40, 0x20, 0, 0, 0, 0}));
}

TEST_F(SimState, ResetIsKeptToo) {
    sim::SimulatorSettings settings;
    settings.statePath = path_;
    Device device("a1", {}, settings);
    device.Write("in.sl", {0x40, 0x20, 0, 0}, Index(0));
    EXPECT_NE(ReadFile().find("in.sl:0"), std::string::npos);
    device.Write("pass", {0x01, 0x0F});
    device.Write("r.co", {1});
    EXPECT_EQ(ReadFile().find("in.sl:0"), std::string::npos) << ReadFile();
}

}  // namespace
