#include "platform/archive.h"

#include <gtest/gtest.h>

TEST(Archive, IntegersAreLittleEndian) {
    Archive out;
    out.WriteU16(0x1234);
    out.WriteI32(-2);
    EXPECT_EQ(out.Data(), (std::vector<std::uint8_t>{0x34, 0x12, 0xFE, 0xFF, 0xFF, 0xFF}));
    Archive in(out.Data());
    EXPECT_EQ(in.ReadU16(), 0x1234);
    EXPECT_EQ(in.ReadI32(), -2);
    EXPECT_TRUE(in.AtEnd());
}

TEST(Archive, LengthPrefixHasThreeForms) {
    struct Case {
        std::size_t length;
        std::vector<std::uint8_t> prefix;
    } cases[] = {
        {0, {0x00}},
        {254, {0xFE}},
        {255, {0xFF, 0xFF, 0x00}},
        {0xFFFD, {0xFF, 0xFD, 0xFF}},
        {0xFFFE, {0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0x00}},
        {70000, {0xFF, 0xFF, 0xFF, 0x70, 0x11, 0x01, 0x00}},
    };
    for (const Case& c : cases) {
        Archive out;
        out.WriteRawText(std::string(c.length, 'a'));
        std::vector<std::uint8_t> prefix(out.Data().begin(),
                                         out.Data().begin() + static_cast<long>(c.prefix.size()));
        EXPECT_EQ(prefix, c.prefix) << c.length;
        EXPECT_EQ(out.Size(), c.prefix.size() + c.length);
        Archive in(out.Data());
        EXPECT_EQ(in.ReadRawText().size(), c.length);
        EXPECT_TRUE(in.AtEnd());
    }
}

TEST(Archive, TextsTravelInCodePage1251) {
    Archive out;
    out.WriteText("Нет");
    EXPECT_EQ(out.Data(), (std::vector<std::uint8_t>{3, 0xCD, 0xE5, 0xF2}));
    Archive in(out.Data());
    EXPECT_EQ(in.ReadText(), "Нет");
}

TEST(Archive, ReadingPastTheEndFailsAndConsumesNothing) {
    Archive in(std::vector<std::uint8_t>{0x05, 'a', 'b'});
    EXPECT_THROW(in.ReadText(), ArchiveError);
    EXPECT_EQ(in.Position(), 0u);
    EXPECT_THROW(in.ReadU32(), ArchiveError);
    EXPECT_EQ(in.ReadU16(), 0x6105);
    EXPECT_THROW(in.ReadU16(), ArchiveError);
    EXPECT_EQ(in.ReadU8(), 'b');
    EXPECT_THROW(in.ReadU8(), ArchiveError);
}

TEST(Archive, HugeOrWideLengthPrefixIsAnError) {
    Archive wide(std::vector<std::uint8_t>{0xFF, 0xFE, 0xFF, 0x01, 'a', 0});
    EXPECT_THROW(wide.ReadText(), ArchiveError);
    Archive huge(std::vector<std::uint8_t>{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 'a'});
    EXPECT_THROW(huge.ReadText(), ArchiveError);
}

TEST(Archive, DirectionIsEnforced) {
    Archive out;
    EXPECT_THROW(out.ReadU8(), std::logic_error);
    Archive in(std::vector<std::uint8_t>{});
    EXPECT_THROW(in.WriteU8(1), std::logic_error);
}
