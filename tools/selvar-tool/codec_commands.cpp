#include <cstdint>
#include <limits>
#include <ostream>

#include "commands.h"
#include "link/frame.h"
#include "platform/text.h"

namespace {

std::string Hex4(std::uint16_t value) {
    return Format("%04X", static_cast<unsigned>(value));
}

}  // namespace

int RunHash(const Args& args, Io& io) {
    args.ExpectOperands(1, 1, "one NAME");
    io.out << Hex4(hash_name(args.Operands()[0])) << '\n';
    return Exit::kOk;
}

int RunCrc(const Args& args, Io& io) {
    args.ExpectOperands(1, SIZE_MAX, "HEX bytes");
    std::vector<std::uint8_t> bytes = ParseHexBytes(args.Operands());
    io.out << Hex4(hash_buffer(bytes.data(), bytes.size())) << '\n';
    return Exit::kOk;
}

int RunFrame(const Args& args, Io& io) {
    args.ExpectOperands(2, SIZE_MAX, "read|write and NAME");
    const std::string& direction = args.Operands()[0];
    if (direction != "read" && direction != "write")
        throw UsageError("expected read or write, got '" + direction + "'");
    const bool read = direction == "read";

    constexpr auto kAny = std::numeric_limits<std::int64_t>::max();
    const auto alen = args.Int("--alen", -kAny, kAny, 8);
    if (alen != 8 && alen != 11)
        throw UsageError("--alen: " + std::to_string(alen) + " is neither 8 nor 11");
    const auto maxAddress = alen == 11 ? 2047 : 255;
    const auto address = args.RequiredInt("--addr", 0, maxAddress);
    const auto offset = args.Int("--offset", kFixedAddressOffset, maxAddress, 0);
    if (offset != kFixedAddressOffset && address + offset > maxAddress)
        throw UsageError("address " + std::to_string(address) + " + offset " +
                         std::to_string(offset) + " does not fit the " + std::to_string(alen) +
                         "-bit form (0.." + std::to_string(maxAddress) + ")");

    std::vector<std::uint8_t> data =
        ParseHexBytes(std::span<const std::string>(args.Operands()).subspan(2));
    if (args.Has("--index")) {
        const auto index = args.Int("--index", 0, 0xFFFF, 0);
        data.push_back(static_cast<std::uint8_t>(index >> 8));
        data.push_back(static_cast<std::uint8_t>(index & 0xFF));
    }
    if (data.size() > kMaxFrameData)
        throw UsageError(std::to_string(data.size()) + " data bytes (index included); a frame " +
                         "carries at most " + std::to_string(kMaxFrameData));

    LineFrame frame;
    if (!build_request(static_cast<int>(address), static_cast<int>(offset), static_cast<int>(alen),
                       read, hash_name(args.Operands()[1]), data.data(), data.size(), frame))
        throw UsageError("the frame cannot be built from these values");
    // CR is left out: it would only garble a terminal line.
    io.out << frame.View().substr(0, frame.length - 1) << '\n';
    return Exit::kOk;
}
