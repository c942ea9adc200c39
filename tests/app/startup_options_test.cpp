// The command line as a driving program writes it: one table of arguments and
// what each must leave in the options, grouped by the rule it exercises.
#include "app/startup_options.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

using namespace App;

struct Case {
    const char* group;
    std::vector<std::string> args;
    std::function<void(const CommandLine&)> check;
};

bool Given(const CommandLine& l) {
    return l.options.Has(ActionBit::kNetworkGiven);
}

const std::vector<Case>& Cases() {
    static const std::vector<Case> cases = {
        // --- several options in one argument ---
        {"combined",
         {"/write/port:2/bps:9600/close", "conf.svx"},
         [](const CommandLine& l) {
             EXPECT_EQ(l.options.actionBits, ActionBit::kWrite | ActionBit::kNetworkGiven |
                                                 ActionBit::kClose | ActionBit::kDriven);
             EXPECT_EQ(l.options.port, 2);
             EXPECT_EQ(l.options.baud, 9600);
             EXPECT_EQ(l.file, "conf.svx");
             EXPECT_EQ(l.plainArguments, std::vector<std::string>{"conf.svx"});
         }},
        {"combined",
         {"-READ/Port:3"},
         [](const CommandLine& l) {
             EXPECT_TRUE(l.options.Has(ActionBit::kRead));
             EXPECT_EQ(l.options.port, 3);
         }},
        {"combined",
         {"/write", "/port:4", "-close"},
         [](const CommandLine& l) {
             EXPECT_TRUE(l.options.Has(ActionBit::kWrite));
             EXPECT_TRUE(l.options.Has(ActionBit::kClose));
             EXPECT_EQ(l.options.port, 4);
         }},

        // --- empty options and options without a name ---
        {"empty",
         {"/write//close"},
         [](const CommandLine& l) {
             EXPECT_TRUE(l.options.Has(ActionBit::kWrite));
             EXPECT_FALSE(l.options.Has(ActionBit::kClose)) << "parsing stops at the empty option";
         }},
        {"empty",
         {"/write//close", "/read"},
         [](const CommandLine& l) {
             EXPECT_FALSE(l.options.Has(ActionBit::kClose));
             EXPECT_TRUE(l.options.Has(ActionBit::kRead)) << "the next argument is parsed again";
         }},
        {"empty",
         {"/"},
         [](const CommandLine& l) {
             EXPECT_FALSE(l.options.Driven()) << "no option was parsed";
             EXPECT_TRUE(l.plainArguments.empty());
         }},
        {"empty", {"-/write"}, [](const CommandLine& l) { EXPECT_FALSE(l.options.Driven()); }},
        {"empty",
         {"/:5/x:7"},
         [](const CommandLine& l) {
             EXPECT_TRUE(l.options.Driven()) << "an option without a name still counts";
             EXPECT_EQ(l.options.x, 7);
         }},
        {"empty",
         {"/frobnicate"},
         [](const CommandLine& l) {
             EXPECT_EQ(l.options.actionBits, ActionBit::kDriven);
             EXPECT_EQ(l.options.modeBits, 0);
         }},
        {"empty",
         {"/port:"},
         [](const CommandLine& l) {
             EXPECT_EQ(l.options.port, 0);
             EXPECT_FALSE(Given(l));
             EXPECT_TRUE(l.options.Driven());
         }},

        // --- plain arguments ---
        {"plain",
         {"First.svx", "/read", "Second.svx"},
         [](const CommandLine& l) {
             EXPECT_EQ(l.plainArguments, (std::vector<std::string>{"First.svx", "Second.svx"}));
             EXPECT_EQ(l.file, "Second.svx") << "the last one, as typed";
         }},
        {"plain",
         {"Только.svx"},
         [](const CommandLine& l) {
             EXPECT_EQ(l.file, "Только.svx");
             EXPECT_FALSE(l.options.Driven());
         }},

        // --- numbers as %i reads them ---
        {"numbers",
         {"/bps:0x2580/port:010/x:-5/y:+12/w:0/h:0X1F"},
         [](const CommandLine& l) {
             EXPECT_EQ(l.options.baud, 9600);
             EXPECT_EQ(l.options.port, 8) << "leading 0 is octal";
             EXPECT_EQ(l.options.x, -5);
             EXPECT_EQ(l.options.y, 12);
             EXPECT_EQ(l.options.w, 0);
             EXPECT_EQ(l.options.h, 31);
             EXPECT_EQ(l.options.geometryBits,
                       GeometryBit::kX | GeometryBit::kY | GeometryBit::kW | GeometryBit::kH);
         }},
        {"numbers",
         {"/port:09"},
         [](const CommandLine& l) { EXPECT_EQ(l.options.port, 0) << "an octal 0 ends at the 9"; }},
        {"numbers",
         {"/bps:12abc/len:0x"},
         [](const CommandLine& l) {
             EXPECT_EQ(l.options.baud, 12);
             EXPECT_EQ(l.options.DataLength(), 0) << "\"0x\" without a digit reads as 0";
         }},
        {"numbers",
         {"/port:258/len:0x1B/alen:-1"},
         [](const CommandLine& l) {
             EXPECT_EQ(l.options.port, 2) << "low 8 bits";
             EXPECT_EQ(l.options.DataLength(), 11) << "low 4 bits";
             EXPECT_EQ(l.options.AddressLength(), 15);
             EXPECT_EQ(l.options.Parity(), 0) << "neighbouring link bits untouched";
             EXPECT_EQ(l.options.Rs485(), 0);
         }},
        {"numbers",
         {"/x:-2147483648/y:4294967297"},
         [](const CommandLine& l) {
             EXPECT_EQ(l.options.x, INT32_MIN);
             EXPECT_EQ(l.options.y, 1) << "the low 32 bits, as the C conversion stores them";
         }},
        {"numbers",
         {"/x:3/x:abc/port:com2/bps:fast/w:/h:-"},
         [](const CommandLine& l) {
             EXPECT_EQ(l.options.x, 3) << "a non-number leaves the field alone";
             EXPECT_EQ(l.options.port, 0);
             EXPECT_EQ(l.options.baud, 0);
             EXPECT_FALSE(Given(l)) << "an ignored value gives no network settings";
             EXPECT_EQ(l.options.geometryBits, GeometryBit::kX);
         }},
        {"numbers",
         {"/x: 40"},
         [](const CommandLine& l) { EXPECT_EQ(l.options.x, 40) << "blanks before a number"; }},

        // --- the network mark ---
        {"network",
         {"/port:2/prty:mark"},
         [](const CommandLine& l) {
             EXPECT_FALSE(Given(l)) << "another parity value clears the mark";
             EXPECT_EQ(l.options.Parity(), 0);
             EXPECT_EQ(l.options.port, 2);
         }},
        {"network",
         {"/prty:even", "/prty:odd/addr:17", "/prty:no"},
         [](const CommandLine& l) {
             EXPECT_EQ(l.options.Parity(), ParityOption::kNone);
             EXPECT_TRUE(Given(l));
             EXPECT_STREQ(l.options.address, "17");
         }},
        {"network",
         {"/prty:odd/prty"},
         [](const CommandLine& l) {
             EXPECT_EQ(l.options.Parity(), ParityOption::kOdd) << "the field keeps its value";
             EXPECT_FALSE(Given(l));
         }},
        {"network",
         {"/port:2/io:stdio"},
         [](const CommandLine& l) {
             EXPECT_FALSE(Given(l)) << "io after port leaves the mark cleared";
             EXPECT_EQ(l.options.port, 2);
             EXPECT_EQ(l.options.IoMode(), IoMode::kStdio);
         }},
        {"network",
         {"/io:SOCKET:4001"},
         [](const CommandLine& l) { EXPECT_EQ(l.options.IoMode(), IoMode::kSocket); }},
        {"network", {"/io:pipe"}, [](const CommandLine& l) { EXPECT_EQ(l.options.IoMode(), 0); }},
        {"network",
         {"/io:stdio/bps:19200/len:7/alen:11/sbit:2"},
         [](const CommandLine& l) {
             EXPECT_TRUE(Given(l));
             EXPECT_EQ(l.options.baud, 19200);
             EXPECT_EQ(l.options.DataLength(), 7);
             EXPECT_EQ(l.options.AddressLength(), 11);
             EXPECT_STREQ(l.options.stopBits, "2");
             EXPECT_EQ(l.options.IoMode(), IoMode::kStdio);
         }},
        {"network",
         {"/addr:/sbit:"},
         [](const CommandLine& l) {
             EXPECT_FALSE(Given(l)) << "empty texts are not given";
             EXPECT_STREQ(l.options.address, "");
         }},
        {"network",
         {"/port:5/newnetparam/port:7/bps:4800"},
         [](const CommandLine& l) {
             EXPECT_EQ(l.options.port, 0) << "newnetparam clears the port; later ones are ignored";
             EXPECT_TRUE(l.options.HasMode(ModeBit::kNewNetParams));
             EXPECT_TRUE(Given(l)) << "bps after newnetparam marks again";
             EXPECT_EQ(l.options.baud, 4800);
         }},
        {"network",
         {"/rs485:on", "/rs485:sometimes"},
         [](const CommandLine& l) { EXPECT_EQ(l.options.Rs485(), 3) << "other values ignored"; }},
        {"network", {"/rs485:auto"}, [](const CommandLine& l) { EXPECT_EQ(l.options.Rs485(), 1); }},
        {"network", {"/RS485:OFF"}, [](const CommandLine& l) { EXPECT_EQ(l.options.Rs485(), 2); }},

        // --- texts too long ---
        {"long",
         {"/addr:1234567/sbit:1.5/uni:abcdefghijklmnop"},
         [](const CommandLine& l) {
             EXPECT_STREQ(l.options.address, "12345");
             EXPECT_STREQ(l.options.stopBits, "1.5");
             EXPECT_STREQ(l.options.uni, "abcdefghijk");
             EXPECT_TRUE(l.options.HasMode(ModeBit::kUni));
             ASSERT_EQ(l.notes.size(), 2u);
             EXPECT_NE(l.notes[0].find("addr"), std::string::npos);
             EXPECT_NE(l.notes[1].find("uni"), std::string::npos);
         }},
        {"long",
         {"/uni:абвгдежз"},
         [](const CommandLine& l) {
             // 11 bytes hold five two-byte letters; the sixth is not split.
             EXPECT_STREQ(l.options.uni, "абвгд");
             EXPECT_EQ(l.notes.size(), 1u);
         }},
        {"long",
         {"/addr:12345/uni:"},
         [](const CommandLine& l) {
             EXPECT_STREQ(l.options.address, "12345");
             EXPECT_TRUE(l.notes.empty());
             EXPECT_TRUE(l.options.HasMode(ModeBit::kUni));
         }},

        // --- texts: lowering, quotes, event and log ---
        {"texts",
         {"/ExitEvent:\"StopSelvar\"/ELOG:Errors.LOG"},
         [](const CommandLine& l) {
             EXPECT_EQ(l.exitEventName, "stopselvar");
             EXPECT_EQ(l.errorLog, "errors.log");
         }},
        {"texts",
         {"/elog:\"/tmp/Run 1/err.log\"/close"},
         [](const CommandLine& l) {
             EXPECT_EQ(l.errorLog, "/tmp/run 1/err.log") << "a quoted path keeps its slashes";
             EXPECT_TRUE(l.options.Has(ActionBit::kClose));
         }},
        {"texts",
         {"/exitevent:Выход"},
         [](const CommandLine& l) { EXPECT_EQ(l.exitEventName, "выход"); }},
        {"texts",
         {"/elog:a:b"},
         [](const CommandLine& l) { EXPECT_EQ(l.errorLog, "a:b") << "split at the first ':'"; }},

        // --- modes ---
        {"modes",
         {"/silent"},
         [](const CommandLine& l) {
             EXPECT_EQ(l.options.modeBits,
                       ModeBit::kAutoReadOff | ModeBit::kAutoWriteOff | ModeBit::kSilent);
         }},
        {"modes",
         {"/autoread:on/autowrite:off/test"},
         [](const CommandLine& l) {
             EXPECT_EQ(l.options.modeBits,
                       ModeBit::kAutoReadOn | ModeBit::kAutoWriteOff | ModeBit::kTest);
         }},
        {"modes",
         {"/autoread:maybe/autowrite"},
         [](const CommandLine& l) { EXPECT_EQ(l.options.modeBits, 0); }},
        {"modes",
         {"/aply/calibrate"},
         [](const CommandLine& l) {
             EXPECT_TRUE(l.options.Has(ActionBit::kApply));
             EXPECT_TRUE(l.options.Has(ActionBit::kCalibrate));
         }},
        {"modes",
         {"/write:now"},
         [](const CommandLine& l) { EXPECT_TRUE(l.options.Has(ActionBit::kWrite)); }},
    };
    return cases;
}

TEST(CommandLineParser, TableOfArguments) {
    for (const Case& c : Cases()) {
        std::string shown;
        for (const std::string& a : c.args)
            shown += "[" + a + "] ";
        SCOPED_TRACE(std::string(c.group) + ": " + shown);
        c.check(ParseCommandLine(c.args));
    }
}

TEST(CommandLineParser, NothingGivenLeavesEverythingZero) {
    CommandLine l = ParseCommandLine({});
    StartupOptions zero;
    EXPECT_EQ(std::memcmp(&l.options.uni, &zero.uni, sizeof zero.uni), 0);
    EXPECT_EQ(l.options.actionBits, 0u);
    EXPECT_EQ(l.options.linkBits, 0);
    EXPECT_TRUE(l.file.empty());
}

}  // namespace
