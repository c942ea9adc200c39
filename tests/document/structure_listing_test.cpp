#include "document/structure_listing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "document/access_level.h"
#include "model/parameter.h"

namespace {

using namespace StructureTable;

class StructureListingTest : public ::testing::Test {
  protected:
    // Puts a parameter with the given value into an entry.
    void Set(std::size_t index, const std::string& value) {
        if (!entries[index]) {
            owned.push_back(std::make_unique<Parameter>());
            entries[index] = owned.back().get();
        }
        entries[index]->value = value;
    }
    void SetKeyCounts(const std::string& value) {
        for (std::size_t i = 0; i < kObjects; ++i)
            Set(kKeyCounts + i, value);
    }
    void SetSwitchInputs(int s, const char* a, const char* b, const char* c, const char* d) {
        const char* values[] = {a, b, c, d};
        for (std::size_t j = 0; j < 4; ++j)
            Set(kSwitchInputs + 4 * static_cast<std::size_t>(s) + j, values[j]);
    }

    StructureEntries entries{};
    std::vector<std::unique_ptr<Parameter>> owned;
};

TEST_F(StructureListingTest, OwnerTexts) {
    EXPECT_EQ(OwnerText(0), "принадлежит объекту №1");
    EXPECT_EQ(OwnerText(1), "принадлежит объекту №2");
    EXPECT_EQ(OwnerText(-1), "<Нет данных>");
    EXPECT_EQ(OwnerText(-2), "отключен(о)");
    EXPECT_EQ(OwnerText(-3), "противоречия знач-ий параметров!");
    EXPECT_EQ(OwnerText(-4), "элемент отсутствует или не инициализирован");
    EXPECT_EQ(OwnerText(2), "<не знаю>");
    EXPECT_EQ(OwnerText(-5), "<не знаю>");
}

TEST_F(StructureListingTest, ChannelOwnerByLastDigit) {
    EXPECT_EQ(ChannelOwner(entries, 0), -1);  // missing entry
    Set(kChannelInputs + 0, "Нет данных");
    EXPECT_EQ(ChannelOwner(entries, 0), -1);
    Set(kChannelInputs + 0, "Объект 2");
    EXPECT_EQ(ChannelOwner(entries, 0), 1);
    Set(kChannelInputs + 0, "Объект 1 ");  // trailing blank is not the number
    EXPECT_EQ(ChannelOwner(entries, 0), 0);
    Set(kChannelInputs + 0, "Объект 0");
    EXPECT_EQ(ChannelOwner(entries, 0), -2);
    Set(kChannelInputs + 0, "9");
    EXPECT_EQ(ChannelOwner(entries, 0), -2);
    Set(kChannelInputs + 0, "Отключен");
    EXPECT_EQ(ChannelOwner(entries, 0), -2);
    Set(kChannelInputs + 7, "8");
    EXPECT_EQ(ChannelOwner(entries, 7), 7);
    EXPECT_EQ(OwnerText(ChannelOwner(entries, 7)), "<не знаю>");
    EXPECT_EQ(ChannelOwner(entries, 8), -4);
    EXPECT_EQ(ChannelOwner(entries, -1), -4);
}

TEST_F(StructureListingTest, SwitchTakesFirstKnownChannelOwner) {
    Set(kChannelInputs + 0, "Нет данных");
    Set(kChannelInputs + 1, "2");
    Set(kChannelInputs + 2, "1");
    // Input 1 is off, input 2 leads to a channel without data, input 3 to object 2.
    SetSwitchInputs(0, "0", "1", "2", "3");
    EXPECT_EQ(SwitchOwner(entries, 0), 1);

    SetSwitchInputs(1, "0", "0", "0", "0");
    EXPECT_EQ(SwitchOwner(entries, 1), -2);
    SetSwitchInputs(1, "0", "9", "3", "3");
    EXPECT_EQ(SwitchOwner(entries, 1), -1);
    SetSwitchInputs(1, "3", "2", "0", "Нет данных");
    EXPECT_EQ(SwitchOwner(entries, 1), -1);  // no data anywhere makes the whole unknown
    entries[kSwitchInputs + 4 + 3] = nullptr;
    EXPECT_EQ(SwitchOwner(entries, 1), -1);
}

TEST_F(StructureListingTest, ConverterFollowsItsSource) {
    Set(kChannelInputs + 3, "1");
    Set(kChannelInputs + 0, "2");
    SetSwitchInputs(1, "1", "0", "0", "0");

    EXPECT_EQ(ConverterOwner(entries, 0), -1);
    Set(kConverterSources + 0, "Канал 4");
    EXPECT_EQ(ConverterOwner(entries, 0), 0);
    Set(kConverterSources + 0, "Канал 9");
    EXPECT_EQ(ConverterOwner(entries, 0), -3);
    Set(kConverterSources + 0, "Коммутатор 2");
    EXPECT_EQ(ConverterOwner(entries, 0), 1);
    Set(kConverterSources + 0, "Коммутатор 3");
    EXPECT_EQ(ConverterOwner(entries, 0), -3);
    Set(kConverterSources + 0, "Вход 1");
    EXPECT_EQ(ConverterOwner(entries, 0), -3);
    Set(kConverterSources + 0, "Канал 0");
    EXPECT_EQ(ConverterOwner(entries, 0), -2);
    Set(kConverterSources + 0, "Нет данных");
    EXPECT_EQ(ConverterOwner(entries, 0), -1);
}

TEST_F(StructureListingTest, KeyOwners) {
    EXPECT_EQ(KeyOwner(entries, 0), -1);  // no key counts at all

    SetKeyCounts("0");
    EXPECT_EQ(KeyOwner(entries, 0), -2);

    Set(kKeyCounts + 1, "2");
    Set(kKeyBlock + 8 + 0, "5");
    Set(kKeyBlock + 8 + 1, "0");
    EXPECT_EQ(KeyOwner(entries, 0), 1);
    EXPECT_EQ(KeyOwner(entries, 5), 1);
    EXPECT_EQ(KeyOwner(entries, 3), -2);

    // A second object claiming key 0.
    Set(kKeyCounts + 0, "1");
    Set(kKeyBlock + 0, "0");
    EXPECT_EQ(KeyOwner(entries, 0), -3);

    // A key within the count but never read.
    Set(kKeyCounts + 0, "2");
    EXPECT_EQ(KeyOwner(entries, 5), -1);
    Set(kKeyBlock + 1, "Нет данных");
    EXPECT_EQ(KeyOwner(entries, 5), -1);
}

TEST_F(StructureListingTest, KeyCountsAreClampedAndMissingCountsEndTheSearch) {
    SetKeyCounts("0");
    Set(kKeyCounts + 0, "20");
    for (std::size_t j = 0; j < 8; ++j)
        Set(kKeyBlock + j, std::to_string(j));
    Set(kKeyBlock + 8, "3");  // object 1's first key: beyond object 0's keys, not counted
    EXPECT_EQ(KeyOwner(entries, 7), 0);
    EXPECT_EQ(KeyOwner(entries, 3), 0);

    // Found before the gap: kept; nothing found before it: no data.
    entries[kKeyCounts + 1] = nullptr;
    Set(kKeyCounts + 2, "1");
    Set(kKeyBlock + 16, "7");
    EXPECT_EQ(KeyOwner(entries, 7), 0);
    Set(kKeyCounts + 0, "0");
    EXPECT_EQ(KeyOwner(entries, 7), -1);
}

TEST_F(StructureListingTest, ListingLinesAndKeysOnlyAtFullLevel) {
    Set(kChannelInputs + 0, "1");
    Set(kChannelInputs + 1, "2");
    SetKeyCounts("0");
    Set(kKeyCounts + 0, "1");
    Set(kKeyBlock + 0, "0");
    Set(kKeyCounts + 1, "1");
    Set(kKeyBlock + 8, "0");

    std::string middle = StructureListing(entries, Access::kMiddle);
    EXPECT_EQ(middle.rfind("Канал №1 принадлежит объекту №1\nКанал №2 принадлежит объекту №2\n"
                           "Канал №3 <Нет данных>\n",
                           0),
              0u);
    EXPECT_NE(middle.find("Канал №8 <Нет данных>\nКоммутатор №1 <Нет данных>\n"
                          "Коммутатор №2 <Нет данных>\nПреобразователь сигналов №1 <Нет данных>\n"),
              std::string::npos);
    EXPECT_TRUE(middle.ends_with("Преобразователь сигналов №8 <Нет данных>\n"));
    EXPECT_EQ(middle.find("Ключ"), std::string::npos);
    EXPECT_EQ(StructureListing(entries, Access::kMinimal), middle);

    std::string full = StructureListing(entries, Access::kFull);
    ASSERT_TRUE(full.starts_with(middle));
    std::string keys = full.substr(middle.size());
    // Key 1 is claimed by two objects; key 2 by none.
    EXPECT_TRUE(
        keys.starts_with("Ключ №1 противоречия знач-ий параметров!\n"
                         "Ключ №2 отключен(о)\n"));
    EXPECT_TRUE(keys.ends_with("Ключ №8 отключен(о)\n"));
    EXPECT_EQ(std::count(full.begin(), full.end(), '\n'), 26);
}

}  // namespace
