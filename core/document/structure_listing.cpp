#include "document/structure_listing.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string_view>

#include "document/access_level.h"
#include "model/parameter.h"
#include "platform/text.h"

namespace {

using namespace StructureTable;

constexpr int kMaxChannel = static_cast<int>(kChannels);
constexpr int kMaxSwitch = static_cast<int>(kSwitches);

// The value of an entry; none when the entry is empty or holds no data.
std::optional<std::string_view> EntryText(const StructureEntries& entries, std::size_t index) {
    if (index >= entries.size() || !entries[index]) return std::nullopt;
    const std::string& value = entries[index]->value;
    if (value == MyConverter::kNoData) return std::nullopt;
    return std::string_view(value);
}

// The element number a value ends with ("Вход 3" is 3); 0 when it ends in no digit.
int LastDigit(std::string_view text) {
    text = TrimRight(text);
    if (text.empty()) return 0;
    char c = text.back();
    return c >= '0' && c <= '9' ? c - '0' : 0;
}

// The value as a whole number; none for a text that does not start with one.
std::optional<std::int64_t> IntegerAtStart(std::string_view text) {
    std::int64_t v = 0;
    if (ParseLeadingInt(text, v) == 0) return std::nullopt;
    return v;
}

bool InRange(int k, std::size_t count) {
    return k >= 0 && static_cast<std::size_t>(k) < count;
}

}  // namespace

int ChannelOwner(const StructureEntries& entries, int k) {
    if (!InRange(k, kChannels)) return Structure::kAbsent;
    auto text = EntryText(entries, kChannelInputs + static_cast<std::size_t>(k));
    if (!text) return Structure::kNoData;
    int n = LastDigit(*text);
    if (n == 0 || n > kMaxChannel) return Structure::kDisconnected;
    return n - 1;
}

int SwitchOwner(const StructureEntries& entries, int k) {
    if (!InRange(k, kSwitches)) return Structure::kAbsent;
    int result = Structure::kDisconnected;
    for (std::size_t j = 0; j < kSwitchInputsEach; ++j) {
        auto text =
            EntryText(entries, kSwitchInputs + kSwitchInputsEach * static_cast<std::size_t>(k) + j);
        if (!text) return Structure::kNoData;
        int n = LastDigit(*text);
        if (n == 0) continue;
        if (n > kMaxChannel) return Structure::kNoData;
        // The first input with a known owner decides.
        if (result == Structure::kNoData || result == Structure::kDisconnected)
            result = ChannelOwner(entries, n - 1);
    }
    return result;
}

int ConverterOwner(const StructureEntries& entries, int k) {
    if (!InRange(k, kConverters)) return Structure::kAbsent;
    auto text = EntryText(entries, kConverterSources + static_cast<std::size_t>(k));
    if (!text) return Structure::kNoData;
    int n = LastDigit(*text);
    if (n == 0) return Structure::kDisconnected;
    if (text->find("Канал") != std::string_view::npos && n <= kMaxChannel)
        return ChannelOwner(entries, n - 1);
    if (text->find("Коммутатор") != std::string_view::npos && n <= kMaxSwitch)
        return SwitchOwner(entries, n - 1);
    return Structure::kContradiction;
}

int KeyOwner(const StructureEntries& entries, int k) {
    if (!InRange(k, kKeysPerObject)) return Structure::kAbsent;
    int owner = Structure::kNoData;
    bool found = false;
    for (std::size_t i = 0; i < kObjects; ++i) {
        auto countText = EntryText(entries, kKeyCounts + i);
        if (!countText) return found ? owner : Structure::kNoData;
        std::int64_t count = std::clamp<std::int64_t>(IntegerAtStart(*countText).value_or(0), 0,
                                                      static_cast<std::int64_t>(kKeysPerObject));
        for (std::size_t j = 0; j < static_cast<std::size_t>(count); ++j) {
            auto keyText = EntryText(entries, kKeyBlock + kKeysPerObject * i + j);
            if (!keyText) return Structure::kNoData;
            if (IntegerAtStart(*keyText) != k) continue;
            if (found) return Structure::kContradiction;
            owner = static_cast<int>(i);
            found = true;
        }
    }
    return found ? owner : Structure::kDisconnected;
}

std::string OwnerText(int code) {
    switch (code) {
        case 0:
            return "принадлежит объекту №1";
        case 1:
            return "принадлежит объекту №2";
        case Structure::kNoData:
            return std::string("<") + MyConverter::kNoData + ">";
        case Structure::kDisconnected:
            return "отключен(о)";
        case Structure::kContradiction:
            return "противоречия знач-ий параметров!";
        case Structure::kAbsent:
            return "элемент отсутствует или не инициализирован";
        default:
            return "<не знаю>";
    }
}

std::string StructureListing(const StructureEntries& entries, int accessLevel) {
    std::string text;
    for (int k = 0; k < kMaxChannel; ++k)
        text += Format("Канал №%i %s\n", k + 1, OwnerText(ChannelOwner(entries, k)).c_str());
    for (int k = 0; k < kMaxSwitch; ++k)
        text += Format("Коммутатор №%i %s\n", k + 1, OwnerText(SwitchOwner(entries, k)).c_str());
    for (int k = 0; k < static_cast<int>(kConverters); ++k)
        text += Format("Преобразователь сигналов №%i %s\n", k + 1,
                       OwnerText(ConverterOwner(entries, k)).c_str());
    // Keys are shown only to those who may change them.
    if (accessLevel == Access::kFull)
        for (int k = 0; k < static_cast<int>(kKeysPerObject); ++k)
            text += Format("Ключ №%i %s\n", k + 1, OwnerText(KeyOwner(entries, k)).c_str());
    return text;
}
