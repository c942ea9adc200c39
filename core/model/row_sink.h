#pragma once

#include <string>

#include "model/parameter.h"

namespace Elements {
class InvisibleElement;
class Connector;
}  // namespace Elements

// The seam through which the core puts rows into a tree view. The GUI renders
// the rows; tests record them.
using RowHandle = void*;

class RowSink {
  public:
    virtual ~RowSink() = default;
    // A parameter's row under `parent` (null: top level); returns its handle.
    virtual RowHandle InsertParameterRow(RowHandle parent, Parameter& p,
                                         const ParameterRow& row) = 0;
    // An element's or branch's row.
    virtual RowHandle InsertElementRow(RowHandle parent, Elements::InvisibleElement& element,
                                       const std::string& text, int image, int selectedImage) = 0;
    // A fixed sub-row (the bits of a parameter) under a parameter's row.
    virtual RowHandle InsertSubRow(RowHandle parent, const std::string& text) = 0;
    // A connector's row with its state text.
    virtual RowHandle InsertConnectorRow(RowHandle parent, Elements::Connector& connector,
                                         const std::string& text) = 0;
    // Replaces the texts of an existing parameter row.
    virtual void UpdateParameterRow(RowHandle row, Parameter& p, const ParameterRow& texts) = 0;
    // Replaces the value text shown by a sub-row.
    virtual void UpdateSubRow(RowHandle row, const std::string& text) = 0;
};

// Options of ShowInTree.
namespace ShowOption {
constexpr int kWithIndexes = 1;  // names carry ":index" for indexed parameters
}
