// The faults of the line and of the device: each kind damages an answer the
// way its name says and nothing else, lost requests differ from lost answers,
// outages last their length, and a run reports what it injected.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "faults.h"
#include "options.h"
#include "sim_support.h"

namespace {

using simtest::Bytes;
using simtest::Device;
using simtest::Index;

std::string Request(bool read, std::string_view name, const Bytes& data = {}) {
    LineFrame frame;
    EXPECT_TRUE(build_request(16, 0, 8, read, hash_name(name), data.data(), data.size(), frame));
    return std::string(frame.View());
}

// The answer a device without faults gives to the same request.
std::string Clean(const std::string& request) {
    Device device("a1");
    return device.simulator->Process(request, 0);
}

sim::SimulatorSettings Always(double sim::FaultPlan::*kind, std::uint64_t seed = 1) {
    sim::SimulatorSettings settings;
    settings.faults.*kind = 1.0;
    settings.seed = seed;
    return settings;
}

// Positions at which two lines of one length differ.
std::vector<std::size_t> Differences(const std::string& a, const std::string& b) {
    std::vector<std::size_t> at;
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        if (a[i] != b[i]) at.push_back(i);
    return at;
}

const std::string kReadInSl = Request(true, "in.sl", Index(1));

TEST(SimLineFaults, ABitErrorFlipsOneBitOutsideTheChecksum) {
    const std::string clean = Clean(kReadInSl);
    bool regions[4] = {};  // address, length, hash, data
    for (std::uint64_t seed = 1; seed <= 200; ++seed) {
        Device device("a1", {}, Always(&sim::FaultPlan::bitError, seed));
        const std::string hit = device.simulator->Process(kReadInSl, 0);
        ASSERT_EQ(hit.size(), clean.size());
        const auto at = Differences(hit, clean);
        ASSERT_EQ(at.size(), 1u) << hit;
        const int flipped = (hit[at[0]] - 'G') ^ (clean[at[0]] - 'G');
        EXPECT_TRUE(flipped == 1 || flipped == 2 || flipped == 4 || flipped == 8) << hit;
        // Characters 1-2 address, 4 length, 5-8 hash, then data; never the checksum.
        ASSERT_LT(at[0], clean.size() - 5) << "checksum hit: " << hit;
        ASSERT_NE(at[0], 3u) << "the request bit or an 11-bit address part in an 8-bit frame";
        regions[at[0] <= 2 ? 0 : at[0] == 4 ? 1 : at[0] <= 8 ? 2 : 3] = true;
        ParsedAnswer parsed;
        EXPECT_NE(parse_answer(hit, parsed), AnswerStatus::Ok) << hit;
    }
    for (bool seen : regions)
        EXPECT_TRUE(seen);
}

TEST(SimLineFaults, CutsNoiseAndEchoesKeepTheirShape) {
    const std::string clean = Clean(kReadInSl);
    for (std::uint64_t seed = 1; seed <= 50; ++seed) {
        SCOPED_TRACE(seed);
        {
            Device device("a1", {}, Always(&sim::FaultPlan::truncated, seed));
            const std::string cut = device.simulator->Process(kReadInSl, 0);
            ASSERT_GE(cut.size(), 2u);
            EXPECT_LT(cut.size(), clean.size());
            EXPECT_EQ(cut.back(), '\r');
            EXPECT_EQ(clean.compare(0, cut.size() - 1, cut, 0, cut.size() - 1), 0) << cut;
        }
        {
            Device device("a1", {}, Always(&sim::FaultPlan::noCr, seed));
            EXPECT_EQ(device.simulator->Process(kReadInSl, 0), clean.substr(0, clean.size() - 1));
        }
        {
            Device device("a1", {}, Always(&sim::FaultPlan::noiseBefore, seed));
            const std::string noisy = device.simulator->Process(kReadInSl, 0);
            ASSERT_GT(noisy.size(), clean.size());
            EXPECT_TRUE(noisy.ends_with(clean));
            const std::string noise = noisy.substr(0, noisy.size() - clean.size());
            EXPECT_EQ(noise.find_first_of("#\r"), std::string::npos);
        }
        {
            Device device("a1", {}, Always(&sim::FaultPlan::trailing, seed));
            const std::string tail = device.simulator->Process(kReadInSl, 0);
            ASSERT_GT(tail.size(), clean.size());
            EXPECT_TRUE(tail.starts_with(clean));
            EXPECT_EQ(tail.find('\r', clean.size()), std::string::npos);
        }
        {
            Device device("a1", {}, Always(&sim::FaultPlan::echo, seed));
            const sim::Response r = device.simulator->Respond(kReadInSl, 0);
            EXPECT_EQ(r.echo, kReadInSl);
            EXPECT_EQ(r.answer, clean);
        }
    }
}

TEST(SimLineFaults, LineErrorsArriveAsNulOrAsMarks) {
    const std::string clean = Clean(kReadInSl);
    for (std::uint64_t seed = 1; seed <= 50; ++seed) {
        SCOPED_TRACE(seed);
        Device parity("a1", {}, Always(&sim::FaultPlan::parity, seed));
        const std::string p = parity.simulator->Process(kReadInSl, 0);
        ASSERT_EQ(p.size(), clean.size());
        const auto at = Differences(p, clean);
        ASSERT_EQ(at.size(), 1u);
        EXPECT_EQ(p[at[0]], '\0');

        // A framing error also loses the character after the one it hit.
        Device framing("a1", {}, Always(&sim::FaultPlan::framing, seed));
        const std::string f = framing.simulator->Process(kReadInSl, 0);
        const std::size_t nul = f.find('\0');
        ASSERT_NE(nul, std::string::npos);
        EXPECT_EQ(f.substr(0, nul), clean.substr(0, nul));
        if (nul + 1 < clean.size()) {
            EXPECT_EQ(f.size(), clean.size() - 1);
            EXPECT_EQ(f.substr(nul + 1), clean.substr(nul + 2));
        }

        sim::SimulatorSettings marked = Always(&sim::FaultPlan::parity, seed);
        marked.faults.errorMarks = true;
        Device marks("a1", {}, marked);
        const std::string m = marks.simulator->Process(kReadInSl, 0);
        const std::size_t mark = m.find('\xFF');
        ASSERT_NE(mark, std::string::npos);
        EXPECT_EQ(m.substr(0, mark), clean.substr(0, mark));
        EXPECT_EQ(m.substr(mark, 2), std::string("\xFF\0", 2));
        EXPECT_EQ(m.substr(mark + 2), clean.substr(mark));
    }
}

TEST(SimLineFaults, ALostRequestIsNotCarriedOutALostAnswerIs) {
    const Bytes two = {0x40, 0x00, 0x00, 0x00, 0x00, 0x01};
    {
        Device device("a1", {}, Always(&sim::FaultPlan::lostRequest));
        EXPECT_TRUE(device.simulator->Process(Request(false, "in.sl", two), 0).empty());
        EXPECT_EQ(device.model.SaveState().find("in.sl"), std::string::npos);
    }
    {
        Device device("a1", {}, Always(&sim::FaultPlan::noAnswer));
        EXPECT_TRUE(device.simulator->Process(Request(false, "in.sl", two), 0).empty());
        EXPECT_NE(device.model.SaveState().find("in.sl:1 40000000"), std::string::npos);
    }
}

TEST(SimLineFaults, DelaysAreDrawnFromTheirRanges) {
    for (std::uint64_t seed = 1; seed <= 50; ++seed) {
        sim::SimulatorSettings late = Always(&sim::FaultPlan::late, seed);
        late.faults.lateMs = {350, 900};
        Device a("a1", {}, late);
        const sim::Response r = a.simulator->Respond(kReadInSl, 0);
        EXPECT_GE(r.delayMs, 350);
        EXPECT_LE(r.delayMs, 900);
        EXPECT_EQ(r.answer, Clean(kReadInSl));

        sim::SimulatorSettings jitter = Always(&sim::FaultPlan::jitter, seed);
        jitter.faults.jitterMs = {0, 40};
        Device b("a1", {}, jitter);
        const double d = b.simulator->Respond(kReadInSl, 0).delayMs;
        EXPECT_GE(d, 0);
        EXPECT_LE(d, 40);
    }
}

TEST(SimLineFaults, AnOutageSilencesTheDeviceForItsLength) {
    sim::SimulatorSettings settings;
    settings.faults.outage = 1.0;
    settings.faults.outageMs = {2000, 2000};
    settings.faults.outageDropsLink = true;
    Device device("a1", {}, settings);
    const sim::Response first = device.simulator->Respond(Request(false, "in.sl", Index(0)), 10);
    EXPECT_TRUE(first.answer.empty());
    EXPECT_DOUBLE_EQ(first.outageMs, 2000);
    EXPECT_TRUE(first.dropLink);
    // Out: nothing heard, nothing done, not even a fault drawn.
    const Bytes value = {0x40, 0x00, 0x00, 0x00, 0x00, 0x01};
    EXPECT_TRUE(device.simulator->Respond(Request(false, "in.sl", value), 11.9).answer.empty());
    EXPECT_EQ(device.model.SaveState().find("in.sl"), std::string::npos);
    EXPECT_EQ(device.simulator->Seen().unheard, 1u);
    EXPECT_EQ(device.simulator->Faults().byKind[static_cast<std::size_t>(sim::FaultKind::Outage)],
              1u);
    // Back after it: the next request starts another outage, as planned.
    EXPECT_GT(device.simulator->Respond(kReadInSl, 12.1).outageMs, 0);
}

TEST(SimLineFaults, EveryKindTurnsUpAndIsCounted) {
    sim::Options options;
    std::string error;
    const std::vector<std::string_view> args = {"--fault-all", "0.9", "--seed", "3"};
    ASSERT_TRUE(sim::ParseOptions(args, options, error)) << error;
    EXPECT_NEAR(options.faults.Total(), 0.9, 1e-9);
    sim::SimulatorSettings settings;
    settings.faults = options.faults;
    settings.faults.outageMs = {0, 0};  // back at once, so that the run goes on
    settings.seed = 3;
    Device device("a1", {}, settings);
    for (int i = 0; i < 3000; ++i)
        device.simulator->Respond(kReadInSl, i);
    const sim::FaultCounts& counts = device.simulator->Faults();
    for (std::size_t kind = 1; kind < sim::kFaultKinds; ++kind)
        EXPECT_GT(counts.byKind[kind], 50u) << sim::FaultName(static_cast<sim::FaultKind>(kind));
    EXPECT_EQ(counts.Total() + counts.byKind[0], 3000u);
    EXPECT_EQ(device.simulator->Seen().requests, 3000u);
    const std::string summary = device.simulator->Summary();
    EXPECT_NE(summary.find("3000 requests"), std::string::npos) << summary;
    EXPECT_NE(summary.find("lost-request "), std::string::npos) << summary;
}

}  // namespace
