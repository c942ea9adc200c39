#pragma once

#include "description/structure_table.h"

namespace descc {
constexpr int kStructureMark = StructureTable::kStructureMark;
constexpr std::size_t kStructureSize = StructureTable::kSize;
}  // namespace descc
