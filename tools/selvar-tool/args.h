#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// Exit statuses of the tool, shared by every subcommand.
namespace Exit {
constexpr int kOk = 0;
constexpr int kRefused = 1;    // the core refused the value, or nothing could be decoded
constexpr int kPartial = 2;    // decode: a length or network-name error, its text printed
constexpr int kUsage = 64;     // the command line itself is wrong
constexpr int kInternal = 70;  // an unexpected failure inside the tool
}  // namespace Exit

// A wrong command line: the text goes to stderr with the command's usage and
// the tool exits with Exit::kUsage.
class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct OptionDef {
    std::string_view name;  // with the leading "--"
    bool takesValue;
};

// The options and operands of one subcommand. Options are "--name value" or
// "--name=value" anywhere on the line; "--" ends them, and an argument with a
// single leading '-' (such as "-12.5") is an operand, so negative values
// need no escape.
class Args {
  public:
    Args(std::span<const OptionDef> defs, std::span<const std::string_view> argv);

    bool Has(std::string_view option) const;
    std::optional<std::string> Text(std::string_view option) const;
    // The option's whole value as a decimal integer within min..max; a
    // missing option gives fallback. Anything else is a UsageError.
    std::int64_t Int(std::string_view option, std::int64_t min, std::int64_t max,
                     std::int64_t fallback) const;
    std::int64_t RequiredInt(std::string_view option, std::int64_t min, std::int64_t max) const;
    std::optional<double> Real(std::string_view option) const;

    const std::vector<std::string>& Operands() const { return operands_; }
    // UsageError unless min <= count <= max.
    void ExpectOperands(std::size_t min, std::size_t max, std::string_view what) const;

  private:
    struct Given {
        std::string_view name;
        std::string value;
    };
    const Given* Find(std::string_view option) const;

    std::vector<Given> options_;
    std::vector<std::string> operands_;
};

// Hex bytes from operands: each blank-separated group holds whole pairs, so
// "61 62 63", "616263" and "61 6263" are the same three bytes.
std::vector<std::uint8_t> ParseHexBytes(std::span<const std::string> groups);
// Upper-case pairs separated by single spaces.
std::string HexText(const std::uint8_t* data, std::size_t count);

// A parameter named on the command line as NAME or NAME:INDEX.
struct NamedParameter {
    std::string name;
    std::optional<int> index;  // 0..65535 when given
};
// UsageError for an empty name or an index that is not a number 0..65535.
NamedParameter ParseNamedParameter(const std::string& key);
