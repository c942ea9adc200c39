#pragma once

#include <cstdint>
#include <string>

#include "app/startup_options.h"

namespace App {

// Commands a driven run posts to the main window.
namespace DrivenCommand {
constexpr int kWriteAll = 140;
constexpr int kCalibrate = 32800;
constexpr int kReadAll = 139;
}  // namespace DrivenCommand

// What start-up decides from the command line before any window exists.
struct StartPlan {
    bool driven = false, noPort = false, silent = false, test = false;
    bool hidden = false;    // w = h = 0 given: no window, tray icon only
    bool maximized = true;  // placement rule
    bool fixed = false;     // shown at x,y,w,h and fixed until the run is done
    int x = 0, y = 0, w = 0, h = 0;
    std::string openFile;  // empty: a new document ("read" drops the file)
    bool newStart = true;  // no file to open and no "read": the wizard runs
    int autoReadStart = 1, instantWriteStart = 0;
    int commandToPost = 0;  // 140 write, else 32800 calibrate, else 139 read, else 0
    bool closeWhenDone = false;
};

StartPlan PlanStartup(const CommandLine& line);

// Puts the plan into the process-wide Startup() switches (noPort, silent,
// driven, closeWhenDone, writeRequested, readRequested, test, autoReadStart,
// instantWriteStart) and creates the "elog" file empty (an existing one
// truncated; a failure leaves the path stored all the same). The error-log
// path itself belongs to the document's device (Device::errorLogPath): the
// GUI sets it from line.errorLog once its document exists.
void ApplyStartPlan(const CommandLine& line, const StartPlan& plan);

// The converter type for the port: the "rs485" option when given, else the
// "RS485type" setting.
int ConverterTypeAtStart(const StartupOptions& options);

// The exit code at the end: lowest outcome bit's code; none set: 0 with
// "test", else normalCode.
int ExitCodeAtEnd(std::uint32_t outcomeFlags, bool testOption, int normalCode);

}  // namespace App
