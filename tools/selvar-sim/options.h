#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "faults.h"

// The simulator's command line.
namespace sim {

enum class Transport { Pty, Tcp, Stdio };

struct Options {
    std::string modification = "b4";
    Transport transport = Transport::Pty;
    std::string link;  // --link: a symbolic link to the pseudo-terminal
    std::string host = "127.0.0.1";
    std::string port;  // --tcp
    int address = 16;
    int addressLength = 8;
    int baud = 0;  // 0: the line's speed is not emulated
    double turnaroundMs = 2;
    FaultPlan faults;
    std::optional<std::uint64_t> seed;
    std::string statePath;
    std::string dumpPath;
    std::string answersPath;
    bool verbose = false;
    int accessCode = 271;
    int restartCause = 7;
    std::optional<std::string> dev, pver, ver;
    bool help = false;
};

// False with a message for the user when the command line is not usable.
bool ParseOptions(std::span<const std::string_view> args, Options& out, std::string& error);

std::string UsageText();

}  // namespace sim
