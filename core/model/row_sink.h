#pragma once

#include <string>

#include "model/parameter.h"

// The seam through which the core puts rows into a tree view. The GUI renders
// the rows; tests record them.
using RowHandle = void*;

class RowSink {
  public:
    virtual ~RowSink() = default;
    // Inserts a parameter's row under `parent` (null: top level) and returns its handle.
    virtual RowHandle InsertParameterRow(RowHandle parent, Parameter& p,
                                         const ParameterRow& row) = 0;
};

// Options of ShowInTree.
namespace ShowOption {
constexpr int kWithIndexes = 1;  // names carry ":index" for indexed parameters
}
