#include "description/tree_loader.h"

#include "description/device_description.h"
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

namespace {

// build(kind) gives the tree of kind 0 ordinary, 1 operative, 2 hidden.
template <typename Build>
DescriptionTrees InSetUpOrder(Build build,
                              const std::function<std::unique_ptr<PollTimer>()>& makeTimer) {
    DescriptionTrees trees;
    trees.ordinary = build(0);
    trees.operative = build(1);
    trees.operative->PrepareOperative(makeTimer);
    trees.hidden = build(2);
    return trees;
}

}  // namespace

DescriptionTrees BuildDescriptionTrees(
    ParameterTable& table, std::span<const std::uint8_t> ordinary,
    std::span<const std::uint8_t> operative, std::span<const std::uint8_t> hidden,
    const std::function<std::unique_ptr<PollTimer>()>& makeTimer) {
    const std::span<const std::uint8_t> records[] = {ordinary, operative, hidden};
    return InSetUpOrder(
        [&](int kind) { return BuildTree(table, records[kind], kind == 2 ? "hidden" : ""); },
        makeTimer);
}

DescriptionTrees LoadDescriptionTrees(
    ParameterTable& table, const CDeviceDescription& description,
    const std::function<std::unique_ptr<PollTimer>()>& makeTimer) {
    // Each file is decompressed just before its tree is built, so only one
    // buffer is held at a time.
    const char* files[] = {description.treeFile, description.operativeTreeFile,
                           description.hiddenTreeFile};
    return InSetUpOrder(
        [&](int kind) {
            return LoadTree(table, DescriptionPath(files[kind]), kind == 2 ? "hidden" : "");
        },
        makeTimer);
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
