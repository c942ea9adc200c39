#pragma once

#include <array>
#include <memory>
#include <string>

#include "description/desc_branch.h"
#include "description/structure_table.h"

class ParameterTable;

// Builds one description tree from a tree file. treeName is "" for the
// ordinary and the operative tree and "hidden" for the hidden tree. A missing
// or damaged file gives a root without children.
std::unique_ptr<DescBranch> LoadTree(ParameterTable& table, const std::string& path,
                                     const std::string& treeName);

// The same from decompressed records (whole 512-byte records are used; a
// trailing partial record is ignored).
std::unique_ptr<DescBranch> BuildTree(ParameterTable& table, std::span<const std::uint8_t> records,
                                      const std::string& treeName);

// The structure table as the hidden tree carries it.
using StructureEntries = std::array<Parameter*, StructureTable::kSize>;
StructureEntries CollectStructure(const DescBranch& hiddenRoot);
