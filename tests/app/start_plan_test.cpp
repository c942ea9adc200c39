// What start-up decides from the command line: the window's placement, the
// file to open, the wizard, the command a driven run posts, the switches the
// core consults, and the exit code.
#include "app/start_plan.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "link/port_setup.h"
#include "platform/app_state.h"
#include "platform/settings_store.h"

namespace {

using namespace App;
namespace fs = std::filesystem;

StartPlan Plan(std::vector<std::string> args) {
    return PlanStartup(ParseCommandLine(args));
}

TEST(StartPlan, Placement) {
    struct Row {
        std::vector<std::string> args;
        bool hidden, maximized, fixed;
        int x, y, w, h;
    };
    const Row rows[] = {
        {{}, false, true, false, 0, 0, 0, 0},
        {{"/w:0/h:0"}, true, false, false, 0, 0, 0, 0},
        {{"/x:10/y:20/w:0/h:0"}, true, false, false, 10, 20, 0, 0},
        {{"/x:10/y:20/w:640/h:480"}, false, false, true, 10, 20, 640, 480},
        // Width and height without a position: maximized.
        {{"/w:640/h:480"}, false, true, false, 0, 0, 640, 480},
        {{"/x:10/w:640/h:480"}, false, true, false, 10, 0, 640, 480},
        // A position without both sizes is no rectangle at all.
        {{"/x:10/y:20/w:640"}, false, true, false, 0, 0, 0, 0},
        // One of the sizes 0 only: a (degenerate) visible rectangle.
        {{"/x:1/y:2/w:0/h:5"}, false, false, true, 1, 2, 0, 5},
        {{"/x:-100/y:-50/w:300/h:200"}, false, false, true, -100, -50, 300, 200},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.args.empty() ? "(none)" : r.args[0]);
        StartPlan p = Plan(r.args);
        EXPECT_EQ(p.hidden, r.hidden);
        EXPECT_EQ(p.maximized, r.maximized);
        EXPECT_EQ(p.fixed, r.fixed);
        EXPECT_EQ(p.x, r.x);
        EXPECT_EQ(p.y, r.y);
        EXPECT_EQ(p.w, r.w);
        EXPECT_EQ(p.h, r.h);
    }
}

TEST(StartPlan, FileWizardAndCommand) {
    // Interactive start with a file: open it, no wizard, nothing posted.
    StartPlan p = Plan({"conf.svx"});
    EXPECT_FALSE(p.driven);
    EXPECT_FALSE(p.noPort) << "interactive use never lacks the port";
    EXPECT_EQ(p.openFile, "conf.svx");
    EXPECT_FALSE(p.newStart);
    EXPECT_EQ(p.commandToPost, 0);

    p = Plan({});
    EXPECT_TRUE(p.newStart);
    EXPECT_TRUE(p.openFile.empty());

    // Two plain arguments: the first is opened.
    p = Plan({"/write/port:2/bps:9600/close", "first.svx", "second.svx"});
    EXPECT_EQ(p.openFile, "first.svx");
    EXPECT_EQ(p.commandToPost, DrivenCommand::kWriteAll);
    EXPECT_TRUE(p.closeWhenDone);
    EXPECT_FALSE(p.noPort);

    // A read drops the file and still runs no wizard.
    p = Plan({"/read/port:1", "out.svx"});
    EXPECT_TRUE(p.openFile.empty());
    EXPECT_FALSE(p.newStart);
    EXPECT_EQ(p.commandToPost, DrivenCommand::kReadAll);

    // Write wins over calibrate, calibrate over read.
    EXPECT_EQ(Plan({"/read/calibrate/write"}).commandToPost, DrivenCommand::kWriteAll);
    EXPECT_EQ(Plan({"/read/calibrate"}).commandToPost, DrivenCommand::kCalibrate);

    // A port alone: driven, nothing to post.
    p = Plan({"/port:3"});
    EXPECT_TRUE(p.driven);
    EXPECT_EQ(p.commandToPost, 0);
    EXPECT_FALSE(p.noPort);

    // Options without a port: no port; "newnetparam" drops the port it had.
    EXPECT_TRUE(Plan({"/close"}).noPort);
    EXPECT_TRUE(Plan({"/port:3/newnetparam"}).noPort);
}

TEST(StartPlan, ModeStartValues) {
    StartPlan p = Plan({});
    EXPECT_EQ(p.autoReadStart, 1);
    EXPECT_EQ(p.instantWriteStart, 0);
    p = Plan({"/autoread:off/autowrite:on"});
    EXPECT_EQ(p.autoReadStart, 0);
    EXPECT_EQ(p.instantWriteStart, 1);
    p = Plan({"/autowrite:on/silent"});
    EXPECT_EQ(p.autoReadStart, 0);
    EXPECT_EQ(p.instantWriteStart, 0) << "silent turns both off";
    EXPECT_TRUE(p.silent);
    EXPECT_TRUE(Plan({"/test"}).test);
}

TEST(StartPlan, ExitCode) {
    EXPECT_EQ(ExitCodeAtEnd(0, false, 7), 7);
    EXPECT_EQ(ExitCodeAtEnd(0, true, 7), 0);
    EXPECT_EQ(ExitCodeAtEnd(Outcome::kNoAnswer, true, 7), 202);
    // The lowest bit decides.
    EXPECT_EQ(ExitCodeAtEnd(Outcome::kCancelled | Outcome::kPortFailed, false, 0), 201);
    EXPECT_EQ(ExitCodeAtEnd(Outcome::kUnknownDevice | Outcome::kBadAnswers, false, 0), 203);
    EXPECT_EQ(ExitCodeAtEnd(Outcome::kFileMissing | Outcome::kUnknownDevice, false, 0), 200);
    EXPECT_EQ(ExitCodeAtEnd(Outcome::kCancelled, false, 0), 205);
    EXPECT_EQ(ExitCodeAtEnd(Outcome::kUnknownDevice, false, 0), 206);
}

TEST(StartPlan, ConverterType) {
    EXPECT_EQ(ConverterTypeAtStart(ParseCommandLine({"/rs485:off"}).options),
              ConverterType::kAutomatic);
    EXPECT_EQ(ConverterTypeAtStart(ParseCommandLine({"/rs485:on"}).options),
              ConverterType::kSemiAutomatic);
    SettingsStore::Instance().WriteNumber("RS485type", 5);
    EXPECT_EQ(ConverterTypeAtStart(ParseCommandLine({}).options), ConverterType::kAutomatic);
    EXPECT_EQ(ConverterTypeAtStart(ParseCommandLine({"/rs485:auto"}).options),
              ConverterType::kSemiAutomatic);
    SettingsStore::Instance().WriteNumber("RS485type", 0);
    EXPECT_EQ(ConverterTypeAtStart(ParseCommandLine({}).options), ConverterType::kSemiAutomatic);
}

class ApplyPlan : public ::testing::Test {
  protected:
    void TearDown() override {
        StartupSwitches& s = Startup();
        s.noPort = s.silent = s.driven = s.closeWhenDone = false;
        s.writeRequested = s.readRequested = s.test = false;
        s.autoReadStart = 1;
        s.instantWriteStart = 0;
        fs::remove_all(dir);
    }
    fs::path dir = fs::temp_directory_path() / ("selvar-plan-" + std::to_string(getpid()));
};

TEST_F(ApplyPlan, SwitchesAndTheErrorLog) {
    fs::create_directories(dir);
    std::string log = (dir / "err.log").string();
    { std::ofstream(log) << "an earlier run's failures\n"; }
    CommandLine line =
        ParseCommandLine({"/write/close/autoread:off/elog:\"" + log + "\"", "a.svx"});
    ApplyStartPlan(line, PlanStartup(line));
    StartupSwitches& s = Startup();
    EXPECT_TRUE(s.driven);
    EXPECT_TRUE(s.noPort);
    EXPECT_TRUE(s.closeWhenDone);
    EXPECT_TRUE(s.writeRequested);
    EXPECT_FALSE(s.readRequested);
    EXPECT_EQ(s.autoReadStart, 0);
    ASSERT_TRUE(fs::exists(log));
    EXPECT_EQ(fs::file_size(log), 0u) << "an existing log is emptied";

    // A log that cannot be created leaves the path with the caller.
    CommandLine bad =
        ParseCommandLine({"/read/elog:\"" + (dir / "no/such/dir.log").string() + "\""});
    ApplyStartPlan(bad, PlanStartup(bad));
    EXPECT_EQ(bad.errorLog, (dir / "no/such/dir.log").string());
    EXPECT_TRUE(s.readRequested);
    EXPECT_FALSE(s.writeRequested);
}

}  // namespace
