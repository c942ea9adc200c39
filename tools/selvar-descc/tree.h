#pragma once

#include <vector>

#include "lexer.h"
#include "model.h"

namespace descc {

// Reads one tree source into `root`, resolving parameter names against
// mod.table. False when the source has no root branch.
bool ParseTree(const std::vector<SourceLine>& lines, TreeKind kind, Modification& mod,
               TreeNode& root, Diagnostics& diag);

const char* TreeKindName(TreeKind kind);

}  // namespace descc
