#pragma once

#include <vector>

#include "lexer.h"
#include "model.h"

namespace descc {

// Reads the parameter table source into mod.table (records in file order).
void ParseTable(const std::vector<SourceLine>& lines, Modification& mod, Diagnostics& diag);

// Checks across records: spelling, duplicates, binding partners, name hashes.
void CheckTable(const Modification& mod, Diagnostics& diag);

// The name the program gives a table name once its binding kind is applied
//: kinds 2, 6 and 8 show '_' as ' ', kinds 5 and 9 drop it.
std::string FinalName(const std::string& name, int bindingKind);

}  // namespace descc
