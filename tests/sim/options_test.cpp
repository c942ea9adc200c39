#include "options.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace {

bool Parse(std::vector<std::string_view> args, sim::Options& out, std::string& error) {
    return sim::ParseOptions(args, out, error);
}

TEST(SimOptions, ATypicalCommandLine) {
    sim::Options o;
    std::string error;
    ASSERT_TRUE(Parse({"--modification", "a1", "--tcp", "0", "--address=200", "--baud", "9600",
                       "--fault-noanswer", "0.1", "--fault-error", "0x33:0.2", "--fault-error",
                       "40:0.1", "--seed", "7", "-v"},
                      o, error))
        << error;
    EXPECT_EQ(o.modification, "a1");
    EXPECT_EQ(o.transport, sim::Transport::Tcp);
    EXPECT_EQ(o.host, "127.0.0.1");
    EXPECT_EQ(o.port, "0");
    EXPECT_EQ(o.address, 200);
    EXPECT_EQ(o.baud, 9600);
    ASSERT_EQ(o.faults.errors.size(), 2u);
    EXPECT_EQ(o.faults.errors[0].code, 0x33);
    EXPECT_EQ(o.faults.errors[1].code, 40);
    EXPECT_DOUBLE_EQ(o.faults.Total(), 0.4);
    EXPECT_EQ(o.seed, 7u);
    EXPECT_TRUE(o.verbose);

    ASSERT_TRUE(Parse({"--tcp", "[::1]:5020"}, o, error)) << error;
    EXPECT_EQ(o.host, "::1");
    EXPECT_EQ(o.port, "5020");
}

TEST(SimOptions, RefusesWhatCannotWork) {
    const std::vector<std::vector<std::string_view>> bad = {
        {"--address", "300"},  // needs 11-bit addressing
        {"--alen", "9"},
        {"--address", "16x"},
        {"--fault-noanswer", "1.5"},
        {"--fault-noanswer", "0.6", "--fault-garbage", "0.6"},
        {"--fault-error", "0x33"},
        {"--fault-error", "300:0.1"},
        {"--tcp", "host:port"},
        {"--tcp", "5020", "--link", "/tmp/x"},
        {"--pty", "--stdio"},
        {"--baud"},
        {"--dev", "a text far longer than fifteen"},
        {"--verbose=yes"},
        {"--frobnicate"},
    };
    for (const auto& args : bad) {
        sim::Options o;
        std::string error;
        EXPECT_FALSE(Parse(args, o, error)) << args.front();
        EXPECT_FALSE(error.empty());
    }
}

TEST(SimOptions, TheLineFaults) {
    sim::Options o;
    std::string error;
    ASSERT_TRUE(Parse({"--fault-late", "0.1", "--late-ms", "500:900", "--fault-outage=0.01",
                       "--outage-ms", "2500", "--outage-link", "--fault-echo", "0.02", "--tcp", "0",
                       "--error-marks", "--dump", "d.txt", "--answers", "a.txt"},
                      o, error))
        << error;
    EXPECT_DOUBLE_EQ(o.faults.late, 0.1);
    EXPECT_DOUBLE_EQ(o.faults.lateMs.lowMs, 500);
    EXPECT_DOUBLE_EQ(o.faults.lateMs.highMs, 900);
    EXPECT_DOUBLE_EQ(o.faults.outage, 0.01);
    EXPECT_DOUBLE_EQ(o.faults.outageMs.lowMs, 2500);
    EXPECT_DOUBLE_EQ(o.faults.outageMs.highMs, 2500);
    EXPECT_TRUE(o.faults.outageDropsLink);
    EXPECT_TRUE(o.faults.errorMarks);
    EXPECT_EQ(o.dumpPath, "d.txt");
    EXPECT_EQ(o.answersPath, "a.txt");
    EXPECT_NEAR(o.faults.Total(), 0.13, 1e-12);

    // Every kind shares the total, error codes included; a kind named after
    // it takes its own figure.
    sim::Options all;
    ASSERT_TRUE(Parse({"--fault-all", "0.18", "--fault-bits", "0.05"}, all, error)) << error;
    EXPECT_DOUBLE_EQ(all.faults.bitError, 0.05);
    EXPECT_DOUBLE_EQ(all.faults.parity, 0.01);
    EXPECT_EQ(all.faults.errors.size(), 2u);
    EXPECT_NEAR(all.faults.Total(), 0.22, 1e-12);
}

TEST(SimOptions, RefusesLineFaultsThatCannotWork) {
    const std::vector<std::vector<std::string_view>> bad = {
        {"--late-ms", "900:500"},  // high below low
        {"--late-ms", "-5"},
        {"--late-ms", "5:"},
        {"--jitter-ms", "abc"},
        {"--outage-ms", "700000"},
        {"--fault-all", "1.2"},
        {"--fault-late", "0.6", "--fault-echo", "0.6"},
        {"--pty", "--error-marks"},  // the terminal doubles the mark's 0xFF
        {"--stdio", "--outage-link"},
        {"--outage-link=yes"},
        {"--dump"},
    };
    for (const auto& args : bad) {
        sim::Options o;
        std::string error;
        EXPECT_FALSE(Parse(args, o, error)) << args.front() << " " << args.back();
        EXPECT_FALSE(error.empty());
    }
}

}  // namespace
