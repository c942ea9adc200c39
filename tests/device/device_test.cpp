// The Device without a line: its table, the references into it, and the
// results that come before any exchange.
#include "device/device.h"

#include <gtest/gtest.h>

#include "link/sio.h"
#include "model/object_with_parameters.h"

namespace {

class CountingLog : public ProgressLog {
  public:
    void LogLine(const std::string&, bool, std::uint32_t, bool) override { ++lines; }
    int lines = 0;
};

}  // namespace

TEST(Device, IsTheCurrentDeviceForItsLifetime) {
    EXPECT_EQ(CurrentDevice(), nullptr);
    {
        Device device;
        EXPECT_EQ(CurrentDevice(), &device);
        // The first modification's table is there from the start.
        EXPECT_TRUE(device.Table().fileName.ends_with("parameters1.zip"));
        EXPECT_GT(device.Table().Size(), 0u);
    }
    EXPECT_EQ(CurrentDevice(), nullptr);
}

TEST(Device, ReloadingTheTableDropsEveryReferenceIntoTheOldOne) {
    Device device;
    Parameter* p = device.FindParameter("dev");
    ASSERT_NE(p, nullptr);
    device.singleTarget = p;
    device.groupList = {p, p};
    device.groupCount = 2;
    device.groupMode = 1;
    device.elements.sixteen[23][7][15] = p;
    device.elements.one[0][1][0] = p;
    device.elements.count = 3;
    device.structure[5] = p;
    device.autoReadCursor = 12;

    ASSERT_EQ(device.LoadTable(*FindDeviceDescription("b4")), TableLoadStatus::Ok);
    EXPECT_TRUE(device.Table().fileName.ends_with("parameters2.zip"));
    EXPECT_EQ(device.singleTarget, nullptr);
    EXPECT_TRUE(device.groupList.empty());
    EXPECT_EQ(device.groupCount, 0);
    EXPECT_EQ(device.groupMode, 0);
    EXPECT_EQ(device.elements.sixteen[23][7][15], nullptr);
    EXPECT_EQ(device.elements.one[0][1][0], nullptr);
    EXPECT_EQ(device.elements.count, 0);
    EXPECT_EQ(device.structure[5], nullptr);
    EXPECT_EQ(device.autoReadCursor, 0u);

    // A missing file leaves an empty table, not the old one.
    EXPECT_EQ(device.LoadTable("/nonexistent/parameters.zip"), TableLoadStatus::Missing);
    EXPECT_EQ(device.FindParameter("dev"), nullptr);
}

TEST(Device, ResultsThatNeedNoExchange) {
    // No port is open: any exchange would fail, so a 0 here means none ran.
    Device device;
    CountingLog log;
    device.SetProgressLog(&log);
    OperationState().counters.Reset();

    Parameter p;
    p.name = "in.sl";
    p.type = "float";
    p.linearIndex = -1;
    EXPECT_EQ(device.ReadParameter(p), Device::kNegativeIndex);
    EXPECT_EQ(OperationState().counters.processed, 1);
    p.value = "1";
    EXPECT_EQ(device.WriteParameter(p, 1), Device::kNegativeIndex);
    EXPECT_EQ(device.CompareParameter(p), Device::kNegativeIndex);
    EXPECT_EQ(log.lines, 0);

    // An unknown value is not sent; in a list it does not count as failed.
    p.linearIndex = 0;
    p.value = Parameter::kNoData;
    EXPECT_EQ(device.WriteParameter(p, 0), 0);
    EXPECT_EQ(p.error, Parameter::kNotInitialised);
    ObjectWithParameters list;
    list.ownsParameters = false;
    list.parameters.push_back(&p);
    p.error.clear();
    OperationState().counters.Reset();
    ListResult result = list.WriteAll(device, 2);
    EXPECT_EQ(result.second, 0);
    EXPECT_EQ(OperationState().counters.failed, 0);
    EXPECT_EQ(p.error, Parameter::kNotInitialised);
    EXPECT_EQ(log.lines, 0);

    // Initialisation with no factory value to write.
    p.value = "1";
    p.defaultValue = Parameter::kNoData;
    EXPECT_EQ(device.WriteParameter(p, -1), Device::kNothingToWrite);
    EXPECT_EQ(p.error, Parameter::kNotInitialised);
    EXPECT_EQ(p.value, "1");

    EXPECT_EQ(device.ReadParameter(nullptr), 0);
    EXPECT_EQ(device.WriteParameter(nullptr, 1), 0);
}

TEST(Device, LogLinesNeedARegisteredLog) {
    Device device;
    device.LogLine("ничего", false, 0, false);
    EXPECT_EQ(device.logLength, 0u);
    CountingLog log;
    device.SetProgressLog(&log);
    device.LogLine("строка", true, LogColour::kHint, true);
    EXPECT_EQ(log.lines, 1);
    EXPECT_EQ(device.logLength, 6u);  // characters, not bytes
}
