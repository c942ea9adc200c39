#include "link/frame.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace {

std::vector<std::uint8_t> Bytes(std::string_view line) {
    std::vector<std::uint8_t> out(line.size() / 2);
    out.resize(decode_buffer(line.data(), line.size(), out.data()));
    return out;
}

// Parses from a heap block of exactly the input's size, so that the address
// sanitizer reports any read past the received characters.
AnswerStatus ParseExact(std::string_view text, ParsedAnswer& out) {
    auto block = std::make_unique<char[]>(text.size() + (text.empty() ? 1 : 0));
    std::copy(text.begin(), text.end(), block.get());
    return parse_answer(std::string_view(block.get(), text.size()), out);
}

std::string Request(int address, int offset, int alen, bool read, std::uint16_t hash,
                    const std::vector<std::uint8_t>& data = {}) {
    LineFrame frame;
    if (!build_request(address, offset, alen, read, hash, data.data(), data.size(), frame))
        return "refused";
    return std::string(frame.View());
}

TEST(NameHash, KnownNames) {
    EXPECT_EQ(hash_name("n.Err"), 0x0233);
    EXPECT_EQ(hash_name("A.Len"), 0x1ED2);
    EXPECT_EQ(hash_name("APLY"), 0x8403);
    // Reference values fed from the codes 55 24 48 78 and 54 56 78 78.
    EXPECT_EQ(hash_name("r.co"), 0x5CED);
    EXPECT_EQ(hash_name("rS"), 0xC8B9);
    EXPECT_EQ(hash_name(""), 0);
}

TEST(NameHash, CaseAndPaddingDoNotMatter) {
    EXPECT_EQ(hash_name("A.LEn"), hash_name("A.Len"));
    EXPECT_EQ(hash_name("a.len"), hash_name("A.Len"));
    EXPECT_EQ(hash_name("rS"), hash_name("RS  "));
}

TEST(NameHash, PointsMarkTheCharacterBefore) {
    EXPECT_NE(hash_name("ABCD."), hash_name("ABCD"));
    // The fifth coded character is computed but not used; a point after it
    // is never reached.
    EXPECT_EQ(hash_name("ABCDE"), hash_name("ABCD"));
    EXPECT_EQ(hash_name("ABCD.E."), hash_name("ABCD."));
    EXPECT_EQ(hash_name(".A.Len"), hash_name("A.Len"));
    // Points add to the code, as the device counts them.
    EXPECT_EQ(hash_name("A..Len"), hash_name("BLen"));
}

TEST(NameHash, OnlyTheFirstEightCharactersCount) {
    EXPECT_EQ(hash_name("A.L!en"), hash_name("A.Len"));
    EXPECT_EQ(hash_name("ABC!!!!D"), hash_name("ABCD"));
    EXPECT_EQ(hash_name("ABC!!!!!D"), hash_name("ABC"));
    // Cyrillic letters are skipped but count as one character each, not two.
    EXPECT_EQ(hash_name("ABCппппD"), hash_name("ABCD"));
    EXPECT_EQ(hash_name("ABCпппппD"), hash_name("ABC"));
    EXPECT_EQ(hash_name(std::string(1000, 'x')), hash_name("XXXX"));
    // A cut multi-byte character is no letter either.
    EXPECT_EQ(hash_name("AB\xD0"), hash_name("AB"));
}

TEST(Checksum, KnownValuesAndResidue) {
    const std::uint8_t abc[] = {0x61, 0x62, 0x63};
    EXPECT_EQ(hash_buffer(abc, 3), 0x4F8D);
    EXPECT_EQ(hash_buffer(nullptr, 0), 0);
    // A frame with its own checksum appended sums to zero.
    std::vector<std::uint8_t> frame = Bytes("HGHGHUTISROI");
    EXPECT_EQ(hash_buffer(frame.data(), 4), 0xCB82);
    EXPECT_EQ(hash_buffer(frame.data(), frame.size()), 0);
}

TEST(LineEncoding, EveryByteRoundTrips) {
    std::uint8_t all[256];
    for (int i = 0; i < 256; ++i)
        all[i] = static_cast<std::uint8_t>(i);
    char line[512];
    encode_buffer(all, 256, line);
    EXPECT_EQ(std::string_view(line, 6), "GGGHGI");
    EXPECT_EQ(std::string_view(line + 510, 2), "VV");
    std::uint8_t back[256];
    ASSERT_EQ(decode_buffer(line, 512, back), 256u);
    EXPECT_TRUE(std::equal(all, all + 256, back));
    // An odd last character is ignored.
    EXPECT_EQ(decode_buffer("HGV", 3, back), 1u);
    EXPECT_EQ(back[0], 0x10);
}

TEST(BuildRequest, ReadOfALenAtAddress16) {
    EXPECT_EQ(Request(16, 0, 8, true, 0x1ED2), "#HGHGHUTISROI\r");
}

TEST(BuildRequest, AddressForms) {
    // 11 bits: 1001 = 0x7D << 3 | 1.
    std::vector<std::uint8_t> b = Bytes(Request(1001, 0, 11, true, 0x1ED2).substr(1, 12));
    ASSERT_EQ(b.size(), 6u);
    EXPECT_EQ(b[0], 0x7D);
    EXPECT_EQ(b[1] >> 5, 1);
    EXPECT_EQ(b[1] & 0x10, 0x10);
    EXPECT_EQ(Request(1001, 0, 11, true, 0x1ED2), "#NTJGHUTIPVQJ\r");

    // The fixed address wins over the device's own.
    b = Bytes(Request(16, kFixedAddressOffset, 8, true, 0).substr(1, 12));
    EXPECT_EQ(b[0], 0xFF);
    EXPECT_EQ(b[1] & 0xE0, 0);
    b = Bytes(Request(1500, kFixedAddressOffset, 11, false, 0).substr(1, 12));
    EXPECT_EQ(b[0], 0x1F);
    EXPECT_EQ(b[1], 0xE0);  // low part 7, write, no data

    b = Bytes(Request(16, 2, 8, false, 0).substr(1, 12));
    EXPECT_EQ(b[0], 18);
    EXPECT_EQ(b[1], 0);
    // Any length other than 11 is the 8-bit form.
    EXPECT_EQ(Request(16, 0, 9, true, 0x1ED2), Request(16, 0, 8, true, 0x1ED2));
}

TEST(BuildRequest, RefusesWhatTheFrameCannotCarry) {
    EXPECT_EQ(Request(256, 0, 8, true, 1), "refused");
    EXPECT_EQ(Request(255, 1, 8, true, 1), "refused");
    EXPECT_EQ(Request(2048, 0, 11, true, 1), "refused");
    EXPECT_EQ(Request(0, -2, 8, true, 1), "refused");
    EXPECT_EQ(Request(2147483647, 2147483647, 11, true, 1), "refused");
    EXPECT_NE(Request(2047, 0, 11, true, 1), "refused");

    LineFrame frame;
    std::uint8_t data[103] = {};
    frame.length = 7;
    EXPECT_FALSE(build_request(1, 0, 8, false, 1, data, 16, frame));
    EXPECT_EQ(frame.length, 0u);
    EXPECT_FALSE(build_request(1, 0, 8, false, 1, data, 103, frame));
}

TEST(BuildRequest, LongestFrameRoundTrips) {
    std::vector<std::uint8_t> data(15);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(0xF0 + i);
    std::string line = Request(1, 0, 8, false, 0xABCD, data);
    ASSERT_EQ(line.size(), 44u);
    EXPECT_EQ(line.front(), '#');
    EXPECT_EQ(line.back(), '\r');

    ParsedAnswer answer;
    ASSERT_EQ(ParseExact(line, answer), AnswerStatus::Ok);
    EXPECT_EQ(answer.byteCount, 21u);
    EXPECT_EQ(answer.dataLength, 15u);
    EXPECT_EQ(answer.nameHash, 0xABCD);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), answer.Data()));
    EXPECT_EQ(answer.receivedChecksum, answer.computedChecksum);
}

TEST(ParseAnswer, ToleratesMissingEndAndOddCharacter) {
    ParsedAnswer answer;
    EXPECT_EQ(ParseExact("#HGHGHUTISROI", answer), AnswerStatus::Ok);
    EXPECT_EQ(answer.nameHash, 0x1ED2);
    EXPECT_EQ(answer.dataLength, 0u);
    EXPECT_EQ(ParseExact("#HGHGHUTISROIX\r", answer), AnswerStatus::Ok);
}

TEST(ParseAnswer, DamagedAnswers) {
    ParsedAnswer answer;
    EXPECT_EQ(ParseExact("#HGHGHUTISROJ\r", answer), AnswerStatus::BadChecksum);
    EXPECT_EQ(answer.computedChecksum, 0xCB82);
    EXPECT_EQ(answer.receivedChecksum, 0xCB83);
    // A character outside 'G'..'V' decodes to some nibble; the checksum catches it.
    EXPECT_EQ(ParseExact("#HGHGHU#ISROI\r", answer), AnswerStatus::BadChecksum);

    // The length field announces 15 data bytes; only the checksum place arrived.
    EXPECT_EQ(ParseExact("#HGHVHUTISROI\r", answer), AnswerStatus::Truncated);
    EXPECT_EQ(answer.dataLength, 15u);
    EXPECT_EQ(answer.byteCount, 6u);

    // Two stray bytes after a sound frame.
    EXPECT_EQ(ParseExact("#HGHGHUTISROIGGGG\r", answer), AnswerStatus::Overlong);
    EXPECT_EQ(answer.computedChecksum, answer.receivedChecksum);
}

TEST(ParseAnswer, AnythingGivesAStatus) {
    ParsedAnswer answer;
    EXPECT_EQ(ParseExact("", answer), AnswerStatus::NotAFrame);
    EXPECT_EQ(ParseExact("#", answer), AnswerStatus::NotAFrame);
    EXPECT_EQ(ParseExact("\r", answer), AnswerStatus::NotAFrame);
    EXPECT_EQ(ParseExact("#HGHGHUTISRO\r", answer), AnswerStatus::NotAFrame);
    EXPECT_EQ(answer.byteCount, 5u);
    EXPECT_EQ(ParseExact("HGHGHUTISROI\r", answer), AnswerStatus::NotAFrame);
    EXPECT_EQ(ParseExact(std::string(1000, 'x'), answer), AnswerStatus::NotAFrame);

    // Far more than any frame: only what the buffer holds is decoded.
    EXPECT_EQ(ParseExact("#" + std::string(999, 'G'), answer), AnswerStatus::Overlong);
    EXPECT_EQ(answer.byteCount, sizeof answer.bytes);
    EXPECT_EQ(ParseExact("#" + std::string(998, 'V') + "\r", answer), AnswerStatus::Overlong);
    // Room for 103 data bytes was never there: the frame is read as N says.
    std::string big = "#HGHV" + std::string(2 * 107, 'H') + "\r";
    EXPECT_EQ(ParseExact(big, answer), AnswerStatus::Overlong);
    EXPECT_EQ(answer.dataLength, 15u);
}

}  // namespace
