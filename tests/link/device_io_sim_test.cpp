// The protocol layer against the simulated controller, as the program meets
// a real device: through a pseudo-terminal or a TCP connection.
#include <gtest/gtest.h>

#include <memory>

#include "description/device_description.h"
#include "description/parameter_table.h"
#include "description/tree_loader.h"
#include "link/device_io.h"
#include "platform/text.h"
#include "support/sim_process.h"

namespace {

class DeviceAgainstSim : public ::testing::Test {
  protected:
    void SetUp() override {
        SetLinkPauses({0, 0});
        const CDeviceDescription* d = FindDeviceDescription("b4");
        ASSERT_EQ(LoadParameterTable(table, DescriptionPath(d->parametersFile)),
                  TableLoadStatus::Ok);
        ordinary = LoadTree(table, DescriptionPath(d->treeFile), "");
        operative = LoadTree(table, DescriptionPath(d->operativeTreeFile), "");
        hidden = LoadTree(table, DescriptionPath(d->hiddenTreeFile), "hidden");
        operative->PrepareOperative(nullptr);
    }
    void TearDown() override { SetLinkPauses({-1, -1}); }

    bool Start(std::vector<std::string> args) {
        args.insert(args.begin(), {"--modification", "b4"});
        sim = std::make_unique<SimProcess>(SELVAR_SIM, args);
        if (!sim->Running()) return false;
        io.Port().portName = sim->Address();
        io.Port().speed = 115200;
        return io.Port().Open() == 0;
    }
    int Read(Parameter& p) { return io.exchange_parameter(Direction::Read, p); }

    ParameterTable table;
    std::unique_ptr<DescBranch> ordinary, operative, hidden;
    std::unique_ptr<SimProcess> sim;
    DeviceIO io;
};

}  // namespace

TEST_F(DeviceAgainstSim, IdentifiesItsModification) {
    ASSERT_TRUE(Start({"--pty"}));
    Parameter* dev = table.Find("dev");
    Parameter* pver = table.Find("p.ver");
    Parameter* nerr = table.Find("n.Err");
    ASSERT_TRUE(dev && pver && nerr);
    EXPECT_EQ(Read(*nerr), 0) << nerr->error;
    EXPECT_EQ(Read(*dev), 0) << dev->error;
    EXPECT_EQ(Read(*pver), 0) << pver->error;
    std::string key =
        std::string(TrimRight(dev->value)) + "-" + std::string(Utf8Prefix(pver->value, 2));
    EXPECT_EQ(key, "Селвар-Б4");
}

TEST_F(DeviceAgainstSim, WrittenValuesReadBackAndRefusalsComeAsCodes) {
    ASSERT_TRUE(Start({"--pty"}));
    Parameter* slope = table.Find("in.sl", 2);
    ASSERT_TRUE(slope);
    slope->value = "2.5";
    EXPECT_EQ(io.exchange_parameter(Direction::Write, *slope), 0) << slope->error;
    slope->value = "?";
    EXPECT_EQ(Read(*slope), 0);
    EXPECT_EQ(slope->value, "2.500");

    Parameter* ver = table.Find("ver");
    ASSERT_TRUE(ver);
    ExchangeLog log;
    EXPECT_EQ(io.exchange_parameter(Direction::Write, *ver, &log), ExchangeCode::kNoWriteMethod);

    Parameter unknown;
    unknown.name = "zz.zz";
    unknown.type = "byte";
    EXPECT_EQ(Read(unknown), ExchangeCode::kFailed);
    EXPECT_EQ(unknown.error, "Не найден дескриптор");
}

TEST_F(DeviceAgainstSim, ProtectedWritesAreRefusedWithTheirCode) {
    ASSERT_TRUE(Start({"--pty"}));
    Parameter* readOnly = nullptr;
    for (Parameter& p : table.All())
        if (!p.writable && p.type == "float" && p.name != "rEAd") readOnly = &p;
    if (!readOnly) GTEST_SKIP() << "no read-only float in the description";
    readOnly->value = "1";
    EXPECT_EQ(io.exchange_parameter(Direction::Write, *readOnly), ExchangeCode::kAccessDenied)
        << readOnly->name << " " << readOnly->error;
    EXPECT_EQ(readOnly->error, "Редактирование параметра запрещено атрибутами доступа");
}

TEST_F(DeviceAgainstSim, SilenceAndNoiseEndInTheirTexts) {
    ASSERT_TRUE(Start({"--pty", "--fault-noanswer", "1"}));
    Parameter* dev = table.Find("dev");
    EXPECT_EQ(Read(*dev), ExchangeCode::kFailed);
    EXPECT_EQ(dev->error, "Таймаут при передаче данных (нет связи)");

    DeviceIO noisy;
    SimProcess garbage(SELVAR_SIM, {"--modification", "b4", "--pty", "--fault-garbage", "1"});
    ASSERT_TRUE(garbage.Running());
    noisy.Port().portName = garbage.Address();
    noisy.Port().speed = 115200;
    ASSERT_EQ(noisy.Port().Open(), 0);
    EXPECT_EQ(noisy.exchange_parameter(Direction::Read, *dev), ExchangeCode::kFailed);
    EXPECT_EQ(dev->error, "Потеря начала посылки.");
}

TEST_F(DeviceAgainstSim, ScaledReadingThroughItsPartnersOverTcp) {
    ASSERT_TRUE(Start({"--tcp", "0"}));
    EXPECT_EQ(sim->Address().rfind("tcp://", 0), 0u);
    Parameter* scaled = nullptr;
    for (Parameter& p : table.All())
        if (p.bindingKind == 5 && p.linked.size() >= 3) scaled = &p;
    ASSERT_TRUE(scaled) << "the descriptions bind a scaled reading";
    io.RenewOperationStamp();
    EXPECT_EQ(Read(*scaled), 0) << scaled->error;
    double v = 0;
    EXPECT_TRUE(ParseLeadingReal(scaled->value, v) > 0 || !scaled->value.empty()) << scaled->value;
}
