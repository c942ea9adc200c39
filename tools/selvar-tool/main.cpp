// selvar-tool: the frame codec and the value conversions of the core, one
// subcommand per operation, for engineers and scripts.
#include <array>
#include <exception>
#include <iostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "commands.h"
#include "platform/ui_services.h"

namespace {

constexpr std::string_view kTool = "selvar-tool";

constexpr OptionDef kHelp{"--help", false};
constexpr OptionDef kNoOptions[] = {kHelp};
constexpr OptionDef kFrameOptions[] = {
    kHelp, {"--addr", true}, {"--alen", true}, {"--offset", true}, {"--index", true}};
constexpr OptionDef kEncodeOptions[] = {
    kHelp, {"--type", true}, {"--name", true}, {"--decimals", true}};
constexpr OptionDef kDecodeOptions[] = {
    kHelp, {"--type", true}, {"--name", true}, {"--decimals", true}, {"--indexed", false}};
constexpr OptionDef kParseOptions[] = {
    kHelp, {"--type", true}, {"--decimals", true}, {"--min", true}, {"--max", true}};

// The port and its settings, shared by every command that talks to a device.
constexpr OptionDef kOperationOptions[] = {kHelp,
                                           {"--port", true},
                                           {"--bps", true},
                                           {"--parity", true},
                                           {"--len", true},
                                           {"--sbit", true},
                                           {"--alen", true},
                                           {"--addr", true},
                                           {"--rs485", true}};

template <std::size_t N, std::size_t M>
constexpr std::array<OptionDef, N + M> Join(const OptionDef (&a)[N], const OptionDef (&b)[M]) {
    std::array<OptionDef, N + M> out{};
    for (std::size_t i = 0; i < N; ++i)
        out[i] = a[i];
    for (std::size_t i = 0; i < M; ++i)
        out[N + i] = b[i];
    return out;
}

constexpr auto kLinkOptions = Join(kOperationOptions, {{"--modification", true}, {"-v", false}});
constexpr auto kWriteOptions =
    Join(kOperationOptions, {{"--modification", true}, {"-v", false}, {"--raw", false}});
constexpr auto kLoadOptions = Join(kOperationOptions, {{"--write", true}});
constexpr auto kSaveOptions = Join(kOperationOptions, {{"--partial", false}});
constexpr auto kPollOptions =
    Join(kOperationOptions, {{"--period", true}, {"--seconds", true}, {"--record", false}});

constexpr OptionDef kLogOptions[] = {kHelp, {"--modification", true}};
constexpr OptionDef kExportOptions[] = {
    kHelp, {"--from", true}, {"--to", true}, {"--file", true}, {"--filter", true}, {"--out", true}};

constexpr Command kCommands[] = {
    {"hash", "NAME", "name hash of a parameter's device name, four hex digits", kNoOptions,
     RunHash},
    {"crc", "HEX...", "checksum of the bytes, four hex digits", kNoOptions, RunCrc},
    {"frame", "read|write --addr N [--alen 8|11] [--offset K] [--index I] NAME [HEX...]",
     "request line frame, '#' to the last letter (CR left out);\n"
     "      --offset -1 is the fixed address 255; --index appends the linear index",
     kFrameOptions, RunFrame},
    {"encode", "--type T [--name N] [--decimals D] TEXT",
     "data bytes of a value text, as hex pairs", kEncodeOptions, RunEncode},
    {"decode", "--type T [--name N] [--decimals D] [--indexed] HEX...",
     "value text of answer data bytes", kDecodeOptions, RunDecode},
    {"parse", "--type T [--decimals D] [--min A --max B] TEXT",
     "value stored when a user enters TEXT (range checked, rounded)", kParseOptions, RunParse},
    {"desc", "list | table MOD | tree MOD ordinary|operative|hidden",
     "the modifications' description files: their names, the parameter table,\n"
     "      a tree as indented records in file order (MOD: a1, b4, b2 or a display name)",
     kNoOptions, RunDesc},
    {"comment", "MOD NAME[:INDEX]", "the tool-tip comment of a parameter, or nothing", kNoOptions,
     RunComment},
    {"parlist", "MOD [OUT.html]",
     "the parameter list page (default: parlist.html in the program's home); prints its path",
     kNoOptions, RunParlist},
    {"ports", "",
     "every serial port present, one a line: COM name (- for none), what it resolves to,\n"
     "      ok or why it cannot be opened, the adapter, its stable path",
     kNoOptions, RunPorts},
    {"read",
     "--port PORT [--bps N] [--parity even|odd|space|mark|none] [--len N] [--sbit 1|1.5|2]\n"
     "      [--alen 8|11] [--addr N] [--rs485 rts|frame] [--modification MOD] [-v] NAME[:INDEX]",
     "read one parameter from the device; -v shows the exchange on stderr", kLinkOptions, RunRead},
    {"write",
     "--port PORT [--bps N] [--parity even|odd|space|mark|none] [--len N] [--sbit 1|1.5|2]\n"
     "      [--alen 8|11] [--addr N] [--rs485 rts|frame] [--modification MOD] [-v] [--raw]\n"
     "      NAME[:INDEX] VALUE",
     "write one parameter and print the value the device answered; VALUE is checked as the\n"
     "      tree's editor checks it (its type's text rules and range, ',' read as '.'; the\n"
     "      type and range come from --modification), --raw sends it unchecked",
     kWriteOptions, RunWrite},
    {"check",
     "--port PORT [--bps N] [--parity even|odd|space|mark|none] [--len N] [--sbit 1|1.5|2]\n"
     "      [--alen 8|11] [--addr N] [--rs485 rts|frame] [--modification MOD] [-v]",
     "check the connection: the device, its modification and firmware; -v shows the reads",
     kLinkOptions, RunCheck},
    {"readall", "MOD --port PORT [link options]",
     "read every parameter of the configuration; the log, then the counts; Ctrl+C stops",
     kOperationOptions, RunReadAll},
    {"save", "MOD --port PORT [link options] [--partial] OUT.svx",
     "read every parameter and save the configuration file; a read that did not complete\n"
     "      leaves OUT.svx as it was unless --partial saves what was read",
     kSaveOptions, RunSave},
    {"load", "FILE.svx [--port PORT [link options] --write all|changed]",
     "open a configuration file as a command-line run does (no questions), and write all "
     "or the changed parameters into the device",
     kLoadOptions, RunLoad},
    {"svx", "dump FILE.svx",
     "a configuration file as it stands: level, modification, common parameters, table, "
     "then one record a line (key, name, index, value, error, need-update flags v/a/o)",
     kNoOptions, RunSvx},
    {"structure", "MOD --port PORT [link options]",
     "read the structural parameters and print the structure report", kOperationOptions,
     RunStructure},
    {"help-text", "MOD NAME[:INDEX]", "the help text the tree shows for a parameter", kNoOptions,
     RunHelpText},
    {"poll",
     "MOD --port PORT [link options] [--period MS] [--seconds S] [--record] [NAME[:INDEX]...]",
     "poll operative parameters (all when none is named): one line per value (time, name, "
     "address, value or error); --record appends them to the day's protocol log",
     kPollOptions, RunPoll},
    {"dbf", "export FILE.svx OUT.dbf | import FILE.svx IN.dbf [OUT.svx]",
     "the configuration's parameters as a dBase table, or a table's values into the "
     "configuration (saved to OUT.svx, else into FILE.svx); missing parameters on stderr",
     kNoOptions, RunDbf},
    {"log", "dump FILE.log | dump ARCHIVE.var STREAM [--modification MOD] | pack [DIR]",
     "show a protocol log, one record a line (decoded as polling decoded it with MOD's "
     "description), or pack the older logs of a protocol folder into their monthly archives;\n"
     "      dump exits 2 when the file cannot be read whole, pack 1 when logs were left",
     kLogOptions, RunLog},
    {"export",
     "html|xlsx MOD (--from YYYY-MM-DD --to YYYY-MM-DD | --file NAME) [--filter NAME] "
     "[--out DIR] | clear MM-YYYY",
     "the protocol of the program's home as report pages (the day of --from, one page an\n"
     "      hour) or a workbook (every day of the period), from the month's archive or the\n"
     "      day's log; prints the paths written (default: its folder temp); --filter keeps\n"
     "      one parameter name; exits 2 when some data could be read only in part.\n"
     "      clear deletes the archives MM-YYYY.var up to that month and prints the count",
     kExportOptions, RunExport},
};

constexpr std::string_view kNotes =
    R"(Options are "--name value" or "--name=value", anywhere after the command;
"--" ends them. A lone "-" prefix (as in -12.5) is an operand. HEX bytes are
pairs of hex digits; blanks may separate pairs ("61 62 63", "616263").
Types: float, "STORED DOT", "DEC dot", int16, uint16, byte, bin, DWORD, time,
datetime, "CLK frm", string, ASCI, name, or enumeration labels separated by ':'.
Texts are UTF-8. PORT is a COM name (through the port map of the settings,
else COM1-COM99 are /dev/ttyUSB0-98, COM101-COM199 /dev/ttyACM0-98 and
COM201-COM256 /dev/ttyS0-55), a device path, or tcp://host:port for a
serial-to-Ethernet converter. Link options not given take the program's
defaults: 9600 bit/s, 8 data bits, no parity, 1 stop bit, 8-bit address 16.
--rs485 rts|frame: rts switches the adapter's transmitter with RTS and sends
byte by byte, frame sends the whole frame for adapters that switch themselves;
the choice is kept in the settings ("RS485type") for later runs.

Exit status:
  0   success
  1   the value was refused (encode, parse), nothing could be decoded (decode),
      or the description files could not be read (desc)
  2   decode: length or network-name error; the error text is printed as value
  read, write: the exchange's result code (0 success, 1 failed, 2 answer not
      decodable, 3 no write method, 4 value not encodable, 51 refused by the
      device's access attributes); 201 the port could not be opened;
      write also exits 4 when the check refused VALUE: nothing was sent
  check: 0 a modification the program knows answered, 1 the device answered
      but its modification is unknown, 2 no answer, 3 the description files
      could not be read; 201 the port could not be opened
  64  wrong command line: unknown command or option, missing or extra operand,
      a value that is not a number or out of range, bad hex bytes
  70  unexpected internal failure
)";

void PrintUsage(std::ostream& os, const Command& c) {
    os << "usage: " << kTool << ' ' << c.name << ' ' << c.usage << '\n';
}

void PrintHelp(std::ostream& os) {
    os << "usage: " << kTool << " COMMAND [OPTIONS] OPERANDS...\n"
       << "       " << kTool << " help [COMMAND]\n\nCommands:\n";
    for (const Command& c : kCommands)
        os << "  " << c.name << ' ' << c.usage << "\n      " << c.summary << '\n';
    os << '\n' << kNotes;
}

const Command* FindCommand(std::string_view name) {
    for (const Command& c : kCommands)
        if (c.name == name) return &c;
    return nullptr;
}

// Boxes the core raises (a rounding warning, say) go to stderr; the
// default answer is taken as a non-interactive caller would.
class StderrMessageBoxes : public MessageBoxService {
  public:
    MessageResult Show(const std::string& text, const std::string& caption, MessageIcon,
                       MessageButtons buttons) override {
        std::cerr << (caption.empty() ? std::string(kTool) : caption) << ": " << text << '\n';
        return buttons == MessageButtons::YesNo || buttons == MessageButtons::YesNoCancel
                   ? MessageResult::Yes
                   : MessageResult::Ok;
    }
};

int Run(std::span<const std::string_view> argv) {
    if (argv.empty()) {
        PrintHelp(std::cerr);
        return Exit::kUsage;
    }
    if (argv[0] == "--help" || argv[0] == "-h" || argv[0] == "help") {
        if (argv.size() == 1) {
            PrintHelp(std::cout);
            return Exit::kOk;
        }
        const Command* c = argv.size() == 2 ? FindCommand(argv[1]) : nullptr;
        if (!c) {
            std::cerr << kTool << ": help takes one command name\n";
            return Exit::kUsage;
        }
        PrintUsage(std::cout, *c);
        std::cout << "  " << c->summary << '\n';
        return Exit::kOk;
    }
    const Command* command = FindCommand(argv[0]);
    if (!command) {
        std::cerr << kTool << ": unknown command '" << argv[0] << "' (see " << kTool
                  << " --help)\n";
        return Exit::kUsage;
    }
    Io io{std::cout, std::cerr};
    try {
        Args args(command->options, argv.subspan(1));
        if (args.Has("--help")) {
            PrintUsage(std::cout, *command);
            std::cout << "  " << command->summary << '\n';
            return Exit::kOk;
        }
        return command->run(args, io);
    } catch (const UsageError& e) {
        std::cerr << kTool << ' ' << command->name << ": " << e.what() << '\n';
        PrintUsage(std::cerr, *command);
        return Exit::kUsage;
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string_view> args(argv + 1, argv + argc);
    StderrMessageBoxes boxes;
    SetMessageBoxService(&boxes);
    int status = Exit::kInternal;
    try {
        status = Run(args);
    } catch (const std::exception& e) {
        std::cerr << kTool << ": internal error: " << e.what() << '\n';
    }
    std::cout.flush();
    SetMessageBoxService(nullptr);
    return std::cout ? status : Exit::kInternal;
}
