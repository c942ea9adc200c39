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

}  // namespace
