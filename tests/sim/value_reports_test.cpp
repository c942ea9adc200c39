// What the simulator tells about itself for a check from outside: the dump of
// every value it holds and the file of every value it answered.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "sim_support.h"

namespace {

using simtest::Bytes;
using simtest::Device;
using simtest::Index;

std::string Slurp(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The dump's lines by their first field.
std::map<std::string, std::string> DumpLines(const std::string& dump) {
    std::map<std::string, std::string> lines;
    std::istringstream in(dump);
    std::string line;
    while (std::getline(in, line))
        if (!line.starts_with('#')) lines[line.substr(0, line.find('\t'))] = line;
    return lines;
}

class SimReports : public testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("selvar-sim-reports-" + std::to_string(getpid()));
        std::filesystem::create_directories(dir_);
        settings_.dumpPath = (dir_ / "dump.txt").string();
        settings_.answersPath = (dir_ / "answers.txt").string();
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::filesystem::path dir_;
    sim::SimulatorSettings settings_;
};

TEST_F(SimReports, TheDumpFollowsEveryWrite) {
    Device device("b4", {}, settings_);
    device.simulator->WriteDump();
    auto lines = DumpLines(Slurp(settings_.dumpPath));
    EXPECT_EQ(lines["in.sl:5"], "in.sl:5\tkept\t3F800000\t1\t1.000");
    // Values that change by themselves are named but not given.
    EXPECT_EQ(lines["rEAd"], "rEAd\tlive\t-\t-\t-");
    EXPECT_EQ(lines["rEAd@2"], "rEAd@2\tlive\t-\t-\t-");
    EXPECT_EQ(lines["r-s@2"].substr(0, 11), "r-s@2\tkept\t");

    device.Write("in.sl", {0x40, 0x20, 0, 0}, Index(5));
    device.Write("in.t", {0x02}, Index(1));
    lines = DumpLines(Slurp(settings_.dumpPath));
    EXPECT_EQ(lines["in.sl:5"], "in.sl:5\tkept\t40200000\t2.5\t2.500");
    EXPECT_TRUE(lines["in.t:1"].starts_with("in.t:1\tkept\t02\t-\t")) << lines["in.t:1"];
    // A refused write changes nothing, and the figures head the file.
    device.Write("in.sl", {0x40, 0x20, 0}, Index(5));
    const std::string dump = Slurp(settings_.dumpPath);
    EXPECT_EQ(DumpLines(dump)["in.sl:5"], "in.sl:5\tkept\t40200000\t2.5\t2.500");
    EXPECT_TRUE(dump.starts_with("# selvar-sim dump: ")) << dump.substr(0, 80);
}

TEST_F(SimReports, EachAnsweredValueIsAppendedUnderItsInstance) {
    {
        Device device("b4", {}, settings_);
        device.Read("in.sl", Index(5));
        device.Read("rEAd", {}, 3, 12.5);
        device.Read("zzzz");  // a refusal carries no value
        device.Write("in.sl", {0x40, 0x20, 0, 0}, Index(4));
    }
    {
        Device again("b4", {}, settings_);  // appended, not replaced
        again.Read("A.Len");
    }
    const std::string answers = Slurp(settings_.answersPath);
    EXPECT_NE(answers.find("in.sl:5\t1.000\n"), std::string::npos) << answers;
    EXPECT_NE(answers.find("rEAd@3\t"), std::string::npos) << answers;
    EXPECT_NE(answers.find("in.sl:4\t2.500\n"), std::string::npos) << answers;
    EXPECT_NE(answers.find("A.Len\t8\n"), std::string::npos) << answers;
    EXPECT_EQ(std::count(answers.begin(), answers.end(), '\n'), 4);
}

}  // namespace
