#include "description/tooltips.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <limits>
#include <mutex>

#include "model/parameter.h"
#include "platform/codepage.h"
#include "platform/text.h"

namespace {

constexpr std::string_view kEntryEnd = "<<";
constexpr std::string_view kLineBreak = "\\n";

constexpr const char* kDelName = "del";
constexpr int kInspectorChannels = 8;  // "del" 0..7 belongs to the inspector
constexpr const char* kDelInspectorComment =
    "КОММЕНТАРИЙ: Параметр блокирует переключение состояния Инспектора на заданное время.";
constexpr const char* kDelRegulatorComment =
    "КОММЕНТАРИЙ: Параметр блокирует переключение состояния выхода On/Off-Регулятора на "
    "заданное время.";

// Line breaks between entries are blanks too, so that a file edited as one
// entry per line reads the same.
bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view NextToken(std::string_view& text) {
    std::size_t begin = 0;
    while (begin < text.size() && IsBlank(text[begin]))
        ++begin;
    std::size_t end = begin;
    while (end < text.size() && !IsBlank(text[end]))
        ++end;
    std::string_view token = text.substr(begin, end - begin);
    text.remove_prefix(end);
    return token;
}

std::string Underscores(std::string_view text) {
    std::string out(text);
    std::replace(out.begin(), out.end(), '_', ' ');
    return out;
}

bool ParseEntry(std::string_view entry, TooltipEntry& out) {
    std::string_view key = NextToken(entry);
    if (key.empty()) return false;
    std::string_view comment = NextToken(entry);

    const std::size_t colon = key.find(':');
    out.name = Underscores(key.substr(0, colon));
    out.anyIndex = colon == std::string_view::npos;
    out.index.reset();
    if (!out.anyIndex) {
        std::string_view digits = key.substr(colon + 1);
        std::int64_t v = 0;
        if (!digits.empty() && ParseLeadingInt(digits, v) == digits.size() &&
            v >= std::numeric_limits<int>::min() && v <= std::numeric_limits<int>::max())
            out.index = static_cast<int>(v);
    }
    out.comment = ReplaceAll(Underscores(comment), kLineBreak, "\n");
    return true;
}

bool Matches(const TooltipEntry& e, std::string_view name, std::optional<int> index) {
    if (!EqualsNoCase(e.name, name)) return false;
    if (e.anyIndex) return true;
    return e.index && index && *e.index == *index;
}

struct CommentCache {
    std::mutex lock;
    bool loaded = false;
    std::string path;
    std::vector<TooltipEntry> entries;
};

CommentCache& Cache() {
    static CommentCache cache;
    return cache;
}

std::vector<TooltipEntry> LoadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    return ParseTooltips(bytes);
}

}  // namespace

std::vector<TooltipEntry> ParseTooltips(std::span<const std::uint8_t> stored) {
    std::string cp1251(stored.size(), '\0');
    std::transform(stored.begin(), stored.end(), cp1251.begin(),
                   [](std::uint8_t b) { return static_cast<char>(b ^ 0xFF); });
    const std::string text = Cp1251ToUtf8(cp1251);

    std::vector<TooltipEntry> entries;
    std::string_view rest = text;
    // A last entry without its end mark is still taken: a comment cut short
    // is better than none.
    while (!rest.empty()) {
        const std::size_t end = rest.find(kEntryEnd);
        std::string_view entry = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + kEntryEnd.size());
        TooltipEntry e;
        if (ParseEntry(entry, e)) entries.push_back(std::move(e));
    }
    return entries;
}

std::string FindComment(const std::string& path, std::string_view keyName,
                        std::optional<int> keyIndex) {
    CommentCache& cache = Cache();
    std::lock_guard guard(cache.lock);
    if (!cache.loaded || cache.path != path) {
        cache.entries = LoadFile(path);
        cache.path = path;
        cache.loaded = true;
    }
    for (const TooltipEntry& e : cache.entries) {
        if (!Matches(e, keyName, keyIndex)) continue;
        // An entry without text has nothing to show.
        return e.comment.empty() ? std::string() : kCommentPrefix + e.comment;
    }
    return {};
}

int CommentKeyIndex(const Parameter& p) {
    return p.pollTimer ? p.deviceAddress : p.linearIndex;
}

std::string FindComment(const std::string& path, const Parameter& p) {
    if (EqualsNoCase(p.name, kDelName))
        return p.linearIndex >= 0 && p.linearIndex < kInspectorChannels ? kDelInspectorComment
                                                                        : kDelRegulatorComment;
    return FindComment(path, p.name, CommentKeyIndex(p));
}
