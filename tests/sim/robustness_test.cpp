// Whatever a master sends, the device answers with a well-formed frame, or
// not at all.

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>

#include "description/parameter_table.h"
#include "sim_support.h"

namespace {

using simtest::Bytes;
using simtest::Device;

TEST(SimRobustness, RandomRequestsToEveryNameGetWellFormedAnswers) {
    Device device("b4");
    ParameterTable table;
    ASSERT_EQ(
        LoadParameterTable(table, DescriptionPath(FindDeviceDescription("b4")->parametersFile)),
        TableLoadStatus::Ok);
    std::set<std::string> names{"n.Err", "r.st", "r-s", "str.s", "n.Ch", "zzzz"};
    for (const Parameter& p : table.All())
        names.insert(p.name);

    std::mt19937 random(5);
    int answered = 0;
    for (const std::string& name : names)
        for (int i = 0; i < 6; ++i) {
            Bytes data(random() % 16);
            for (auto& b : data)
                b = static_cast<std::uint8_t>(random());
            const int offset = static_cast<int>(random() % 8);
            const bool read = random() % 2 == 0;
            const std::string line =
                device.Send(offset, read, name, data, static_cast<double>(random() % 1000));
            if (line.empty()) {
                // Only "APLY" goes unanswered without faults.
                EXPECT_EQ(hash_name(name), sim::kApplyHash) << name;
                continue;
            }
            ++answered;
            ParsedAnswer parsed;
            ASSERT_EQ(parse_answer(line, parsed), AnswerStatus::Ok) << name << " " << line;
            if (parsed.nameHash == sim::kErrorHash && hash_name(name) != sim::kErrorHash)
                EXPECT_EQ(parsed.dataLength, 1u) << name;
            else
                EXPECT_EQ(parsed.nameHash, hash_name(name));
        }
    EXPECT_EQ(answered, static_cast<int>(6 * (names.size() - 1)));
}

TEST(SimRobustness, RandomLinesAreIgnoredWithoutHarm) {
    Device device("a1");
    std::mt19937 random(9);
    for (int i = 0; i < 3000; ++i) {
        std::string line(random() % 50, ' ');
        for (char& c : line)
            c = static_cast<char>(i % 2 == 0 ? 'G' + random() % 16 : random() % 256);
        if (!line.empty() && i % 3 == 0) line.front() = '#';
        if (!line.empty() && i % 5 == 0) line.back() = '\r';
        // A random checksum matches one time in 65536: whatever answers must be a frame.
        const std::string answer = device.simulator->Process(line, 0);
        if (!answer.empty()) {
            ParsedAnswer parsed;
            EXPECT_EQ(parse_answer(answer, parsed), AnswerStatus::Ok);
        }
    }
    EXPECT_TRUE(device.Read("A.Len").answered);
}

}  // namespace
