#pragma once

#include <array>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "description/desc_branch.h"
#include "description/structure_table.h"

class ParameterTable;
struct CDeviceDescription;

// Builds one description tree from a tree file. treeName is "" for the
// ordinary and the operative tree and "hidden" for the hidden tree. A missing
// or damaged file gives a root without children.
std::unique_ptr<DescBranch> LoadTree(ParameterTable& table, const std::string& path,
                                     const std::string& treeName);

// The same from decompressed records (whole 512-byte records are used; a
// trailing partial record is ignored).
std::unique_ptr<DescBranch> BuildTree(ParameterTable& table, std::span<const std::uint8_t> records,
                                      const std::string& treeName);

// The three trees of a modification over one table.
struct DescriptionTrees {
    std::unique_ptr<DescBranch> ordinary;
    std::unique_ptr<DescBranch> operative;
    std::unique_ptr<DescBranch> hidden;
};

// Builds the trees in the order the configuration is set up: ordinary, then
// operative (prepared for polling at once: timers from makeTimer, which may
// be empty, and the linear index flag cleared), then hidden. The order
// decides which marked branch the table keeps and which tree's bindings
// have the last word on a shared parameter, so every caller goes through
// here.
DescriptionTrees BuildDescriptionTrees(
    ParameterTable& table, std::span<const std::uint8_t> ordinary,
    std::span<const std::uint8_t> operative, std::span<const std::uint8_t> hidden,
    const std::function<std::unique_ptr<PollTimer>()>& makeTimer);
// The same from a modification's description files.
DescriptionTrees LoadDescriptionTrees(ParameterTable& table, const CDeviceDescription& description,
                                      const std::function<std::unique_ptr<PollTimer>()>& makeTimer);

// The structure table as the hidden tree carries it.
using StructureEntries = std::array<Parameter*, StructureTable::kSize>;
StructureEntries CollectStructure(const DescBranch& hiddenRoot);
