#pragma once

#include <iosfwd>
#include <span>
#include <string>
#include <string_view>

#include "args.h"

class Parameter;
class Sio;

// Where a subcommand writes: results to out, one per line; diagnostics to err.
struct Io {
    std::ostream& out;
    std::ostream& err;
};

using Handler = int (*)(const Args& args, Io& io);

// One row of the tool's command table. Adding a subcommand is one row here
// and one handler.
struct Command {
    std::string_view name;
    std::string_view usage;  // what follows the name on the command line
    std::string_view summary;
    std::span<const OptionDef> options;
    Handler run;
};

// Frame codec.
int RunHash(const Args& args, Io& io);
int RunCrc(const Args& args, Io& io);
int RunFrame(const Args& args, Io& io);

// Value conversion.
int RunEncode(const Args& args, Io& io);
int RunDecode(const Args& args, Io& io);
int RunParse(const Args& args, Io& io);

// Device descriptions.
int RunDesc(const Args& args, Io& io);
int RunComment(const Args& args, Io& io);
int RunParlist(const Args& args, Io& io);

// The device link.
int RunPorts(const Args& args, Io& io);
int RunRead(const Args& args, Io& io);
int RunWrite(const Args& args, Io& io);
// The VALUE of a write into the parameter, checked as the tree's editor
// checks a typed text unless --raw is given. 0, or the exchange code of a
// value not encodable after the reason went to io.err.
int TakeWriteValue(const Args& args, Parameter& p, const std::string& text, Io& io);

// The port options of the link commands (--port, --bps, --parity, --len,
// --sbit, --alen, --addr, --rs485) into the port's settings; the settings
// not given are the program's defaults, the converter type the stored one.
void ConfigurePort(const Args& args, Sio& port);
// Why the port did not open: the failure's text, the port, what it resolved
// to and the system's reason.
std::string PortFailureMessage(const Sio& port);

// The device connection.
int RunCheck(const Args& args, Io& io);

// Whole configurations: the exchange operations, polling, .svx files,
// the structure report, help texts, dBase tables.
int RunReadAll(const Args& args, Io& io);
int RunSave(const Args& args, Io& io);
int RunLoad(const Args& args, Io& io);
int RunStructure(const Args& args, Io& io);
int RunHelpText(const Args& args, Io& io);
int RunPoll(const Args& args, Io& io);
int RunSvx(const Args& args, Io& io);
int RunDbf(const Args& args, Io& io);

// The measurement protocol files.
int RunLog(const Args& args, Io& io);
// The protocol export: report pages, workbooks, clearing the archives.
int RunExport(const Args& args, Io& io);
