#include "description/tree_loader.h"

#include "description/gzip_reader.h"
#include "description/parameter_table.h"

std::unique_ptr<DescBranch> BuildTree(ParameterTable& table, std::span<const std::uint8_t> records,
                                      const std::string& treeName) {
    auto root = std::make_unique<DescBranch>();
    root->elementName = "Корень";
    std::size_t cursor = 0;
    root->ReadRecords(table, cursor, records, treeName);
    return root;
}

std::unique_ptr<DescBranch> LoadTree(ParameterTable& table, const std::string& path,
                                     const std::string& treeName) {
    // A damaged file still gives the records that arrived whole.
    GzipBuffer records = GunzipFile(path);
    return BuildTree(table, records.Span(), treeName);
}

StructureEntries CollectStructure(const DescBranch& hiddenRoot) {
    StructureEntries entries{};
    hiddenRoot.ForEachBranch([&](const DescBranch& b) {
        if (b.valueA < StructureTable::kStructureMark) return;
        auto first = static_cast<std::size_t>(b.valueA - StructureTable::kStructureMark);
        for (std::size_t i = 0; i < b.parameters.size() && first + i < entries.size(); ++i)
            entries[first + i] = b.parameters[i];
    });
    return entries;
}
