// The tree loader on arbitrary records against a small table whose names
// carry every binding. The first byte chooses the tree's name.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "description/parameter_table.h"
#include "description/tree_loader.h"
#include "platform/text.h"

namespace {

struct Entry {
    const char* name;
    int bindingKind;
};
constexpr Entry kEntries[] = {
    {"in.sl", 0}, {"in.sh", 0}, {"read", 0}, {"grtp", 0}, {"Grtr", 0},  {"rtC", 0},
    {"s.w", 0},   {"Abor", 0},  {"X", 1},    {"Y", 2},    {"offs", 0},  {"a_b", 5},
    {"c_d", 6},   {"e_f", 8},   {"g_h", 9},  {"idx", 3},  {"noidx", 4}, {"r.co", 7},
};

void FillTable(ParameterTable& table) {
    constexpr std::size_t kCount = 64;
    table.Allocate(kCount);
    for (std::size_t i = 0; i < kCount; ++i) {
        Parameter& p = *table.At(i);
        const Entry& e = kEntries[i % std::size(kEntries)];
        p.name = e.name;
        p.bindingKind = e.bindingKind;
        p.hasLinearIndex = i % 3 != 0;
        p.linearIndex = static_cast<int>(i / std::size(kEntries));
        p.type = i % 2 ? "float" : "Выкл:Вкл";
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    ParameterTable table;
    FillTable(table);
    const std::string treeName = data[0] & 1 ? "hidden" : "";
    auto root = BuildTree(table, std::span<const std::uint8_t>(data + 1, size - 1), treeName);
    if (!root) __builtin_trap();
    (void)CollectStructure(*root);
    std::size_t branches = 0;
    root->ForEachBranch([&](const DescBranch&) { ++branches; });
    // Every branch but the root comes from a record of its own.
    if (branches > 1 + (size - 1) / 512) __builtin_trap();
    return 0;
}
