// The command line as a driving program writes it: one table of arguments and
// what each leaves in the options, grouped by the rule it exercises. The
// options are shown as a short text of what is not zero.
#include "app/startup_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace App;

std::string Show(const CommandLine& l) {
    const StartupOptions& o = l.options;
    std::string s;
    auto add = [&](bool on, const std::string& text) {
        if (on) s += (s.empty() ? "" : " ") + text;
    };
    const std::pair<std::uint32_t, const char*> actions[] = {
        {ActionBit::kWrite, "write"},      {ActionBit::kRead, "read"},
        {ActionBit::kNetworkGiven, "net"}, {ActionBit::kClose, "close"},
        {ActionBit::kApply, "aply"},       {ActionBit::kCalibrate, "cal"}};
    for (auto [bit, name] : actions)
        add(o.Has(bit), name);
    add(!o.Driven(), "interactive");
    const std::pair<std::uint16_t, const char*> modes[] = {
        {ModeBit::kAutoReadOn, "ar+"},  {ModeBit::kAutoReadOff, "ar-"},
        {ModeBit::kAutoWriteOn, "aw+"}, {ModeBit::kAutoWriteOff, "aw-"},
        {ModeBit::kTest, "test"},       {ModeBit::kSilent, "silent"},
        {ModeBit::kUni, "uni"},         {ModeBit::kNewNetParams, "newnet"}};
    for (auto [bit, name] : modes)
        add(o.HasMode(bit), name);
    add(o.port != 0, "port=" + std::to_string(o.port));
    add(o.baud != 0, "bps=" + std::to_string(o.baud));
    add(o.Parity() != 0, "prty=" + std::to_string(o.Parity()));
    add(o.DataLength() != 0, "len=" + std::to_string(o.DataLength()));
    add(o.AddressLength() != 0, "alen=" + std::to_string(o.AddressLength()));
    add(o.Rs485() != 0, "rs485=" + std::to_string(o.Rs485()));
    add(o.IoMode() != 0, "io=" + std::to_string(o.IoMode()));
    add(o.address[0] != 0, "addr=" + std::string(o.address));
    add(o.stopBits[0] != 0, "sbit=" + std::string(o.stopBits));
    add(o.uni[0] != 0, "uni=" + std::string(o.uni));
    add(o.HasGeometry(GeometryBit::kX) || o.x, "x=" + std::to_string(o.x));
    add(o.HasGeometry(GeometryBit::kY) || o.y, "y=" + std::to_string(o.y));
    add(o.HasGeometry(GeometryBit::kW) || o.w, "w=" + std::to_string(o.w));
    add(o.HasGeometry(GeometryBit::kH) || o.h, "h=" + std::to_string(o.h));
    for (const std::string& p : l.plainArguments)
        add(true, "plain=" + p);
    add(!l.file.empty(), "file=" + l.file);
    add(!l.errorLog.empty(), "elog=" + l.errorLog);
    add(!l.exitEventName.empty(), "event=" + l.exitEventName);
    add(!l.notes.empty(), "cut=" + std::to_string(l.notes.size()));
    return s;
}

struct Case {
    std::vector<std::string> args;
    const char* expected;
};

const Case kCases[] = {
    // several options in one argument, or in several
    {{"/write/port:2/bps:9600/close", "conf.svx"},
     "write net close port=2 bps=9600 plain=conf.svx file=conf.svx"},
    {{"-READ/Port:3"}, "read net port=3"},
    {{"/write", "/port:4", "-close"}, "write net close port=4"},
    // empty options and options without a name
    {{"/write//close"}, "write"},
    {{"/write//close", "/read"}, "write read"},
    {{"/"}, "interactive"},
    {{"-/write"}, "interactive"},
    {{"/:5/x:7"}, "x=7"},
    {{"/frobnicate"}, ""},
    {{"/port:"}, ""},
    // plain arguments: all in order, the last is the command-line file
    {{"First.svx", "/read", "Second.svx"}, "read plain=First.svx plain=Second.svx file=Second.svx"},
    {{"Только.svx"}, "interactive plain=Только.svx file=Только.svx"},
    // absolute paths: a first segment that is no option, then a directory part
    {{"/write/port:2", "/tmp/x.svx"}, "write net port=2 plain=/tmp/x.svx file=/tmp/x.svx"},
    {{"/home/u/Конфиг.svx"}, "interactive plain=/home/u/Конфиг.svx file=/home/u/Конфиг.svx"},
    {{"/Data/Out.SVX", "/read"}, "read plain=/Data/Out.SVX file=/Data/Out.SVX"},
    {{"/WRITE/port:2/close"}, "write net close port=2"},
    {{"/x/y:3"}, "y=3"},
    {{"/tmp"}, ""},
    {{"/foo"}, ""},
    {{"/foo:1/close"}, "close"},
    {{"-tmp/x.svx"}, ""},
    // numbers as %i reads them
    {{"/bps:0x2580/port:010/x:-5/y:+12/w:0/h:0X1F"}, "net port=8 bps=9600 x=-5 y=12 w=0 h=31"},
    {{"/port:09"}, "net"},  // octal: the 9 ends it, port 0
    {{"/bps:12abc/len:0x"}, "net bps=12"},
    {{"/port:258/len:0x1B/alen:-1"}, "net port=2 len=11 alen=15"},
    {{"/x:-2147483648/y:4294967297"}, "x=-2147483648 y=1"},
    {{"/x:3/x:abc/port:com2/bps:fast/w:/h:-"}, "x=3"},
    {{"/x: 40"}, "x=40"},
    // the network mark
    {{"/port:2/prty:mark"}, "port=2"},
    {{"/prty:even", "/prty:odd/addr:17", "/prty:no"}, "net prty=3 addr=17"},
    {{"/prty:odd/prty"}, "prty=2"},
    {{"/port:2/io:stdio"}, "port=2 io=1"},
    {{"/io:SOCKET:4001"}, "io=3"},
    {{"/io:pipe"}, ""},
    {{"/io:stdio/bps:19200/len:7/alen:11/sbit:2"}, "net bps=19200 len=7 alen=11 io=1 sbit=2"},
    {{"/addr:/sbit:"}, ""},
    {{"/port:5/newnetparam/port:7/bps:4800"}, "net newnet bps=4800"},
    {{"/rs485:on", "/rs485:sometimes"}, "rs485=3"},
    {{"/rs485:auto"}, "rs485=1"},
    {{"/RS485:OFF"}, "rs485=2"},
    // texts too long: cut to the field, never inside a character
    {{"/addr:1234567/sbit:1.5/uni:abcdefghijklmnop"},
     "net uni addr=12345 sbit=1.5 uni=abcdefghijk cut=2"},
    {{"/uni:абвгдежз"}, "uni uni=абвгд cut=1"},
    {{"/addr:12345/uni:"}, "net uni addr=12345"},
    // texts: lowered, quotes removed, a quoted value keeps its slashes
    {{"/ExitEvent:\"StopSelvar\"/ELOG:Errors.LOG"}, "elog=errors.log event=stopselvar"},
    {{"/elog:\"/tmp/Run 1/err.log\"/close"}, "close elog=/tmp/run 1/err.log"},
    {{"/exitevent:Выход"}, "event=выход"},
    {{"/elog:a:b"}, "elog=a:b"},
    // modes
    {{"/silent"}, "ar- aw- silent"},
    {{"/autoread:on/autowrite:off/test"}, "ar+ aw- test"},
    {{"/autoread:maybe/autowrite"}, ""},
    {{"/aply/calibrate/write:now"}, "write aply cal"},
};

TEST(CommandLineParser, TableOfArguments) {
    for (const Case& c : kCases) {
        std::string shown;
        for (const std::string& a : c.args)
            shown += "[" + a + "] ";
        EXPECT_EQ(Show(ParseCommandLine(c.args)), c.expected) << shown;
    }
}

TEST(CommandLineParser, ACutIsNotedWithTheOptionAndWhatIsUsed) {
    CommandLine l = ParseCommandLine({"/addr:1234567"});
    ASSERT_EQ(l.notes.size(), 1u);
    EXPECT_NE(l.notes[0].find("addr"), std::string::npos);
    EXPECT_NE(l.notes[0].find("\"12345\""), std::string::npos);
}

}  // namespace
