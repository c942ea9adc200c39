// The command line's network settings in a document of its own, no device:
// which settings receive which values, their change marks, the port that is
// reopened with them, and the "newnetparam" run that rewrites a file.
#include "app/command_line_network.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>

#include "description/device_description.h"
#include "document/selvar_doc.h"
#include "link/device_io.h"
#include "platform/app_state.h"

namespace {

using namespace App;
namespace fs = std::filesystem;

class CommandLineNetwork : public ::testing::Test {
  protected:
    void SetUp() override {
        SetLinkPauses({0, 0});
        Outcome::Reset();
        // Never a real port: the settings are what is looked at.
        Startup().silent = true;
        Startup().driven = true;
        doc = std::make_unique<CSelvarDoc>();
        ASSERT_TRUE(doc->SetUpConfiguration(FindDeviceDescription("a1"), false))
            << doc->LastError();
        fs::create_directories(dir);
    }
    void TearDown() override {
        doc.reset();
        Startup().silent = false;
        Startup().driven = false;
        SetLinkPauses({-1, -1});
        Outcome::Reset();
        fs::remove_all(dir);
    }

    Parameter& Program(const char* name) {
        Parameter* p = doc->device().ProgramSettings().FindParameter(name);
        EXPECT_NE(p, nullptr) << name;
        return *p;
    }
    Parameter& Own(const char* name) {
        Parameter* p = DeviceNetworkSetting(*doc, name);
        EXPECT_NE(p, nullptr) << name;
        return *p;
    }
    // Both elements to known values, nothing marked.
    void Baseline() {
        doc->device().ProgramSettings().DeleteParameters();
        for (const char* name : {"Addr", "A.Len", "bPS", "LEn", "Sbit", "PrtY"}) {
            Program(name);
            Own(name).value = Parameter::kNoData;
            Own(name).needUpdate = false;
        }
        Program("Addr").value = "16";
        Program("bPS").value = "9600";
        Program("PrtY").value = "No Parity";
        Program("Sbit").value = "1";
        Program("LEn").value = "8";
        Program("A.Len").value = "8";
        Program("Port").value = "COM1";
        doc->device().ProgramSettings().ClearChanges();
    }

    std::unique_ptr<CSelvarDoc> doc;
    fs::path dir = fs::temp_directory_path() / ("selvar-net-" + std::to_string(getpid()));
};

TEST_F(CommandLineNetwork, TextsOfTheSixSettings) {
    auto texts = CommandLineSettingTexts(
        ParseCommandLine({"/addr:25/alen:11/bps:19200/len:7/sbit:2/prty:odd"}).options);
    ASSERT_EQ(texts.size(), 6u);
    const char* names[] = {"Addr", "A.Len", "bPS", "Len", "Sbit", "PrtY"};
    const char* values[] = {"25", "11", "19200", "7", "2", "Odd"};
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(texts[i].name, names[i]);
        EXPECT_EQ(texts[i].value, values[i]);
    }
    for (const NetworkSettingText& t : CommandLineSettingTexts(ParseCommandLine({}).options))
        EXPECT_EQ(t.value, Parameter::kNoData) << t.name;
    EXPECT_EQ(CommandLineSettingTexts(ParseCommandLine({"/prty:even"}).options)[5].value, "Even");
    EXPECT_EQ(CommandLineSettingTexts(ParseCommandLine({"/prty:no"}).options)[5].value,
              "No Parity");
}

TEST_F(CommandLineNetwork, ProgramSettingsTakeTheGivenValuesMarkedWhereTheyDiffer) {
    Baseline();
    auto options = ParseCommandLine({"/bps:9600/addr:17/len:7/prty:even"}).options;
    NetworkApplyResult r = ApplyCommandLineSettings(*doc, options);
    EXPECT_TRUE(r.programChanged);
    EXPECT_EQ(r.deviceSettings, 0) << "without aply the device's settings stay";
    EXPECT_EQ(Program("bPS").value, "9600");
    EXPECT_FALSE(Program("bPS").needUpdate) << "the same value is no change";
    EXPECT_EQ(Program("Addr").value, "17");
    EXPECT_TRUE(Program("Addr").needUpdate);
    EXPECT_EQ(Program("LEn").value, "7");
    EXPECT_TRUE(Program("LEn").needUpdate);
    EXPECT_EQ(Program("PrtY").value, "Even");
    EXPECT_TRUE(Program("PrtY").needUpdate);
    EXPECT_FALSE(Program("Sbit").needUpdate) << "not given, not touched";
    EXPECT_EQ(Program("Port").value, "COM1") << "no port option";
    EXPECT_EQ(Own("Addr").value, Parameter::kNoData);

    // The port takes them when it is reopened; the marks go with that.
    ApplyCommandLineNetwork(*doc, ParseCommandLine({"/port:7/prty:odd/sbit:2"}).options);
    EXPECT_EQ(Program("Port").value, "COM7");
    EXPECT_EQ(doc->device().Port().portName, "COM7");
    EXPECT_EQ(doc->device().Port().parityCode, 4) << "odd";
    EXPECT_EQ(doc->device().Port().stopBitsCode, 2);
    EXPECT_FALSE(Program("PrtY").needUpdate);
}

TEST_F(CommandLineNetwork, AplyPutsTheValuesIntoTheDeviceUnmarked) {
    Baseline();
    auto options = ParseCommandLine({"/aply/addr:30/alen:11/bps:38400"}).options;
    NetworkApplyResult r = ApplyCommandLineSettings(*doc, options);
    EXPECT_EQ(r.deviceSettings, 3);
    EXPECT_EQ(Own("Addr").value, "30");
    EXPECT_EQ(Own("A.Len").value, "11");
    EXPECT_EQ(Own("bPS").value, "38400");
    EXPECT_FALSE(Own("Addr").needUpdate);
    EXPECT_EQ(Own("LEn").value, Parameter::kNoData) << "not given";
    EXPECT_EQ(Program("bPS").value, "38400");
    // The device's setting is the one the description's network branch shows.
    Parameter* inBranch = doc->device().Table().markedBranch->FindParameter("bPS");
    EXPECT_EQ(inBranch, &Own("bPS"));
}

TEST_F(CommandLineNetwork, AnotherParityOrNoSettingsSetNothing) {
    Baseline();
    // The parity clears the mark the address had set: nothing is given.
    NetworkApplyResult r =
        ApplyCommandLineSettings(*doc, ParseCommandLine({"/aply/addr:40/prty:maybe"}).options);
    EXPECT_FALSE(r.programChanged);
    EXPECT_EQ(r.deviceSettings, 0);
    EXPECT_EQ(Program("Addr").value, "16");
    EXPECT_FALSE(Program("Addr").needUpdate);
    EXPECT_EQ(Own("Addr").value, Parameter::kNoData);

    // Driven without network options: the port is not reopened.
    doc->device().Port().portName = "untouched";
    ApplyCommandLineNetwork(*doc, ParseCommandLine({"/close"}).options);
    EXPECT_EQ(doc->device().Port().portName, "untouched");
    // A port alone is a setting: it is reopened with the program's settings.
    ApplyCommandLineNetwork(*doc, ParseCommandLine({"/port:3"}).options);
    EXPECT_EQ(doc->device().Port().portName, "COM3");
}

TEST_F(CommandLineNetwork, NewNetParamsGoToTheDeviceOnlyWhateverTheyAre) {
    Baseline();
    Own("bPS").value = "9600";
    Own("Sbit").value = "1";
    auto options = ParseCommandLine({"/addr:5/newnetparam/sbit:2/port:4"}).options;
    NetworkApplyResult r = ApplyCommandLineSettings(*doc, options);
    EXPECT_FALSE(r.programChanged);
    EXPECT_EQ(r.deviceSettings, 6);
    EXPECT_EQ(Own("Addr").value, "5");
    EXPECT_EQ(Own("Sbit").value, "2");
    EXPECT_EQ(Own("bPS").value, Parameter::kNoData) << "not given: no data";
    EXPECT_FALSE(Own("Sbit").needUpdate);
    EXPECT_EQ(Program("Addr").value, "16");
    EXPECT_EQ(Program("Sbit").value, "1");
    EXPECT_EQ(Program("Port").value, "COM1");
}

TEST_F(CommandLineNetwork, NewNetParamsRewriteTheOpenedFileAndFailTheOpen) {
    std::string file = (dir / "device.svx").string();
    Own("Addr").value = "16";
    Own("bPS").value = "9600";
    ASSERT_TRUE(doc->SaveDocument(file)) << doc->LastError();

    InstallNewNetParamsHook(*doc, ParseCommandLine({"/newnetparam/addr:42/bps:57600"}).options);
    EXPECT_FALSE(doc->OpenDocument(file)) << "the run ends after the rewrite";
    EXPECT_FALSE(doc->LastError().empty());

    // Read back by a document that knows nothing of the command line.
    CSelvarDoc other;
    ASSERT_TRUE(other.OpenDocument(file)) << other.LastError();
    EXPECT_EQ(DeviceNetworkSetting(other, "Addr")->value, "42");
    EXPECT_EQ(DeviceNetworkSetting(other, "bPS")->value, "57600");
    EXPECT_EQ(DeviceNetworkSetting(other, "Sbit")->value, Parameter::kNoData);
    for (const auto& entry : fs::directory_iterator(dir))
        EXPECT_EQ(entry.path().filename(), "device.svx") << "no temporary is left";

    // Without the option the hook goes and files open as usual.
    InstallNewNetParamsHook(*doc, ParseCommandLine({"/addr:42"}).options);
    EXPECT_TRUE(doc->OpenDocument(file)) << doc->LastError();
}

}  // namespace
